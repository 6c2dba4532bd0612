#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "shell/shell.h"
#include "store/bookmarks.h"

namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;

class BookmarksTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("FARLANDER_HOME");
        savedHome = old ? old : "";
        home = testing::TempDir() + "farlander-bookmarks-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        fs::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
        prefs = home + "/prefs";
        file = prefs + "/bookmarks.txt";
        ASSERT_EQ(bookmarkFilePath(), file);
        bookmarkCleanup();
        headlessReset();
    }
    void TearDown() override {
        bookmarkCleanup();
        headlessReset();
        setEnvironment("FARLANDER_HOME", savedHome);
        std::error_code ignored;
        fs::permissions(prefs, fs::perms::owner_all, ignored);
        fs::remove_all(home, ignored);
    }

    void writeRaw(const std::string& content) {
        ASSERT_TRUE(makeDirectories(prefs));
        ASSERT_TRUE(writeFileAtomic(file, content));
    }
    std::string readRaw() {
        std::string text;
        return readWholeFile(file, text) ? text : "<no file>";
    }
    // Starts a test with exactly these bookmarks, in memory and in the file.
    void start(const List& urls) {
        bookmarkCleanup();
        for (const std::string& url : urls)
            ASSERT_TRUE(bookmarkAdd(url));
        ASSERT_EQ(bookmarkList(), urls);
    }

    std::string savedHome, home, prefs, file;
};

std::string joinLines(const List& urls) {
    std::string text;
    for (const std::string& url : urls)
        text += url + "\n";
    return text;
}

ShellResponder pressButton(int index) {
    return [index](const ShellCall&) { return ShellAnswer{index, {}, false}; };
}

int questionsAsked() {
    int count = 0;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what == ShellCall::REQUESTER) {
            EXPECT_EQ(call.kind, REQ_QUESTION);
            EXPECT_EQ(call.body, "Delete bookmark?");
            count++;
        }
    }
    return count;
}

TEST_F(BookmarksTest, ReadTakesLinesAsTheyAre) {
    const std::string a328(328, 'a');
    struct Case {
        const char* what;
        std::string content;
        List expect;
    } cases[] = {
        {"last line without a line feed keeps its last character", "a\nx", {"a", "x"}},
        {"a bare line feed is an empty bookmark", "\n\nz\n", {"", "", "z"}},
        {"CR LF keeps the CR", "gemini://a/\r\ngemini://b/\r\n", {"gemini://a/\r", "gemini://b/\r"}},
        {"bytes as they are", "\xff\x80\x01\t \x7f\n", {"\xff\x80\x01\t \x7f"}},
        {"a line ends at a NUL", std::string("ab\0cd\nef\n", 9), {"ab", "ef"}},
        {"a line starting with NUL is skipped", std::string("\0x\ny\n", 5), {"y"}},
        {"a 328-character line keeps its own feed", a328 + "\nb\n", {a328, "b"}},
        {"a 328-character line, then an empty one", a328 + "\n\nb\n", {a328, "", "b"}},
        {"a 328-character last line", a328, {a328}},
        {"a 329-character line arrives in two pieces", a328 + "a\n", {a328, "a"}},
    };
    for (const Case& c : cases) {
        writeRaw(c.content);
        bookmarkCleanup();
        bookmarkRead();
        EXPECT_EQ(bookmarkList(), c.expect) << c.what;
    }
}

TEST_F(BookmarksTest, ReadAppendsAndInitStartsAfresh) {
    writeRaw("gemini://file/\n");
    bookmarkInit();
    bookmarkRead();
    EXPECT_EQ(bookmarkList(), (List{"gemini://file/", "gemini://file/"}));
    bookmarkInit();
    EXPECT_EQ(bookmarkList(), List{"gemini://file/"});
}

TEST_F(BookmarksTest, HugeLineArrivesInPiecesWithoutLoss) {
    writeRaw(std::string(100000, 'z') + "\nafter\n");
    bookmarkInit();
    const List& list = bookmarkList();
    ASSERT_EQ(list.size(), 100000 / 328 + 2);
    EXPECT_EQ(list.front(), std::string(328, 'z'));
    EXPECT_EQ(list[list.size() - 2], std::string(100000 % 328, 'z'));
    EXPECT_EQ(list.back(), "after");
}

TEST_F(BookmarksTest, UnreadableFileLeavesTheListAsItIs) {
    enum Setup { NO_FOLDER, NO_FILE, FILE_IS_FOLDER, PREFS_IS_FILE };
    for (Setup setup : {NO_FOLDER, NO_FILE, FILE_IS_FOLDER, PREFS_IS_FILE}) {
        fs::remove_all(prefs);
        if (setup == NO_FILE) fs::create_directories(prefs);
        if (setup == FILE_IS_FOLDER) fs::create_directories(file);
        if (setup == PREFS_IS_FILE) std::ofstream(prefs) << "gemini://x/\n";
        bookmarkInit();
        EXPECT_TRUE(bookmarkList().empty()) << setup;
        EXPECT_FALSE(bookmarkEdit("BOOK:up:gemini://x/")) << setup;
    }
}

TEST_F(BookmarksTest, WriteThenReadRoundTrip) {
    List urls = {
        "gemini://example.org/", "gopher://host:70/1/menu",          "",
        "spartan://x/\r",        "gemini://h/\xe9t\xe9 with spaces", std::string(BOOKMARK_MAX_LENGTH, 'q'),
    };
    fs::remove_all(prefs);  // the folder is created on the first write
    start(urls);
    EXPECT_EQ(readRaw(), joinLines(urls));
    bookmarkInit();
    EXPECT_EQ(bookmarkList(), urls);
    ASSERT_TRUE(bookmarkWrite());
    EXPECT_EQ(readRaw(), joinLines(urls));
}

TEST_F(BookmarksTest, AddCutsAt328AndNeverDuplicates) {
    start({"gemini://a/"});
    writeRaw("marker\n");
    // An existing bookmark is neither added again nor written.
    EXPECT_FALSE(bookmarkAdd("gemini://a/"));
    EXPECT_EQ(bookmarkList(), List{"gemini://a/"});
    EXPECT_EQ(readRaw(), "marker\n");
    // Names compare byte for byte.
    EXPECT_TRUE(bookmarkAdd("gemini://A/"));
    const std::string longUrl(400, 'L');
    EXPECT_TRUE(bookmarkAdd(longUrl));
    EXPECT_FALSE(bookmarkAdd(longUrl.substr(0, BOOKMARK_MAX_LENGTH)));
    EXPECT_EQ(bookmarkList(), (List{"gemini://a/", "gemini://A/", std::string(BOOKMARK_MAX_LENGTH, 'L')}));
    EXPECT_EQ(readRaw(), joinLines(bookmarkList()));
}

TEST_F(BookmarksTest, EditCommands) {
    const List abc = {"gemini://a/", "gemini://b/", "gemini://c/"};
    struct Case {
        std::string address;
        int button;  // answer to the question, -1 = dismissed
        bool done;
        bool rewritten;
        int questions;
        List expect;
    } cases[] = {
        {"BOOK:up:gemini://b/", 0, true, true, 0, {"gemini://b/", "gemini://a/", "gemini://c/"}},
        {"BOOK:up:gemini://a/", 0, false, false, 0, abc},  // the first stays first, file untouched
        {"BOOK:down:gemini://a/", 0, true, true, 0, {"gemini://b/", "gemini://a/", "gemini://c/"}},
        {"BOOK:down:gemini://c/", 0, true, true, 0, abc},  // the last stays last, file rewritten
        {"BOOK:del:gemini://b/", 0, true, true, 1, {"gemini://a/", "gemini://c/"}},
        {"BOOK:del:gemini://b/", 1, false, false, 1, abc},   // Cancel
        {"BOOK:del:gemini://b/", -1, false, false, 1, abc},  // closed
        {"BOOK:del:gemini://z/", 0, false, false, 0, abc},   // no such bookmark: no question
        {"BOOK:up:gemini://B/", 0, false, false, 0, abc},
        {"BOOK:UP:gemini://b/", 0, false, false, 0, abc},
        {"BOOK:up gemini://b/", 0, false, false, 0, abc},
        {" BOOK:up:gemini://b/", 0, false, false, 0, abc},
        {std::string("BOOK:del:gemini://b/\0", 21), 0, false, false, 0, abc},
    };
    for (const Case& c : cases) {
        start(abc);
        writeRaw("marker\n");
        headlessReset();
        headlessSetResponder(pressButton(c.button));
        EXPECT_EQ(bookmarkEdit(c.address), c.done) << c.address;
        EXPECT_EQ(bookmarkList(), c.expect) << c.address;
        EXPECT_EQ(readRaw(), c.rewritten ? joinLines(c.expect) : "marker\n") << c.address;
        EXPECT_EQ(questionsAsked(), c.questions) << c.address;
    }
}

TEST_F(BookmarksTest, EditFindsTheFirstOfEqualBookmarks) {
    writeRaw("x\ny\nx\n");
    bookmarkInit();
    // The first x is first already, so up changes nothing although another x could move.
    EXPECT_FALSE(bookmarkEdit("BOOK:up:x"));
    EXPECT_EQ(bookmarkList(), (List{"x", "y", "x"}));
    EXPECT_TRUE(bookmarkEdit("BOOK:down:x"));
    EXPECT_EQ(bookmarkList(), (List{"y", "x", "x"}));
}

TEST_F(BookmarksTest, CommandAddressEndsAtItsLimit) {
    struct Case {
        const char* command;
        size_t urlLength;
        bool found;
    } cases[] = {
        {"up:", 320, true},   {"up:", 321, false},  {"del:", 319, true},
        {"del:", 320, false}, {"down:", 318, true}, {"down:", 319, false},
    };
    for (const Case& c : cases) {
        const std::string url = "gemini://h/" + std::string(c.urlLength - 11, 'p');
        ASSERT_EQ(url.size(), c.urlLength);
        start({"first", url, "last"});
        headlessSetResponder(pressButton(0));
        EXPECT_EQ(bookmarkEdit("BOOK:" + std::string(c.command) + url), c.found) << c.command << c.urlLength;
        EXPECT_EQ(bookmarkList().size() == 3 && bookmarkList()[1] == url, !c.found)
            << c.command << c.urlLength;
    }
}

TEST_F(BookmarksTest, DeletingTheLastBookmarkDeletesTheFile) {
    start({"gemini://only/"});
    ASSERT_TRUE(fs::exists(file));
    headlessSetResponder(pressButton(0));
    EXPECT_TRUE(bookmarkEdit("BOOK:del:gemini://only/"));
    EXPECT_TRUE(bookmarkList().empty());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_directory(prefs));
    // Writing an empty list again, with no file left, is fine.
    EXPECT_TRUE(bookmarkWrite());
}

TEST_F(BookmarksTest, FailedWriteKeepsTheOldFileAndTheChange) {
    start({"gemini://a/"});
    fs::permissions(prefs, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(prefs + "/probe")) GTEST_SKIP() << "folder permissions do not bind this user";
    EXPECT_TRUE(bookmarkAdd("gemini://b/"));
    EXPECT_EQ(bookmarkList(), (List{"gemini://a/", "gemini://b/"}));
    EXPECT_EQ(readRaw(), "gemini://a/\n");
    EXPECT_FALSE(bookmarkWrite());
    EXPECT_EQ(readRaw(), "gemini://a/\n");
}

TEST_F(BookmarksTest, NoPlaceForTheFileKeepsTheChangeInMemory) {
    fs::remove_all(prefs);
    std::ofstream(prefs) << "not a folder\n";
    EXPECT_TRUE(bookmarkAdd("gemini://a/"));
    EXPECT_EQ(bookmarkList(), List{"gemini://a/"});
    EXPECT_FALSE(bookmarkWrite());
    std::string text;
    ASSERT_TRUE(readWholeFile(prefs, text));
    EXPECT_EQ(text, "not a folder\n");
}

TEST_F(BookmarksTest, GeneratedPages) {
    start({"gemini://a/", "gopher://b/1"});
    PageText view = bookmarkView();
    PageText manage = bookmarkManage();
    ASSERT_NE(view, nullptr);
    ASSERT_NE(manage, nullptr);
    EXPECT_EQ(*view, "20 text/gemini\r\n# Bookmarks\n\n=> gemini://a/\n\n=> gopher://b/1\n\n");
    EXPECT_EQ(*manage,
              "20 text/gemini\r\n# Bookmarks\n\n"
              "=> BOOK:up:gemini://a/ move up\n"
              "=> BOOK:del:gemini://a/ delete gemini://a/\n"
              "=> BOOK:down:gemini://a/ move down\n\n"
              "=> BOOK:up:gopher://b/1 move up\n"
              "=> BOOK:del:gopher://b/1 delete gopher://b/1\n"
              "=> BOOK:down:gopher://b/1 move down\n\n");
}

}  // namespace
