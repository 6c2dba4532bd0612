// Saving the page on show, Copy and Paste URL through the real clipboard, and the
// help window, on the offscreen window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "browser/services.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/help.h"
#include "settings/settings.h"
#include "store/cache.h"
#include "support/window_fixture.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

namespace {

void show(const std::string& address, const std::string& source) {
    UrlRecord record;
    ASSERT_EQ(parseUrl(address.c_str(), record), 1) << address;
    showPage(record, std::make_shared<const std::string>(source));
}

std::string fileText(const std::string& path) {
    std::string text;
    EXPECT_TRUE(readWholeFile(path, text)) << path;
    return text;
}

class ServicesTest : public WindowTest {
  protected:
    // Saves with the save requester answering path (and the overwrite question with
    // overwrite); returns the name the requester offered.
    std::string save(bool textMode, const std::string& path, bool overwrite = true) {
        std::string offered;
        headlessSetResponder([&](const ShellCall& call) {
            ShellAnswer a;
            if (call.what == ShellCall::SAVE_FILE) {
                offered = call.body;
                a.text = path;
            }
            if (call.what == ShellCall::REQUESTER && call.kind == REQ_QUESTION) a.button = overwrite ? 0 : 1;
            return a;
        });
        saveFile(textMode);
        return offered;
    }
    bool errorShown(int id) {
        for (const ShellCall& call : headlessCalls())
            if (call.what == ShellCall::REQUESTER && call.body == messageText(id)) return true;
        return false;
    }
};

TEST_F(ServicesTest, SaveOffersANameAndWritesSourceOrText) {
    const std::string gemtext = "20 text/gemini\r\n# Title\nCaf\xC3\xA9 au lait\n";
    const std::string menu = "iHello\t\th\t70\r\n0A file\t/f\th\t70\r\n.\r\n";
    const struct {
        const char* address;
        std::string source;
        bool textMode;
        const char* offered;
        std::string written;
    } cases[] = {
        {"gemini://h/dir/page.gmi", gemtext, false, "page.gmi", "# Title\nCaf\xC3\xA9 au lait\n"},
        // Text as shown: the display lines, in UTF-8.
        {"gemini://h/dir/page.gmi", gemtext, true, "page.txt", "# Title\nCaf\xC3\xA9 au lait\n"},
        {"gemini://h/dir/", gemtext, false, "index.gmi", "# Title\nCaf\xC3\xA9 au lait\n"},
        {"gemini://h/dir/", gemtext, true, "index.txt", "# Title\nCaf\xC3\xA9 au lait\n"},
        {"gemini://h/a.tar.gz", gemtext, true, "a.tar.gz", "# Title\nCaf\xC3\xA9 au lait\n"},
        {"gemini://h/a.html", gemtext, true, "a.txt", "# Title\nCaf\xC3\xA9 au lait\n"},
        // Gopher has no header line: the whole source is written.
        {"gopher://h/1/", menu, false, "index.txt", menu},
        {"finger://h/", "who\r\n", false, "index.txt", "who\r\n"},
        {"HOME", "20 text/gemini\r\n# Home\n", false, "index.gmi", "# Home\n"},
    };
    const std::string path = home + "/saved";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.textMode ? " text" : " source"));
        show(c.address, c.source);
        EXPECT_EQ(save(c.textMode, path), c.offered);
        EXPECT_EQ(fileText(path), c.written);
        EXPECT_EQ(currentStatus(), messageText(MSG_STATUS_SAVED));
    }
    // A page without lines (a lone toggle line shows nothing) saves as an empty file.
    show("gemini://h/empty", "20 text/gemini\r\n```\n");
    save(true, path);
    EXPECT_EQ(fileText(path), "");
    EXPECT_FALSE(errorShown(MSG_ERR_WRITE_FILE));
}

TEST_F(ServicesTest, CancelOrAFailedWriteKeepsTheOldFile) {
    show("gemini://h/page", "20 text/gemini\r\nnew text\n");
    const std::string path = home + "/old.txt";
    ASSERT_TRUE(writeFileAtomic(path, "old text\n"));
    save(false, path, false);  // Cancel to "Overwrite existing file?"
    EXPECT_EQ(fileText(path), "old text\n");
    EXPECT_EQ(currentStatus(), "");
    // A folder in the way: the save fails, says so, and the folder stays.
    const std::string folder = home + "/folder";
    fs::create_directory(folder);
    std::ofstream(folder + "/inside") << "kept";
    save(false, folder);
    EXPECT_TRUE(errorShown(MSG_ERR_WRITE_FILE));
    EXPECT_EQ(fileText(folder + "/inside"), "kept");
    EXPECT_EQ(currentStatus(), "");
    // Cancel in the save requester: nothing, and the status line is cleared.
    save(false, "");
    EXPECT_EQ(currentStatus(), "");
}

TEST_F(ServicesTest, CopyThenPasteThroughTheClipboard) {
    show("gemini://example.org/caf\xB0", "20 text/gemini\r\nfirst\n");
    copyUrlCommand();
    std::string text;
    ASSERT_EQ(clipboardReadText(text), CLIP_OK);
    EXPECT_EQ(text, "gemini://example.org/caf\xC2\xB0");
    // A built-in page copies nothing.
    show("HOME", "20 text/gemini\r\nhome\n");
    copyUrlCommand();
    ASSERT_EQ(clipboardReadText(text), CLIP_OK);
    EXPECT_EQ(text, "gemini://example.org/caf\xC2\xB0");

    // Paste loads the clipboard's address (here from the cache) and shows it.
    cachePut("spartan://example.org/cached", std::make_shared<const std::string>("2 text/gemini\r\ncached page\n"));
    ASSERT_EQ(clipboardWriteText("  spartan://example.org/cached\n", false), CLIP_OK);
    pasteUrlCommand();
    EXPECT_GE(findLine("cached page"), 0);
    EXPECT_EQ(guiGadgetText(GAD_URL), "spartan://example.org/cached");
    // An empty clipboard loads nothing.
    ASSERT_EQ(clipboardWriteText("", false), CLIP_OK);
    pasteUrlCommand();
    EXPECT_GE(findLine("cached page"), 0);
}

class HelpCommandTest : public WindowTest {
  protected:
    void TearDown() override {
        guideCleanUp();
        guideSetDocumentForTesting("");
        WindowTest::TearDown();
    }
    // Runs the loop until the help window has reported.
    void settleHelp() {
        runUntil([] { return false; }, 300);
    }
};

TEST_F(HelpCommandTest, SecondHelpOnAnOwnScreenShowsTheMainPageOnTheDesktopReopens) {
    for (bool ownScreen : {true, false}) {
        SCOPED_TRACE(ownScreen ? "own screen" : "desktop");
        settings.useScreen = ownScreen ? 1 : 0;
        restartWindow();
        showHelp();
        settleHelp();
        ASSERT_TRUE(helpIsOpen());
        ASSERT_TRUE(helpSimulateContentsClick(4));
        const std::string section = helpSectionAtTop();
        ASSERT_NE(section, "");
        showHelp();
        settleHelp();
        ASSERT_TRUE(helpIsOpen());
        EXPECT_EQ(helpScrollPosition(), 0) << "at the main page";
        // The main page is a step in the open window, which Back undoes; a window
        // opened anew has nothing to go back to.
        helpSimulateKey(KEY_LEFT, QUAL_ALT);
        if (ownScreen) {
            EXPECT_EQ(helpSectionAtTop(), section);
        } else {
            EXPECT_EQ(helpScrollPosition(), 0);
        }
        guideCleanUp();
    }
    settings.useScreen = 0;
}

TEST_F(HelpCommandTest, AMissingManualSaysSo) {
    guideSetDocumentForTesting("no-such-manual.md");
    showHelp();
    settleHelp();
    EXPECT_FALSE(helpIsOpen());
    bool reported = false;
    for (const ShellCall& call : headlessCalls())
        reported = reported || (call.what == ShellCall::REQUESTER && call.body == messageText(MSG_ERR_HELP_NOT_FOUND));
    EXPECT_TRUE(reported);
    EXPECT_EQ(guideSignalMask(), 0u) << "the help window's signal is given back";
}

}  // namespace
