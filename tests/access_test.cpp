// The text view as a screen reader sees it, read through the toolkit's accessibility
// interfaces: the page's lines as a document, its links as pressable children, the
// keyboard's place, what is announced, that objects of an old page or an old window
// are gone, and the gadgets' names.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/access.h"
#include "platform/access_testing.h"
#include "platform/gui.h"
#include "support/window_fixture.h"

namespace {

std::vector<GadgetSpec> nineGadgets() {
    std::vector<GadgetSpec> gadgets(GAD_COUNT);
    for (int i = 0; i < 6; ++i)
        gadgets[i] = GadgetSpec{i * 50, 2, 48, 20, "B" + std::to_string(i), false, 0};
    gadgets[GAD_URL] = GadgetSpec{300, 2, 200, 20, "", false, 80};
    gadgets[GAD_SCROLLER] = GadgetSpec{620, 30, 18, 340, "", false, 0};
    gadgets[GAD_STATUS] = GadgetSpec{0, 376, 640, 22, "", false, 0};
    return gadgets;
}

void openWindow() {
    ASSERT_TRUE(guiOpenWindow(WindowSpec{.width = 640, .height = 400}));
    guiCreateGadgets(nineGadgets(), 0);
    guiFocusPage();
    guiDiscardMessages();
}

// Links: text, address, line, rectangle on the raster (all 0: scrolled out of sight).
const std::vector<std::string> kLines = {
    "# Capsule",           "Welcome to the capsule.", "=> Gemini space",
    "Plain line, ünïcode", "=> Über alles",           "=> Far away",
};
AccessView firstPage() {
    AccessView view;
    view.name = "gemini://capsule.example/";
    view.lines = kLines;
    view.links = {
        {"Gemini space", "gemini://space.example/", 2, 10, 60, 120, 18},
        {"Über alles", "gemini://capsule.example/über", 4, 10, 100, 90, 18},
        {"Far away", "gopher://far.example/", 5, 0, 0, 0, 0},
    };
    view.x = 8;
    view.y = 30;
    view.width = 600;
    view.height = 330;
    return view;
}

AccessView secondPage() {
    AccessView view;
    view.name = "gemini://other.example/";
    view.lines = {"Other", "=> Back home"};
    view.links = {{"Back home", "gemini://capsule.example/", 1, 10, 50, 80, 18}};
    view.x = 8;
    view.y = 30;
    view.width = 600;
    view.height = 330;
    return view;
}

// UTF-16 units of UTF-8 text without characters beyond the first plane.
int units(const std::string& text) {
    int count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i ? "\n" : "") + lines[i];
    return text;
}

// Where line i starts in the text, in UTF-16 units.
int lineStart(const std::vector<std::string>& lines, size_t i) {
    int offset = 0;
    for (size_t l = 0; l < i; ++l)
        offset += units(lines[l]) + 1;
    return offset;
}

std::vector<std::pair<int, int>> takeMessages() {
    guiProcessEvents();
    std::vector<std::pair<int, int>> messages;
    for (WindowMessage m; guiGetMessage(m);)
        messages.emplace_back(m.kind, m.value);
    return messages;
}

std::vector<uint32_t> linkIds(const AccessSummary& summary) {
    std::vector<uint32_t> ids;
    for (const AccessNode& link : summary.links)
        ids.push_back(link.id);
    return ids;
}

class AccessTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(guiInit()); }
    void SetUp() override {
        ASSERT_TRUE(guiInit());
        guiAccessRecord(false);
        guiAccessSetPage(firstPage());
        openWindow();
    }
    void TearDown() override {
        guiAccessRecord(false);
        guiCloseWindow();
        guiAccessSetPage(AccessView{});
        guiDiscardMessages();
    }
};

TEST_F(AccessTest, ViewIsADocumentOfTheLinesWithItsLinksAsChildren) {
    const AccessSummary s = guiAccessDescribe();
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.childCount, GAD_COUNT + 1);
    EXPECT_EQ(s.viewIndex, GAD_URL + 1) << "the view follows the URL field";
    EXPECT_EQ(s.view.index, s.viewIndex);
    EXPECT_EQ(s.view.role, "document");
    EXPECT_EQ(s.view.name, "gemini://capsule.example/");
    EXPECT_EQ(std::tie(s.view.x, s.view.y, s.view.width, s.view.height),
              std::make_tuple(s.canvasX + 8, s.canvasY + 30, 600, 330));
    EXPECT_EQ(s.text, joined(kLines));
    EXPECT_EQ(s.characterCount, units(joined(kLines)));

    // text, address, rectangle on the raster, out of sight
    const std::tuple<std::string, std::string, int, int, int, int, bool> links[] = {
        {"Gemini space", "gemini://space.example/", 10, 60, 120, 18, false},
        {"Über alles", "gemini://capsule.example/über", 10, 100, 90, 18, false},
        {"Far away", "gopher://far.example/", 0, 0, 0, 0, true},
    };
    ASSERT_EQ(s.links.size(), std::size(links));
    for (size_t i = 0; i < s.links.size(); ++i) {
        const auto& [text, address, x, y, width, height, offscreen] = links[i];
        const AccessNode& got = s.links[i];
        EXPECT_EQ(got.role, "link") << i;
        EXPECT_EQ(got.name, text) << i;
        EXPECT_EQ(got.description, address) << i;
        EXPECT_EQ(got.actions, std::vector<std::string>{"Press"}) << i;
        EXPECT_EQ(got.index, static_cast<int>(i)) << "the parent finds its child again";
        EXPECT_EQ(got.offscreen, offscreen) << i;
        const int left = width ? s.canvasX + x : 0, top = width ? s.canvasY + y : 0;
        EXPECT_EQ(std::tie(got.x, got.y, got.width, got.height), std::tie(left, top, width, height)) << i;
    }
}

TEST_F(AccessTest, TextReadsByCharacterWordAndLine) {
    const int line1 = lineStart(kLines, 1), line3 = lineStart(kLines, 3), line5 = lineStart(kLines, 5);
    const int end = units(joined(kLines));
    const std::tuple<int, AccessBoundary, int, AccessTextPiece> cases[] = {
        // clang-format off
        {0,          ACCESS_LINE, 0,  {"# Capsule\n", 0, line1}},
        {line1 + 3,  ACCESS_LINE, 0,  {"Welcome to the capsule.\n", line1, lineStart(kLines, 2)}},
        {line1 + 3,  ACCESS_LINE, -1, {"# Capsule\n", 0, line1}},
        {line1 + 3,  ACCESS_LINE, 1,  {"=> Gemini space\n", lineStart(kLines, 2), line3}},
        {line1 - 1,  ACCESS_LINE, 0,  {"# Capsule\n", 0, line1}},          // on the line break
        {line5 + 2,  ACCESS_LINE, 0,  {"=> Far away", line5, end}},        // the last has no break
        {end,        ACCESS_LINE, 0,  {"=> Far away", line5, end}},
        {-1,         ACCESS_LINE, 0,  {"=> Far away", line5, end}},        // -1: the end
        {2,          ACCESS_LINE, -1, {"", -1, -1}},
        {line5,      ACCESS_LINE, 1,  {"", -1, -1}},
        {end + 1,    ACCESS_LINE, 0,  {"", -1, -1}},
        {line1 + 9,  ACCESS_WORD, 0,  {"to", line1 + 8, line1 + 10}},
        {line3 + 13, ACCESS_WORD, 0,  {"ünïcode", line3 + 12, line3 + 19}},
        {line3 + 13, ACCESS_CHAR, 0,  {"n", line3 + 13, line3 + 14}},
        // clang-format on
    };
    for (const auto& [offset, boundary, where, want] : cases) {
        const AccessTextPiece got = guiAccessTextAt(offset, boundary, where);
        EXPECT_EQ(got.text, want.text) << offset << " " << boundary << " " << where;
        EXPECT_EQ(std::pair(got.start, got.end), std::pair(want.start, want.end))
            << offset << " " << boundary << " " << where;
    }
}

TEST_F(AccessTest, PressQueuesOneLinkPressWithTheLinksIndex) {
    for (int link = 0; link < 3; ++link) {
        ASSERT_TRUE(guiAccessPress(link));
        EXPECT_EQ(takeMessages(), (std::vector<std::pair<int, int>>{{WMSG_LINKPRESS, link}})) << link;
    }
    EXPECT_FALSE(guiAccessPress(3));
    EXPECT_TRUE(takeMessages().empty());

    // A waiting press stays while the links stay, and goes with them.
    ASSERT_TRUE(guiAccessPress(1));
    AccessView scrolled = firstPage();
    scrolled.links[0] = AccessLink{"Gemini space", "gemini://space.example/", 2, 0, 0, 0, 0};
    guiAccessUpdatePage(scrolled);
    guiAccessSetPage(firstPage());
    ASSERT_TRUE(guiAccessPress(2));
    guiAccessUpdatePage(secondPage());
    EXPECT_TRUE(takeMessages().empty());
    ASSERT_TRUE(guiAccessPress(0));
    guiAccessUpdatePage(secondPage());
    EXPECT_EQ(takeMessages(), (std::vector<std::pair<int, int>>{{WMSG_LINKPRESS, 0}}));
}

TEST_F(AccessTest, FocusFollowsTheKeyboardsPlace) {
    ASSERT_TRUE(guiPageHasFocus());
    guiAccessRecord(true);
    // link set, the focus child then (-1 the view), the caret, what is told
    const std::tuple<int, int, int, std::vector<std::string>> steps[] = {
        {1, 1, lineStart(kLines, 4), {"focus link 1"}},
        {1, 1, lineStart(kLines, 4), {}},
        {2, 2, lineStart(kLines, 5), {"focus link 2"}},
        {-1, -1, 0, {"focus view"}},
        {7, -1, 0, {}},
        {0, 0, lineStart(kLines, 2), {"focus link 0"}},
    };
    for (const auto& [link, focus, caret, events] : steps) {
        guiAccessSetFocus(link);
        const AccessSummary s = guiAccessDescribe();
        EXPECT_EQ(s.focus, focus) << link;
        EXPECT_EQ(s.caret, caret) << link;
        EXPECT_EQ(s.view.focused, focus == -1) << link;
        for (size_t i = 0; i < s.links.size(); ++i)
            EXPECT_EQ(s.links[i].focused, static_cast<int>(i) == focus) << link << " " << i;
        EXPECT_EQ(guiAccessTakeEvents(), events) << link;
    }

    // With the keyboard in the URL field nothing is told; it is when the view takes it back.
    guiUrlFieldActivate();
    guiAccessTakeEvents();
    guiAccessSetFocus(2);
    EXPECT_TRUE(guiAccessTakeEvents().empty());
    EXPECT_EQ(guiAccessDescribe().focus, -2);
    guiFocusPage();
    EXPECT_EQ(guiAccessTakeEvents(), std::vector<std::string>{"focus link 2"});
    EXPECT_EQ(guiAccessDescribe().focus, 2);
}

TEST_F(AccessTest, WhatChangesIsToldAndNothingWithoutAListener) {
    const std::vector<uint32_t> firstIds = linkIds(guiAccessDescribe());
    AccessView scrolled = firstPage();
    scrolled.links[0] = AccessLink{"Gemini space", "gemini://space.example/", 2, 0, 0, 0, 0};
    scrolled.links[2] = AccessLink{"Far away", "gopher://far.example/", 5, 10, 120, 80, 18};
    AccessView rewrapped = scrolled;
    rewrapped.lines = {"# Capsule",           "Welcome to the", "capsule.",   "=> Gemini space",
                       "Plain line, ünïcode", "=> Über alles",  "=> Far away"};
    const AccessView relinked = firstPage();  // its first link is back in sight: no change of links
    AccessView renamed = secondPage();
    renamed.name = "gemini://capsule.example/";

    // change, a load, what is told, whether the links stay the same objects
    const std::vector<std::string> goneLinks = {"destroyed link 0", "destroyed link 1", "destroyed link 2"};
    auto told = [](std::vector<std::string> before, const std::vector<std::string>& after) {
        before.insert(before.end(), after.begin(), after.end());
        return before;
    };
    const std::tuple<const char*, AccessView, bool, std::vector<std::string>, bool> steps[] = {
        // clang-format off
        {"scrolled",  scrolled,     false, {}, true},
        {"rewrapped", rewrapped,    false, {"text view"}, true},
        {"relinked",  relinked,     false, {"text view"}, true},
        {"new links", renamed,      false, told(goneLinks, {"text view", "created link 0", "focus view"}), false},
        {"loaded",    firstPage(),  true,  {"destroyed link 0", "text view", "created link 0", "created link 1",
                                            "created link 2", "loaded view", "focus view"}, false},
        {"new page",  secondPage(), true,  told(goneLinks, {"name view", "text view", "created link 0",
                                                            "loaded view", "focus view"}), false},
        // clang-format on
    };
    guiAccessRecord(true);
    guiAccessSetFocus(1);
    guiAccessTakeEvents();
    std::vector<uint32_t> ids = firstIds;
    for (const auto& [what, view, loaded, events, sameObjects] : steps) {
        loaded ? guiAccessSetPage(view) : guiAccessUpdatePage(view);
        EXPECT_EQ(guiAccessTakeEvents(), events) << what;
        const AccessSummary s = guiAccessDescribe();
        EXPECT_EQ(s.text, joined(view.lines)) << what;
        EXPECT_EQ(s.view.name, view.name) << what;
        EXPECT_EQ(linkIds(s) == ids, sameObjects) << what;
        EXPECT_EQ(s.focus, sameObjects ? 1 : -1) << "the keyboard's place " << what;
        ids = linkIds(s);
    }

    // Nobody listening: nothing is told.
    guiAccessRecord(true, false);
    guiAccessSetPage(firstPage());
    guiAccessSetFocus(1);
    guiAccessUpdatePage(secondPage());
    guiFocusPage();
    EXPECT_TRUE(guiAccessTakeEvents().empty());
}

TEST_F(AccessTest, OldPagesAndOldWindowsLeaveNoObjects) {
    std::vector<uint32_t> dead = linkIds(guiAccessDescribe());
    guiAccessSetPage(secondPage());
    AccessSummary s = guiAccessDescribe();
    ASSERT_EQ(s.links.size(), 1u);
    EXPECT_EQ(s.links[0].name, "Back home");
    for (uint32_t id : dead)
        EXPECT_FALSE(guiAccessAlive(id)) << id;

    // Closed, the window tells nothing and takes changes; reopened, it shows the last.
    dead.push_back(s.view.id);
    dead.push_back(s.links[0].id);
    guiCloseWindow();
    EXPECT_FALSE(guiAccessDescribe().found);
    for (uint32_t id : dead)
        EXPECT_FALSE(guiAccessAlive(id)) << id;
    guiAccessSetPage(firstPage());
    guiAccessSetFocus(1);
    EXPECT_FALSE(guiAccessPress(0));
    openWindow();
    s = guiAccessDescribe();
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.text, joined(kLines));
    ASSERT_EQ(s.links.size(), 3u);
    EXPECT_EQ(s.focus, 1);
    for (const AccessNode& node : s.links)
        EXPECT_TRUE(guiAccessAlive(node.id));
    EXPECT_TRUE(guiAccessPress(2));
    EXPECT_EQ(takeMessages(), (std::vector<std::pair<int, int>>{{WMSG_LINKPRESS, 2}}));
}

TEST_F(AccessTest, PointerReviewFindsLinksViewAndGadgets) {
    const std::tuple<int, int, std::string> points[] = {
        {20, 65, "link 0"},    {95, 110, "link 1"},   {300, 200, "view"},
        {10, 10, "button B0"}, {310, 10, "text URL"}, {550, 10, ""},
    };
    for (const auto& [x, y, want] : points)
        EXPECT_EQ(guiAccessHit(x, y), want) << x << "," << y;
}

TEST_F(AccessTest, EveryGadgetIsNamedAndTheStatusLineTellsItsText) {
    guiSetStatusText("Loading…");
    guiProcessEvents();
    const std::tuple<std::string, std::string> want[] = {
        {"button", "B0"},    {"button", "B1"}, {"button", "B2"}, {"button", "B3"},
        {"button", "B4"},    {"button", "B5"}, {"text", "URL"},  {"scrollbar", "Page position"},
        {"label", "Status"},
    };
    const std::vector<AccessNode> gadgets = guiAccessGadgets();
    ASSERT_EQ(gadgets.size(), std::size(want));
    for (size_t i = 0; i < gadgets.size(); ++i)
        EXPECT_EQ(std::tie(gadgets[i].role, gadgets[i].name), want[i]) << i;
    EXPECT_EQ(gadgets[GAD_STATUS].description, "Loading…");
    guiSetStatusText("");
}

}  // namespace

// The program's own window: its gadgets' labels are their names.
TEST_F(WindowTest, AccessibleGadgetsAllHaveNames) {
    const std::vector<AccessNode> gadgets = guiAccessGadgets();
    ASSERT_EQ(gadgets.size(), static_cast<size_t>(GAD_COUNT));
    for (const AccessNode& gadget : gadgets)
        EXPECT_FALSE(gadget.name.empty()) << gadget.role;
    EXPECT_EQ(gadgets[GAD_BACK].name, "Back");
}
