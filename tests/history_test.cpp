// Navigation history and the visited list's file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/locale.h"
#include "platform/files.h"
#include "platform/process.h"
#include "store/history.h"
#include "store/visited.h"

namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;

// A literal's bytes, NULs included.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

class HistoryTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("FARLANDER_HOME");
        savedHome = old ? old : "";
        home = testing::TempDir() + "farlander-history-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        fs::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
        file = home + "/prefs/visited.txt";
        ASSERT_EQ(visitedFilePath(), file);
        historyInit();
    }
    void TearDown() override {
        visitedClear();  // no file written by the clean-up below
        historyCleanup();
        setEnvironment("FARLANDER_HOME", savedHome);
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }

    void writeFile(const std::string& content) {
        ASSERT_TRUE(makeDirectories(home + "/prefs"));
        ASSERT_TRUE(writeFileAtomic(file, content));
    }
    std::string readFile() {
        std::string text;
        return readWholeFile(file, text) ? text : "<no file>";
    }
    static List urls() {
        List out;
        HistoryEntry* entry = currentEntry();
        if (entry == nullptr) return out;
        // Walk back to the start, then forward, without changing the current entry.
        HistoryEntry* const current = entry;
        while (HistoryEntry* previous = historyPrevious())
            historySetCurrent(previous);
        for (HistoryEntry* at = currentEntry(); at != nullptr;) {
            out.push_back(at->url);
            HistoryEntry* next = historyNext();
            if (next == nullptr) break;
            historySetCurrent(next);
            at = next;
        }
        historySetCurrent(current);
        return out;
    }

    std::string savedHome, home, file;
};

TEST_F(HistoryTest, BackTwiceThenANewLinkDropsTheForwardPart) {
    for (const char* url : {"gemini://a/", "gemini://b/", "gemini://c/", "gemini://d/"})
        ASSERT_NE(historyAdd(url), nullptr);
    HistoryEntry* b = nullptr;
    for (int i = 0; i < 2; ++i) {
        b = historyPrevious();
        ASSERT_NE(b, nullptr);
        historySetCurrent(b);
    }
    EXPECT_EQ(b->url, "gemini://b/");
    ASSERT_NE(historyNext(), nullptr);
    b->savedLine = 42;

    HistoryEntry* e = historyAdd("gemini://e/");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(currentEntry(), e);
    EXPECT_EQ(e->savedLine, 0);
    EXPECT_EQ(historyNext(), nullptr) << "Forward is disabled";
    EXPECT_EQ(urls(), (List{"gemini://a/", "gemini://b/", "gemini://e/"}));
    EXPECT_EQ(historyCount(), 3u);
    // The entry before keeps its reading position, and its address stays valid.
    ASSERT_EQ(historyPrevious(), b);
    EXPECT_EQ(b->savedLine, 42);
}

TEST_F(HistoryTest, StepsAtTheEnds) {
    EXPECT_EQ(currentEntry(), nullptr);
    EXPECT_EQ(historyPrevious(), nullptr);
    EXPECT_EQ(historyNext(), nullptr);
    HistoryEntry* a = historyAdd("gemini://a/");
    EXPECT_EQ(historyPrevious(), nullptr);
    EXPECT_EQ(historyNext(), nullptr);
    HistoryEntry* b = historyAdd("gemini://b/");
    EXPECT_EQ(historyPrevious(), a);
    historySetCurrent(nullptr);
    EXPECT_EQ(historyPrevious(), nullptr);
    EXPECT_EQ(historyNext(), nullptr);
    // Without a current entry nothing is discarded.
    historyAdd("gemini://c/");
    EXPECT_EQ(urls(), (List{"gemini://a/", "gemini://b/", "gemini://c/"}));
    historySetCurrent(a);  // not a neighbour of the current entry
    EXPECT_EQ(currentEntry(), a);
    EXPECT_EQ(historyNext(), b);
}

TEST_F(HistoryTest, RevisitMovesTheVisitedEntry) {
    for (const char* url : {"gemini://a/", "gemini://b/", "gemini://a/"})
        historyAdd(url);
    EXPECT_EQ(urls(), (List{"gemini://a/", "gemini://b/", "gemini://a/"}));
    EXPECT_EQ(visitedEntries(), (List{"gemini://a/", "gemini://b/"}));
}

TEST_F(HistoryTest, BuiltinPagesStayOffTheVisitedList) {
    for (const char* url : {"HOME", "gemini://a/", "HISTORY", "TEST", "BOOKVIEW", "BOOK:ADD", "BOOKMAN"})
        historyAdd(url);
    EXPECT_EQ(historyCount(), 7u);
    EXPECT_EQ(visitedEntries(), List{"gemini://a/"});
    const PageText page = historyView();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(*page, std::string("20 text/gemini\r\n# ") + getString(43) + "\n\n=> gemini://a/\n\n");
}

TEST_F(HistoryTest, FileKeepsTheFiftyMostRecent) {
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i)
        historyAdd("gemini://host.example/" + std::to_string(i));
    for (int i = 59; i >= 10; --i)
        expected.push_back("gemini://host.example/" + std::to_string(i));
    historyCleanup();
    std::string content;
    for (const std::string& url : expected)
        content += url + "\n";
    EXPECT_EQ(readFile(), content);
    EXPECT_EQ(currentEntry(), nullptr);
    EXPECT_EQ(historyCount(), 0u);

    historyInit();
    EXPECT_EQ(visitedEntries(), expected);
    EXPECT_EQ(historyCount(), 0u) << "the navigation history is not saved";
}

TEST_F(HistoryTest, EmptyListLeavesTheOldFile) {
    writeFile("gemini://old/\n");
    visitedClear();
    EXPECT_FALSE(visitedWrite());
    historyCleanup();
    EXPECT_EQ(readFile(), "gemini://old/\n");
}

TEST_F(HistoryTest, WritingCreatesTheMissingFolder) {
    historyAdd("gemini://a/");
    ASSERT_FALSE(fs::exists(home + "/prefs"));
    EXPECT_TRUE(visitedWrite());
    EXPECT_EQ(readFile(), "gemini://a/\n");
}

TEST_F(HistoryTest, WritingFailsQuietlyWhenTheFolderCannotBeMade) {
    // A file where the folder should be.
    ASSERT_TRUE(writeFileAtomic(home + "/prefs", "not a folder"));
    historyAdd("gemini://a/");
    EXPECT_FALSE(visitedWrite());
    historyCleanup();
}

TEST_F(HistoryTest, ReadingTakesLinesAsAFixedBufferDelivers) {
    const std::string x328(328, 'x');
    const std::string longLine(100000, 'L');
    const struct {
        const char* name;
        std::string content;
        List expected;
    } cases[] = {
        {"plain", "gemini://a/\ngemini://b/\n", {"gemini://a/", "gemini://b/"}},
        {"last line without a line feed keeps its last character",
         "gemini://a/\ngemini://b/",
         {"gemini://a/", "gemini://b/"}},
        {"carriage returns stay", "gemini://a/\r\ngemini://b/\r\n", {"gemini://a/\r", "gemini://b/\r"}},
        {"empty lines give nothing", "\n\ngemini://a/\n\n", {"gemini://a/"}},
        {"duplicates stay in file order",
         "gemini://a/\ngemini://b/\ngemini://a/\n",
         {"gemini://a/", "gemini://b/", "gemini://a/"}},
        {"328 characters fill the buffer, the line feed comes alone", x328 + "\n", {x328}},
        {"329 characters arrive in two pieces", x328 + "y\n", {x328, "y"}},
        {"a NUL ends what a piece stands for",
         bytes("gemini://a/\0junk\ngemini://b/\n"),
         {"gemini://a/", "gemini://b/"}},
        {"a piece that starts with a NUL is empty", bytes("\0junk\n"), {}},
        {"empty file", "", {}},
    };
    for (const auto& c : cases) {
        visitedClear();
        writeFile(c.content);
        visitedRead();
        EXPECT_EQ(visitedEntries(), c.expected) << c.name;
    }

    visitedClear();
    writeFile(longLine + "\ngemini://after/\n");
    visitedRead();
    const List& pieces = visitedEntries();
    ASSERT_EQ(pieces.size(), 100000u / 328 + 2);
    size_t total = 0;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        EXPECT_LE(pieces[i].size(), 328u);
        EXPECT_EQ(pieces[i].find_first_not_of('L'), std::string::npos);
        total += pieces[i].size();
    }
    EXPECT_EQ(total, longLine.size());
    EXPECT_EQ(pieces.back(), "gemini://after/");
}

TEST_F(HistoryTest, ReadingSurvivesAnything) {
    std::string binary;
    for (int i = 0; i < 2000; ++i)
        binary.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    visitedClear();
    writeFile(binary);
    visitedRead();
    for (const std::string& url : visitedEntries()) {
        EXPECT_FALSE(url.empty());
        EXPECT_LE(url.size(), 328u);
        EXPECT_EQ(url.find('\0'), std::string::npos);
    }

    // Missing folder, missing file, a folder in the file's place: an empty list, silently.
    visitedClear();
    fs::remove_all(home + "/prefs");
    visitedRead();
    EXPECT_TRUE(visitedEntries().empty());
    fs::create_directories(file);
    visitedRead();
    EXPECT_TRUE(visitedEntries().empty());
    historyAdd("gemini://a/");
    EXPECT_FALSE(visitedWrite());
    fs::remove_all(file);
}

}  // namespace
