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

#include "page/find.h"
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
    bool focused = false;     // the view has the keyboard: a frame shows it
    int32_t cursorLine = -1;  // the link cursor: the first display line of its link
    // The selection, from where the drag began to where it is; empty when they meet.
    TextSpot selectFrom, selectTo;
    int32_t goalOffset = -1;  // where Shift+Up and Shift+Down keep the selection's end
    TextSpot pressSpot;       // where the button went down
    bool dragging = false;    // the button moved off its cell: a selection is made
    // Find: every match (page order) and the one the page was taken to (-1: none).
    std::vector<FindMatch> matches;
    int32_t currentMatch = -1;
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
    bool selected = false;  // a selection was just made (a drag ended, a double click)
};
// Pointer at (x, y) in window coordinates over page; code SELECTDOWN, SELECTUP,
// SELECTDOUBLE or anything else for a move. Shows the link under the pointer, presses
// and releases it; a drag off the pressed cell selects text instead, and a double
// click selects a word. Returns the link when a release follows one (line -1 otherwise).
LinkClick handleTextMouse(const PageModel& page, int32_t x, int32_t y, int32_t code);

// The place in the text nearest to (x, y), held to the text area.
TextSpot spotAt(const PageModel& page, int32_t x, int32_t y);
// The pixel x where a byte offset of a display line's text is drawn.
int32_t offsetX(const PageModel& page, int32_t line, int32_t offset);

// Forgets the link cursor, the selection and the matches (a new page; nothing is
// redrawn).
void viewClearMarks();
// Selects from one spot to another and redraws the rows that change.
void setSelection(const PageModel& page, TextSpot from, TextSpot to);
// The selected text as UTF-8 (empty without a selection).
std::string selectedText(const PageModel& page);
// Selecting from the keyboard: the later end of the selection moves a character or a
// line, or the earlier end to the start of its line, or the later end to the end of
// its line. Without a selection it starts from the match a find took the page to.
// False (nothing changes) when there is neither.
enum SelectStep { SELECT_BACK, SELECT_FORWARD, SELECT_UP, SELECT_DOWN, SELECT_LINE_START, SELECT_LINE_END };
bool extendSelection(const PageModel& page, SelectStep step);
// The match a find took the page to becomes the selection (false when there is none).
bool selectCurrentMatch(const PageModel& page);

// The link the cursor would move to (forward: the next after it, else the one before
// it; without a cursor on show, the first or last link in view on): its first display
// line, -1 when there is none that way.
int32_t linkCursorTarget(const PageModel& page, bool forward);
// The display lines a link spans (first and last), from any of its lines.
void linkSpan(const PageModel& page, int32_t line, int32_t& first, int32_t& last);
// Puts the link cursor on the link at line (-1: none), redraws the old and the new
// one and shows the new one's address in the status line.
void setLinkCursor(const PageModel& page, int32_t line);
// The link on a display line, as a click on it would report it (line -1 when none).
LinkClick lineClick(const PageModel& page, int32_t line);
// The link under the cursor, as a click on it would report it (line -1 when none).
LinkClick cursorClick(const PageModel& page);

// The matches of a find and the one to show (-1: none); redraws what is in view.
void setFindMatches(const PageModel& page, std::vector<FindMatch> matches, int32_t current);

// The view took or lost the keyboard: draws or removes the focus frame.
void viewSetFocus(bool focused);

// Forgets the pressed and hover state (a new window).
void viewReset();
