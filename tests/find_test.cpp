// Finding text in a page and taking text out of it, in both display modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page/find.h"
#include "page/parser.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

PageModel parsed(const std::string& body, bool unicode, int columns = 80) {
    UrlRecord record;
    parseUrl("gemini://example.org/", record);
    PageModel page;
    ParseOptions options;
    options.unicode = unicode;
    parseNetBuf(page, record, columns, "20 text/gemini\r\n" + body, options);
    return page;
}

std::vector<std::string> found(const PageModel& page, const std::string& needle) {
    std::vector<std::string> out;
    for (const FindMatch& m : findInPage(page, needle))
        out.push_back(std::to_string(m.line) + ":" +
                      std::string(page.lines[m.line].text + m.start, static_cast<size_t>(m.end - m.start)));
    return out;
}

TEST(FindInPage, IgnoresCaseInBothModes) {
    const std::string
        body =
            "Needle and NEEDLE and needle\n"
            "Stra\xC3\x9F"
            "e \xC3\x84RGER \xC3\xA4rger\n"  // Straße ÄRGER ärger
            "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 "
            "\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7\n"  // Καλημέρα καλη
            "=> /x a link to a NEEDLE\n";
    const struct {
        bool unicode;
        const char* needle;
        std::vector<std::string> matches;
    } rows[] = {
        {false, "needle", {"0:Needle", "0:NEEDLE", "0:needle", "3:NEEDLE"}},
        {true, "needle", {"0:Needle", "0:NEEDLE", "0:needle", "3:NEEDLE"}},
        // Letters beyond ASCII fold too: typed as UTF-8, found in either display.
        {false, "\xC3\xA4rger", {"1:\xC4RGER", "1:\xE4rger"}},
        {true, "\xC3\xA4rger", {"1:\xC3\x84RGER", "1:\xC3\xA4rger"}},
        {true,
         "\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7",
         {"2:\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7", "2:\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7"}},
        {true, "", {}},
        {true, "not there", {}},
        // A match never runs over a line's end; overlapping places count once.
        {true, "and needle", {"0:and NEEDLE", "0:and needle"}},
        {false, "ee", {"0:ee", "0:EE", "0:ee", "3:EE"}},
    };
    for (const auto& row : rows) {
        const PageModel page = parsed(body, row.unicode);
        EXPECT_EQ(found(page, row.needle), row.matches)
            << row.needle << (row.unicode ? " unicode" : " latin1");
    }
    EXPECT_EQ(findInPage(parsed(body, true), "e", 2).size(), 2u) << "the limit holds";
}

TEST(FindInPage, WrappedLinesAreSearchedOneByOne) {
    // Wrapped at 20 columns: "one two three four" / "five needle".
    const PageModel page = parsed("one two three four five needle six\n", true, 20);
    ASSERT_GE(page.lineCount, 2);
    EXPECT_EQ(found(page, "needle"), (std::vector<std::string>{"1:needle"}));
    EXPECT_TRUE(found(page, "four five").empty());
}

TEST(PageText, BetweenTwoSpotsAndTheWordAtOne) {
    const std::string body =
        "alpha beta gamma\n\xC3\xA9t\xC3\xA9 d\xE2\x80\x99hiver caf\xC3\xA9\n=> /l link\n";
    const PageModel latin = parsed(body, false);
    const PageModel unicode = parsed(body, true);
    const struct {
        const PageModel* page;
        TextSpot a, b;
        std::string text;
    } rows[] = {
        {&latin, {0, 6}, {0, 10}, "beta"},
        {&latin, {0, 10}, {0, 6}, "beta"},                      // either order
        {&latin, {0, 11}, {1, 3}, "gamma\n\xC3\xA9t\xC3\xA9"},  // display text comes out as UTF-8
        {&unicode, {0, 11}, {1, 5}, "gamma\n\xC3\xA9t\xC3\xA9"},
        {&unicode, {0, 0}, {0, 0}, ""},
        {&unicode, {1, 0}, {2, 99}, "\xC3\xA9t\xC3\xA9 d\xE2\x80\x99hiver caf\xC3\xA9\n => link"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(textBetween(*row.page, row.a, row.b), row.text);

    const struct {
        const PageModel* page;
        TextSpot spot;
        std::string word;
    } words[] = {
        {&latin, {0, 7}, "beta"},
        {&latin, {0, 16}, "gamma"},  // at the line's end: the word before
        {&latin, {0, 5}, " "},       // a space alone
        {&latin, {1, 1}, "\xE9t\xE9"},
        {&unicode, {1, 2}, "\xC3\xA9t\xC3\xA9"},
        {&unicode, {1, 19}, "caf\xC3\xA9"},
    };
    for (const auto& row : words) {
        const FindMatch w = wordAt(*row.page, row.spot);
        EXPECT_EQ(std::string(row.page->lines[w.line].text + w.start, static_cast<size_t>(w.end - w.start)),
                  row.word)
            << row.spot.line << ":" << row.spot.offset;
    }
}

}  // namespace
