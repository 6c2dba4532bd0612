// The text view: the rectangle of the main window between the URL field and the
// status line, left of the scroller. It shows `rows` display lines of the page on show
// from `topLine` on, each in the pen of its style, scrolls by whole lines (moving the
// pixels and drawing only the rows that come into view), marks where a page-down
// scroll was cut short, and gives feedback for the link under the pointer.
// GUI thread only.
#pragma once

#include <cstdint>

#include "store/cache.h"
#include "url/url.h"

struct ViewMetrics {
    int32_t charWidth = 1;
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
    int32_t releasedLine = -1;
    int32_t releasedRow = -1;
    char releasedPageUrl[URL_MAX + 1] = {};
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
void computeTextWidth(int32_t windowWidth);
void computeTextHeight(int32_t windowHeight);

// Makes text the page on show (parsed for the view's width) and draws it. Nothing
// happens when text is null.
void renderPage(const UrlRecord& address, PageText text);
void resizeWindow();
void redrawPage();

void clearTerm();
void clearRow(int32_t row);
void drawLine(const char* text, int32_t row, int32_t style, int32_t pen);
void scrollUp(int32_t n, bool updateScroller);
void scrollDown(int32_t n, bool updateScroller);
void drawMarker(int32_t row);
void clearMarker();
void highlightLink(int32_t lineIndex, int32_t row, int32_t pen);
// Pointer at (x, y) in window coordinates; code SELECTDOWN, SELECTUP or anything
// else for a move.
void handleTextMouse(int32_t x, int32_t y, int32_t code);

// Forgets the pressed and hover state (a new window).
void viewReset();
