// The clipboard and the help viewer, headless: text through the real clipboard, the
// viewer's events, its contents list, history and links, and where the manual is found.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/help.h"
#include "platform/process.h"
#include "platform/task.h"
#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;

class ClipboardHelpEnvironment : public testing::Environment {
  public:
    void TearDown() override { guiCleanUp(); }
};
testing::Environment* const clipboardHelpEnvironment =
    testing::AddGlobalTestEnvironment(new ClipboardHelpEnvironment);

void writeFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// ---- clipboard ----

class ClipboardTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(guiInit()); }
};

TEST_F(ClipboardTest, TextComesBackAsItWasWritten) {
    const std::vector<std::string> texts = {
        "gemini://geminiprotocol.net/docs/",
        "gemini://example.org/Grüße/café?q=ü",
        "Mörkblå – 日本語 – 🚀",
        "two\nlines",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        for (bool alsoSelection : {false, true}) {
            ASSERT_EQ(clipboardWriteText(text, alsoSelection), CLIP_OK);
            std::string read = "old";
            EXPECT_EQ(clipboardReadText(read), CLIP_OK);
            EXPECT_EQ(read, text);
            std::string selection;
            if (clipboardHasSelection()) {
                EXPECT_EQ(clipboardReadSelection(selection), CLIP_OK);
                if (alsoSelection) {
                    EXPECT_EQ(selection, text);
                }
            } else {
                EXPECT_EQ(clipboardReadSelection(selection), CLIP_UNAVAILABLE);
                EXPECT_EQ(selection, "");
            }
        }
    }
}

TEST_F(ClipboardTest, AnEmptyClipboardReadsAsEmptyNotUnavailable) {
    ASSERT_EQ(clipboardWriteText("something", false), CLIP_OK);
    ASSERT_EQ(clipboardWriteText("", false), CLIP_OK);
    std::string read = "left over";
    EXPECT_EQ(clipboardReadText(read), CLIP_EMPTY);
    EXPECT_EQ(read, "");
}

TEST_F(ClipboardTest, OtherThreadsFindNoClipboard) {
    ASSERT_EQ(clipboardWriteText("kept", false), CLIP_OK);
    ClipStatus write = CLIP_OK, read = CLIP_OK;
    std::string text = "x";
    std::thread([&] {
        write = clipboardWriteText("lost", false);
        read = clipboardReadText(text);
    }).join();
    EXPECT_EQ(write, CLIP_UNAVAILABLE);
    EXPECT_EQ(read, CLIP_UNAVAILABLE);
    EXPECT_EQ(text, "");
    EXPECT_EQ(clipboardReadText(text), CLIP_OK);
    EXPECT_EQ(text, "kept");
}

// ---- help viewer ----

// A manual whose sections are each far taller than the window.
std::string testManual() {
    std::string text =
        "# Test Manual\n\nIntro. [See bookmarks](#bookmarks) or [the site](gemini://example.org/).\n";
    auto section = [&](const std::string& heading, const std::string& word) {
        text += "\n" + heading + "\n";
        for (int i = 0; i < 40; ++i)
            text += "\n" + word + " paragraph " + std::to_string(i) + " with a few words in it.\n";
    };
    section("## First steps", "first");
    section("## Links & colours", "links");
    section("## Tips", "tips");
    section("## Bookmarks", "bookmarks");
    section("### Managing bookmarks", "managing");
    section("## Tips", "more");
    section("## Last words", "last");
    return text;
}

class HelpTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(guiInit());
        // A window a test leaves open stays until the next one starts or the GUI goes,
        // which must then close it before the application ends.
        helpClose();
        signalBit_ = taskAllocSignal();
        ASSERT_GE(signalBit_, 0);
        mask_ = 1u << signalBit_;
        manual_ = folder_.path + "/manual.md";
        writeFile(manual_, testManual());
    }
    void TearDown() override {
        setDesktopUrlOpenerForTesting({});
        taskFreeSignal(signalBit_);
    }

    bool open(const std::string& path) { return helpOpen(path, HelpPlacement{}, taskCurrent(), mask_); }

    // The events queued so far; the signal must have been raised for them.
    std::vector<HelpEvent> events() {
        guiProcessEvents();
        std::vector<HelpEvent> taken;
        for (HelpEvent event; helpGetEvent(event);)
            taken.push_back(event);
        uint32_t raised = taskClearSignals(mask_);
        if (!taken.empty()) {
            EXPECT_EQ(raised, mask_);
        }
        return taken;
    }

    std::vector<int> eventKinds() {
        std::vector<int> kinds;
        for (const HelpEvent& event : events())
            kinds.push_back(event.kind);
        return kinds;
    }

    PrivateHome folder_{"help"};
    std::string manual_;
    int signalBit_ = -1;
    uint32_t mask_ = 0;
};

TEST_F(HelpTest, OpensTheDocumentWithItsContents) {
    ASSERT_TRUE(open(manual_));
    EXPECT_EQ(eventKinds(), std::vector<int>{HELP_EVENT_ACTIVE});
    EXPECT_TRUE(helpIsOpen());
    EXPECT_EQ(helpWindowTitle(), "Farlander Help");
    EXPECT_EQ(helpScrollPosition(), 0);

    struct Expected {
        int level;
        const char* title;
        const char* anchor;
    };
    const std::vector<Expected> expected = {
        {1, "Test Manual", "test-manual"},
        {2, "First steps", "first-steps"},
        {2, "Links & colours", "links--colours"},
        {2, "Tips", "tips"},
        {2, "Bookmarks", "bookmarks"},
        {3, "Managing bookmarks", "managing-bookmarks"},
        {2, "Tips", "tips-1"},
        {2, "Last words", "last-words"},
    };
    std::vector<HelpSection> contents = helpContents();
    ASSERT_EQ(contents.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].title);
        EXPECT_EQ(contents[i].level, expected[i].level);
        EXPECT_EQ(contents[i].title, expected[i].title);
        EXPECT_EQ(contents[i].anchor, expected[i].anchor);
    }
    EXPECT_EQ(eventKinds(), std::vector<int>{});  // ACTIVE comes once
}

// Contents clicks, links, keys and the main page, one step after another: the
// section at the top of the view after each.
TEST_F(HelpTest, MovesWithinTheDocumentAndBackAgain) {
    ASSERT_TRUE(open(manual_));
    std::vector<std::string> opened;
    setDesktopUrlOpenerForTesting([&](const std::string& url) { opened.push_back(url); });
    int scrolledTo = 0;

    enum Step { CONTENTS, LINK, KEY_BACK, KEY_FORWARD, KEY_MAIN, SHOW_MAIN, SCROLL };
    struct Case {
        Step step;
        int index;  // contents entry; SCROLL: the section to scroll into
        const char* href;
        const char* atTop;
        bool whereScrolled = false;  // the view is back where SCROLL left it
    };
    const std::vector<Case> cases = {
        {CONTENTS, 4, nullptr, "Bookmarks"},
        {CONTENTS, 1, nullptr, "First steps"},
        {KEY_BACK, 0, nullptr, "Bookmarks"},
        {KEY_BACK, 0, nullptr, ""},  // the top, above nothing but the title
        {KEY_BACK, 0, nullptr, ""},  // nothing further back
        {KEY_FORWARD, 0, nullptr, "Bookmarks"},
        {KEY_FORWARD, 0, nullptr, "First steps"},
        {CONTENTS, 6, nullptr, "Tips"},  // the second "Tips"
        {SHOW_MAIN, 0, nullptr, ""},
        {KEY_BACK, 0, nullptr, "Tips"},
        {SCROLL, 2, nullptr, "Links & colours"},
        {KEY_MAIN, 0, nullptr, ""},
        {KEY_BACK, 0, nullptr, "Links & colours", true},
        {SHOW_MAIN, 0, nullptr, ""},
        {LINK, 0, "gemini://example.org/", ""},  // to the desktop, not shown here
        {LINK, 0, "#bookmarks", "Bookmarks"},
        {KEY_BACK, 0, nullptr, ""},
        {KEY_BACK, 0, nullptr, "Links & colours", true},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("step " + std::to_string(i));
        switch (c.step) {
            case CONTENTS:
                ASSERT_TRUE(helpSimulateContentsClick(c.index));
                break;
            case LINK:
                ASSERT_TRUE(helpSimulateLinkClick(c.href));
                break;
            case KEY_BACK:
                helpSimulateKey(KEY_LEFT, QUAL_ALT);
                break;
            case KEY_FORWARD:
                helpSimulateKey(KEY_RIGHT, QUAL_ALT);
                break;
            case KEY_MAIN:
                helpSimulateKey(KEY_UP, QUAL_ALT);
                break;
            case SHOW_MAIN:
                helpShowMain();
                break;
            case SCROLL: {
                ASSERT_TRUE(helpSimulateContentsClick(c.index));
                scrolledTo = helpScrollPosition() + 200;
                helpScrollTo(scrolledTo);
                break;
            }
        }
        guiProcessEvents();
        EXPECT_EQ(helpSectionAtTop(), c.atTop);
        if (std::string(c.atTop).empty()) {
            EXPECT_EQ(helpScrollPosition(), 0);
        }
        if (c.whereScrolled) {
            EXPECT_EQ(helpScrollPosition(), scrolledTo);
        }
    }
    EXPECT_EQ(opened, std::vector<std::string>{"gemini://example.org/"});
    EXPECT_TRUE(helpIsOpen());
}

TEST_F(HelpTest, ADocumentThatCannotBeReadFails) {
    std::string tooLarge = folder_.path + "/large.md";
    writeFile(tooLarge, "# Large\n");
    fs::resize_file(tooLarge, static_cast<uintmax_t>(HELP_DOCUMENT_LIMIT) + 1);
    struct Case {
        std::string path;
        int code;
    };
    const std::vector<Case> cases = {
        {folder_.path + "/missing.md", HELP_ERROR_NOT_FOUND},
        {folder_.path, HELP_ERROR_NOT_FOUND},  // a folder
        {"", HELP_ERROR_NOT_FOUND},            // helpFindDocument found nothing
        {tooLarge, HELP_ERROR_TOO_LARGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(open(c.path));
        std::vector<HelpEvent> taken = events();
        ASSERT_EQ(taken.size(), 1u);
        EXPECT_EQ(taken[0].kind, HELP_EVENT_FAILED);
        EXPECT_EQ(taken[0].code, c.code);
        EXPECT_FALSE(taken[0].text.empty());
        EXPECT_FALSE(helpIsOpen());
        EXPECT_EQ(helpScrollPosition(), -1);
    }
}

// Only the user's closing is reported, once; the program closing it, or opening it again
// over itself, reports nothing but the new ACTIVE.
TEST_F(HelpTest, OnlyTheUserClosingItIsReported) {
    helpClose();  // never opened: nothing happens
    ASSERT_TRUE(open(manual_));
    EXPECT_EQ(eventKinds(), std::vector<int>{HELP_EVENT_ACTIVE});
    helpSimulateClose();
    EXPECT_FALSE(helpIsOpen());
    helpSimulateClose();
    helpShowMain();  // nothing to show now
    EXPECT_EQ(eventKinds(), std::vector<int>{HELP_EVENT_SHUTDOWN});

    ASSERT_TRUE(open(manual_));
    helpClose();  // the pending ACTIVE goes with the window
    EXPECT_EQ(eventKinds(), std::vector<int>{});
    EXPECT_FALSE(helpIsOpen());
    ASSERT_TRUE(open(manual_));
    ASSERT_TRUE(open(manual_));
    EXPECT_EQ(eventKinds(), std::vector<int>{HELP_EVENT_ACTIVE});
    EXPECT_TRUE(helpIsOpen());
}

TEST_F(HelpTest, ClosesWithTheGui) {
    ASSERT_TRUE(open(manual_));
    guiCleanUp();
    EXPECT_FALSE(helpIsOpen());
    EXPECT_EQ(helpWindowTitle(), "");  // the window itself is gone, not just hidden
    EXPECT_EQ(eventKinds(), std::vector<int>{});
    ASSERT_TRUE(guiInit());
}

TEST(HelpFindTest, SearchesTheFoldersInOrder) {
    PrivateHome root("help-find");
    const std::vector<std::string> folders = {root.path + "/current", root.path + "/exe/data",
                                              root.path + "/data", root.path + "/installed"};
    // Which folders hold the document, and which one must be found.
    struct Case {
        std::vector<int> holding;
        int found;  // -1: none
    };
    const std::vector<Case> cases = {
        {{0, 1, 2, 3}, 0}, {{1, 2, 3}, 1}, {{2, 3}, 2}, {{3}, 3}, {{}, -1}, {{1, 3}, 1},
    };
    for (const Case& c : cases) {
        fs::remove_all(root.path);
        for (const std::string& folder : folders)
            fs::create_directories(folder);
        for (int i : c.holding)
            writeFile(folders[static_cast<size_t>(i)] + "/farlander-help.md", "# Help\n");
        // A folder of the document's name is not the document.
        if (c.holding.empty() || c.holding[0] != 0) fs::create_directories(folders[0] + "/farlander-help.md");
        std::string expected =
            c.found < 0 ? "" : folders[static_cast<size_t>(c.found)] + "/farlander-help.md";
        EXPECT_EQ(helpFindDocumentIn("farlander-help.md", folders), expected);
    }
    EXPECT_EQ(helpFindDocumentIn("", folders), "");
    // The program's own list starts with the current folder (the shipped manual is found
    // from the build tree below).
    EXPECT_EQ(helpSearchFolders().front(), fs::current_path().string());
}

// Every "#section" link of the shipped manual leads to one of its headings.
TEST_F(HelpTest, TheManualsOwnLinksAllLand) {
    std::string path = helpFindDocument("farlander-help.md");
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(open(path));
    EXPECT_EQ(eventKinds(), std::vector<int>{HELP_EVENT_ACTIVE});
    std::vector<HelpSection> contents = helpContents();
    EXPECT_GE(contents.size(), 20u);
    std::string text;
    ASSERT_TRUE(readWholeFile(path, text));
    int links = 0;
    for (size_t at = text.find("](#"); at != std::string::npos; at = text.find("](#", at + 1)) {
        std::string anchor = text.substr(at + 3, text.find(')', at) - at - 3);
        SCOPED_TRACE(anchor);
        ++links;
        EXPECT_TRUE(std::any_of(contents.begin(), contents.end(),
                                [&](const HelpSection& s) { return s.anchor == anchor; }));
        ASSERT_TRUE(helpSimulateLinkClick("#" + anchor));
        EXPECT_NE(helpSectionAtTop(), "");
    }
    EXPECT_GT(links, 0);
}

}  // namespace
