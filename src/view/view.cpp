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

void drawPageLine(const PageModel& page, int32_t index, int32_t row) {
    const PageLine& line = page.lines[static_cast<size_t>(index)];
    drawLine(line.text, row, line.style, penOf(line.style), page.unicode);
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
}

void drawPage(const PageModel& page, int32_t topLine) {
    if (topLine + metrics.rows > page.lineCount) topLine = page.lineCount - metrics.rows;
    state.topLine = std::max(0, topLine);
    state.markerRow = 0;
    clearTerm();
    int32_t shown = std::min(page.lineCount - state.topLine, metrics.rows);
    for (int32_t k = 0; k < shown; ++k)
        drawPageLine(page, state.topLine + k, k);
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
    if (guiLocked() || page.linkCount == 0 || page.lineCount == 0) return click;
    const PageLine* lines = page.lines.data();
    // Positions above or left of the text area are on no line.
    int32_t dx = x - metrics.textLeft - 1, dy = y - metrics.textTop - 1;
    int32_t c = dx >= 0 ? dx / metrics.charWidth : -1;
    int32_t r = dy >= 0 ? dy / metrics.lineHeight : -1;
    int32_t L = r >= 0 ? state.topLine + r : -1;
    bool onLink =
        L >= 0 && L < page.lineCount && lines[L].linkUrl != nullptr && c > 0 && c < lines[L].linkTextLength;

    if (code == SELECTDOWN) state.buttonHeld = true;
    if (code == SELECTUP) {
        state.buttonHeld = false;
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
    bool inside = x >= metrics.textLeft && x <= metrics.textLeft + metrics.textWidth &&
                  y >= metrics.textTop && y <= metrics.textTop + metrics.textHeight;
    if (!inside) {
        showNormalPointer();
        clearShownUrl();
        return click;
    }
    int32_t style = onLink ? lines[L].style : STYLE_TEXT;
    if (code != SELECTDOWN && code != SELECTUP) {
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
    if (!onLink || style >= STYLE_UNSUPPORTED) return click;
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
