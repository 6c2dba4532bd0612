// The text view: the rectangle of the main window between the URL field and the
// status line, left of the scroller. It shows `rows` display lines of a page model
// from `topLine` on, each in the pen of its style, scrolls by whole lines (moving the
// pixels and drawing only the rows that come into view), marks where a page-down
// scroll was cut short, and gives feedback for the link under the pointer. It only
// draws: which page is on show, and what a click on a link does, is the browser's.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "page/parser.h"

struct ViewMetrics {
    int32_t charWidth = 1;   // whole pixels a column is given when the text area is sized
    int32_t advance64 = 64;  // what a character of the fixed font really advances, in 1/64 pixel
    int32_t lineHeight = 1;
    int32_t columns = 1;
    int32_t rows = 1;
    int32_t textLeft = 0;
    int32_t textTop = 0;
    int32_t textWidth = 1;
    int32_t textHeight = 1;
    int32_t marginX = 0;
    int32_t marginY = 0;
};

// The layout quantities the view's formulas take from the window shell.
struct ViewFrame {
    int32_t leftBorder = 0;
    int32_t rightBorder = 0;
    int32_t bottomBorder = 0;
    int32_t scrollerWidth = 0;
    int32_t scrollerGap = 2;
    int32_t statusHeight = 0;  // the status row's height
};

struct ViewState {
    int32_t topLine = 0;
    int32_t markerRow = 0;  // 0 = no marker
    int32_t pressedRow = -1;
    int32_t pressedLine = -1;
    bool buttonHeld = false;
    bool urlShown = false;
    bool linkPointer = false;
};

ViewMetrics& viewMetrics();
ViewFrame& viewFrame();
ViewState& viewState();

// The fonts the view draws with (platform font handles; 0 = none). The window shell
// opens them; usePropFont decides whether propFont is used.
void viewSetFonts(int fixedFont, int propFont);

// The sample whose width, divided by 30, is the character width.
inline constexpr char METRICS_SAMPLE[] = "etainoshrdlucm  ETAINOSHRDLUCM";

void computeFontMetrics();
// The pixel x where a column of the text area begins: columns advance as the fixed
// font does, by fractions of a pixel, so text drawn in pieces lines up with text drawn
// whole.
int32_t columnLeft(int64_t column);
void computeTextWidth(int32_t windowWidth);
void computeTextHeight(int32_t windowHeight);

// Draws page from display line topLine on (held to the last full screen), with no
// marker, and sets the scroller.
void drawPage(const PageModel& page, int32_t topLine);

void clearTerm();
void clearRow(int32_t row);
// Draws one display line (UTF-8 text when unicode) at row, in the pen. UTF-8 text
// in the fixed-width font keeps to the character cells the wrap counted: a wide
// character takes two.
void drawLine(const char* text, int32_t row, int32_t style, int32_t pen, bool unicode = false);
// Scroll page by n lines toward its start / end, drawing only the rows that come
// into view; the scroller follows when updateScroller is set (not for a drag of it).
// False when the page cannot scroll that way at all (no lines, or none past the
// view), and the top line is unchanged then.
bool scrollUp(const PageModel& page, int32_t n, bool updateScroller);
bool scrollDown(const PageModel& page, int32_t n, bool updateScroller);
void drawMarker(int32_t row);
void clearMarker();
void highlightLink(const PageModel& page, int32_t lineIndex, int32_t row, int32_t pen);

// A link released on its own line: what the browser follows.
struct LinkClick {
    int32_t line = -1;  // its display line; -1 for none
    int32_t style = STYLE_TEXT;
    std::string url;
};
// Pointer at (x, y) in window coordinates over page; code SELECTDOWN, SELECTUP or
// anything else for a move. Shows the link under the pointer, presses and releases
// it; returns the link when a release follows one (line -1 otherwise).
LinkClick handleTextMouse(const PageModel& page, int32_t x, int32_t y, int32_t code);

// Forgets the pressed and hover state (a new window).
void viewReset();
