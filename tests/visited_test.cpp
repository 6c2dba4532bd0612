#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/visited.h"

namespace {

using List = std::vector<std::string>;

class VisitedList : public ::testing::Test {
  protected:
    void SetUp() override { visitedClear(); }
    void TearDown() override { visitedClear(); }

    static List order() {
        List seen;
        visitedForEach([&seen](const std::string& url) { seen.push_back(url); });
        EXPECT_EQ(seen, visitedEntries());
        return seen;
    }
};

TEST_F(VisitedList, AddMovesAnEqualEntryToTheFrontInsertDoesNot) {
    const struct {
        const char* add;
        List after;
    } steps[] = {{"A", {"A"}}, {"B", {"B", "A"}}, {"A", {"A", "B"}}, {"a", {"a", "A", "B"}}};
    for (const auto& step : steps) {
        ASSERT_TRUE(visitedAdd(step.add));
        EXPECT_EQ(order(), step.after) << step.add;
    }
    // An insert does not look for an equal entry; a later add moves the first of them.
    ASSERT_TRUE(visitedInsert("Z", true));
    ASSERT_TRUE(visitedInsert("A", true));
    ASSERT_TRUE(visitedAdd("A"));
    EXPECT_EQ(order(), (List{"A", "a", "B", "Z", "A"}));
}

TEST_F(VisitedList, LookupIsExact) {
    ASSERT_TRUE(visitedAdd("gemini://host/page"));
    ASSERT_TRUE(visitedAdd(std::string_view("a\0b", 3)));
    const struct {
        std::string_view url;
        bool visited;
    } cases[] = {{"gemini://host/page", true}, {"gemini://Host/page", false},
                 {"gemini://host/pag", false}, {"", false},
                 {{"a\0b", 3}, true},          {"a", false}};
    for (const auto& c : cases)
        EXPECT_EQ(isVisited(c.url), c.visited) << c.url;
    visitedClear();
    EXPECT_FALSE(isVisited("gemini://host/page"));
    EXPECT_EQ(visitedCount(), 0u);
}

}  // namespace
