// The window system layer, headless: raster drawing, pens, the window and its
// gadgets, simulated input as window messages, the menu strip and a break that
// closes a dialog.
#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

// A message's fields in order: kind, code, qualifier, x, y, gadget, value.
using Fields = std::array<int, 7>;

std::vector<Fields> takeMessages() {
    guiProcessEvents();
    std::vector<Fields> messages;
    for (WindowMessage m; guiGetMessage(m);)
        messages.push_back({m.kind, m.code, m.qualifier, m.x, m.y, m.gadget, m.value});
    return messages;
}

Fields msg(int kind, int code = 0, int qualifier = 0, int x = 0, int y = 0, int gadget = -1, int value = 0) {
    return {kind, code, qualifier, x, y, gadget, value};
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
    for (int i = 0; i < GAD_COUNT; ++i) {
        const char label[] = {'B', static_cast<char>('0' + i), '\0'};
        gadgets[i] = GadgetSpec{i * 50, 2, 48, 20, label, i == GAD_FORWARD, 0};
    }
    gadgets[GAD_URL] = GadgetSpec{300, 2, 200, 20, "", false, 12};
    gadgets[GAD_SCROLLER] = GadgetSpec{620, 30, 18, 340, "", false, 0};
    gadgets[GAD_STATUS] = GadgetSpec{0, 376, 640, 22, "", false, 0};
    return gadgets;
}

// Fields: menu, item, sub, label, separator, key, checkable, radio group, checked.
const std::vector<MenuEntry> kMenu = {
    // clang-format off
    {0, -1, -1, "Project"}, {0, 0, -1, "Quit", false, 'Q'}, {1, -1, -1, "Settings"},
    {1, 0, -1, "Images", false, 0, true}, {1, 1, -1, "Small", false, 0, false, 1, true},
    {1, 2, -1, "Large", false, 0, false, 1}, {1, 3, -1, "Theme"}, {1, 3, 0, "Dark"}, {1, 3, 1, "Light"},
    // clang-format on
};

void openTestWindow() {
    ASSERT_TRUE(guiOpenWindow(WindowSpec{.width = 640, .height = 400, .minWidth = 200, .minHeight = 100}));
    guiSetMenu(kMenu);  // the client area keeps its size
    guiCreateGadgets(nineGadgets(), 14);
    guiDiscardMessages();
}

TEST_F(GuiTest, FillIsInclusiveAndClipped) {
    freshRaster(20, 10, 1);
    guiResetRasterCounts();
    guiFill(2, -5, -5, 3, 2);
    EXPECT_EQ(guiRasterCounts().fills, 1);
    EXPECT_EQ(countColour(0xFFFFFF, 0, 0, 3, 2), 12);   // corners inclusive...
    EXPECT_EQ(countColour(0xFFFFFF, 0, 0, 19, 9), 12);  // ...and nothing beyond
    EXPECT_EQ(guiPixel(25, 0), 0u);
}

TEST_F(GuiTest, ScrollMovesRowsAndFillsTheStrip) {
    // dy, where the white row 5 ends up (-1: gone), the rows filled with the background.
    const std::array<int, 4> cases[] = {{2, 3, 8, 9}, {-3, 8, 0, 2}, {12, -1, 0, 9}, {-10, -1, 0, 9}};
    const uint32_t background = guiPenColour(4);
    for (const auto& [dy, markedAt, stripFirst, stripLast] : cases) {
        SCOPED_TRACE(dy);
        freshRaster(10, 10, 1);
        guiFill(2, 0, 5, 9, 5);
        guiScroll(dy, 0, 0, 9, 9, 4);
        EXPECT_EQ(countColour(background, 0, stripFirst, 9, stripLast), 10 * (stripLast - stripFirst + 1));
        EXPECT_EQ(countColour(0xFFFFFF, 0, 0, 9, 9), markedAt < 0 ? 0 : 10);
        EXPECT_EQ(guiPixel(4, markedAt), markedAt < 0 ? 0u : 0xFFFFFFu);
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

TEST_F(GuiTest, PensAndRegisters) {
    int base = guiObtainedPenCount();
    int pen = guiObtainPen(0x123);
    EXPECT_GE(pen, 8);
    EXPECT_EQ(guiObtainPen(0x123), pen);
    int other = guiObtainPen(0x124);
    EXPECT_NE(other, pen);
    EXPECT_EQ(guiPenColour(pen), 0x112233u);
    EXPECT_EQ(guiObtainedPenCount(), base + 3);
    for (int released : {3, 999})  // not obtained: ignored
        guiReleasePen(released);
    EXPECT_EQ(guiObtainedPenCount(), base + 3);
    for (int released : {pen, pen, other})
        guiReleasePen(released);
    EXPECT_EQ(guiObtainedPenCount(), base);

    // A register change recolours what the pen drew.
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
    EXPECT_EQ(std::pair(guiWindowWidth(), guiWindowHeight()), std::pair(640, 400));
    std::vector<GadgetSpec> specs = nineGadgets();
    for (int id = 0; id < GAD_COUNT; ++id) {
        const GadgetSpec got = guiGadgetGeometry(id), &want = specs[id];
        EXPECT_EQ(std::tie(got.left, got.top, got.width, got.height),
                  std::tie(want.left, want.top, want.width, want.height))
            << id;
        EXPECT_EQ(guiGadgetEnabled(id), id != GAD_FORWARD) << id;
    }
    EXPECT_EQ(guiGadgetText(GAD_HOME), "B3");
    std::thread([] { guiSetStatusText("Loading…"); }).join();
    guiProcessEvents();
    EXPECT_EQ(guiGadgetText(GAD_STATUS), "Loading…");
    // New gadgets keep the texts.
    guiUrlFieldSetText("gemini://k");
    guiCreateGadgets(nineGadgets(), 14);
    EXPECT_EQ(guiGadgetText(GAD_URL), "gemini://k");
    EXPECT_EQ(guiGadgetText(GAD_STATUS), "Loading…");
    guiResizeWindow(500, 300);
    EXPECT_EQ(std::pair(guiWindowWidth(), guiWindowHeight()), std::pair(500, 300));
    EXPECT_EQ(takeMessages(), std::vector<Fields>{msg(WMSG_NEWSIZE)});
}

TEST_F(GuiTest, SimulatedInputBecomesMessages) {
    openTestWindow();
    guiScrollerSet(0, 10, 100);
    const std::tuple<const char*, std::function<void()>, std::vector<Fields>> cases[] = {
        // clang-format off
        {"click", [] { guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, 30, 40);
                       guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, 31, 41); },
         {msg(WMSG_MOUSEBUTTONS, SELECTDOWN, 0, 30, 40), msg(WMSG_MOUSEBUTTONS, SELECTUP, 0, 31, 41)}},
        {"move", [] { guiSimulateMouse(WMSG_MOUSEMOVE, 0, 5, 6); }, {msg(WMSG_MOUSEMOVE, 0, 0, 5, 6)}},
        {"up", [] { guiSimulateKey(KEY_UP, 0); }, {msg(WMSG_RAWKEY, KEY_UP)}},
        {"alt left", [] { guiSimulateKey(KEY_LEFT, QUAL_ALT); }, {msg(WMSG_RAWKEY, KEY_LEFT, QUAL_ALT)}},
        {"backspace", [] { guiSimulateKey(8, 0); }, {msg(WMSG_VANILLAKEY, 8)}},
        {"shift space", [] { guiSimulateKey(32, QUAL_SHIFT); }, {msg(WMSG_VANILLAKEY, 32, QUAL_SHIFT)}},
        {"page keys", [] { guiSimulateKey(KEY_PAGEDOWN, 0); guiSimulateKey(KEY_HOME, QUAL_CTRL); },
         {msg(WMSG_RAWKEY, KEY_PAGEDOWN), msg(WMSG_RAWKEY, KEY_HOME, QUAL_CTRL)}},
        // Tab on the page is the link cursor's, not a move of the focus.
        {"tab", [] { guiSimulateKey(KEY_TAB, 0); guiSimulateKey(KEY_TAB, QUAL_SHIFT); },
         {msg(WMSG_RAWKEY, KEY_TAB), msg(WMSG_RAWKEY, KEY_TAB, QUAL_SHIFT)}},
        {"return and slash", [] { guiSimulateKey(KEY_RETURN, 0); guiSimulateKeys("/"); },
         {msg(WMSG_RAWKEY, KEY_RETURN), msg(WMSG_VANILLAKEY, '/')}},
        {"double click", [] { guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOUBLE, 7, 8); },
         {msg(WMSG_MOUSEBUTTONS, SELECTDOUBLE, 0, 7, 8)}},
        {"drag", [] { guiSimulateMouse(WMSG_MOUSEMOVE, 0, 9, 10, true); }, {msg(WMSG_MOUSEMOVE, 0, 0, 9, 10)}},
        // Ctrl+L takes the keyboard to the address, Escape gives it back.
        {"ctrl l", [] { guiSimulateKeys("Ctrl+L"); }, {msg(WMSG_FOCUS, 0)}},
        {"escape", [] { guiSimulateKeys("Escape"); },
         {msg(WMSG_FOCUS, 1), msg(WMSG_RAWKEY, KEY_ESCAPE, 0, 0, 0, GAD_URL)}},
        {"wheel toward", [] { guiSimulateWheel(-120); }, {msg(WMSG_WHEEL, 0, 0, 0, 0, -1, 1)}},
        {"wheel away", [] { guiSimulateWheel(120); }, {msg(WMSG_WHEEL, 0, 0, 0, 0, -1, -1)}},
        {"half notches", [] { guiSimulateWheel(60); guiSimulateWheel(60); },
         {msg(WMSG_WHEEL, 0, 0, 0, 0, -1, -1)}},
        {"button", [] { guiSimulateButton(GAD_RELOAD); },
         {msg(WMSG_GADGETUP, GAD_RELOAD, 0, 0, 0, GAD_RELOAD)}},
        {"url", [] { guiSimulateUrlTyping("gemini://x", true); },
         {msg(WMSG_FOCUS, 0), msg(WMSG_GADGETUP, GAD_URL, 0, 0, 0, GAD_URL)}},
        {"typing stays in the field", [] { guiSimulateUrlTyping("a b\xC3\xA9", false); }, {}},
        {"scroller", [] { guiSimulateScrollerDrag(30); },
         {msg(WMSG_MOUSEMOVE, GAD_SCROLLER, 0, 0, 0, GAD_SCROLLER, 30)}},
        {"menu", [] { guiSimulateMenu(menuCode(0, 0)); }, {msg(WMSG_MENUPICK, menuCode(0, 0))}},
        {"close", [] { guiSimulateClose(); }, {msg(WMSG_CLOSEWINDOW)}},
        // clang-format on
    };
    for (const auto& [name, act, want] : cases) {
        act();
        EXPECT_EQ(takeMessages(), want) << name;
    }
    EXPECT_TRUE(guiWindowOpen());  // a close request leaves the window to the program
    EXPECT_EQ(guiGadgetText(GAD_URL), "a b\xC3\xA9");
    int top = 0, visible = 0, total = 0;
    guiScrollerGet(top, visible, total);
    EXPECT_EQ(std::pair(top, total), std::pair(30, 100));
}

TEST_F(GuiTest, MenuStateFollowsChecksAndPicks) {
    openTestWindow();
    guiMenuCheck(menuCode(1, 0), true);
    EXPECT_TRUE(guiMenuChecked(menuCode(1, 0)));
    guiSimulateMenu(menuCode(1, 2));  // the other radio item
    EXPECT_TRUE(guiMenuChecked(menuCode(1, 2)));
    EXPECT_FALSE(guiMenuChecked(menuCode(1, 1)));
    guiMenuEnable(menuCode(1, 3, 1), false);
    EXPECT_FALSE(guiMenuEnabled(menuCode(1, 3, 1)));
    guiSimulateMenu(menuCode(1, 3, 1));  // disabled: no pick
    guiSimulateMenu(menuCode(1, 3, 0));
    EXPECT_EQ(takeMessages(), (std::vector<Fields>{msg(WMSG_MENUPICK, menuCode(1, 2)),
                                                   msg(WMSG_MENUPICK, menuCode(1, 3, 0))}));
}

TEST_F(GuiTest, MessagesRaiseTheSignal) {
    int bit = taskAllocSignal();
    ASSERT_GE(bit, 0);
    uint32_t mask = uint32_t{1} << bit;
    guiSetMessageSignal(taskCurrent(), mask);
    guiPostMessage(WindowMessage{WMSG_REFRESH});
    EXPECT_EQ(taskPendingSignals(taskCurrent()) & mask, mask);
    guiSetMessageSignal(nullptr, 0);
    taskFreeSignal(bit);
    EXPECT_EQ(takeMessages().size(), 1u);

    // Size changes that pile up while the loop is busy come as one; moves keep the last.
    for (int i = 0; i < 3; ++i)
        guiPostMessage(WindowMessage{WMSG_NEWSIZE});
    guiPostMessage(WindowMessage{WMSG_MOUSEMOVE, 0, 0, 1, 1});
    guiPostMessage(WindowMessage{WMSG_MOUSEMOVE, 0, 0, 5, 6});
    guiPostMessage(WindowMessage{WMSG_NEWSIZE});
    EXPECT_EQ(takeMessages(), (std::vector<Fields>{msg(WMSG_NEWSIZE), msg(WMSG_MOUSEMOVE, 0, 0, 5, 6)}));
}

TEST_F(GuiTest, InputWindowShowsItsPromptInsideAndEscapeCancels) {
    const std::string prompt =
        "A long question from a capsule, long enough that a window manager might cut it?";
    std::vector<std::string> shown;
    guiAtNextDialog([&] {
        shown = guiDialogTexts();
        guiDialogKey(true);
    });
    std::string text = "unchanged";
    EXPECT_FALSE(guiInput(InputSpec{prompt, "typed", 20, "OK", "Cancel"}, text));
    EXPECT_EQ(text, "");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], prompt) << "the title";
    EXPECT_NE(std::find(shown.begin() + 1, shown.end(), prompt), shown.end()) << "and inside the window";
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
