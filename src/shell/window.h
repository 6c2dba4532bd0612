// The main window: the screen or desktop window, the nine gadgets, the menu strip,
// the layout around the text view and the pens. winInit once, winStart/winStop
// around every run of the event loop, winCleanUp once. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gui.h"

#include "shell/menu.h"

// The menu strip for the settings as they stand (labels from the catalog, UTF-8),
// before the adjustments winStart makes for the mode and the desktop URL handler.
std::vector<MenuEntry> menuTable();

// The quantities the layout is computed from.
struct LayoutInput {
    bool ownScreen = false;
    int32_t screenWidth = 0;  // the screen (own) or the desktop's primary monitor
    int32_t screenHeight = 0;
    int32_t cw = 8, ch = 16;          // the default text font's character width and height
    int32_t textCharWidth = 8;        // the text view's character width (its charWidth)
    int32_t gh = 16;                  // the gadget font's height
    int32_t mWidth = 8;               // width of "M" in the gadget font
    int32_t buttonTextWidth[6] = {};  // widths of the six button labels in the gadget font
};

struct ShellLayout {
    int32_t leftMargin = 0, rightMargin = 0, buttonGap = 0;
    int32_t marginX = 0, marginY = 0;
    int32_t gadgetHeight = 0;  // gh
    int32_t buttonHeight = 0, rowHeight = 0, buttonTop = 0;
    int32_t buttonWidth[6] = {};
    int32_t urlTop = 0;
    int32_t scrollerWidth = 0;
    int32_t statusRowHeight = 0;
    int32_t minWidth = 0, minHeight = 0;
};

// Margins and rows that do not depend on the text area's size.
ShellLayout computeLayout(const LayoutInput& in);
// The nine gadgets for the layout and the text view's metrics as they stand.
std::vector<GadgetSpec> gadgetSpecs(const ShellLayout& layout, const std::vector<std::string>& labels);

// Back and Forward as the history allows them, kept across a page load (which
// disables both for its time) and across window restarts.
extern int32_t backDisabled;
extern int32_t forwardDisabled;
// Sets both and shows them on the controls unless a page is loading.
void winSetNavState(bool backEnabled, bool forwardEnabled);

// False (after a message) when the window system cannot be used. screenChoice is
// the command line's: -1 not given, 0 a desktop window, 1 an own screen.
bool winInit(int32_t screenChoice);
bool winStart();
void createGadgets();
// Opens the find bar in the left part of the status row (giving it the keyboard) or
// closes it; it is placed again whenever the gadgets are.
void placeFindBar(bool open);
bool findBarOpen();
// The find bar's width in a status row this wide.
int32_t findBarWidth(int32_t statusWidth);
// Lays the window out again for its size now (text area, toolbar, URL field,
// scroller and status line); the buttons keep their states. The page is drawn again
// by the caller.
void resizeWindow();
void winStop();
void winCleanUp();
bool winIsOpen();
// The GUI task's signal that window messages are waiting (allocated by winInit).
uint32_t windowSignalMask();

// The layout of the open window.
const ShellLayout& shellLayout();
// The desktop window's size for the text area it should hold (80 x 25, clamped).
void desktopWindowSize(const LayoutInput& in, int32_t& width, int32_t& height);

// Closes and reopens the fonts after a font change.
void shellReopenFonts();

// Is the desktop's URL handler (xdg-open) there? Tests may decide.
bool urlHandlerAvailable();
void setUrlHandlerAvailableForTesting(int available);  // -1 = look it up

void clearProxyCheck();

// Settings requesters: 1 when the screen mode, or the font, changed.
int openScreenRequest();
int openFontRequest(int kind);

// Dialogs of the shell go to the window system's dialogs from now on (the program);
// without this call the scripted headless answers keep answering (tests).
void shellUseWindowDialogs();
