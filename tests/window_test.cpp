// The window shell: the states of the menu strip and the gadgets, the layout, the pens
// of the themes, the loading state, and the screen-mode and font requesters.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "browser/load.h"
#include "platform/desktop.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "support/window_fixture.h"
#include "ui/ui.h"
#include "view/view.h"

// Desktop mode, default settings, a URL handler present: what starts disabled, what the
// mode disables, and the checks the settings set. (The labels and keys are the menu table's.)
TEST_F(WindowTest, MenuStripStartsAsTheModeAndSettingsSay) {
    const std::tuple<int, int, bool> items[] = {
        // clang-format off
        {2, 0, false}, {2, 1, false}, {2, 4, false}, {2, 3, true},    // Back, Forward, Stop; Reload
        {4, 1, false}, {4, 2, false}, {4, 10, false}, {4, 12, true},  // screen font, border, theme; handlers
        // clang-format on
    };
    for (const auto& [menu, item, enabled] : items)
        EXPECT_EQ(guiMenuEnabled(menuCode(menu, item)), enabled) << menu << " " << item;
    EXPECT_TRUE(guiMenuChecked(menuCode(4, 4, 0)));
    EXPECT_FALSE(guiMenuChecked(menuCode(4, 4, 1)));
    EXPECT_FALSE(guiMenuChecked(menuCode(4, 14)));
    for (int t = 0; t < THEME_COUNT; ++t)
        EXPECT_EQ(guiMenuChecked(menuCode(4, 9, t)), t == THEME_DEFAULT);
}

TEST_F(WindowTest, SettingsDecideChecksAfterARestart) {
    settings.theme = THEME_CUSTOM;
    settings.usePropFont = 1;
    settings.useGemProxy = 1;
    settings.useOpenUrl[OPENURL_HTTP] = 1;
    restartWindow();
    EXPECT_TRUE(guiMenuEnabled(menuCode(4, 10)));
    EXPECT_TRUE(guiMenuChecked(menuCode(4, 9, THEME_CUSTOM)));
    EXPECT_TRUE(guiMenuChecked(menuCode(4, 4, 1)));
    EXPECT_TRUE(guiMenuChecked(menuCode(4, 14)));
    EXPECT_TRUE(guiMenuChecked(menuCode(4, 12, 2)));

    // Without a desktop URL handler the handler menu is off and its flags cleared.
    setUrlHandlerAvailableForTesting(0);
    restartWindow();
    EXPECT_FALSE(guiMenuEnabled(menuCode(4, 12)));
    EXPECT_FALSE(guiMenuChecked(menuCode(4, 12, 2)));
    EXPECT_EQ(settings.useOpenUrl[OPENURL_HTTP], 0);
}

TEST_F(WindowTest, GadgetsInOrderWithTheirStates) {
    const bool enabled[] = {false, false, true, true, true, false};
    int right = 0;
    for (int id = 0; id < 6; ++id) {
        GadgetSpec g = guiGadgetGeometry(id);
        EXPECT_EQ(guiGadgetEnabled(id), enabled[id]) << id;
        EXPECT_GT(g.left, right) << "buttons run left to right with gaps";
        right = g.left + g.width;
    }
    const ViewMetrics& m = viewMetrics();
    EXPECT_EQ(m.columns, 80);
    EXPECT_EQ(m.rows, 25);
    GadgetSpec url = guiGadgetGeometry(GAD_URL), scroller = guiGadgetGeometry(GAD_SCROLLER),
               status = guiGadgetGeometry(GAD_STATUS);
    EXPECT_EQ(url.width, m.textWidth + 2 * m.marginX + 2 + scroller.width);
    EXPECT_EQ(status.width, url.width);
    EXPECT_EQ(scroller.left + scroller.width, url.left + url.width);
    EXPECT_EQ(scroller.top, m.textTop - m.marginY);
    EXPECT_LE(status.top + status.height, guiWindowHeight());
    EXPECT_LE(url.left + url.width, guiWindowWidth());
    EXPECT_EQ(guiGadgetGeometry(GAD_URL).maxChars, 318);
}

TEST_F(WindowTest, LoadingStateLocksAndRestoresTheControls) {
    guiGadgetEnable(GAD_BACK, true);
    disableGuiBeforePageLoad();
    for (int id : {GAD_BACK, GAD_FORWARD, GAD_RELOAD, GAD_HOME, GAD_BOOK})
        EXPECT_FALSE(guiGadgetEnabled(id));
    EXPECT_TRUE(guiGadgetEnabled(GAD_STOP));
    EXPECT_TRUE(guiMenuEnabled(menuCode(2, 4)));
    EXPECT_FALSE(guiMenuEnabled(menuCode(2, 6)));
    EXPECT_EQ(guiPointer(), POINTER_BUSY);
    enableGuiAfterPageLoad();
    EXPECT_TRUE(guiGadgetEnabled(GAD_BACK));
    EXPECT_FALSE(guiGadgetEnabled(GAD_FORWARD));
    EXPECT_FALSE(guiGadgetEnabled(GAD_STOP));
    EXPECT_TRUE(guiMenuEnabled(menuCode(2, 6)));
    EXPECT_EQ(guiPointer(), POINTER_NORMAL);
}

TEST(ShellLayout, NarrowOwnScreenHalvesMarginsButNotGaps) {
    LayoutInput in;
    in.ownScreen = true;
    in.cw = 8;
    in.ch = 16;
    in.gh = 14;
    // Narrow is narrower than 85 columns of the page's text, whatever the "M" of the
    // system font measures.
    in.textCharWidth = 10;
    in.screenWidth = 84 * 10;
    ShellLayout narrow = computeLayout(in);
    in.screenWidth = 85 * 10;
    ShellLayout wide = computeLayout(in);
    EXPECT_EQ(wide.marginX, 8);
    EXPECT_EQ(narrow.marginX, 4);
    EXPECT_EQ(narrow.marginY, 8);
    EXPECT_EQ(narrow.leftMargin, wide.leftMargin / 2);
    EXPECT_EQ(narrow.buttonGap, wide.buttonGap);
    EXPECT_EQ(narrow.scrollerWidth, 16);
    EXPECT_EQ(wide.buttonHeight, 18);
    EXPECT_EQ(wide.rowHeight, 2 * 14 - (2 * 14 - 18) / 2);
}

TEST_F(WindowTest, GadgetsUseTheGadgetFont) {
    // The toolbar, URL field and status line are drawn in the gadget font the layout
    // was measured with, so the labels fit their buttons.
    for (int id : {GAD_BACK, GAD_STOP, GAD_URL, GAD_STATUS})
        EXPECT_EQ(guiGadgetFontHeight(id), shellLayout().gadgetHeight) << id;
}

TEST_F(WindowTest, ARestartKeepsTheDesktopWindowsSizeAndPlace) {
    const int width = guiWindowWidth() + 57, height = guiWindowHeight() + 31;
    guiResizeWindow(width, height);
    ASSERT_TRUE(runUntil([&] { return guiWindowWidth() == width && guiWindowHeight() == height; }));
    int left = 0, top = 0, w = 0, h = 0;
    ASSERT_TRUE(guiWindowGeometry(left, top, w, h));
    restartWindow();
    EXPECT_EQ(guiWindowWidth(), width);
    EXPECT_EQ(guiWindowHeight(), height);
    int left2 = 0, top2 = 0;
    ASSERT_TRUE(guiWindowGeometry(left2, top2, w, h));
    EXPECT_EQ(left2, left);
    EXPECT_EQ(top2, top);
}

TEST_F(WindowTest, SmallDesktopClampsTheWindow) {
    DesktopFacts small = desktopFacts();
    small.width = 400;
    small.height = 300;
    setDesktopFactsForTesting(&small);
    restartWindow();
    setDesktopFactsForTesting(nullptr);
    EXPECT_LE(guiWindowWidth(), 400);
    EXPECT_LT(viewMetrics().columns, 80);
    EXPECT_GE(viewMetrics().columns, 1);
}

TEST(Themes, PensOfTheThemes) {
    ASSERT_TRUE(guiInit());
    struct Row {
        int theme;
        PenRole role;
        uint32_t rgb;
    };
    // A few entries of the palettes, on an own screen and on the desktop.
    const Row rows[] = {
        {THEME_DEFAULT, PEN_BACKGROUND, 0x000000},
        {THEME_MORKBLA, PEN_BADLINK, 0xFF2222},
        {THEME_MORKBLA, PEN_LINKDOWN, 0x8888BB},
        {THEME_AQUA, PEN_GEMLINK, 0x2255AA},
    };
    for (bool own : {true, false}) {
        for (const Row& row : rows) {
            settings.theme = row.theme;
            themePensSetUp(own);
            EXPECT_EQ(guiPenColour(elementPens[row.role]), row.rgb)
                << row.theme << " " << row.role << " " << own;
            themePensRelease();
        }
    }
    settings.theme = THEME_DEFAULT;
}

TEST(Themes, DesktopPensAreSharedAndReleasedOnceEach) {
    ASSERT_TRUE(guiInit());
    int before = guiObtainedPenCount();
    settings.theme = THEME_DORCHA;  // four palette entries share one colour
    themePensSetUp(false);
    EXPECT_EQ(guiObtainedPenCount(), before + 8);
    EXPECT_EQ(elementPens[PEN_HEADING], elementPens[PEN_PREFORMAT]);
    themePensRelease();
    themePensRelease();
    EXPECT_EQ(guiObtainedPenCount(), before);
    settings.theme = THEME_DEFAULT;
}

TEST_F(WindowTest, ScreenModeRequester) {
    uint32_t workbench = settings.workbenchDisplayId;
    struct Row {
        int useScreen;
        uint32_t displayId;
        int pick;  // 0 = "Use Workbench Window", 1 = "Clone Workbench Screen", 2 = first monitor, -1 cancel
        int result;
        int useScreenAfter;
    };
    uint32_t monitor = guiMonitors().at(0).id;
    const Row rows[] = {
        {0, workbench, 0, 0, 0},
        {1, workbench, 0, 1, 0},
        {0, workbench, 1, 1, 1},
        {1, workbench, 1, 0, 1},
        {1, 12345, 2, monitor != 12345 ? 1 : 0, 1},
        {1, workbench, -1, 0, 1},
    };
    for (const Row& row : rows) {
        settings.useScreen = row.useScreen;
        settings.displayId = row.displayId;
        headlessSetResponder([&](const ShellCall& call) {
            ShellAnswer a;
            if (call.what == ShellCall::MODE) a.button = row.pick;
            return a;
        });
        EXPECT_EQ(openScreenRequest(), row.result) << row.useScreen << " pick " << row.pick;
        EXPECT_EQ(settings.useScreen, row.useScreenAfter);
    }
    settings.useScreen = 0;
}

TEST_F(WindowTest, FontRequesterReportsOnlyChanges) {
    std::string family = settings.fixedFont.name;
    int height = settings.fixedFont.height;
    int kindSeen = -1;
    headlessSetResponder([&](const ShellCall& call) {
        kindSeen = call.kind;
        return ShellAnswer{height, family, false};
    });
    EXPECT_EQ(openFontRequest(1), 0);
    EXPECT_EQ(kindSeen, 1);
    height += 2;
    EXPECT_EQ(openFontRequest(1), 1);
    EXPECT_EQ(settings.fixedFont.height, height);
    headlessSetResponder(nullptr);
    EXPECT_EQ(openFontRequest(2), 0);
}

TEST(InputWindow, FieldWidthBetweenItsMinimumAndTheScreen) {
    ASSERT_TRUE(guiInit());
    int minimum = guiInputFieldWidth("", "Cancel");
    EXPECT_EQ(guiInputFieldWidth("Search...", "Cancel"), minimum) << "a short title keeps the minimum";
    int wide = guiInputFieldWidth(std::string(400, 'W'), "Cancel");
    EXPECT_GT(wide, minimum);
    EXPECT_LT(wide, guiMonitors().at(0).width) << "never wider than the screen";
    EXPECT_GT(guiInputFieldWidth("", std::string(60, 'C')), minimum) << "room for both buttons";
}

TEST(UrlField, ShowsTheAddressAsTyped) {
    struct Row {
        const char* url;
        const char* shown;
    };
    const std::string longUrl = "gemini://" + std::string(60, 'h') + "/" + std::string(255, 'a');
    const Row rows[] = {
        {"gemini://example.org/", "gemini://example.org"},  // a bare "/" is dropped
        {"gemini://example.org", "gemini://example.org"},
        {"gemini://example.org/a/", "gemini://example.org/a/"},
        {"gopher://example.org/1/", "gopher://example.org/1/"},  // Gopher keeps the parser's form
        {"HOME", ""},
        {"BOOKVIEW", ""},
        {longUrl.c_str(), nullptr},  // cut to 318 characters
    };
    for (const Row& row : rows) {
        UrlRecord address;
        ASSERT_EQ(parseUrl(row.url, address), 1) << row.url;
        char shown[319];
        urlFieldText(address, shown);
        if (row.shown) {
            EXPECT_STREQ(shown, row.shown);
        } else {
            EXPECT_EQ(std::string(shown), std::string(address.url).substr(0, 318));
            EXPECT_EQ(std::strlen(shown), 318u);
        }
    }
}
