// Navigation history and the visited list, in memory and in its file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "store/history.h"
#include "store/visited.h"
#include "text/locale.h"

#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;
using namespace std::string_literals;

class HistoryTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(visitedFilePath(), file);
        historyInit();
    }
    void TearDown() override {
        visitedClear();  // no file written by the clean-up below
        historyCleanup();
    }

    void writeFile(const std::string& content) {
        ASSERT_TRUE(makeDirectories(home + "/prefs"));
        ASSERT_TRUE(writeFileAtomic(file, content));
    }
    std::string readFile() {
        std::string text;
        return readWholeFile(file, text) ? text : "<no file>";
    }
    // The history's addresses in order; the current entry stays as it was.
    static List urls() {
        HistoryEntry* const current = currentEntry();
        while (HistoryEntry* previous = historyPrevious())
            historySetCurrent(previous);
        List out;
        for (HistoryEntry* at = currentEntry(); at != nullptr; historySetCurrent(at), at = historyNext())
            out.push_back(at->url);
        historySetCurrent(current);
        return out;
    }

    PrivateHome privateHome{"history"};
    const std::string home = privateHome.path;
    const std::string file = home + "/prefs/visited.txt";
};

using Neighbours = std::pair<HistoryEntry*, HistoryEntry*>;
Neighbours neighbours() {
    return {historyPrevious(), historyNext()};
}

TEST_F(HistoryTest, BackAndForward) {
    EXPECT_EQ(neighbours(), Neighbours(nullptr, nullptr));
    HistoryEntry* a = historyAdd("gemini://a/");
    EXPECT_EQ(neighbours(), Neighbours(nullptr, nullptr));
    HistoryEntry* b = historyAdd("gemini://b/");
    EXPECT_EQ(neighbours(), Neighbours(a, nullptr));
    historySetCurrent(nullptr);
    EXPECT_EQ(neighbours(), Neighbours(nullptr, nullptr));
    // Without a current entry nothing is discarded.
    historyAdd("gemini://c/");
    historyAdd("gemini://d/");
    EXPECT_EQ(urls(), (List{"gemini://a/", "gemini://b/", "gemini://c/", "gemini://d/"}));
    historySetCurrent(a);  // not a neighbour of the current entry
    EXPECT_EQ(neighbours(), Neighbours(nullptr, b));

    // Back to b, two before the end, then a new link: c and d go.
    historySetCurrent(b);
    b->savedLine = 42;
    HistoryEntry* e = historyAdd("gemini://e/");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(currentEntry(), e);
    EXPECT_EQ(e->savedLine, 0);
    EXPECT_EQ(neighbours(), Neighbours(b, nullptr)) << "Forward is disabled";
    EXPECT_EQ(urls(), (List{"gemini://a/", "gemini://b/", "gemini://e/"}));
    EXPECT_EQ(historyCount(), 3u);
    EXPECT_EQ(b->savedLine, 42);  // the entry before keeps its reading position and address
}

// A revisit moves the address to the front; built-in pages stay off the list.
TEST_F(HistoryTest, VisitedListTakesNetworkAddressesOnce) {
    for (const char* url : {"HOME", "gemini://a/", "HISTORY", "gemini://b/", "TEST", "BOOKVIEW", "BOOK:ADD",
                            "BOOKMAN", "gemini://a/"})
        historyAdd(url);
    EXPECT_EQ(historyCount(), 9u);
    EXPECT_EQ(visitedEntries(), (List{"gemini://a/", "gemini://b/"}));
    const PageText page = historyView();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(*page, std::string("20 text/gemini\r\n# ") + getString(MSG_TITLE_HISTORY) +
                         "\n\n=> gemini://a/\n\n=> gemini://b/\n\n");
}

TEST_F(HistoryTest, FileKeepsTheFiftyMostRecent) {
    List expected;
    std::string content;
    for (int i = 0; i < 60; ++i)
        historyAdd("gemini://host.example/" + std::to_string(i));
    for (int i = 59; i >= 10; --i) {
        expected.push_back("gemini://host.example/" + std::to_string(i));
        content += expected.back() + "\n";
    }
    historyCleanup();
    EXPECT_EQ(readFile(), content);
    historyInit();
    EXPECT_EQ(visitedEntries(), expected);
    EXPECT_EQ(historyCount(), 0u) << "the navigation history is not saved";
}

TEST_F(HistoryTest, WritingAndReadingFailures) {
    EXPECT_TRUE(visitedEntries().empty());  // read with no folder and no file
    // An empty list leaves the old file.
    writeFile("gemini://old/\n");
    EXPECT_FALSE(visitedWrite());
    EXPECT_EQ(readFile(), "gemini://old/\n");
    // A missing folder is made.
    fs::remove_all(home + "/prefs");
    historyAdd("gemini://a/");
    EXPECT_TRUE(visitedWrite());
    EXPECT_EQ(readFile(), "gemini://a/\n");
    // A folder in the file's place, or a file in the folder's: no write, and an empty
    // list from a read, silently.
    for (const std::string& blocked : {file, home + "/prefs"}) {
        fs::remove_all(home + "/prefs");
        if (blocked == file)
            fs::create_directories(file);
        else
            ASSERT_TRUE(writeFileAtomic(blocked, "not a folder"));
        EXPECT_FALSE(visitedWrite()) << blocked;
        visitedClear();
        visitedRead();
        EXPECT_TRUE(visitedEntries().empty()) << blocked;
        historyAdd("gemini://a/");
    }
}

TEST_F(HistoryTest, ReadingTakesLinesAsAFixedBufferDelivers) {
    const std::string x328(328, 'x'), huge(100000, 'L');
    List hugePieces(100000 / 328, std::string(328, 'L'));
    hugePieces.insert(hugePieces.end(), {std::string(100000 % 328, 'L'), "gemini://after/"});
    const std::pair<std::string, List> cases[] = {
        // clang-format off
        {"a\nb", {"a", "b"}},  // a last line without a line feed keeps its last character
        {"a\r\nb\r\n", {"a\r", "b\r"}},  // carriage returns stay
        {"\n\na\n\n", {"a"}},  // empty lines give nothing
        {"a\nb\na\n", {"a", "b", "a"}},  // duplicates stay in file order
        {x328 + "\n", {x328}},  // 328 characters fill the buffer, the line feed comes alone
        {huge + "\ngemini://after/\n", hugePieces},  // a longer line arrives in 328-character pieces
        {"a\0junk\nb\n"s, {"a", "b"}},  // a NUL ends what a piece stands for
        {"\0junk\n"s, {}},  // a piece that starts with a NUL is empty
        {"", {}},
        // clang-format on
    };
    for (const auto& [content, expected] : cases) {
        visitedClear();
        writeFile(content);
        visitedRead();
        EXPECT_EQ(visitedEntries(), expected) << content.substr(0, 40);
    }
}

// ---- the visited list in memory ----

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
