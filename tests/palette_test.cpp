// The custom theme editor on an offscreen own screen: its layout, the live colour and
// pen changes checked on the page's pixels, "Use", "Cancel" and keys, saving what
// "Use" kept, and a break while it is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "page/linestyle.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/palette_window.h"
#include "platform/task.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "settings/theme_editor.h"
#include "settings/themes.h"
#include "support/window_fixture.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

const char* const PAGE =
    "20 text/gemini\r\n"
    "plain text on the first line of the page\n"
    "=> gemini://example.org/next a gemini link to the next page\n"
    "=: spartan://example.org/ask a spartan prompt for some text\n";

void show(const char* url, const char* document) {
    UrlRecord address;
    ASSERT_EQ(parseUrl(url, address), 1);
    showPage(address, std::make_shared<const std::string>(document));
}

// A pixel of the page's background, right of every line.
uint32_t backgroundPixel() {
    const ViewMetrics& m = viewMetrics();
    return guiPixel(m.textLeft + m.textWidth - 2, m.textTop + 2);
}

// How many pixels of a display row have the colour.
int pixelsInRow(int row, uint32_t rgb) {
    const ViewMetrics& m = viewMetrics();
    int n = 0;
    for (int y = m.textTop + row * m.lineHeight; y < m.textTop + (row + 1) * m.lineHeight; ++y)
        for (int x = m.textLeft; x < m.textLeft + m.textWidth; ++x)
            n += guiPixel(x, y) == rgb;
    return n;
}

std::vector<int32_t> pens(const int32_t* p) {
    return std::vector<int32_t>(p, p + PEN_ROLE_COUNT);
}
std::vector<uint32_t> colours(const uint32_t* c) {
    return std::vector<uint32_t>(c, c + PALETTE_SIZE);
}

std::string levels() {
    return guiPaletteLevelText(EDIT_GAD_RED) + guiPaletteLevelText(EDIT_GAD_GREEN) +
           guiPaletteLevelText(EDIT_GAD_BLUE);
}

class PaletteTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        settings.useScreen = 1;
        settings.theme = THEME_CUSTOM;
        restartWindow();
        show("gemini://example.org/", PAGE);
    }
    void TearDown() override {
        settings.useScreen = 0;
        WindowTest::TearDown();
    }

    // Runs the menu command with steps done inside the open editor; steps must close
    // it (a test that forgets is closed with Cancel and fails). Returns the command's answer.
    int edit(std::function<void()> steps) {
        auto ran = std::make_shared<bool>(false);
        guiAtNextDialog([ran, steps = std::move(steps)] {
            *ran = guiPaletteWindowOpen();
            if (*ran) steps();
            if (guiPaletteWindowOpen()) {
                ADD_FAILURE() << "the editor is still open";
                guiSimulatePaletteButton(EDIT_GAD_CANCEL);
            }
        });
        const int answer = runCommand(CMD_EDIT_THEME);
        EXPECT_TRUE(*ran) << "the editor opened";
        EXPECT_FALSE(guiPaletteWindowOpen());
        return answer;
    }
};

TEST(ThemeEditorLayout, GadgetsStayInsideTheWindowAndTheScreen) {
    struct Row {
        const char* what;
        EditorMeasures m;
        bool fits;  // the layout's own size fits the room
    };
    const Row rows[] = {
        {"desktop font", {16, 12, 120, 40, 1280, 1024}, true},
        {"tiny font", {6, 5, 50, 20, 640, 480}, true},
        {"huge font on a small screen", {120, 90, 900, 300, 800, 600}, false},
        {"wide letters only", {16, 400, 2000, 300, 800, 2000}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const EditorLayout l = editorLayout(row.m);
        EXPECT_LE(l.width, row.m.roomWidth);
        EXPECT_LE(l.height, row.m.roomHeight);
        for (const EditorBox& box : l.gadgets) {
            EXPECT_GE(box.left, 0);
            EXPECT_GE(box.top, 0);
            EXPECT_GT(box.width, 0);
            EXPECT_GT(box.height, 0);
            EXPECT_LE(box.left + box.width, l.width);
            EXPECT_LE(box.top + box.height, l.height);
        }
        // Rows keep their order however much they close up.
        for (int id = EDIT_GAD_FIRST_ROLE + 1; id < EDIT_GAD_COUNT; ++id)
            EXPECT_GE(l.gadgets[id].top, l.gadgets[id - 1].top);
        EXPECT_GE(l.gadgets[EDIT_GAD_USE].top, l.gadgets[EDIT_GAD_COUNT - 1].top);
        if (!row.fits) continue;
        // At its own size no two gadgets share a pixel, the cycle's label fits left
        // of it, and "Cancel" ends where the role palettes end.
        for (int a = 0; a < EDIT_GAD_COUNT; ++a) {
            for (int b = a + 1; b < EDIT_GAD_COUNT; ++b) {
                const EditorBox &p = l.gadgets[a], &q = l.gadgets[b];
                const bool apart = p.left + p.width <= q.left || q.left + q.width <= p.left ||
                                   p.top + p.height <= q.top || q.top + q.height <= p.top;
                EXPECT_TRUE(apart) << "gadgets " << a << " and " << b;
            }
        }
        EXPECT_GE(l.gadgets[EDIT_GAD_COPY].left, row.m.copyLabelWidth);
        const EditorBox &cancel = l.gadgets[EDIT_GAD_CANCEL], &role = l.gadgets[EDIT_GAD_FIRST_ROLE];
        EXPECT_EQ(cancel.left + cancel.width, role.left + role.width);
        EXPECT_EQ(l.width, 3 * row.m.mw + 300);
    }
}

TEST_F(PaletteTest, RedSliderRecoloursTheBackgroundAtOnceAndCancelRestoresIt) {
    ASSERT_EQ(elementPens[PEN_BACKGROUND], 1);
    ASSERT_EQ(backgroundPixel(), 0x000000u);
    const std::vector<uint32_t> kept = colours(settings.customColours);
    const int answer = edit([] {
        const std::vector<std::string> texts = guiDialogTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts[0], messageText(MSG_TITLE_THEME_EDITOR));
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_COPY), THEME_CUSTOM) << "\"Custom\" is shown first";
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_PALETTE), 0);
        EXPECT_EQ(levels(), "999") << "colour 0 on the sliders";

        guiSimulatePalettePick(EDIT_GAD_PALETTE, 1);
        EXPECT_EQ(levels(), "000");
        guiSimulateSliderDrag(EDIT_GAD_RED, 15);
        EXPECT_EQ(levels(), "f00");
        EXPECT_EQ(guiRegister(1), 0xF00u);
        EXPECT_EQ(backgroundPixel(), 0xFF0000u) << "the page turned red at once";
        EXPECT_EQ(guiPixel(0, 0), 0x999999u) << "colour 0 around the page stays";
        guiSimulatePaletteButton(EDIT_GAD_CANCEL);
    });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(guiRegister(1), 0x000u);
    EXPECT_EQ(backgroundPixel(), 0x000000u);
    EXPECT_EQ(colours(settings.customColours), kept);
    EXPECT_FALSE(quitFlag());
}

TEST_F(PaletteTest, AColourSharedByTwoRegistersChangesForOneOnly) {
    // Aqua's colours 0 (around the page) and 6 (visited links) are both 0x345.
    edit([] {
        guiSimulateCyclePick(EDIT_GAD_COPY, THEME_AQUA);
        ASSERT_EQ(guiRegister(0), guiRegister(6));
        guiSimulatePalettePick(EDIT_GAD_PALETTE, 6);
        guiSimulateSliderDrag(EDIT_GAD_RED, 15);
        EXPECT_EQ(guiRegister(6), 0xF45u);
        EXPECT_EQ(guiPixel(0, 0), 0x334455u);
        EXPECT_EQ(backgroundPixel(), 0x001122u);
        guiSimulatePaletteButton(EDIT_GAD_CANCEL);
    });
    EXPECT_EQ(guiPixel(0, 0), 0x999999u);
}

TEST_F(PaletteTest, ANewLinkPenRecoloursLinksPromptsAndSearchItems) {
    const int linkRow = findLine("gemini link"), promptRow = findLine("spartan prompt");
    ASSERT_GE(linkRow, 0);
    ASSERT_GE(promptRow, 0);
    ASSERT_EQ(lineStyle(promptRow), STYLE_PROMPT);
    const uint32_t before = 0x6699EE, chosen = 0xFFFF99;  // colours 3 and 5
    // A row is in a pen when its glyphs show that colour and none of the other.
    auto inPen = [](int row, uint32_t pen, uint32_t other) {
        return pixelsInRow(row, pen) > 0 && pixelsInRow(row, other) == 0;
    };
    ASSERT_TRUE(inPen(linkRow, before, chosen));
    ASSERT_TRUE(inPen(promptRow, before, chosen));
    edit([&] {
        guiSimulatePalettePick(EDIT_GAD_FIRST_ROLE + 4, 5);  // "Link"
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_PALETTE), 5) << "the pen becomes the colour edited";
        EXPECT_EQ(levels(), "ff9");
        EXPECT_TRUE(inPen(linkRow, chosen, before));
        EXPECT_TRUE(inPen(promptRow, chosen, before));
        guiSimulatePaletteButton(EDIT_GAD_USE);
    });
    EXPECT_EQ(settings.customPens[PEN_GEMLINK], 5);
    for (int style : {STYLE_LINK, STYLE_PROMPT, STYLE_SEARCH})
        EXPECT_EQ(stylePens[style], 5) << "style " << style;
    show("gopher://example.org/1/",
         "iA hole\t\terror.host\t1\r\n7Search the hole\t/find\texample.org\t70\r\n.\r\n");
    const int searchRow = findLine("Search the hole");
    ASSERT_EQ(lineStyle(searchRow), STYLE_SEARCH);
    EXPECT_TRUE(inPen(searchRow, chosen, before));
}

TEST_F(PaletteTest, CopyingMorkblaAndUseMakesItTheCustomTheme) {
    const std::vector<uint32_t> morkbla = {0x116, 0xCCF, 0x338, 0xFFF, 0xCCF, 0x88B, 0xFFF, 0xF22};
    const std::vector<int32_t> morkblaPens = {0, 1, 3, 3, 4, 5, 4, 6, 7, 5, 5};
    edit([] {
        guiSimulateCyclePick(EDIT_GAD_COPY, THEME_MORKBLA);
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_COPY), THEME_MORKBLA);
        EXPECT_EQ(levels(), "116") << "the sliders show the copied colour 0";
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_FIRST_ROLE), 0) << "Background";
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_FIRST_ROLE + 5), 4) << "Web link";
        EXPECT_EQ(guiPaletteValue(EDIT_GAD_FIRST_ROLE + 6), 5) << "Visited link";
        EXPECT_EQ(backgroundPixel(), 0x111166u);
        guiSimulatePaletteButton(EDIT_GAD_USE);
    });
    EXPECT_EQ(colours(settings.customColours), morkbla);
    EXPECT_EQ(pens(settings.customPens), morkblaPens);
    EXPECT_EQ(colours(themeColours(THEME_MORKBLA)), morkbla) << "the built-in row is unchanged";
    EXPECT_EQ(pens(themeRolePens(THEME_MORKBLA)), morkblaPens);
    EXPECT_EQ(backgroundPixel(), 0x111166u);
}

TEST_F(PaletteTest, AnyTypedKeyActsAsCancel) {
    struct Row {
        const char* what;
        int key;
        bool closes;
    };
    const Row rows[] = {
        {"a letter", 'x', true}, {"Escape", 27, true},      {"Return", 13, true},
        {"Space", ' ', true},    {"Shift alone", 0, false},
    };
    const std::vector<int32_t> customPens = pens(settings.customPens);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        edit([&] {
            guiSimulateSliderDrag(EDIT_GAD_GREEN, 0);
            guiSimulatePalettePick(EDIT_GAD_FIRST_ROLE + 1, 2);  // "Text"
            guiSimulatePaletteKey(row.key);
            EXPECT_EQ(guiPaletteWindowOpen(), !row.closes);
            if (guiPaletteWindowOpen()) guiSimulatePaletteButton(EDIT_GAD_CANCEL);
        });
        EXPECT_EQ(guiRegister(0), 0x999u);
        EXPECT_EQ(pens(elementPens), customPens);
        EXPECT_EQ(stylePens[STYLE_TEXT], settings.customPens[PEN_TEXT]);
    }
}

TEST_F(PaletteTest, SavingAfterUseWritesTheNewCustomLines) {
    edit([] {
        guiSimulatePalettePick(EDIT_GAD_PALETTE, 2);
        guiSimulateSliderDrag(EDIT_GAD_RED, 0);
        guiSimulateSliderDrag(EDIT_GAD_BLUE, 10);
        guiSimulatePalettePick(EDIT_GAD_FIRST_ROLE + 2, 6);  // "Heading"
        guiSimulatePaletteButton(EDIT_GAD_USE);
    });
    headlessSetResponder([](const ShellCall&) { return ShellAnswer{0, "", false}; });
    runCommand(CMD_SAVE_SETTINGS);
    std::string saved;
    ASSERT_TRUE(readWholeFile(prefsFilePath(), saved));
    for (const char* line : {"\nCustomColour2=0xFA\n", "\nCustomColour0=0x999\n", "\nCustomPenHeading=6\n",
                             "\nCustomPenText=7\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << "in\n" << saved;
}

TEST_F(PaletteTest, AHugeScreenFontKeepsTheEditorOnTheScreen) {
    fontSet(settings.screenFont, settings.screenFont.name, 90);
    restartWindow();
    int screenLeft = 0, screenTop = 0, screenWidth = 0, screenHeight = 0;
    ASSERT_TRUE(guiMainScreenGeometry(screenLeft, screenTop, screenWidth, screenHeight));
    edit([&] {
        int left = 0, top = 0, width = 0, height = 0;
        ASSERT_TRUE(guiPaletteWindowFrame(left, top, width, height));
        EXPECT_GE(left, screenLeft);
        EXPECT_GE(top, screenTop);
        EXPECT_LE(left + width, screenLeft + screenWidth);
        EXPECT_LE(top + height, screenTop + screenHeight);
        // Still usable: the rows are there to click.
        guiSimulatePalettePick(EDIT_GAD_FIRST_ROLE, 3);
        EXPECT_EQ(backgroundPixel(), 0x6699EEu);
        guiSimulatePaletteButton(EDIT_GAD_CANCEL);
    });
    EXPECT_EQ(backgroundPixel(), 0x000000u);
}

TEST_F(PaletteTest, ABreakClosesTheEditorAndQuitsWith20) {
    TaskHandle gui = taskCurrent();
    std::thread breaker;
    guiAtNextDialog([&] {
        guiSimulateSliderDrag(EDIT_GAD_RED, 15);
        breaker = std::thread([gui] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            taskSendSignal(gui, TASK_BREAK_MASK);
            guiWakeForBreak();
        });
    });
    WindowMessage pick;
    pick.kind = WMSG_MENUPICK;
    pick.code = commandCode(CMD_EDIT_THEME);
    guiPostMessage(pick);
    EXPECT_EQ(runGUI(), GUI_BREAK);
    breaker.join();
    EXPECT_TRUE(quitFlag());
    EXPECT_FALSE(guiPaletteWindowOpen());
    EXPECT_EQ(guiRegister(0), 0xF99u) << "nothing is reverted";
    EXPECT_EQ(settings.customColours[0], 0x999u) << "nor kept";
}

TEST_F(PaletteTest, OnlyTheCustomThemeOnAnOwnScreenOpensTheEditor) {
    struct Row {
        int useScreen;
        int theme;
        bool notice;  // message 138 instead
    };
    for (Row row : {Row{0, THEME_CUSTOM, true}, Row{1, THEME_DORCHA, false}}) {
        settings.useScreen = row.useScreen;
        settings.theme = row.theme;
        restartWindow();
        headlessReset();
        // A pending break would close an editor as soon as it opened, and quit.
        taskSendSignal(taskCurrent(), TASK_BREAK_MASK);
        EXPECT_EQ(runCommand(CMD_EDIT_THEME), 0);
        EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
        EXPECT_FALSE(quitFlag()) << "no editor opened";
        int notices = 0;
        for (const ShellCall& call : headlessCalls())
            notices +=
                call.what == ShellCall::REQUESTER && call.body == messageText(MSG_NOTICE_EDITOR_NEEDS_SCREEN);
        EXPECT_EQ(notices, row.notice ? 1 : 0) << row.useScreen;
    }
}

}  // namespace
