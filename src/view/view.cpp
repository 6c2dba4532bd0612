#include "view/view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/locale.h"
#include "browser/page.h"
#include "net/child.h"
#include "page/parser.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/shell.h"
#include "shell/window.h"
#include "store/history.h"

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

// The page's lines and counts as the view may read them.
const PageLine* pageLines(int32_t& count) {
    PageRecord* page = currentPage();
    if (!page || !page->lines) {
        count = 0;
        return nullptr;
    }
    count = page->lineCount;
    return page->lines;
}

void drawPageLine(const PageLine* lines, int32_t index, int32_t row) {
    const PageLine& line = lines[index];
    drawLine(line.text, row, line.style, penOf(line.style));
}

bool linkLine(const PageLine& line, int32_t sourceLine) {
    return line.linkUrl != nullptr && line.sourceLine == sourceLine;
}

void showNormalPointer() {
    if (state.linkPointer) {
        setNormalPointer();
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
    if (settings.usePropFont && propFontHandle) {
        int32_t prop = sampleWidth(propFontHandle);
        metrics.charWidth = std::max(metrics.charWidth, prop);
        metrics.lineHeight = std::max(metrics.lineHeight, guiFontHeight(propFontHandle));
    }
}

void computeTextWidth(int32_t windowWidth) {
    int32_t w = windowWidth -
                (frame.rightBorder + frame.scrollerWidth + frame.scrollerGap + frame.leftBorder + 2 * metrics.marginX);
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

void drawLine(const char* text, int32_t row, int32_t style, int32_t pen) {
    if (!text) return;
    guiText(metrics.textLeft, metrics.textTop + row * metrics.lineHeight, text, std::strlen(text), fontFor(style),
            pen);
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

void renderPage(const UrlRecord& address, PageText text) {
    PageRecord* page = currentPage();
    if (!text || !page) return;
    int32_t lineCount = 0, linkCount = 0;
    const PageLine* lines = parseNetBuf(address, metrics.columns, std::string_view(*text), &lineCount, &linkCount);
    page->lines = lines;
    page->lineCount = lines ? lineCount : 0;
    page->linkCount = lines ? linkCount : 0;
    page->address = address;
    page->source = text;

    setStatus(getString(73));
    redirectCount() = 0;
    updateUrlGad(address);

    state.topLine = 0;
    HistoryEntry* entry = currentEntry();
    bool sameEntry = entry && sameAddress(entry->url, address.url);
    if (sameEntry && entry->savedLine > 0) {
        for (int32_t i = 0; i < page->lineCount; ++i) {
            if (lines[i].sourceLine == entry->savedLine) {
                state.topLine = i;
                break;
            }
        }
    }
    if (state.topLine + metrics.rows > page->lineCount) state.topLine = std::max(0, page->lineCount - metrics.rows);

    state.markerRow = 0;
    clearTerm();
    int32_t shown = std::min(page->lineCount - state.topLine, metrics.rows);
    for (int32_t k = 0; k < shown; ++k) drawPageLine(lines, state.topLine + k, k);
    guiScrollerSet(state.topLine, metrics.rows, page->lineCount);

    cachePut(address.url, text);
    // A fetch still under way keeps the controls locked, so Stop stays available.
    if (!childFetchPending()) enableGuiAfterPageLoad();
    if (!sameEntry) addToHistory(address.url);
    setStatus("");
}

void scrollUp(int32_t n, bool updateScroller) {
    int32_t count = 0;
    const PageLine* lines = pageLines(count);
    if (!lines || count == 0) {
        setStatus("");
        return;
    }
    n = std::min(n, state.topLine);
    if (n < 0) n = 0;
    state.topLine -= n;
    if (HistoryEntry* entry = currentEntry()) entry->savedLine = lines[state.topLine].sourceLine;
    n = std::min(n, metrics.rows);
    clearMarker();
    if (n > 0) {
        guiScroll(-n * metrics.lineHeight, metrics.textLeft - 1, metrics.textTop,
                  metrics.textLeft + metrics.textWidth + metrics.marginX - 1,
                  metrics.textTop + metrics.textHeight - 1, background());
        for (int32_t k = n - 1; k >= 0; --k) drawPageLine(lines, state.topLine + k, k);
    }
    if (updateScroller) guiScrollerSet(state.topLine, metrics.rows, count);
    setStatus("");
}

void scrollDown(int32_t n, bool updateScroller) {
    int32_t count = 0;
    const PageLine* lines = pageLines(count);
    if (!lines || count <= metrics.rows) return;
    n = std::min(n, count - state.topLine - metrics.rows);
    if (n < 0) n = 0;
    state.topLine += n;
    if (HistoryEntry* entry = currentEntry()) entry->savedLine = lines[state.topLine].sourceLine;
    n = std::min(n, metrics.rows);
    if (n > 0) {
        clearMarker();
        guiScroll(n * metrics.lineHeight, metrics.textLeft - 1, metrics.textTop,
                  metrics.textLeft + metrics.textWidth + metrics.marginX - 1,
                  metrics.textTop + metrics.textHeight - 1, background());
        for (int32_t k = n - 1; k >= 0; --k) {
            int32_t row = metrics.rows - k - 1;
            drawPageLine(lines, state.topLine + row, row);
        }
    }
    if (updateScroller) {
        guiScrollerSet(state.topLine, metrics.rows, count);
        if (n > 1 && n < metrics.rows - 1) drawMarker(metrics.rows - n);
    }
    setStatus("");
}

void highlightLink(int32_t lineIndex, int32_t row, int32_t pen) {
    int32_t count = 0;
    const PageLine* lines = pageLines(count);
    if (!lines || lineIndex < 0 || lineIndex >= count) return;
    int32_t source = lines[lineIndex].sourceLine;
    auto redraw = [&](int32_t i, int32_t r) {
        clearRow(r);
        drawLine(lines[i].text, r, STYLE_LINK, pen);
    };
    for (int32_t i = lineIndex - 1, r = row - 1; i >= 0 && r >= 0 && linkLine(lines[i], source); --i, --r)
        redraw(i, r);
    if (row >= 0 && row < metrics.rows) redraw(lineIndex, row);
    for (int32_t i = lineIndex + 1, r = row + 1; r < metrics.rows && i < count && linkLine(lines[i], source);
         ++i, ++r)
        redraw(i, r);
}

void handleTextMouse(int32_t x, int32_t y, int32_t code) {
    PageRecord* page = currentPage();
    if (guiLocked() || !page || page->linkCount == 0 || !page->lines) return;
    const PageLine* lines = page->lines;
    // Positions above or left of the text area are on no line.
    int32_t dx = x - metrics.textLeft - 1, dy = y - metrics.textTop - 1;
    int32_t c = dx >= 0 ? dx / metrics.charWidth : -1;
    int32_t r = dy >= 0 ? dy / metrics.lineHeight : -1;
    int32_t L = r >= 0 ? state.topLine + r : -1;
    bool onLink = L >= 0 && L < page->lineCount && lines[L].linkUrl != nullptr && c > 0 &&
                  c < lines[L].linkTextLength;

    if (code == SELECTDOWN) state.buttonHeld = true;
    if (code == SELECTUP) {
        state.buttonHeld = false;
        if (state.pressedRow != -1) {
            state.releasedLine = state.pressedLine;
            state.releasedRow = state.pressedRow;
            std::memcpy(state.releasedPageUrl, page->address.url, sizeof state.releasedPageUrl);
            if (r != state.pressedRow || !onLink) {
                if (state.pressedLine >= 0 && state.pressedLine < page->lineCount)
                    highlightLink(state.pressedLine, state.pressedRow, penOf(lines[state.pressedLine].style));
            }
            state.pressedRow = -1;
            if (L >= 0 && L < page->lineCount && lines[L].style > 9) state.pressedLine = -1;
            showNormalPointer();
            clearShownUrl();
        }
    }
    bool inside = x >= metrics.textLeft && x <= metrics.textLeft + metrics.textWidth && y >= metrics.textTop &&
                  y <= metrics.textTop + metrics.textHeight;
    if (!inside) {
        showNormalPointer();
        clearShownUrl();
        return;
    }
    int32_t style = onLink ? lines[L].style : STYLE_TEXT;
    if (code != SELECTDOWN && code != SELECTUP) {
        if (state.buttonHeld) return;
        if (onLink) {
            setStatus(lines[L].linkUrl);
            state.urlShown = true;
            if (style < 10) {
                if (!state.linkPointer) setLinkPointer();
                state.linkPointer = true;
            } else {
                showNormalPointer();
            }
        } else {
            showNormalPointer();
            clearShownUrl();
        }
        return;
    }
    if (!onLink || style >= 10) return;
    int32_t visitedPen = style <= 5 ? elementPens[PEN_VISITED] : elementPens[PEN_WEBLINK];
    if (code == SELECTDOWN) {
        highlightLink(L, r, style <= 5 ? elementPens[PEN_LINKDOWN] : elementPens[PEN_WEBDOWN]);
        state.pressedRow = r;
        state.pressedLine = L;
        return;
    }
    // Select up on the pressed link's own line: follow it.
    if (L != state.pressedLine) return;
    highlightLink(L, r, visitedPen);
    state.pressedLine = -1;
    char url[URL_MAX + 1];
    std::snprintf(url, sizeof url, "%s", lines[L].linkUrl);
    followLink(style, url);
}

void resizeWindow() {
    guiFill(PEN_WINDOW_BACKGROUND, 0, 0, guiWindowWidth() - 1, guiWindowHeight() - 1);
    computeTextWidth(guiWindowWidth());
    computeTextHeight(guiWindowHeight());
    int32_t back = guiGadgetEnabled(GAD_BACK) ? 0 : 1;
    int32_t forward = guiGadgetEnabled(GAD_FORWARD) ? 0 : 1;
    bool wasLocked = guiLocked();
    bool stop = guiGadgetEnabled(GAD_STOP);
    int32_t savedBack = backDisabled, savedForward = forwardDisabled;
    backDisabled = back;
    forwardDisabled = forward;
    createGadgets();
    backDisabled = savedBack;
    forwardDisabled = savedForward;
    if (wasLocked) {
        for (int id : {GAD_RELOAD, GAD_HOME, GAD_BOOK}) guiGadgetEnable(id, false);
        guiGadgetEnable(GAD_STOP, stop);
    }
    PageRecord* page = currentPage();
    if (page) {
        updateUrlGad(page->address);
        if (page->source) {
            UrlRecord address = page->address;
            renderPage(address, page->source);
        }
    }
}

void redrawPage() {
    PageRecord* page = currentPage();
    if (page && page->source) {
        UrlRecord address = page->address;
        renderPage(address, page->source);
    }
}
