// The text view on an offscreen window: what lands on the raster, how much a scroll
// draws, the continuation marker, link feedback under the pointer, and re-layout.
#include <gtest/gtest.h>

#include <string>

#include "browser/load.h"
#include "page/linestyle.h"
#include "page/parser.h"
#include "platform/desktop.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "store/history.h"
#include "support/window_fixture.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

// A gemtext page of count lines: a link every tenth line, text otherwise.
PageText gemtext(int count, int width = 20) {
    std::string doc = "20 text/gemini\r\n";
    for (int i = 0; i < count; ++i) {
        if (i % 10 == 5) {
            doc += "=> spartan://127.0.0.1:1/l" + std::to_string(i) + " link " + std::to_string(i) + "\n";
        } else {
            doc += "line " + std::to_string(i) + " " + std::string(static_cast<size_t>(width), 'x') + "\n";
        }
    }
    return std::make_shared<const std::string>(doc);
}

void show(PageText text, const char* url = "gemini://example.org/page") {
    UrlRecord address;
    ASSERT_EQ(parseUrl(url, address), 1);
    showPage(address, std::move(text));
}

// The page on show's display lines.
const PageModel& shown() {
    return currentPage()->model;
}

// A digest of the text area's pixels.
uint64_t textAreaDigest() {
    const ViewMetrics& m = viewMetrics();
    uint64_t h = 1469598103934665603ull;
    for (int y = m.textTop; y < m.textTop + m.textHeight; ++y)
        for (int x = m.textLeft; x < m.textLeft + m.textWidth; ++x)
            h = (h ^ guiPixel(x, y)) * 1099511628211ull;
    return h;
}

// How many pixels of a row have the colour.
int pixelsInRow(int row, uint32_t rgb) {
    const ViewMetrics& m = viewMetrics();
    int n = 0;
    for (int y = m.textTop + row * m.lineHeight; y < m.textTop + (row + 1) * m.lineHeight; ++y)
        for (int x = m.textLeft; x < m.textLeft + m.textWidth; ++x)
            n += guiPixel(x, y) == rgb;
    return n;
}

// The window position of column c of row r.
int columnX(int c) {
    return viewMetrics().textLeft + 1 + c * viewMetrics().charWidth + 1;
}
int rowY(int r) {
    return viewMetrics().textTop + 1 + r * viewMetrics().lineHeight + 1;
}

}  // namespace

class ViewTest : public WindowTest {};

TEST_F(ViewTest, PageIsDrawnInTheThemesPens) {
    struct Row {
        int theme;
        uint32_t background, text, link;
    };
    for (Row row : {Row{THEME_DEFAULT, 0x000000, 0xBBBBBB, 0x6688BB},
                    Row{THEME_MORKBLA, 0x111166, 0xCCCCFF, 0xCCCCFF}}) {
        settings.theme = row.theme;
        restartWindow();
        show(gemtext(40));
        EXPECT_EQ(guiPixel(viewMetrics().textLeft + viewMetrics().textWidth - 2, viewMetrics().textTop + 2),
                  row.background);
        EXPECT_GT(pixelsInRow(0, row.text), 10) << "text row in the Text pen";
        EXPECT_GT(pixelsInRow(5, row.link), 10) << "link row in the Gemlink pen";
    }
    // An unsupported link shows in Badlink: 0xF22 with "morkbla".
    show(std::make_shared<const std::string>("20 text/gemini\r\n=> ftp://x/y ftp link\n"));
    EXPECT_GT(pixelsInRow(0, 0xFF2222), 2);
}

TEST_F(ViewTest, ScrollDrawsOnlyNewRowsAndMatchesAFullRedraw) {
    show(gemtext(200));
    const int rows = viewMetrics().rows;
    struct Step {
        bool down;
        int n;
        long texts;  // rows drawn (and the marker)
        int marker;
    };
    const Step steps[] = {
        {true, 1, 1, 0},  {true, 5, 5 + 1, rows - 5}, {true, rows - 1, rows - 1, 0},
        {false, 3, 3, 0}, {false, 1000, rows, 0},     {false, 1, 0, 0},
    };
    for (const Step& step : steps) {
        guiResetRasterCounts();
        // Through the page on show, which keeps the position that a full redraw uses.
        if (step.down) {
            scrollPageDown(step.n, true);
        } else {
            scrollPageUp(step.n, true);
        }
        RasterCounts counts = guiRasterCounts();
        EXPECT_EQ(counts.texts, step.texts) << step.down << " " << step.n;
        EXPECT_EQ(viewState().markerRow, step.marker) << step.n;
        uint64_t scrolled = textAreaDigest();
        redrawPage();
        EXPECT_EQ(textAreaDigest(), scrolled) << "scroll by " << step.n << " differs from a full redraw";
    }
}

TEST_F(ViewTest, MarkerOnlyWhenAPageDownIsCutShort) {
    const int rows = viewMetrics().rows;
    // A page 5 lines longer than the view: a page-down stops after 5 lines.
    show(gemtext(rows + 5));
    scrollDown(shown(), rows - 1, true);
    EXPECT_EQ(viewState().topLine, 5);
    EXPECT_EQ(viewState().markerRow, rows - 5);
    scrollUp(shown(), 1, true);
    EXPECT_EQ(viewState().markerRow, 0) << "any scroll clears it";
    // A drag of the scroller never shows one.
    scrollDown(shown(), 3, false);
    EXPECT_EQ(viewState().markerRow, 0);

    // A page shorter than the view does not scroll and leaves the status alone.
    show(gemtext(3));
    setStatus("unchanged");
    guiResetRasterCounts();
    EXPECT_FALSE(scrollDown(shown(), 5, true));
    EXPECT_EQ(guiRasterCounts().texts + guiRasterCounts().scrolls, 0);
    EXPECT_EQ(currentStatus(), "unchanged");
    scrollUp(shown(), 1, true);
    EXPECT_EQ(currentStatus(), "");
}

TEST_F(ViewTest, ReadingPositionComesBackByItsSourceLine) {
    // Long lines wrap, so display lines and source lines differ.
    show(gemtext(300, 150));
    scrollPageDown(101, true);
    int32_t source = shown().lines[viewState().topLine].sourceLine;
    ASSERT_EQ(currentEntry()->savedLine, source);

    guiResizeWindow(guiWindowWidth() - 200, guiWindowHeight() - 40);
    ASSERT_TRUE(runUntil([] { return viewMetrics().columns < 80; }));
    int top = viewState().topLine;
    EXPECT_EQ(shown().lines[top].sourceLine, source);
    EXPECT_TRUE(top == 0 || shown().lines[top - 1].sourceLine != source) << "the first display line";

    // Clamped to the last full screen when the saved line is near the end.
    currentEntry()->savedLine = 299;
    redrawPage();
    EXPECT_EQ(viewState().topLine + viewMetrics().rows, shown().lineCount);
}

TEST_F(ViewTest, HoverPressAndRelease) {
    show(std::make_shared<const std::string>(
        "20 text/gemini\r\ntext\n=> http://127.0.0.1:1/web a web link\nmore\n"));
    const uint32_t webdown = guiPenColour(elementPens[PEN_WEBDOWN]);
    auto mouse = [](int x, int y, int code) { return handleTextMouse(shown(), x, y, code); };

    mouse(columnX(0), rowY(1), 0);
    EXPECT_EQ(currentStatus(), "") << "column 0 is never on the link";
    mouse(columnX(3), rowY(1), 0);
    EXPECT_EQ(currentStatus(), "http://127.0.0.1:1/web");
    EXPECT_EQ(guiPointer(), POINTER_LINK);
    mouse(columnX(3), rowY(0), 0);
    EXPECT_EQ(guiPointer(), POINTER_NORMAL);
    EXPECT_EQ(currentStatus(), "");
    mouse(-5, -5, 0);  // above and left of the text: on no line

    // Press, release on another row: drawn back in its own pen, not followed.
    EXPECT_EQ(mouse(columnX(3), rowY(1), SELECTDOWN).line, -1);
    EXPECT_GT(pixelsInRow(1, webdown), 2);
    EXPECT_EQ(mouse(columnX(3), rowY(2), SELECTUP).line, -1);
    EXPECT_EQ(pixelsInRow(1, webdown), 0);

    // Press and release on the link: the link to follow.
    mouse(columnX(3), rowY(1), SELECTDOWN);
    LinkClick click = mouse(columnX(4), rowY(1), SELECTUP);
    EXPECT_EQ(click.line, 1);
    EXPECT_EQ(click.style, STYLE_WEB);
    EXPECT_EQ(click.url, "http://127.0.0.1:1/web");
    // A release with no press before it follows nothing.
    EXPECT_EQ(mouse(columnX(4), rowY(1), SELECTUP).line, -1);
}

TEST_F(ViewTest, AddressesShowInTheDisplayCharacterSet) {
    // "°" stays a Latin-1 byte in a link's address; the status line and the URL field
    // show it as the character, not as a broken UTF-8 sequence.
    settings.unicodeText = 0;
    show(std::make_shared<const std::string>("20 text/gemini\r\n=> /deg\xC2\xB0 a link\n"),
         "gemini://example.org/\xB0");
    EXPECT_EQ(guiGadgetText(GAD_URL), "gemini://example.org/\xC2\xB0");
    handleTextMouse(shown(), columnX(3), rowY(0), 0);
    EXPECT_EQ(currentStatus(), "gemini://example.org/deg\xC2\xB0");
}

TEST_F(ViewTest, UnicodeTextIsDrawnWithRealGlyphsInItsCells) {
    const ViewMetrics& m = viewMetrics();
    const uint32_t paper = guiPenColour(elementPens[PEN_BACKGROUND]);
    // Pixels of ink (anything but the background) in a rectangle of the text area.
    auto ink = [&](int x0, int x1, int row) {
        int n = 0;
        for (int y = m.textTop + row * m.lineHeight; y < m.textTop + (row + 1) * m.lineHeight; ++y)
            for (int x = x0; x < x1; ++x)
                n += guiPixel(x, y) != paper;
        return n;
    };
    // Cyrillic: letters in Unicode, middle dots in ISO-8859-1.
    const auto cyrillic = std::make_shared<const std::string>(
        "20 "
        "text/gemini\r\n\xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB9\n");
    settings.unicodeText = 1;
    show(cyrillic);
    const int letters = ink(m.textLeft, m.textLeft + m.textWidth, 0);
    settings.unicodeText = 0;
    show(cyrillic);
    const int dots = ink(m.textLeft, m.textLeft + m.textWidth, 0);
    EXPECT_GT(letters, 3 * dots) << letters << " pixels against " << dots;

    // A wide character takes two cells: the bars of both rows stand in the same columns.
    settings.unicodeText = 1;
    show(std::make_shared<const std::string>(
        "20 text/gemini\r\n```\n|\xE4\xBD\xA0\xE5\xA5\xBD|ab|\n|ab|\xE4\xBD\xA0\xE5\xA5\xBD|\n```\n"));
    auto barAt = [&](int row, int column) {
        const int x = columnLeft(column);
        return ink(x, columnLeft(column + 1), row) > m.lineHeight / 3;
    };
    for (auto [row, column] : {std::pair{0, 0}, {0, 5}, {0, 8}, {1, 0}, {1, 3}, {1, 8}})
        EXPECT_TRUE(barAt(row, column)) << row << ", " << column;
    EXPECT_FALSE(barAt(0, 9)) << "nothing past the last bar";
}

TEST_F(ViewTest, ExtremeFontsAndWindowSizesDoNotBreak) {
    for (int height : {1, 200}) {
        settings.fixedFont.height = static_cast<uint16_t>(height);
        restartWindow();
        show(gemtext(50, 300));
        EXPECT_GE(viewMetrics().columns, 1);
        EXPECT_GE(viewMetrics().rows, 1);
        scrollDown(shown(), 3, true);
        handleTextMouse(shown(), columnX(2), rowY(0), 0);
    }
    settings.fixedFont = settings.systemFont;
    restartWindow();
    show(gemtext(50));
    // A window one pixel small (the desktop window has a minimum size, so the
    // metrics are computed for it directly).
    computeTextWidth(1);
    computeTextHeight(1);
    EXPECT_EQ(viewMetrics().columns, 1);
    EXPECT_EQ(viewMetrics().rows, 1);
    redrawPage();
    scrollDown(shown(), 2, true);
    handleTextMouse(shown(), 3, 3, SELECTDOWN);
    show(std::make_shared<const std::string>("20 text/gemini\r\n"));  // no lines at all
    scrollDown(shown(), 1, true);
    scrollUp(shown(), 1, true);
}

TEST_F(ViewTest, ProportionalTextNarrowsTheColumns) {
    int fixedColumns = viewMetrics().textWidth / viewMetrics().charWidth;
    EXPECT_EQ(viewMetrics().columns, fixedColumns);
    settings.usePropFont = 1;
    computeFontMetrics();
    relayoutWindow();
    EXPECT_EQ(viewMetrics().columns, viewMetrics().textWidth / viewMetrics().charWidth - 4);
    settings.usePropFont = 0;
}
