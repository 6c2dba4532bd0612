// The custom theme editor: a modal window on the own screen in which the user sets
// the eight colours with red, green and blue sliders, picks the colour of each pen
// role, or copies a theme as a starting point. Every change shows at once, on the
// screen's colour registers and in the page; "Use" keeps the colours and pens as the
// Custom theme, "Cancel" (or any key) puts back what was there. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "settings/settings.h"

// The editor's gadgets, by the ids their events carry.
enum EditorGadget {
    EDIT_GAD_PALETTE = 0,  // the colour the sliders edit
    EDIT_GAD_RED = 1,
    EDIT_GAD_GREEN = 2,
    EDIT_GAD_BLUE = 3,
    EDIT_GAD_COPY = 4,  // "Copy palette from:"
    EDIT_GAD_USE = 5,
    EDIT_GAD_CANCEL = 6,
    EDIT_GAD_FIRST_ROLE = 7,  // the role palettes, 7-17, in EDITOR_ROLES order
    EDIT_GAD_COUNT = 18,
};
// The role of each role palette, top to bottom (Weblink before Visited).
extern const PenRole EDITOR_ROLES[PEN_ROLE_COUNT];
// The level of a slider goes up to this.
inline constexpr int EDITOR_LEVEL_MAX = 15;

// What the layout is measured from: the gadget font and the room on the screen.
struct EditorMeasures {
    int32_t gh = 16;             // the gadget font's height
    int32_t mw = 8;              // width of "M" in it
    int32_t copyLabelWidth = 0;  // width of the cycle's label, "Copy palette from:"
    int32_t cancelWidth = 0;     // width of the text of "Cancel"
    int32_t roomWidth = 100000;  // the largest client area the screen has room for
    int32_t roomHeight = 100000;
};

struct EditorBox {
    int32_t left = 0, top = 0, width = 0, height = 0;
};

struct EditorLayout {
    int32_t width = 0, height = 0;  // the client area
    EditorBox gadgets[EDIT_GAD_COUNT];
};

// Places the gadgets in the client area. A window that the room cannot hold is made
// as large as the room, and its rows close up (and overlap) to stay inside it.
EditorLayout editorLayout(const EditorMeasures& m);

// Runs the editor over the main window on the own screen; redraw draws the window
// and its page again after colours or pens changed. Returns 1 when a break closed it
// (nothing is reverted then, the program quits), else 0.
int openPaletteWindow(const std::function<void()>& redraw);
