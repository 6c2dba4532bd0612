#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "store/bookmarks.h"
#include "ui/ui.h"

#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;
using namespace std::string_literals;

class BookmarksTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(bookmarkFilePath(), file);
        bookmarkCleanup();
        headlessReset();
    }
    void TearDown() override {
        bookmarkCleanup();
        headlessReset();
        std::error_code ignored;  // a test may have locked the folder
        fs::permissions(prefs, fs::perms::owner_all, ignored);
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

    PrivateHome privateHome{"bookmarks"};
    const std::string home = privateHome.path;
    const std::string prefs = home + "/prefs", file = prefs + "/bookmarks.txt";
};

std::string joinLines(const List& urls) {
    std::string text;
    for (const std::string& url : urls)
        text += url + "\n";
    return text;
}

// Answers every question with this button (-1: the requester was closed).
void answer(int button) {
    headlessSetResponder([button](const ShellCall&) { return ShellAnswer{button, {}, false}; });
}

// Requesters shown so far; each must be the question "Delete bookmark?".
int questionsAsked() {
    int count = 0;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what != ShellCall::REQUESTER) continue;
        EXPECT_TRUE(call.kind == REQ_QUESTION && call.body == "Delete bookmark?") << call.body;
        count++;
    }
    return count;
}

TEST_F(BookmarksTest, ReadTakesLinesAsTheyAre) {
    const std::string a328(328, 'a');
    List hugePieces(100000 / 328, std::string(328, 'z'));
    hugePieces.insert(hugePieces.end(), {std::string(100000 % 328, 'z'), "after"});
    const std::pair<std::string, List> cases[] = {
        // clang-format off
        {"a\nx", {"a", "x"}},  // the last line, without a line feed, keeps its last character
        {"\n\nz\n", {"", "", "z"}},  // a bare line feed is an empty bookmark
        {"gemini://a/\r\ngemini://b/\r\n", {"gemini://a/\r", "gemini://b/\r"}},  // CR LF keeps the CR
        {"\xff\x80\x01\t \x7f\n", {"\xff\x80\x01\t \x7f"}},  // bytes as they are
        {"ab\0cd\nef\n"s, {"ab", "ef"}},  // a line ends at a NUL
        {"\0x\ny\n"s, {"y"}},  // a line starting with NUL is skipped
        {a328 + "\n\nb\n", {a328, "", "b"}},  // a full line keeps its own feed; then an empty line
        {a328, {a328}},  // a full last line
        {std::string(100000, 'z') + "\nafter\n", hugePieces},  // a longer line arrives in pieces
        // clang-format on
    };
    for (const auto& [content, expect] : cases) {
        writeRaw(content);
        bookmarkCleanup();
        bookmarkRead();
        EXPECT_EQ(bookmarkList(), expect) << content.substr(0, 40);
    }
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
        // A change stays in memory when there is no place for the file.
        EXPECT_TRUE(bookmarkAdd("gemini://a/")) << setup;
        EXPECT_EQ(bookmarkList(), List{"gemini://a/"}) << setup;
        EXPECT_EQ(bookmarkWrite(), setup == NO_FOLDER || setup == NO_FILE) << setup;
        std::string text;
        EXPECT_TRUE(setup != PREFS_IS_FILE || (readWholeFile(prefs, text) && text == "gemini://x/\n"));
    }
}

TEST_F(BookmarksTest, AddCutsAt328AndNeverDuplicates) {
    fs::remove_all(prefs);  // the folder is made on the first write
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
    const List abc = {"gemini://a/", "gemini://b/", "gemini://c/"}, bac = {abc[1], abc[0], abc[2]};
    // The address, the answer to the question (-1: closed), whether the command was
    // carried out and the file rewritten, the questions asked, and the list after.
    const std::tuple<std::string, int, bool, int, List> cases[] = {
        // clang-format off
        {"BOOK:up:gemini://b/", 0, true, 0, bac}, {"BOOK:down:gemini://a/", 0, true, 0, bac},
        {"BOOK:up:gemini://a/", 0, false, 0, abc},   // the first stays first, file untouched
        {"BOOK:down:gemini://c/", 0, true, 0, abc},  // the last stays last, file rewritten
        {"BOOK:del:gemini://b/", 0, true, 1, {abc[0], abc[2]}},
        {"BOOK:del:gemini://b/", 1, false, 1, abc},   // Cancel
        {"BOOK:del:gemini://b/", -1, false, 1, abc},  // closed
        {"BOOK:del:gemini://z/", 0, false, 0, abc},   // no such bookmark: no question
        {"BOOK:up:gemini://B/", 0, false, 0, abc}, {"BOOK:UP:gemini://b/", 0, false, 0, abc},
        {"BOOK:up gemini://b/", 0, false, 0, abc}, {" BOOK:up:gemini://b/", 0, false, 0, abc},
        {"BOOK:del:gemini://b/\0"s, 0, false, 0, abc},
        // clang-format on
    };
    for (const auto& [address, button, done, questions, expect] : cases) {
        start(abc);
        writeRaw("marker\n");
        headlessReset();
        answer(button);
        EXPECT_EQ(bookmarkEdit(address), done) << address;
        EXPECT_EQ(bookmarkList(), expect) << address;
        EXPECT_EQ(readRaw(), done ? joinLines(expect) : "marker\n") << address;
        EXPECT_EQ(questionsAsked(), questions) << address;
    }
    // Equal bookmarks: the first is found. It is first already, so up changes nothing
    // although the other x could move.
    writeRaw("x\ny\nx\n");
    bookmarkInit();
    EXPECT_FALSE(bookmarkEdit("BOOK:up:x"));
    EXPECT_TRUE(bookmarkEdit("BOOK:down:x"));
    EXPECT_EQ(bookmarkList(), (List{"y", "x", "x"}));
    // Deleting the last bookmark deletes the file, not the folder.
    start({"gemini://only/"});
    answer(0);
    EXPECT_TRUE(bookmarkEdit("BOOK:del:gemini://only/"));
    EXPECT_TRUE(bookmarkList().empty());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_directory(prefs));
    EXPECT_TRUE(bookmarkWrite());  // an empty list again, with no file left
}

TEST_F(BookmarksTest, CommandAddressEndsAtItsLimit) {
    const std::pair<const char*, size_t> cases[] = {{"up:", 320},  {"up:", 321},   {"del:", 319},
                                                    {"del:", 320}, {"down:", 318}, {"down:", 319}};
    for (const auto& [command, urlLength] : cases) {
        const std::string url = "gemini://h/" + std::string(urlLength - 11, 'p');
        const bool found = 5 + std::strlen(command) + urlLength <= 328;
        start({"first", url, "last"});
        answer(0);
        EXPECT_EQ(bookmarkEdit("BOOK:" + std::string(command) + url), found) << command << urlLength;
        EXPECT_EQ(bookmarkList().size() == 3 && bookmarkList()[1] == url, !found) << command << urlLength;
    }
}

TEST_F(BookmarksTest, FailedWriteKeepsTheOldFileAndTheChange) {
    start({"gemini://a/"});
    fs::permissions(prefs, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(prefs + "/probe")) GTEST_SKIP() << "folder permissions do not bind this user";
    EXPECT_TRUE(bookmarkAdd("gemini://b/"));
    EXPECT_EQ(bookmarkList(), (List{"gemini://a/", "gemini://b/"}));
    EXPECT_FALSE(bookmarkWrite());
    EXPECT_EQ(readRaw(), "gemini://a/\n");
}

TEST_F(BookmarksTest, GeneratedPages) {
    start({"gemini://a/", "gopher://b/1"});
    PageText view = bookmarkView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(*view, "20 text/gemini\r\n# Bookmarks\n\n=> gemini://a/\n\n=> gopher://b/1\n\n");
    start({"gopher://b/1"});
    PageText manage = bookmarkManage();
    ASSERT_NE(manage, nullptr);
    EXPECT_EQ(*manage,
              "20 text/gemini\r\n# Bookmarks\n\n=> BOOK:up:gopher://b/1 move up\n"
              "=> BOOK:del:gopher://b/1 delete gopher://b/1\n=> BOOK:down:gopher://b/1 move down\n\n");
}

}  // namespace
