// A modal editor window made of plain gadgets over the main window: cycles, palettes
// of the eight colour registers, sliders with their level, buttons. The caller places
// every gadget at pixel positions in the client area; what a gadget does is the
// caller's too: the window reports each pick, drag and key as a small event.
// GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum PaletteGadgetKind {
    PGAD_CYCLE = 0,    // one entry of choices shown, picked from a list
    PGAD_PALETTE = 1,  // the eight colour registers as cells, one of them selected
    PGAD_SLIDER = 2,   // a level 0..maxLevel, shown right of it in hexadecimal
    PGAD_BUTTON = 3,
};

struct PaletteGadgetSpec {
    int id = 0;  // reported with the gadget's events
    int kind = PGAD_BUTTON;
    int left = 0, top = 0, width = 0, height = 0;  // in the client area
    // A button's text; for the other kinds a label left of the gadget (UTF-8, may be empty).
    std::string label;
    bool highlightLabel = false;       // the label in the highlight colour
    std::vector<std::string> choices;  // cycle entries (UTF-8)
    int value = 0;                     // cycle: entry shown; palette: pen selected; slider: level
    int maxLevel = 15;                 // slider
};

struct PaletteWindowSpec {
    std::string title;
    int left = 0, top = 0;      // the window's top-left on the screen, its frame included
    int width = 0, height = 0;  // the client area
    int font = 0;               // a guiFontOpen handle for every gadget and label; 0: the desktop font
    int labelGap = 4;           // between a label (or a slider's level) and its gadget
    std::vector<PaletteGadgetSpec> gadgets;
};

enum PaletteEventKind {
    PEV_GADGETUP = 1,  // a release: palette cell (value = pen), cycle entry (value = index), button
    PEV_SLIDER = 2,    // a slider moved (value = level), while it is dragged too
    PEV_KEY = 3,       // a key that types a character, Escape and Return included (value = the character)
    PEV_CLOSE = 4,     // the window manager asked the window to close
};

struct PaletteEvent {
    int kind = 0;
    int gadget = -1;
    int value = 0;
};

// Runs the window modally: the main window gets no input while it is open. Each event
// goes to handler as it happens, one at a time (an event that a handler's own change
// causes waits for the handler to return); a handler that returns true closes the
// window. Returns true when a break closed it (at once, without a handler call) or
// was pending already, false otherwise.
bool guiRunPaletteWindow(const PaletteWindowSpec& spec,
                         const std::function<bool(const PaletteEvent&)>& handler);
bool guiPaletteWindowOpen();
// Shows a value on a gadget of the open window, without an event: a palette's
// selected pen, a slider's level (and its label), a cycle's entry.
void guiPaletteSetValue(int id, int value);
// What a gadget of the open window shows: its value (-1 when there is no such
// gadget) and, for a slider, the level's label.
int guiPaletteValue(int id);
std::string guiPaletteLevelText(int id);
// Where the open window lies on the screen, its frame included; false when none is open.
bool guiPaletteWindowFrame(int& left, int& top, int& width, int& height);

// The full geometry of the screen the main window is on; false without a window.
bool guiMainScreenGeometry(int& left, int& top, int& width, int& height);
// The pixel width of a UTF-8 label in a font (0: the desktop font).
int guiLabelWidth(int font, const std::string& text);

// ---- simulated input (tests): real toolkit events sent to the open editor window ----
// Clicks the cell of a pen in a palette gadget.
void guiSimulatePalettePick(int id, int pen);
// Drags a slider's knob to a level.
void guiSimulateSliderDrag(int id, int level);
// Opens a cycle's list and clicks one of its entries.
void guiSimulateCyclePick(int id, int entry);
// Clicks a button gadget.
void guiSimulatePaletteButton(int id);
// Presses a key in the window: a character (27 for Escape, 13 for Return), or 0 for
// the Shift key alone.
void guiSimulatePaletteKey(int character);
// Writes the screen as it looks now (the main window and the editor over it) to a PNG.
bool guiGrabScreen(const char* path);
