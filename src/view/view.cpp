#include "view/view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "page/unicode.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "text/charset.h"
#include "ui/ui.h"

namespace {

ViewMetrics metrics;
ViewFrame frame;
ViewState state;
int fixedFontHandle = 0;
int propFontHandle = 0;

int fontFor(int32_t style) {
    return settings.usePropFont == 0 || style == STYLE_PREFORMAT || propFontHandle == 0 ? fixedFontHandle
                                                                                        : propFontHandle;
}

int32_t background() {
    return elementPens[PEN_BACKGROUND];
}

int32_t penOf(int32_t style) {
    return style >= 0 && style < STYLE_COUNT ? stylePens[style] : stylePens[STYLE_TEXT];
}

int32_t pressedPen(int32_t style) {
    return style <= STYLE_SEARCH_VISITED ? elementPens[PEN_LINKDOWN] : elementPens[PEN_WEBDOWN];
}

// Whether display line index belongs to the link under the cursor.
bool onCursorLink(const PageModel& page, int32_t index) {
    if (state.cursorLine < 0 || state.cursorLine >= page.lineCount) return false;
    const PageLine& cursor = page.lines[static_cast<size_t>(state.cursorLine)];
    const PageLine& line = page.lines[static_cast<size_t>(index)];
    return line.linkUrl != nullptr && line.linkUrl == cursor.linkUrl && line.sourceLine == cursor.sourceLine;
}

void drawMarks(const PageModel& page, int32_t index, int32_t row, int32_t pen);

void drawPageLine(const PageModel& page, int32_t index, int32_t row) {
    const PageLine& line = page.lines[static_cast<size_t>(index)];
    const int32_t pen = onCursorLink(page, index) ? pressedPen(line.style) : penOf(line.style);
    drawLine(line.text, row, line.style, pen, page.unicode);
    drawMarks(page, index, row, pen);
}

bool isAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

// Which kind of run a cluster belongs to: 0 for what the text fonts draw in their own
// cells (Latin, Greek, Cyrillic, punctuation, symbols, box drawing), 1 for other narrow
// scripts, 2 for a wide character; NEUTRAL for an ASCII space or punctuation, which
// takes the kind of the text around it.
constexpr int NEUTRAL = 3;
int runKind(const char* text, size_t at, size_t end, int width) {
    if (width == 2) return 2;
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        const bool letterOrDigit =
            static_cast<unsigned>((lead | 0x20) - 'a') < 26u || static_cast<unsigned>(lead - '0') < 10u;
        return letterOrDigit ? 0 : NEUTRAL;
    }
    if (end - at == 2) return lead <= 0xD4 ? 0 : 1;  // up to U+052F
    // Latin Extended Additional, Greek Extended, punctuation, symbols: U+1E00 to U+2BFF.
    const auto second = static_cast<unsigned char>(text[at + 1]);
    return (lead == 0xE1 && second >= 0xB8) || (lead == 0xE2 && second < 0xAF) ? 0 : 1;
}

// The kind of the next cluster after `at` that is not neutral; 0 at the end.
int kindAhead(const char* text, size_t length, size_t at) {
    while (at < length) {
        int width = 0;
        const size_t next = nextCluster(text, length, at, width);
        const int k = runKind(text, at, next, width);
        if (k != NEUTRAL) return k;
        at = next;
    }
    return 0;
}

// UTF-8 text in character cells: runs of one kind are drawn at once (a script that
// joins its letters stays joined, and words of a right-to-left script with the spaces
// between them read in their order), each at the column the wrap counted for it, and
// every wide character in its own two cells, so nothing drifts out of its column.
void drawUtf8Cells(int32_t y, const char* text, size_t length, int font, int32_t pen) {
    size_t runStart = 0;
    int64_t runColumn = 0, column = 0;
    int kind = -1;
    auto flush = [&](size_t end) {
        if (end > runStart) guiTextUtf8(columnLeft(runColumn), y, text + runStart, end - runStart, font, pen);
    };
    for (size_t at = 0; at < length;) {
        int width = 0;
        const size_t next = nextCluster(text, length, at, width);
        int k = runKind(text, at, next, width);
        // Spaces and punctuation between two runs of another script belong to them.
        if (k == NEUTRAL) k = kind == 1 && kindAhead(text, length, next) == 1 ? 1 : 0;
        if (k != kind || k == 2) {
            flush(at);
            runStart = at;
            runColumn = column;
            kind = k;
        }
        column += width;
        at = next;
    }
    flush(length);
}

bool linkLine(const PageLine& line, int32_t sourceLine) {
    return line.linkUrl != nullptr && line.sourceLine == sourceLine;
}

void showNormalPointer() {
    if (state.linkPointer) {
        guiSetPointer(POINTER_NORMAL);
        state.linkPointer = false;
    }
}

void clearShownUrl() {
    if (state.urlShown) {
        setStatus("");
        state.urlShown = false;
    }
}

}  // namespace

ViewMetrics& viewMetrics() {
    return metrics;
}
ViewFrame& viewFrame() {
    return frame;
}
ViewState& viewState() {
    return state;
}

void viewSetFonts(int fixedFont, int propFont) {
    fixedFontHandle = fixedFont;
    propFontHandle = propFont;
}

void viewReset() {
    int32_t keepTop = state.topLine;
    state = ViewState{};
    state.topLine = keepTop;
}

// Outline fonts advance by fractions of a pixel: the width of the sample is rounded
// up to whole pixels per character, so that a line of `columns` characters always
// fits the text area.
int32_t sampleWidth(int font) {
    return (guiTextLength(font, METRICS_SAMPLE, sizeof METRICS_SAMPLE - 1) + 29) / 30;
}

void computeFontMetrics() {
    metrics.lineHeight = std::max(1, guiFontHeight(fixedFontHandle));
    metrics.charWidth = std::max(1, sampleWidth(fixedFontHandle));
    const int64_t sample64 =
        int64_t{guiTextLength(fixedFontHandle, METRICS_SAMPLE, sizeof METRICS_SAMPLE - 1)} * 64;
    metrics.advance64 =
        static_cast<int32_t>(std::clamp<int64_t>((sample64 + 15) / 30, 1, int64_t{metrics.charWidth} * 64));
    if (settings.usePropFont && propFontHandle) {
        int32_t prop = sampleWidth(propFontHandle);
        metrics.charWidth = std::max(metrics.charWidth, prop);
        metrics.advance64 = metrics.charWidth * 64;
        metrics.lineHeight = std::max(metrics.lineHeight, guiFontHeight(propFontHandle));
    }
}

int32_t columnLeft(int64_t column) {
    return metrics.textLeft + static_cast<int32_t>((column * metrics.advance64 + 32) / 64);
}

void computeTextWidth(int32_t windowWidth) {
    int32_t w = windowWidth - (frame.rightBorder + frame.scrollerWidth + frame.scrollerGap +
                               frame.leftBorder + 2 * metrics.marginX);
    int32_t r = w > 0 ? w % metrics.charWidth : 0;
    w -= r;
    if (frame.rightBorder / 2 + r > metrics.charWidth) w += metrics.charWidth;
    metrics.textWidth = std::max(metrics.charWidth, w);
    metrics.columns = metrics.textWidth / metrics.charWidth;
    if (settings.usePropFont) metrics.columns -= 4;
    // The parser needs a width of at least one character.
    metrics.columns = std::max(1, metrics.columns);
}

void computeTextHeight(int32_t windowHeight) {
    int32_t h = windowHeight - (frame.bottomBorder + frame.statusHeight + metrics.marginY + metrics.textTop);
    metrics.textHeight = std::max(1, h / metrics.lineHeight) * metrics.lineHeight;
    metrics.rows = metrics.textHeight / metrics.lineHeight;
}

void clearTerm() {
    guiFill(background(), metrics.textLeft - metrics.marginX, metrics.textTop - metrics.marginY,
            metrics.textLeft + metrics.textWidth + metrics.marginX - 1,
            metrics.textTop + metrics.textHeight + metrics.marginY - 1);
}

void clearRow(int32_t row) {
    guiFill(background(), metrics.textLeft, metrics.textTop + row * metrics.lineHeight,
            metrics.textLeft + metrics.textWidth - 1, metrics.textTop + (row + 1) * metrics.lineHeight - 1);
}

void drawLine(const char* text, int32_t row, int32_t style, int32_t pen, bool unicode) {
    if (!text) return;
    const int32_t y = metrics.textTop + row * metrics.lineHeight;
    const size_t length = std::strlen(text);
    const int font = fontFor(style);
    if (!unicode) {
        guiText(metrics.textLeft, y, text, length, font, pen);
    } else if (font != fixedFontHandle || isAscii(text, length)) {
        // Proportional text has no cells to keep to; ASCII fills them as it is.
        guiTextUtf8(metrics.textLeft, y, text, length, font, pen);
    } else {
        drawUtf8Cells(y, text, length, font, pen);
    }
}

// ---- marks: the selection and the matches of a find ----

namespace {

int32_t lineLength(const PageModel& page, int32_t index) {
    const char* text = page.lines[static_cast<size_t>(index)].text;
    return text ? static_cast<int32_t>(std::strlen(text)) : 0;
}

// Draws bytes from to to of a line again over a filled box: in the background's pen
// over the pen's colour (the selection, the match the page was taken to), or framed
// in the pen (the other matches).
void drawMarked(const PageModel& page, int32_t index, int32_t row, int32_t from, int32_t to, int32_t pen,
                bool filled) {
    const PageLine& line = page.lines[static_cast<size_t>(index)];
    from = std::clamp(from, 0, lineLength(page, index));
    to = std::clamp(to, from, lineLength(page, index));
    const int32_t x0 = offsetX(page, index, from);
    // An empty stretch at a line's end (a selected line break) shows as half a cell.
    const int32_t x1 = to > from ? offsetX(page, index, to) : x0 + std::max(1, metrics.charWidth / 2);
    const int32_t y0 = metrics.textTop + row * metrics.lineHeight;
    const int32_t y1 = y0 + metrics.lineHeight - 1;
    if (!filled) {
        guiFill(pen, x0, y1, x1 - 1, y1);
        guiFill(pen, x0, y0, x1 - 1, y0);
        guiFill(pen, x0, y0, x0, y1);
        guiFill(pen, x1 - 1, y0, x1 - 1, y1);
        return;
    }
    guiFill(pen, x0, y0, x1 - 1, y1);
    if (to <= from) return;
    const int font = fontFor(line.style);
    const char* text = line.text + from;
    const size_t length = static_cast<size_t>(to - from);
    if (!page.unicode) {
        guiText(x0, y0, text, length, font, background());
    } else if (font != fixedFontHandle) {
        guiTextUtf8(x0, y0, text, length, font, background());
    } else {
        // The cells from the stretch's first column on.
        const auto column =
            static_cast<int64_t>(displayWidth(std::string_view(line.text, static_cast<size_t>(from))));
        int64_t at = 0;
        for (size_t i = 0; i < length;) {
            int width = 0;
            const size_t next = nextCluster(text, length, i, width);
            guiTextUtf8(columnLeft(column + at), y0, text + i, next - i, font, background());
            at += width;
            i = next;
        }
    }
}

bool hasSelection() {
    return state.selectFrom.line >= 0 && !(state.selectFrom == state.selectTo);
}

}  // namespace

namespace {

void drawMarks(const PageModel& page, int32_t index, int32_t row, int32_t pen) {
    if (!state.matches.empty()) {
        auto it = std::lower_bound(state.matches.begin(), state.matches.end(), index,
                                   [](const FindMatch& m, int32_t line) { return m.line < line; });
        for (; it != state.matches.end() && it->line == index; ++it) {
            const bool current = state.currentMatch >= 0 && it - state.matches.begin() == state.currentMatch;
            drawMarked(page, index, row, it->start, it->end, current ? pen : elementPens[PEN_LINKDOWN],
                       current);
        }
    }
    if (hasSelection()) {
        TextSpot a = state.selectFrom, b = state.selectTo;
        if (b < a) std::swap(a, b);
        if (index >= a.line && index <= b.line) {
            const int32_t from = index == a.line ? a.offset : 0;
            const int32_t to = index == b.line ? b.offset : lineLength(page, index);
            // A line the selection runs past ends in a selected line break.
            if (to > from || index < b.line) drawMarked(page, index, row, from, to, pen, true);
        }
    }
}

// Draws the rows showing display lines first to last again.
void redrawLines(const PageModel& page, int32_t first, int32_t last) {
    if (first > last) std::swap(first, last);
    for (int32_t i = std::max(first, state.topLine); i <= last && i < page.lineCount; ++i) {
        const int32_t row = i - state.topLine;
        if (row >= metrics.rows) break;
        clearRow(row);
        drawPageLine(page, i, row);
    }
}

void drawFocusFrame(bool on) {
    if (metrics.marginX < 1 || metrics.marginY < 1) return;
    const int32_t pen = on ? highlightPen() : background();
    const int32_t x0 = metrics.textLeft - metrics.marginX, y0 = metrics.textTop - metrics.marginY;
    const int32_t x1 = metrics.textLeft + metrics.textWidth + metrics.marginX - 1;
    const int32_t y1 = metrics.textTop + metrics.textHeight + metrics.marginY - 1;
    guiFill(pen, x0, y0, x1, y0);
    guiFill(pen, x0, y1, x1, y1);
    guiFill(pen, x0, y0, x0, y1);
    guiFill(pen, x1, y0, x1, y1);
}

// Scrolling and clearing the margins take pieces of the frame with them.
void restoreFocusFrame() {
    if (state.focused) drawFocusFrame(true);
}

}  // namespace

int32_t offsetX(const PageModel& page, int32_t index, int32_t offset) {
    if (index < 0 || index >= page.lineCount) return metrics.textLeft;
    const PageLine& line = page.lines[static_cast<size_t>(index)];
    const size_t length = static_cast<size_t>(std::clamp(offset, 0, lineLength(page, index)));
    const int font = fontFor(line.style);
    if (font != fixedFontHandle) {
        return metrics.textLeft + (page.unicode ? guiTextUtf8Length(font, line.text, length)
                                                : guiTextLength(font, line.text, length));
    }
    const int64_t columns =
        page.unicode ? displayWidth(std::string_view(line.text, length)) : static_cast<int64_t>(length);
    return columnLeft(columns);
}

TextSpot spotAt(const PageModel& page, int32_t x, int32_t y) {
    TextSpot spot;
    if (page.lineCount == 0) return spot;
    const int32_t row =
        std::clamp((y - metrics.textTop) / std::max(1, metrics.lineHeight), 0, metrics.rows - 1);
    if (y < metrics.textTop) {
        spot.line = std::max(0, state.topLine - 1);
    } else {
        spot.line = std::min(state.topLine + row, page.lineCount - 1);
    }
    const PageLine& line = page.lines[static_cast<size_t>(spot.line)];
    const int32_t length = lineLength(page, spot.line);
    if (y >= metrics.textTop + metrics.rows * metrics.lineHeight &&
        state.topLine + row >= page.lineCount - 1) {
        spot.offset = length;
        return spot;
    }
    // The boundary between characters nearest to x.
    int32_t best = 0;
    int32_t bestDistance = std::abs(x - offsetX(page, spot.line, 0));
    for (int32_t at = 0; at < length;) {
        int width = 0;
        const int32_t next = page.unicode
                                 ? static_cast<int32_t>(nextCluster(line.text, static_cast<size_t>(length),
                                                                    static_cast<size_t>(at), width))
                                 : at + 1;
        const int32_t distance = std::abs(x - offsetX(page, spot.line, next));
        if (distance < bestDistance) {
            best = next;
            bestDistance = distance;
        } else if (offsetX(page, spot.line, next) > x) {
            break;
        }
        at = next;
    }
    spot.offset = best;
    return spot;
}

void viewClearMarks() {
    state.cursorLine = -1;
    state.selectFrom = state.selectTo = TextSpot{};
    state.goalOffset = -1;
    state.dragging = false;
    state.matches.clear();
    state.currentMatch = -1;
}

void setSelection(const PageModel& page, TextSpot from, TextSpot to) {
    // The rows to draw again: what was selected and what is now.
    int32_t first = page.lineCount, last = -1;
    auto cover = [&](TextSpot a, TextSpot b) {
        if (a.line < 0 || a == b) return;
        first = std::min({first, a.line, b.line});
        last = std::max({last, a.line, b.line});
    };
    cover(state.selectFrom, state.selectTo);
    state.selectFrom = from;
    state.selectTo = to;
    cover(from, to);
    if (last >= 0) redrawLines(page, first, last);
}

std::string selectedText(const PageModel& page) {
    if (!hasSelection()) return {};
    return textBetween(page, state.selectFrom, state.selectTo);
}

bool selectCurrentMatch(const PageModel& page) {
    if (state.currentMatch < 0 || state.currentMatch >= static_cast<int32_t>(state.matches.size()))
        return false;
    const FindMatch& m = state.matches[static_cast<size_t>(state.currentMatch)];
    setSelection(page, TextSpot{m.line, m.start}, TextSpot{m.line, m.end});
    return true;
}

bool extendSelection(const PageModel& page, SelectStep step) {
    if (!hasSelection() && !selectCurrentMatch(page)) return false;
    TextSpot a = state.selectFrom, b = state.selectTo;
    if (b < a) std::swap(a, b);
    // A step of one character: a cluster of UTF-8 text, a byte of display text.
    auto length = [&](int32_t line) { return lineLength(page, line); };
    auto stepForward = [&](TextSpot t) {
        if (t.offset >= length(t.line)) return t.line + 1 < page.lineCount ? TextSpot{t.line + 1, 0} : t;
        if (!page.unicode) return TextSpot{t.line, t.offset + 1};
        int width = 0;
        const char* text = page.lines[static_cast<size_t>(t.line)].text;
        return TextSpot{t.line, static_cast<int32_t>(nextCluster(text, static_cast<size_t>(length(t.line)),
                                                                 static_cast<size_t>(t.offset), width))};
    };
    auto stepBack = [&](TextSpot t) {
        if (t.offset == 0) return t.line > 0 ? TextSpot{t.line - 1, length(t.line - 1)} : t;
        TextSpot back{t.line, 0};
        for (TextSpot next = stepForward(back); next.line == t.line && next.offset < t.offset;
             next = stepForward(next))
            back = next;
        return back;
    };
    // Up and down keep to the offset the first of them started from.
    const bool vertical = step == SELECT_UP || step == SELECT_DOWN;
    if (!vertical || state.goalOffset < 0) state.goalOffset = vertical ? b.offset : -1;
    const int32_t goal = state.goalOffset;
    switch (step) {
        case SELECT_FORWARD:
            b = stepForward(b);
            break;
        case SELECT_BACK:
            b = stepBack(b);
            if (b < a) b = a;
            break;
        case SELECT_DOWN:
            if (b.line + 1 < page.lineCount) b = TextSpot{b.line + 1, std::min(goal, length(b.line + 1))};
            break;
        case SELECT_UP:
            if (b.line > a.line) b = TextSpot{b.line - 1, std::min(goal, length(b.line - 1))};
            if (b < a) b = a;
            break;
        case SELECT_LINE_START:
            a.offset = 0;
            break;
        case SELECT_LINE_END:
            b.offset = length(b.line);
            break;
    }
    setSelection(page, a, b);
    return true;
}

void linkSpan(const PageModel& page, int32_t line, int32_t& first, int32_t& last) {
    first = last = line;
    if (line < 0 || line >= page.lineCount) return;
    const PageLine* lines = page.lines.data();
    const PageLine& at = lines[line];
    auto same = [&](int32_t i) {
        return lines[i].linkUrl != nullptr && lines[i].linkUrl == at.linkUrl &&
               lines[i].sourceLine == at.sourceLine;
    };
    while (first > 0 && same(first - 1))
        --first;
    while (last + 1 < page.lineCount && same(last + 1))
        ++last;
}

int32_t linkCursorTarget(const PageModel& page, bool forward) {
    if (page.linkCount == 0) return -1;
    const PageLine* lines = page.lines.data();
    const int32_t bottom = std::min(page.lineCount, state.topLine + metrics.rows) - 1;
    int32_t first = -1, last = -1;
    // A cursor scrolled out of view starts again from the view.
    if (state.cursorLine >= 0) {
        linkSpan(page, state.cursorLine, first, last);
        if (last < state.topLine || first > bottom) first = last = -1;
    }
    auto startsLink = [&](int32_t i) {
        if (lines[i].linkUrl == nullptr || lines[i].style >= STYLE_UNSUPPORTED) return false;
        int32_t a = 0, b = 0;
        linkSpan(page, i, a, b);
        return a == i;
    };
    if (forward) {
        for (int32_t i = first >= 0 ? last + 1 : state.topLine; i < page.lineCount; ++i)
            if (startsLink(i)) return i;
    } else {
        for (int32_t i = first >= 0 ? first - 1 : bottom; i >= 0; --i) {
            if (lines[i].linkUrl == nullptr || lines[i].style >= STYLE_UNSUPPORTED) continue;
            int32_t a = 0, b = 0;
            linkSpan(page, i, a, b);
            return a;
        }
    }
    return -1;
}

void setLinkCursor(const PageModel& page, int32_t line) {
    const int32_t old = state.cursorLine;
    state.cursorLine = line >= 0 && line < page.lineCount ? line : -1;
    auto redraw = [&](int32_t at) {
        if (at < 0 || at >= page.lineCount) return;
        int32_t first = 0, last = 0;
        linkSpan(page, at, first, last);
        redrawLines(page, first, last);
    };
    redraw(old);
    redraw(state.cursorLine);
    if (state.cursorLine >= 0) {
        setStatus(displayToUtf8(page.lines[static_cast<size_t>(state.cursorLine)].linkUrl).c_str());
        state.urlShown = true;
    }
}

LinkClick cursorClick(const PageModel& page) {
    return lineClick(page, state.cursorLine);
}

LinkClick lineClick(const PageModel& page, int32_t at) {
    LinkClick click;
    if (at < 0 || at >= page.lineCount) return click;
    const PageLine& line = page.lines[static_cast<size_t>(at)];
    if (line.linkUrl == nullptr || line.style >= STYLE_UNSUPPORTED) return click;
    click.line = at;
    click.style = line.style;
    click.url.assign(line.linkUrl, strnlen(line.linkUrl, URL_MAX));
    return click;
}

void setFindMatches(const PageModel& page, std::vector<FindMatch> matches, int32_t current) {
    state.matches = std::move(matches);
    state.currentMatch = current >= 0 && current < static_cast<int32_t>(state.matches.size()) ? current : -1;
    redrawLines(page, state.topLine, state.topLine + metrics.rows - 1);
}

void viewSetFocus(bool focused) {
    state.focused = focused;
    drawFocusFrame(focused);
}

void drawMarker(int32_t row) {
    guiText(metrics.textLeft - metrics.marginX, metrics.textTop + row * metrics.lineHeight, ">", 1,
            fixedFontHandle, elementPens[PEN_TEXT]);
    state.markerRow = row;
}

void clearMarker() {
    if (state.markerRow == 0) return;
    int32_t row = state.markerRow;
    guiFill(background(), metrics.textLeft - metrics.marginX, metrics.textTop + row * metrics.lineHeight,
            metrics.textLeft, metrics.textTop + (row + 1) * metrics.lineHeight);
    state.markerRow = 0;
    restoreFocusFrame();
}

void drawPage(const PageModel& page, int32_t topLine) {
    if (topLine + metrics.rows > page.lineCount) topLine = page.lineCount - metrics.rows;
    state.topLine = std::max(0, topLine);
    state.markerRow = 0;
    clearTerm();
    int32_t shown = std::min(page.lineCount - state.topLine, metrics.rows);
    for (int32_t k = 0; k < shown; ++k)
        drawPageLine(page, state.topLine + k, k);
    restoreFocusFrame();
    guiScrollerSet(state.topLine, metrics.rows, page.lineCount);
}

bool scrollUp(const PageModel& page, int32_t n, bool updateScroller) {
    const int32_t count = page.lineCount;
    if (count == 0) {
        setStatus("");
        return false;
    }
    n = std::min(n, state.topLine);
    if (n < 0) n = 0;
    state.topLine -= n;
    n = std::min(n, metrics.rows);
    clearMarker();
    if (n > 0) {
        guiScroll(-n * metrics.lineHeight, metrics.textLeft - 1, metrics.textTop,
                  metrics.textLeft + metrics.textWidth + metrics.marginX - 1,
                  metrics.textTop + metrics.textHeight - 1, background());
        for (int32_t k = n - 1; k >= 0; --k)
            drawPageLine(page, state.topLine + k, k);
    }
    restoreFocusFrame();
    if (updateScroller) guiScrollerSet(state.topLine, metrics.rows, count);
    setStatus("");
    return true;
}

bool scrollDown(const PageModel& page, int32_t n, bool updateScroller) {
    const int32_t count = page.lineCount;
    if (count <= metrics.rows) return false;
    n = std::min(n, count - state.topLine - metrics.rows);
    if (n < 0) n = 0;
    state.topLine += n;
    n = std::min(n, metrics.rows);
    if (n > 0) {
        clearMarker();
        guiScroll(n * metrics.lineHeight, metrics.textLeft - 1, metrics.textTop,
                  metrics.textLeft + metrics.textWidth + metrics.marginX - 1,
                  metrics.textTop + metrics.textHeight - 1, background());
        for (int32_t k = n - 1; k >= 0; --k) {
            int32_t row = metrics.rows - k - 1;
            drawPageLine(page, state.topLine + row, row);
        }
    }
    if (updateScroller) {
        guiScrollerSet(state.topLine, metrics.rows, count);
        if (n > 1 && n < metrics.rows - 1) drawMarker(metrics.rows - n);
    }
    restoreFocusFrame();
    setStatus("");
    return true;
}

void highlightLink(const PageModel& page, int32_t lineIndex, int32_t row, int32_t pen) {
    const int32_t count = page.lineCount;
    const PageLine* lines = page.lines.data();
    if (lineIndex < 0 || lineIndex >= count) return;
    int32_t source = lines[lineIndex].sourceLine;
    auto redraw = [&](int32_t i, int32_t r) {
        clearRow(r);
        drawLine(lines[i].text, r, STYLE_LINK, pen, page.unicode);
        drawMarks(page, i, r, pen);
    };
    for (int32_t i = lineIndex - 1, r = row - 1; i >= 0 && r >= 0 && linkLine(lines[i], source); --i, --r)
        redraw(i, r);
    if (row >= 0 && row < metrics.rows) redraw(lineIndex, row);
    for (int32_t i = lineIndex + 1, r = row + 1; r < metrics.rows && i < count && linkLine(lines[i], source);
         ++i, ++r)
        redraw(i, r);
}

LinkClick handleTextMouse(const PageModel& page, int32_t x, int32_t y, int32_t code) {
    LinkClick click;
    if (guiLocked() || page.lineCount == 0) return click;
    const PageLine* lines = page.lines.data();
    // Positions above or left of the text area are on no line.
    int32_t dx = x - metrics.textLeft - 1, dy = y - metrics.textTop - 1;
    int32_t c = dx >= 0 ? dx / metrics.charWidth : -1;
    int32_t r = dy >= 0 ? dy / metrics.lineHeight : -1;
    int32_t L = r >= 0 ? state.topLine + r : -1;
    bool onLink = page.linkCount > 0 && L >= 0 && L < page.lineCount && lines[L].linkUrl != nullptr &&
                  c > 0 && c < lines[L].linkTextLength;
    bool inside = x >= metrics.textLeft && x <= metrics.textLeft + metrics.textWidth &&
                  y >= metrics.textTop && y <= metrics.textTop + metrics.textHeight;

    // Selecting: a double click takes a word; a drag off the cell the button went
    // down on takes the text between.
    if (code == SELECTDOUBLE && inside && !onLink) {
        const FindMatch word = wordAt(page, spotAt(page, x, y));
        state.goalOffset = -1;
        setSelection(page, TextSpot{word.line, word.start}, TextSpot{word.line, word.end});
        click.selected = !selectedText(page).empty();
        state.buttonHeld = true;
        state.dragging = false;
        state.pressSpot = TextSpot{};
        return click;
    }
    if (code == SELECTDOWN && inside) {
        state.pressSpot = spotAt(page, x, y);
        state.dragging = false;
    }
    if (code != SELECTDOWN && code != SELECTUP && state.buttonHeld && state.pressSpot.line >= 0) {
        const TextSpot spot = spotAt(page, x, y);
        if (!state.dragging && !(spot == state.pressSpot)) {
            state.dragging = true;
            // A link pressed before the drag is let go without being followed.
            if (state.pressedLine >= 0 && state.pressedLine < page.lineCount && state.pressedRow >= 0)
                highlightLink(page, state.pressedLine, state.pressedRow,
                              penOf(lines[state.pressedLine].style));
            state.pressedRow = -1;
            state.pressedLine = -1;
        }
        if (state.dragging) {
            state.goalOffset = -1;
            setSelection(page, state.pressSpot, spot);
        }
        return click;
    }
    if (code == SELECTUP && state.dragging) {
        state.buttonHeld = false;
        state.dragging = false;
        state.pressSpot = TextSpot{};
        click.selected = !selectedText(page).empty();
        return click;
    }
    // A plain click puts the selection away.
    if (code == SELECTDOWN && inside && hasSelection()) setSelection(page, TextSpot{}, TextSpot{});
    if (page.linkCount == 0) {
        if (code == SELECTDOWN) state.buttonHeld = true;
        if (code == SELECTUP) state.buttonHeld = false;
        return click;
    }

    if (code == SELECTDOWN) state.buttonHeld = true;
    if (code == SELECTUP) {
        state.buttonHeld = false;
        state.pressSpot = TextSpot{};
        if (state.pressedRow != -1) {
            if (r != state.pressedRow || !onLink) {
                if (state.pressedLine >= 0 && state.pressedLine < page.lineCount)
                    highlightLink(page, state.pressedLine, state.pressedRow,
                                  penOf(lines[state.pressedLine].style));
            }
            state.pressedRow = -1;
            if (L >= 0 && L < page.lineCount && lines[L].style >= STYLE_UNSUPPORTED) state.pressedLine = -1;
            showNormalPointer();
            clearShownUrl();
        }
    }
    if (!inside) {
        showNormalPointer();
        clearShownUrl();
        return click;
    }
    int32_t style = onLink ? lines[L].style : STYLE_TEXT;
    if (code != SELECTDOWN && code != SELECTUP && code != SELECTDOUBLE) {
        if (state.buttonHeld) return click;
        if (onLink) {
            // The address is display text; the status line takes UTF-8.
            setStatus(displayToUtf8(lines[L].linkUrl).c_str());
            state.urlShown = true;
            if (style < STYLE_UNSUPPORTED) {
                if (!state.linkPointer) guiSetPointer(POINTER_LINK);
                state.linkPointer = true;
            } else {
                showNormalPointer();
            }
        } else {
            showNormalPointer();
            clearShownUrl();
        }
        return click;
    }
    if (!onLink || style >= STYLE_UNSUPPORTED || code == SELECTDOUBLE) return click;
    // Links this program fetches (styles up to the visited search) and web links.
    const bool gemini = style <= STYLE_SEARCH_VISITED;
    if (code == SELECTDOWN) {
        highlightLink(page, L, r, gemini ? elementPens[PEN_LINKDOWN] : elementPens[PEN_WEBDOWN]);
        state.pressedRow = r;
        state.pressedLine = L;
        return click;
    }
    // Select up on the pressed link's own line: follow it.
    if (L != state.pressedLine) return click;
    highlightLink(page, L, r, gemini ? elementPens[PEN_VISITED] : elementPens[PEN_WEBLINK]);
    state.pressedLine = -1;
    click.line = L;
    click.style = style;
    click.url.assign(lines[L].linkUrl, strnlen(lines[L].linkUrl, URL_MAX));
    return click;
}
