// The browser from the keyboard, end to end: real key events to the offscreen window,
// a local capsule, and what the page, the status line and the clipboard show after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/commands.h"
#include "browser/keyboard.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "net/exchange.h"
#include "platform/access_testing.h"
#include "platform/clipboard.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "support/window_fixture.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

int spartanPort = 0;

// The capsule: a start page of links, text and a find target; the links' pages.
void capsule(TlsServerConnection& connection) {
    std::string line = connection.readLine();
    connection.server().base().record(line);
    const size_t slash = line.find('/', line.find("://") + 3);
    const std::string path = slash == std::string::npos ? "/" : line.substr(slash, line.find('\r') - slash);
    std::string reply;
    if (path == "/") {
        reply =
            "20 text/gemini\r\n# Keys\nalpha beta gamma delta\n=> /one first\n=> /two second\n"
            "=> /three third\n=: spartan://127.0.0.1:" +
            std::to_string(spartanPort) + "/echo send a word\n";
        for (int i = 0; i < 80; ++i)
            reply +=
                "row " + std::to_string(i) + (i % 20 == 7 ? " a Needle here and NEEDLE there" : "") + "\n";
        reply += "=> /far the link at the end\n";
    } else if (path == "/one" || path == "/two" || path == "/three" || path == "/far") {
        reply = "20 text/gemini\r\nthis is page " + path.substr(1) + "\n";
    } else {
        reply = "51 Not found\r\n";
    }
    connection.write(reply);
}

class KeyboardTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        startNetwork();
        spartan = std::make_unique<TestServer>(spartanEchoHandler());
        spartanPort = spartan->port();
        server = std::make_unique<TlsServer>(TlsServerOptions{}, capsule);
        ASSERT_TRUE(server->ok());
        if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
        open("/");
        guiFocusPage();
        ASSERT_TRUE(settle());
    }
    void TearDown() override {
        if (server) server->stop();
        WindowTest::TearDown();
    }
    std::string url(const std::string& path) {
        return "gemini://127.0.0.1:" + std::to_string(server->port()) + path;
    }
    void open(const std::string& path) {
        loadPage(url(path).c_str());
        ASSERT_TRUE(settle());
    }
    // Presses keys and lets the browser act on them.
    void keys(const std::string& sequence) {
        guiSimulateKeys(sequence);
        ASSERT_TRUE(settle());
    }
    void rawKey(int code, int qualifier = 0) {
        guiSimulateKey(code, qualifier);
        ASSERT_TRUE(settle());
    }
    static int rows() { return viewMetrics().rows; }
    static int lines() { return currentPage()->model.lineCount; }
    static int top() { return viewState().topLine; }
    // Window coordinates of a column of a display line in view.
    static int xOf(int column) { return columnLeft(column) + 1; }
    static int yOf(int line) {
        return viewMetrics().textTop + (line - top()) * viewMetrics().lineHeight +
               viewMetrics().lineHeight / 2;
    }
    std::unique_ptr<TestServer> spartan;
    std::unique_ptr<TlsServer> server;
};

TEST_F(KeyboardTest, ScrollingKeysGoThroughThePagesScrolling) {
    ASSERT_GT(lines(), 3 * rows());
    const struct {
        const char* name;
        int key, qualifier;
        int expectedTop;  // -1: the last full screen
    } steps[] = {
        {"Page Down", KEY_PAGEDOWN, 0, 0},  // filled in below: rows - 1
        {"Page Up", KEY_PAGEUP, 0, 0},
        {"End", KEY_END, 0, -1},
        {"Home", KEY_HOME, 0, 0},
        {"Ctrl+End", KEY_END, QUAL_CTRL, -1},
        {"Ctrl+Home", KEY_HOME, QUAL_CTRL, 0},
    };
    for (const auto& step : steps) {
        rawKey(step.key, step.qualifier);
        int want = step.expectedTop < 0 ? lines() - rows() : step.expectedTop;
        if (step.key == KEY_PAGEDOWN) want = rows() - 1;
        EXPECT_EQ(top(), want) << step.name;
    }
    // A page down that the end of the page cuts short marks where it went on.
    scrollPageDown(lines() - rows() - 3 - top(), true);
    rawKey(KEY_PAGEDOWN);
    EXPECT_EQ(top(), lines() - rows());
    EXPECT_EQ(viewState().markerRow, rows() - 3);
}

TEST_F(KeyboardTest, TabWalksTheLinksAndReturnFollowsOne) {
    const auto& page = currentPage()->model;
    auto cursorText = [&] {
        return std::string(page.lines[static_cast<size_t>(viewState().cursorLine)].text);
    };
    rawKey(KEY_TAB);
    rawKey(KEY_TAB);
    rawKey(KEY_TAB);
    ASSERT_GE(viewState().cursorLine, 0);
    EXPECT_EQ(cursorText(), " => third");
    EXPECT_EQ(guiGadgetText(GAD_STATUS), url("/three")) << "the cursor's address, as on hover";
    // Drawn in the pressed pen (grey in this theme), the others in the link pen (blue).
    auto greyInk = [&](int line) {
        const int row = line - top();
        int n = 0;
        for (int y = viewMetrics().textTop + row * viewMetrics().lineHeight;
             y < viewMetrics().textTop + (row + 1) * viewMetrics().lineHeight; ++y)
            for (int x = viewMetrics().textLeft; x < viewMetrics().textLeft + viewMetrics().textWidth; ++x) {
                const uint32_t c = guiPixel(x, y);
                n += (c >> 16) == ((c >> 8) & 0xFF) && (c & 0xFF) == (c >> 16) && (c & 0xFF) > 0x40;
            }
        return n;
    };
    ASSERT_EQ(guiPenColour(elementPens[PEN_LINKDOWN]), 0x999999u);
    EXPECT_GT(greyInk(viewState().cursorLine), 20);
    EXPECT_EQ(greyInk(viewState().cursorLine - 1), 0);

    rawKey(KEY_TAB, QUAL_SHIFT);
    EXPECT_EQ(cursorText(), " => second");
    rawKey(KEY_RETURN);
    ASSERT_TRUE(runUntil([] { return findLine("this is page two") >= 0; }));
    EXPECT_EQ(viewState().cursorLine, -1) << "a new page has no cursor";

    // Back on the start page: the cursor reaches a link below the view by scrolling to it.
    goBack();
    ASSERT_TRUE(settle());
    for (int i = 0; i < 5; ++i)
        rawKey(KEY_TAB);
    EXPECT_EQ(cursorText(), " => the link at the end");
    EXPECT_GE(viewState().cursorLine, top());
    EXPECT_LT(viewState().cursorLine, top() + rows());
    rawKey(KEY_TAB);
    EXPECT_EQ(cursorText(), " => the link at the end") << "no link after the last";
}

TEST_F(KeyboardTest, ReturnOnAPromptLinkAsksAsAClickWould) {
    headlessSetResponder([](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER) a.button = 0;  // text, not a file
        if (call.what == ShellCall::INPUT) a.text = "word";
        return a;
    });
    for (int i = 0; i < 4; ++i)
        rawKey(KEY_TAB);
    rawKey(KEY_RETURN);
    ASSERT_TRUE(runUntil([&] { return !spartan->records().empty(); }));
    EXPECT_EQ(spartan->records().back(), "127.0.0.1 /echo 4\r\n");
}

TEST_F(KeyboardTest, AddressFieldAndMenusFromTheKeyboard) {
    for (const char* key : {"Ctrl+L", "F6"}) {
        keys(key);
        EXPECT_EQ(guiFocusedGadget(), GAD_URL) << key;
        // The whole address is selected: typing replaces it.
        guiSimulateTyping("typed");
        EXPECT_EQ(guiGadgetText(GAD_URL), "typed") << key;
        keys("Escape");
        EXPECT_EQ(guiFocusedGadget(), GAD_COUNT) << "Escape gives the keyboard back to the page";
        EXPECT_EQ(guiGadgetText(GAD_URL), url("")) << "and the field its address";
    }
    keys("Ctrl+L");
    guiSimulateTyping(url("/one"));
    keys("Return");
    ASSERT_TRUE(runUntil([] { return findLine("this is page one") >= 0; }));
    EXPECT_EQ(guiFocusedGadget(), GAD_COUNT);

    keys("F10");
    EXPECT_EQ(guiFocusedGadget(), GAD_COUNT + 2);
    EXPECT_EQ(guiActiveMenu(), messageText(MSG_MENU_PROJECT));
    keys("Right");
    EXPECT_EQ(guiActiveMenu(), messageText(MSG_MENU_EDIT));
    keys("Escape, Escape");
    EXPECT_NE(guiFocusedGadget(), GAD_COUNT + 2);
}

TEST_F(KeyboardTest, FindHighlightsEveryMatchAndWalksThem) {
    keys("/");
    ASSERT_TRUE(findBarOpen());
    EXPECT_EQ(guiFocusedGadget(), GAD_COUNT + 1);
    guiSimulateTyping("needle");
    ASSERT_TRUE(settle());
    // Four lines hold it twice each, in any case.
    ASSERT_EQ(viewState().matches.size(), 8u);
    EXPECT_EQ(viewState().currentMatch, 0);
    EXPECT_EQ(guiGadgetText(GAD_STATUS), "Match 1 of 8");
    const struct {
        const char* keys;
        int current;
    } walk[] = {{"F3", 1},           {"F3", 2},       {"Shift+F3", 1}, {"Return", 2},
                {"Shift+Return", 1}, {"Shift+F3", 0}, {"Shift+F3", 7}};
    for (const auto& step : walk) {
        keys(step.keys);
        EXPECT_EQ(viewState().currentMatch, step.current) << step.keys;
        const FindMatch& match = viewState().matches[static_cast<size_t>(step.current)];
        EXPECT_GE(match.line, top()) << "the page shows the match";
        EXPECT_LT(match.line, top() + rows());
    }
    // The match on show is a filled box: its text is drawn in the background's pen.
    const FindMatch& shown = viewState().matches[7];
    const uint32_t fill = guiPenColour(stylePens[STYLE_TEXT]);
    EXPECT_EQ(guiPixel(offsetX(currentPage()->model, shown.line, shown.start) + 1,
                       viewMetrics().textTop + (shown.line - top()) * viewMetrics().lineHeight + 1),
              fill);

    guiSimulateTyping("zz");
    ASSERT_TRUE(settle());
    EXPECT_TRUE(viewState().matches.empty());
    EXPECT_EQ(guiGadgetText(GAD_STATUS), messageText(MSG_STATUS_NO_MATCH));
    keys("Escape");
    EXPECT_FALSE(findBarOpen());
    EXPECT_EQ(guiFocusedGadget(), GAD_COUNT);
    // The bar keeps its text: F3 finds it again.
    EXPECT_EQ(guiFindBarText(), "needlezz");
}

TEST_F(KeyboardTest, AFoundWordGrowsIntoALineToCopyWithoutTheMouse) {
    keys("/");
    guiSimulateTyping("GAMMA");
    ASSERT_TRUE(settle());
    keys("Escape");
    EXPECT_EQ(lastPrimaryText(), "gamma") << "the match on show stays selected";
    const struct {
        const char* keys;
        const char* selected;
    } steps[] = {
        {"Shift+Right", "gamma "},
        {"Shift+Left", "gamma"},
        {"Shift+Home", "alpha beta gamma"},
        {"Shift+End", "alpha beta gamma delta"},
        {"Shift+Down", "alpha beta gamma delta\n => first"},
        {"Shift+Up", "alpha beta gamma delta"},
    };
    for (const auto& step : steps) {
        keys(step.keys);
        EXPECT_EQ(lastPrimaryText(), step.selected) << step.keys;
    }
    keys("Ctrl+Shift+C");
    std::string copied;
    ASSERT_EQ(clipboardReadText(copied), CLIP_OK);
    EXPECT_EQ(copied, "alpha beta gamma delta");
    // Without a selection Shift+End is the end of the page, as End is.
    keys("Escape");
    keys("Shift+End");
    EXPECT_EQ(top(), lines() - rows());
}

TEST_F(KeyboardTest, DragAndDoubleClickSelectAndCopyText) {
    const int line = findLine("alpha beta gamma delta");
    ASSERT_GE(line, 0);
    // From "beta" to the "fi" of the next line's " => first".
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, xOf(6), yOf(line));
    guiSimulateMouse(WMSG_MOUSEMOVE, 0, xOf(6), yOf(line + 1), true);
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, xOf(6), yOf(line + 1));
    ASSERT_TRUE(settle());
    EXPECT_EQ(lastPrimaryText(), "beta gamma delta\n => fi") << "the selection goes to the primary selection";
    keys("Ctrl+Shift+C");
    std::string copied;
    ASSERT_EQ(clipboardReadText(copied), CLIP_OK);
    EXPECT_EQ(copied, "beta gamma delta\n => fi");
    EXPECT_EQ(findLine("this is page one"), -1) << "a drag that began on a link does not follow it";

    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, xOf(13), yOf(line));
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, xOf(13), yOf(line));
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOUBLE, xOf(13), yOf(line));
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, xOf(13), yOf(line));
    ASSERT_TRUE(settle());
    EXPECT_EQ(lastPrimaryText(), "gamma");

    // A click puts the selection away; Copy text then says there is nothing.
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, xOf(2), yOf(line));
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, xOf(2), yOf(line));
    ASSERT_TRUE(settle());
    keys("Ctrl+Shift+C");
    EXPECT_EQ(guiGadgetText(GAD_STATUS), messageText(MSG_STATUS_NOTHING_SELECTED));
    // A click on a link without moving still follows it.
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, xOf(3), yOf(line + 1));
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, xOf(3), yOf(line + 1));
    ASSERT_TRUE(runUntil([] { return findLine("this is page one") >= 0; }));
}

TEST_F(KeyboardTest, TheFocusFrameShowsWhereTheKeyboardIs) {
    const ViewMetrics& m = viewMetrics();
    auto corner = [&] { return guiPixel(m.textLeft - m.marginX, m.textTop - m.marginY); };
    const uint32_t frame = guiPenColour(highlightPen());
    EXPECT_EQ(corner(), frame);
    rawKey(KEY_PAGEDOWN);
    EXPECT_EQ(guiPixel(m.textLeft + m.textWidth + m.marginX - 1, m.textTop + m.textHeight - 1), frame)
        << "scrolling keeps the frame whole";
    keys("Ctrl+L");
    EXPECT_EQ(corner(), guiPenColour(elementPens[PEN_BACKGROUND]));
}

TEST_F(KeyboardTest, AScreenReaderReadsThePageAndPressesItsLinks) {
    guiAccessRecord(true);
    open("/");
    AccessSummary seen = guiAccessDescribe();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.view.name, url("/"));
    EXPECT_NE(seen.text.find("alpha beta gamma delta\n => first\n"), std::string::npos);
    ASSERT_EQ(seen.links.size(), 5u);
    const std::pair<std::string, std::string> links[] = {
        {"first", url("/one")},
        {"second", url("/two")},
        {"third", url("/three")},
        {"send a word", "spartan://127.0.0.1:" + std::to_string(spartanPort) + "/echo"},
    };
    for (size_t i = 0; i < std::size(links); ++i) {
        EXPECT_EQ(seen.links[i].name, links[i].first);
        EXPECT_EQ(seen.links[i].description, links[i].second);
        EXPECT_FALSE(seen.links[i].offscreen);
    }
    EXPECT_TRUE(seen.links.back().offscreen) << "the last link is below the view";
    // The link cursor is the screen reader's focus.
    guiAccessTakeEvents();
    rawKey(KEY_TAB);
    rawKey(KEY_TAB);
    EXPECT_EQ(guiAccessDescribe().focus, 1);
    // Scrolling tells where the links went; a press follows the link.
    rawKey(KEY_END);
    EXPECT_FALSE(guiAccessDescribe().links.back().offscreen);
    ASSERT_TRUE(guiAccessPress(2));
    ASSERT_TRUE(settle());
    ASSERT_TRUE(runUntil([] { return findLine("this is page three") >= 0; }));
    EXPECT_EQ(guiAccessDescribe().view.name, url("/three"));
    guiAccessRecord(false);
}

}  // namespace
