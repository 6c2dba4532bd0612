#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/visited.h"

namespace {

class VisitedList : public ::testing::Test {
  protected:
    void SetUp() override { visitedClear(); }
    void TearDown() override { visitedClear(); }

    static std::vector<std::string> order() {
        std::vector<std::string> seen;
        visitedForEach([&seen](const std::string& url) { seen.push_back(url); });
        EXPECT_EQ(seen, visitedEntries());
        EXPECT_EQ(seen.size(), visitedCount());
        return seen;
    }
};

TEST_F(VisitedList, AddMovesAnEqualEntryToTheFront) {
    const struct {
        const char* add;
        std::vector<std::string> after;
    } steps[] = {
        {"A", {"A"}},           {"B", {"B", "A"}},      {"A", {"A", "B"}},           {"C", {"C", "A", "B"}},
        {"B", {"B", "C", "A"}}, {"B", {"B", "C", "A"}}, {"a", {"a", "B", "C", "A"}},  // case matters
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(visitedAdd(step.add));
        EXPECT_EQ(order(), step.after) << step.add;
    }
}

TEST_F(VisitedList, InsertKeepsFileOrderAndDuplicates) {
    for (const char* url : {"gemini://1/", "gemini://2/", "gemini://3/"})
        ASSERT_TRUE(visitedInsert(url, true));
    ASSERT_TRUE(visitedInsert("gemini://0/", false));
    EXPECT_EQ(order(),
              (std::vector<std::string>{"gemini://0/", "gemini://1/", "gemini://2/", "gemini://3/"}));

    // An insert does not look for an equal entry; a later add moves one of them.
    ASSERT_TRUE(visitedInsert("gemini://2/", true));
    EXPECT_EQ(visitedCount(), 5u);
    ASSERT_TRUE(visitedAdd("gemini://2/"));
    EXPECT_EQ(order(), (std::vector<std::string>{"gemini://2/", "gemini://0/", "gemini://1/", "gemini://3/",
                                                 "gemini://2/"}));
    EXPECT_TRUE(isVisited("gemini://2/"));
}

TEST_F(VisitedList, LookupIsExact) {
    ASSERT_TRUE(visitedAdd("gemini://host/page"));
    const struct {
        const char* url;
        bool visited;
    } cases[] = {
        {"gemini://host/page", true},
        {"gemini://Host/page", false},
        {"gemini://host/page/", false},
        {"gemini://host/pag", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isVisited(c.url), c.visited) << c.url;
    EXPECT_TRUE(isVisited(std::string_view("gemini://host/pageXYZ", 18)));

    ASSERT_TRUE(visitedAdd(""));
    EXPECT_TRUE(isVisited(""));
    ASSERT_TRUE(visitedAdd(std::string_view("a\0b", 3)));
    EXPECT_TRUE(isVisited(std::string_view("a\0b", 3)));
    EXPECT_FALSE(isVisited("a"));
}

TEST_F(VisitedList, ClearEmptiesEverything) {
    ASSERT_TRUE(visitedAdd("gemini://x/"));
    visitedClear();
    EXPECT_EQ(visitedCount(), 0u);
    EXPECT_TRUE(visitedEntries().empty());
    EXPECT_FALSE(isVisited("gemini://x/"));
    visitedClear();
}

TEST_F(VisitedList, ThousandsOfEntries) {
    constexpr int COUNT = 5000;
    for (int i = 0; i < COUNT; ++i)
        ASSERT_TRUE(visitedAdd("gemini://host/page" + std::to_string(i)));
    ASSERT_TRUE(visitedAdd("gemini://host/page0"));  // the oldest comes to the front
    EXPECT_EQ(visitedCount(), static_cast<size_t>(COUNT));
    EXPECT_EQ(visitedEntries().front(), "gemini://host/page0");
    EXPECT_EQ(visitedEntries()[1], "gemini://host/page" + std::to_string(COUNT - 1));
    EXPECT_EQ(visitedEntries().back(), "gemini://host/page1");
    for (int i = 0; i < COUNT; ++i)
        EXPECT_TRUE(isVisited("gemini://host/page" + std::to_string(i)));
    EXPECT_FALSE(isVisited("gemini://host/page" + std::to_string(COUNT)));
}

}  // namespace
