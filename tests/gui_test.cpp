// The window system layer, headless: raster drawing, pens, the window and its
// gadgets, simulated input as window messages, the menu strip and a break that
// closes a dialog.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui.h"
#include "platform/task.h"

namespace {

// The application stays for every suite of the binary and goes after the last one,
// while the toolkit's globals still exist (fonts leave nothing behind then).
class GuiEnvironment : public testing::Environment {
  public:
    void TearDown() override { guiCleanUp(); }
};
testing::Environment* const guiEnvironment = testing::AddGlobalTestEnvironment(new GuiEnvironment);

class GuiTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(guiInit()); }
    void SetUp() override {
        ASSERT_TRUE(guiInit());  // a second call only answers
        guiDiscardMessages();
    }
};

std::vector<WindowMessage> takeMessages() {
    guiProcessEvents();
    std::vector<WindowMessage> messages;
    for (WindowMessage message; guiGetMessage(message);)
        messages.push_back(message);
    return messages;
}

// A raster of its own (no window), cleared to a pen.
void freshRaster(int width, int height, int pen) {
    guiCloseWindow();
    guiRasterResize(0, 0);
    guiRasterResize(width, height);
    guiFill(pen, 0, 0, width - 1, height - 1);
}

int countColour(uint32_t colour, int x0, int y0, int x1, int y1) {
    int count = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            count += guiPixel(x, y) == colour;
    return count;
}

std::vector<GadgetSpec> nineGadgets() {
    std::vector<GadgetSpec> gadgets(GAD_COUNT);
    for (int i = 0; i < GAD_COUNT; ++i)
        gadgets[i] = GadgetSpec{i * 50, 2, 48, 20, "B" + std::to_string(i), false, 0};
    gadgets[GAD_FORWARD].disabled = true;
    gadgets[GAD_URL] = GadgetSpec{300, 2, 200, 20, "", false, 12};
    gadgets[GAD_SCROLLER] = GadgetSpec{620, 30, 18, 340, "", false, 0};
    gadgets[GAD_STATUS] = GadgetSpec{0, 376, 640, 22, "", false, 0};
    return gadgets;
}

std::vector<MenuEntry> testMenu() {
    auto item = [](int menu, int number, int sub, const char* label) {
        MenuEntry entry;
        entry.menu = menu;
        entry.item = number;
        entry.sub = sub;
        entry.label = label;
        return entry;
    };
    std::vector<MenuEntry> entries = {
        item(0, -1, -1, "Project"), item(0, 0, -1, "Quit"),  item(1, -1, -1, "Settings"),
        item(1, 0, -1, "Images"),   item(1, 1, -1, "Small"), item(1, 2, -1, "Large"),
        item(1, 3, -1, "Theme"),    item(1, 3, 0, "Dark"),   item(1, 3, 1, "Light")};
    entries[1].key = 'Q';
    entries[3].checkable = true;
    entries[4].radioGroup = entries[5].radioGroup = 1;
    entries[4].checked = true;
    return entries;
}

void openTestWindow() {
    WindowSpec spec;
    spec.width = 640;
    spec.height = 400;
    spec.minWidth = 200;
    spec.minHeight = 100;
    ASSERT_TRUE(guiOpenWindow(spec));
    guiSetMenu(testMenu());  // the client area keeps its size
    guiCreateGadgets(nineGadgets(), 14);
    guiDiscardMessages();
}

WindowMessage expect(int kind, int code = 0, int qualifier = 0, int x = 0, int y = 0, int gadget = -1,
                     int value = 0) {
    return WindowMessage{kind, code, qualifier, x, y, gadget, value};
}

TEST_F(GuiTest, FillIsInclusiveAndClipped) {
    freshRaster(20, 10, 1);
    guiResetRasterCounts();
    guiFill(2, -5, -5, 3, 2);
    EXPECT_EQ(guiPixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(guiPixel(3, 2), 0xFFFFFFu);
    EXPECT_EQ(guiPixel(4, 2), 0u);
    EXPECT_EQ(guiPixel(3, 3), 0u);
    EXPECT_EQ(guiPixel(25, 0), 0u);
    EXPECT_EQ(guiRasterCounts().fills, 1);
}

TEST_F(GuiTest, ScrollMovesRowsAndFillsTheStrip) {
    struct Case {
        int dy;
        int markedAt;    // where the white row 5 ends up (-1: gone)
        int stripFirst;  // the rows filled with the background
        int stripLast;
    };
    const Case cases[] = {{2, 3, 8, 9}, {-3, 8, 0, 2}, {12, -1, 0, 9}, {-10, -1, 0, 9}};
    const uint32_t background = guiPenColour(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dy);
        freshRaster(10, 10, 1);
        guiFill(2, 0, 5, 9, 5);
        guiScroll(c.dy, 0, 0, 9, 9, 4);
        EXPECT_EQ(countColour(background, 0, c.stripFirst, 9, c.stripLast),
                  10 * (c.stripLast - c.stripFirst + 1));
        EXPECT_EQ(countColour(0xFFFFFF, 0, 0, 9, 9), c.markedAt < 0 ? 0 : 10);
        if (c.markedAt >= 0) {
            EXPECT_EQ(guiPixel(4, c.markedAt), 0xFFFFFFu);
        }
    }
}

TEST_F(GuiTest, TextDrawsForegroundOnlyInsideItsCell) {
    freshRaster(200, 40, 0);
    int font = guiFontOpen("DejaVu Sans Mono", 16);
    ASSERT_GT(font, 0);
    int height = guiFontHeight(font);
    ASSERT_LT(height, 36);
    int width = guiTextLength(font, "Hello", 5);
    EXPECT_GT(width, guiTextLength(font, "Hell", 4));
    guiText(2, 2, "Hello", 5, font, 6);
    EXPECT_GT(countColour(guiPenColour(6), 2, 2, 2 + width, 2 + height - 1), 10);
    uint32_t background = guiPenColour(0);
    EXPECT_EQ(countColour(background, 0, 2 + height, 99, 39), 100 * (38 - height));
    EXPECT_EQ(countColour(background, 0, 0, 99, 1), 200);
    guiText(120, 2, "\x80", 1, font, 2);  // drawn as a full block
    int block = guiTextLength(font, "\x80", 1);
    EXPECT_GT(countColour(0xFFFFFF, 120, 2, 120 + block - 1, 2 + height - 1), block * height / 2);
    guiFontClose(font);
}

TEST_F(GuiTest, PensAreSharedAndCounted) {
    int base = guiObtainedPenCount();
    int pen = guiObtainPen(0x123);
    EXPECT_GE(pen, 8);
    EXPECT_EQ(guiObtainPen(0x123), pen);
    int other = guiObtainPen(0x124);
    EXPECT_NE(other, pen);
    EXPECT_EQ(guiPenColour(pen), 0x112233u);
    EXPECT_EQ(guiObtainedPenCount(), base + 3);
    guiReleasePen(3);
    guiReleasePen(999);
    EXPECT_EQ(guiObtainedPenCount(), base + 3);
    guiReleasePen(pen);
    guiReleasePen(pen);
    guiReleasePen(other);
    EXPECT_EQ(guiObtainedPenCount(), base);
}

TEST_F(GuiTest, RegisterChangeRecoloursTheRaster) {
    freshRaster(8, 8, 1);
    guiFill(5, 0, 0, 3, 7);
    uint32_t old = guiPenColour(5);
    guiSetRegister(5, 0x0F0);
    EXPECT_EQ(guiPixel(0, 0), 0x00FF00u);
    EXPECT_EQ(guiPixel(7, 7), guiPenColour(1));
    guiSetRegister(5, 0xFF9);
    EXPECT_EQ(guiPenColour(5), old);
}

TEST_F(GuiTest, WindowAndGadgets) {
    openTestWindow();
    EXPECT_EQ(guiWindowWidth(), 640);
    EXPECT_EQ(guiWindowHeight(), 400);
    std::vector<GadgetSpec> specs = nineGadgets();
    for (int id = 0; id < GAD_COUNT; ++id) {
        GadgetSpec got = guiGadgetGeometry(id);
        EXPECT_EQ(got.left, specs[id].left) << id;
        EXPECT_EQ(got.top, specs[id].top) << id;
        EXPECT_EQ(got.width, specs[id].width) << id;
        EXPECT_EQ(got.height, specs[id].height) << id;
        EXPECT_EQ(guiGadgetEnabled(id), id != GAD_FORWARD) << id;
    }
    EXPECT_EQ(guiGadgetText(GAD_HOME), "B3");
    guiGadgetEnable(GAD_FORWARD, true);
    EXPECT_TRUE(guiGadgetEnabled(GAD_FORWARD));
    std::thread([] { guiSetStatusText("Loading…"); }).join();
    guiProcessEvents();
    EXPECT_EQ(guiGadgetText(GAD_STATUS), "Loading…");
    guiUrlFieldSetText("gemini://k");
    guiCreateGadgets(nineGadgets(), 14);
    EXPECT_EQ(guiGadgetText(GAD_URL), "gemini://k");
    EXPECT_EQ(guiGadgetText(GAD_STATUS), "Loading…");
    guiResizeWindow(500, 300);
    EXPECT_EQ(guiWindowWidth(), 500);
    EXPECT_EQ(guiWindowHeight(), 300);
    std::vector<WindowMessage> messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, WMSG_NEWSIZE);
}

TEST_F(GuiTest, SimulatedInputBecomesMessages) {
    openTestWindow();
    guiScrollerSet(0, 10, 100);
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<WindowMessage> want;
    };
    const std::vector<Case> cases = {
        {"click",
         [] {
             guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, 30, 40);
             guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, 31, 41);
         },
         {expect(WMSG_MOUSEBUTTONS, SELECTDOWN, 0, 30, 40), expect(WMSG_MOUSEBUTTONS, SELECTUP, 0, 31, 41)}},
        {"move", [] { guiSimulateMouse(WMSG_MOUSEMOVE, 0, 5, 6); }, {expect(WMSG_MOUSEMOVE, 0, 0, 5, 6)}},
        {"up", [] { guiSimulateKey(KEY_UP, 0); }, {expect(WMSG_RAWKEY, KEY_UP)}},
        {"down", [] { guiSimulateKey(KEY_DOWN, 0); }, {expect(WMSG_RAWKEY, KEY_DOWN)}},
        {"alt left", [] { guiSimulateKey(KEY_LEFT, QUAL_ALT); }, {expect(WMSG_RAWKEY, KEY_LEFT, QUAL_ALT)}},
        {"alt right",
         [] { guiSimulateKey(KEY_RIGHT, QUAL_ALT); },
         {expect(WMSG_RAWKEY, KEY_RIGHT, QUAL_ALT)}},
        {"backspace", [] { guiSimulateKey(8, 0); }, {expect(WMSG_VANILLAKEY, 8)}},
        {"shift space", [] { guiSimulateKey(32, QUAL_SHIFT); }, {expect(WMSG_VANILLAKEY, 32, QUAL_SHIFT)}},
        {"wheel toward", [] { guiSimulateWheel(-120); }, {expect(WMSG_WHEEL, 0, 0, 0, 0, -1, 1)}},
        {"wheel away", [] { guiSimulateWheel(120); }, {expect(WMSG_WHEEL, 0, 0, 0, 0, -1, -1)}},
        {"half notches",
         [] {
             guiSimulateWheel(60);
             guiSimulateWheel(60);
         },
         {expect(WMSG_WHEEL, 0, 0, 0, 0, -1, -1)}},
        {"button",
         [] { guiSimulateButton(GAD_RELOAD); },
         {expect(WMSG_GADGETUP, GAD_RELOAD, 0, 0, 0, GAD_RELOAD)}},
        {"url",
         [] { guiSimulateUrlTyping("gemini://x", true); },
         {expect(WMSG_GADGETUP, GAD_URL, 0, 0, 0, GAD_URL)}},
        {"typing stays in the field", [] { guiSimulateUrlTyping("a b\xC3\xA9", false); }, {}},
        {"scroller",
         [] { guiSimulateScrollerDrag(30); },
         {expect(WMSG_MOUSEMOVE, GAD_SCROLLER, 0, 0, 0, GAD_SCROLLER, 30)}},
        {"menu", [] { guiSimulateMenu(menuCode(0, 0)); }, {expect(WMSG_MENUPICK, menuCode(0, 0))}},
        {"close", [] { guiSimulateClose(); }, {expect(WMSG_CLOSEWINDOW)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.act();
        std::vector<WindowMessage> got = takeMessages();
        ASSERT_EQ(got.size(), c.want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            const WindowMessage &g = got[i], &w = c.want[i];
            EXPECT_EQ(g.kind, w.kind);
            EXPECT_EQ(g.code, w.code);
            EXPECT_EQ(g.qualifier, w.qualifier);
            EXPECT_EQ(g.x, w.x);
            EXPECT_EQ(g.y, w.y);
            EXPECT_EQ(g.gadget, w.gadget);
            EXPECT_EQ(g.value, w.value);
        }
    }
    EXPECT_TRUE(guiWindowOpen());  // a close request leaves the window to the program
    EXPECT_EQ(guiGadgetText(GAD_URL), "a b\xC3\xA9");
    int top = 0, visible = 0, total = 0;
    guiScrollerGet(top, visible, total);
    EXPECT_EQ(top, 30);
    EXPECT_EQ(total, 100);
}

TEST_F(GuiTest, MenuStateFollowsChecksAndPicks) {
    openTestWindow();
    EXPECT_EQ(guiMenuEntries().size(), testMenu().size());
    guiMenuCheck(menuCode(1, 0), true);
    EXPECT_TRUE(guiMenuChecked(menuCode(1, 0)));
    guiSimulateMenu(menuCode(1, 2));  // the other radio item
    EXPECT_TRUE(guiMenuChecked(menuCode(1, 2)));
    EXPECT_FALSE(guiMenuChecked(menuCode(1, 1)));
    guiMenuEnable(menuCode(1, 3, 1), false);
    EXPECT_FALSE(guiMenuEnabled(menuCode(1, 3, 1)));
    guiSimulateMenu(menuCode(1, 3, 1));  // disabled: no pick
    guiSimulateMenu(menuCode(1, 3, 0));
    std::vector<WindowMessage> messages = takeMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].code, menuCode(1, 3, 0));
    EXPECT_EQ(guiMenuEntries()[1].key, 'Q');
}

TEST_F(GuiTest, MessagesRaiseTheSignal) {
    int bit = taskAllocSignal();
    ASSERT_GE(bit, 0);
    uint32_t mask = uint32_t{1} << bit;
    guiSetMessageSignal(taskCurrent(), mask);
    guiPostMessage(expect(WMSG_REFRESH));
    EXPECT_EQ(taskPendingSignals(taskCurrent()) & mask, mask);
    guiSetMessageSignal(nullptr, 0);
    taskFreeSignal(bit);
    EXPECT_EQ(takeMessages().size(), 1u);
}

TEST_F(GuiTest, BreakClosesAnInputWindow) {
    TaskHandle self = taskCurrent();
    std::thread breaker([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        taskSendSignal(self, TASK_BREAK_MASK);
        guiWakeForBreak();
    });
    std::string text = "unchanged";
    EXPECT_TRUE(guiInput(InputSpec{"Query", "typed", 20, "OK", "Cancel"}, text));
    breaker.join();
    EXPECT_EQ(text, "");
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    guiProcessEvents();
}

}  // namespace
