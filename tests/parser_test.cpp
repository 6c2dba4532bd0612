// The page parser: every document kind, the wrap rules, the link lines and the
// status line, on documents as servers send them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/locale.h"
#include "page/parser.h"
#include "shell/shell.h"
#include "store/visited.h"

namespace {

// One expected display line; a link line's linkTextLength must be its text's length.
struct Line {
    std::string text;
    int style;
    int source;
    const char* url;  // null for lines that are not links
};

UrlRecord record(const char* url) {
    UrlRecord r;
    EXPECT_EQ(parseUrl(url, r), 1) << url;
    return r;
}

// Checks what must hold for every page, whatever the input.
void checkInvariants(const PageModel& page, int columns) {
    ASSERT_EQ(page.lineCount, static_cast<int32_t>(page.lines.size()));
    int32_t links = 0;
    int32_t lastSource = 0;
    const size_t widest = static_cast<size_t>(columns > 0 ? columns : 1) + 4;
    for (const PageLine& line : page.lines) {
        ASSERT_NE(line.text, nullptr);
        const size_t length = std::strlen(line.text);
        EXPECT_EQ(std::strchr(line.text, '\n'), nullptr);
        EXPECT_EQ(std::strchr(line.text, '\r'), nullptr);
        EXPECT_LE(length, widest) << line.text;
        EXPECT_GE(line.style, 0);
        EXPECT_LT(line.style, STYLE_COUNT);
        EXPECT_GE(line.sourceLine, lastSource);
        lastSource = line.sourceLine;
        if (line.linkUrl != nullptr) {
            ++links;
            EXPECT_EQ(line.linkTextLength, static_cast<int32_t>(length));
            EXPECT_LE(std::strlen(line.linkUrl), static_cast<size_t>(URL_MAX));
        } else {
            EXPECT_EQ(line.linkTextLength, 0);
        }
    }
    EXPECT_EQ(page.linkCount, links);
}

void expectLines(const PageModel& page, const std::vector<Line>& expected, const std::string& what) {
    ASSERT_EQ(page.lines.size(), expected.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) {
        const PageLine& got = page.lines[i];
        const Line& want = expected[i];
        SCOPED_TRACE(what + ", display line " + std::to_string(i) + ": \"" + want.text + "\"");
        EXPECT_STREQ(got.text, want.text.c_str());
        EXPECT_EQ(got.style, want.style) << lineStyleName(got.style);
        EXPECT_EQ(got.sourceLine, want.source);
        if (want.url == nullptr) {
            EXPECT_EQ(got.linkUrl, nullptr);
            EXPECT_EQ(got.linkTextLength, 0);
        } else {
            ASSERT_NE(got.linkUrl, nullptr);
            EXPECT_STREQ(got.linkUrl, want.url);
            EXPECT_EQ(got.linkTextLength, static_cast<int32_t>(want.text.size()));
        }
    }
}

class PageParser : public testing::Test {
  protected:
    void SetUp() override {
        visitedClear();
        headlessReset();
    }
    void TearDown() override {
        visitedClear();
        headlessReset();
        freePageLines();
    }

    // Parses doc for url at columns, checks the page's invariants and the counts.
    const PageModel& parse(const char* url, int columns, std::string_view doc) {
        const UrlRecord r = record(url);
        int32_t lineCount = -1;
        int32_t linkCount = -1;
        const PageLine* first = parseNetBuf(page, r, columns, doc, &lineCount, &linkCount);
        EXPECT_EQ(lineCount, page.lineCount);
        EXPECT_EQ(linkCount, page.linkCount);
        EXPECT_EQ(first, page.lines.empty() ? nullptr : page.lines.data());
        checkInvariants(page, columns);
        return page;
    }

    PageModel page;
};

// ---- gemtext ----

constexpr std::string_view GEMTEXT =
    "20 text/gemini; lang=en\r\n"
    "# Heading one\r\n"
    "\r\n"
    "Plain paragraph text that is long enough to wrap at twenty.\r\n"
    "=> /about.gmi About this capsule\n"
    "=> gemini://other.example/ \n"
    "=: /search Search the capsule\n"
    "* first item of a list that wraps\n"
    ">> quoted words, quite a few of them\n"
    "> \n"
    "```ascii art\n"
    "  preformatted  line that is longer than twenty columns\n"
    "\n"
    "```\n"
    "## Sub-heading\n"
    "=>https://www.example.com/\tWeb site\n"
    "=> mailto:me@example.org\n"
    "=> ftp://files.example/ FTP\n"
    "=> BOOK:ADD Add bookmark\n"
    "=> unknown:thing\n"
    "=> ../up/page2.gmi Relative\n"
    "=>\n";

constexpr const char* ABOUT = "gemini://example.org/about.gmi";
constexpr const char* OTHER = "gemini://other.example/";
constexpr const char* SEARCH = "gemini://example.org/search";
constexpr const char* WEB = "https://www.example.com/";
constexpr const char* MAIL = "mailto:me@example.org";
constexpr const char* FTP = "ftp://files.example/";
constexpr const char* UP = "gemini://example.org/up/page2.gmi";

// The lines from the sub-heading on, as they look at 40 and 80 columns.
const std::vector<Line> GEMTEXT_TAIL = {
    {"## Sub-heading", STYLE_HEADING, 13, nullptr},
    {" => Web site", STYLE_WEB, 14, WEB},
    {" => mailto:me@example.org", STYLE_MAILTO, 15, MAIL},
    {" => FTP", STYLE_FTP, 16, FTP},
    {" => Add bookmark", STYLE_BOOK, 17, "BOOK:ADD"},
    {" => unknown:thing", STYLE_UNSUPPORTED, 18, "unknown:thing"},
    {" => Relative", STYLE_LINK, 19, UP},
    {" => ", STYLE_UNSUPPORTED, 20, ""},
};

std::vector<Line> joined(std::vector<Line> head, const std::vector<Line>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(PageParser, GemtextEveryLineKindAtThreeWidths) {
    const struct {
        int columns;
        int links;
        std::vector<Line> lines;
    } cases[] = {
        {20,
         14,
         {
             {"# Heading one", STYLE_HEADING, 0, nullptr},
             {"", STYLE_TEXT, 1, nullptr},
             {"Plain paragraph", STYLE_TEXT, 2, nullptr},
             {"text that is long", STYLE_TEXT, 2, nullptr},
             {"enough to wrap at", STYLE_TEXT, 2, nullptr},
             {"twenty.", STYLE_TEXT, 2, nullptr},
             {" => About this", STYLE_LINK, 3, ABOUT},
             {"    capsule", STYLE_LINK, 3, ABOUT},
             {" => gemini://other.", STYLE_LINK, 4, OTHER},
             {"    example/", STYLE_LINK, 4, OTHER},
             {" =: Search the", STYLE_PROMPT, 5, SEARCH},
             {"    capsule", STYLE_PROMPT, 5, SEARCH},
             {" \xB7 first item of a", STYLE_TEXT, 6, nullptr},
             {"   list that wraps", STYLE_TEXT, 6, nullptr},
             {" > quoted words,", STYLE_TEXT, 7, nullptr},
             {" > quite a few", STYLE_TEXT, 7, nullptr},
             {" > of them", STYLE_TEXT, 7, nullptr},
             {" >", STYLE_TEXT, 8, nullptr},
             {"  preformatted  line", STYLE_PREFORMAT, 10, nullptr},
             {"", STYLE_TEXT, 11, nullptr},
             {"## Sub-heading", STYLE_HEADING, 13, nullptr},
             {" => Web site", STYLE_WEB, 14, WEB},
             {" => mailto:", STYLE_MAILTO, 15, MAIL},
             {"    me@example.org", STYLE_MAILTO, 15, MAIL},
             {" => FTP", STYLE_FTP, 16, FTP},
             {" => Add bookmark", STYLE_BOOK, 17, "BOOK:ADD"},
             {" => unknown:thing", STYLE_UNSUPPORTED, 18, "unknown:thing"},
             {" => Relative", STYLE_LINK, 19, UP},
             {" => ", STYLE_UNSUPPORTED, 20, ""},
         }},
        {40, 10,
         joined(
             {
                 {"# Heading one", STYLE_HEADING, 0, nullptr},
                 {"", STYLE_TEXT, 1, nullptr},
                 {"Plain paragraph text that is long", STYLE_TEXT, 2, nullptr},
                 {"enough to wrap at twenty.", STYLE_TEXT, 2, nullptr},
                 {" => About this capsule", STYLE_LINK, 3, ABOUT},
                 {" => gemini://other.example/", STYLE_LINK, 4, OTHER},
                 {" =: Search the capsule", STYLE_PROMPT, 5, SEARCH},
                 {" \xB7 first item of a list that wraps", STYLE_TEXT, 6, nullptr},
                 {" > quoted words, quite a few of them", STYLE_TEXT, 7, nullptr},
                 {" >", STYLE_TEXT, 8, nullptr},
                 {"  preformatted  line that is longer than", STYLE_PREFORMAT, 10, nullptr},
                 {"", STYLE_TEXT, 11, nullptr},
             },
             GEMTEXT_TAIL)},
        {80, 10,
         joined(
             {
                 {"# Heading one", STYLE_HEADING, 0, nullptr},
                 {"", STYLE_TEXT, 1, nullptr},
                 {"Plain paragraph text that is long enough to wrap at twenty.", STYLE_TEXT, 2, nullptr},
                 {" => About this capsule", STYLE_LINK, 3, ABOUT},
                 {" => gemini://other.example/", STYLE_LINK, 4, OTHER},
                 {" =: Search the capsule", STYLE_PROMPT, 5, SEARCH},
                 {" \xB7 first item of a list that wraps", STYLE_TEXT, 6, nullptr},
                 {" > quoted words, quite a few of them", STYLE_TEXT, 7, nullptr},
                 {" >", STYLE_TEXT, 8, nullptr},
                 {"  preformatted  line that is longer than twenty columns", STYLE_PREFORMAT, 10, nullptr},
                 {"", STYLE_TEXT, 11, nullptr},
             },
             GEMTEXT_TAIL)},
    };
    for (const auto& c : cases) {
        const PageModel& p = parse("gemini://example.org/dir/index.gmi", c.columns, GEMTEXT);
        expectLines(p, c.lines, std::to_string(c.columns) + " columns");
        EXPECT_EQ(p.linkCount, c.links);
    }
}

TEST_F(PageParser, HeaderDecidesGemtext) {
    const struct {
        const char* url;
        const char* doc;
        int firstStyle;  // of "# x"
    } cases[] = {
        {"gemini://h/", "20 text/gemini\r\n# x\n", STYLE_HEADING},
        {"gemini://h/", "20 text/gemini;charset=utf-8\r\n# x\n", STYLE_HEADING},
        {"spartan://h/", "2 text/gemini\r\n# x\n", STYLE_HEADING},
        {"HOME", "20 text/gemini\r\n# x\n", STYLE_HEADING},
        {"gemini://h/", "20 text/plain\r\n# x\n", STYLE_TEXT},
        {"spartan://h/", "2 text/plain\r\n# x\n", STYLE_TEXT},
        {"gemini://h/", "20 gemini\r\n# x\n", STYLE_TEXT},
        // The header's "gemini" must lie in the header line itself.
        {"gemini://h/", "20 text/\ngemini\n# x\n", STYLE_TEXT},
    };
    for (const auto& c : cases) {
        const PageModel& p = parse(c.url, 80, c.doc);
        ASSERT_GE(p.lines.size(), 1u) << c.doc;
        const PageLine& last = p.lines.back();
        EXPECT_STREQ(last.text, "# x") << c.doc;
        EXPECT_EQ(last.style, c.firstStyle) << c.doc;
    }
}

// ---- Gopher ----

constexpr std::string_view GOPHER_MENU =
    "iWelcome to the hole\t\terror.host\t1\r\n"
    "i\t\terror.host\t1\r\n"
    "1Phlog archive\t/phlog\tgopher.example.org\t70\r\n"
    "0About me\t/about.txt\tgopher.example.org\t70\r\n"
    "7Search Veronica\t/v2/vs\tsearch.example.net\t7070\r\n"
    "hHome page\tURL:https://www.example.com/\tgopher.example.org\t70\r\n"
    "hBroken\tURL\tgopher.example.org\t70\r\n"
    "3Not found\t\terror.host\t1\r\n"
    "+Mirror\t/\tmirror.example\t70\r\n"
    "9Archive with spaces\t/files/my file.zip\tgopher.example.org\t70\t+\r\n"
    "IPicture\t/p.png\tgopher.example.org\r\n"
    "Two\ttabs only\there\r\n"
    "Five\ta\tb\tc\td\te\r\n"
    "1\t/empty\tgopher.example.org\t70\r\n"
    ".\r\n";

TEST_F(PageParser, GopherMenuEveryItemType) {
    const PageModel& p = parse("gopher://gopher.example.org/1/", 20, GOPHER_MENU);
    expectLines(
        p,
        {
            {"Welcome to the hole", STYLE_TEXT, 0, nullptr},
            {"", STYLE_TEXT, 1, nullptr},
            {"Phlog archive", STYLE_LINK, 2, "gopher://gopher.example.org/1/phlog"},
            {"About me", STYLE_LINK, 3, "gopher://gopher.example.org/0/about.txt"},
            {"Search Veronica", STYLE_SEARCH, 4, "gopher://search.example.net:7070/7/v2/vs"},
            {"Home page", STYLE_WEB, 5, "https://www.example.com/"},
            {"Broken", STYLE_WEB, 6, ""},
            {"Not found", STYLE_TEXT, 7, nullptr},
            {"Mirror", STYLE_UNSUPPORTED, 8, "gopher://mirror.example/+/"},
            {"Archive with spaces", STYLE_LINK, 9, "gopher://gopher.example.org/9/files/my%20file.zip"},
            // Two tabs: shown raw, tabs kept, wrapped like text.
            {"IPicture\t/p.", STYLE_TEXT, 10, nullptr},
            {"png\tgopher.example.", STYLE_TEXT, 10, nullptr},
            {"org", STYLE_TEXT, 10, nullptr},
            {"Two\ttabs only\there", STYLE_TEXT, 11, nullptr},
            {"Five\ta\tb\tc\td\te", STYLE_TEXT, 12, nullptr},
            // An item without a display string and the "." line show nothing.
        },
        "gopher menu");
    EXPECT_EQ(p.linkCount, 7);
}

TEST_F(PageParser, GopherEndLineAndItemLimits) {
    const std::string longSelector = "URL:" + std::string(URL_MAX, 'u');
    const std::string tooLong = "URL:" + std::string(URL_MAX + 1, 'u');
    const struct {
        const char* url;
        std::string doc;
        std::vector<Line> lines;
    } cases[] = {
        // A text file loses its "." line; a menu search result too.
        {"gopher://g.example/0/a.txt", "one\r\n.\r\n", {{"one", STYLE_TEXT, 0, nullptr}}},
        {"gopher://g.example/7/find", "iResults\t\th\t1\r\n.\r\n", {{"Results", STYLE_TEXT, 0, nullptr}}},
        // Other Gopher types, and other schemes, keep a "." line.
        {"gopher://g.example/9/a.bin",
         "one\n.\n",
         {{"one", STYLE_TEXT, 0, nullptr}, {".", STYLE_TEXT, 1, nullptr}}},
        {"finger://g.example/u",
         "one\n.\n",
         {{"one", STYLE_TEXT, 0, nullptr}, {".", STYLE_TEXT, 1, nullptr}}},
        // Only the last "." line goes.
        {"gopher://g.example/0/a.txt",
         ".\nx\n.\n",
         {{".", STYLE_TEXT, 0, nullptr}, {"x", STYLE_TEXT, 1, nullptr}}},
        // An 'h' selector: 328 characters after the prefix fit, 329 give an empty URL, as does
        // a selector shorter than the prefix.
        {"gopher://g.example/1/",
         "hFits\t" + longSelector + "\th\t70\n",
         {{"Fits", STYLE_WEB, 0, longSelector.c_str() + 4}}},
        {"gopher://g.example/1/", "hToo long\t" + tooLong + "\th\t70\n", {{"Too long", STYLE_WEB, 0, ""}}},
        {"gopher://g.example/1/", "hShort\tURL\th\t70\n", {{"Short", STYLE_WEB, 0, ""}}},
        // The port stops at a fifth field; a missing port is 0; a 4-tab line is an item.
        {"gopher://g.example/1/",
         "1Port\t/x\th.example\t7070\tignored\n",
         {{"Port", STYLE_LINK, 0, "gopher://h.example:7070/1/x"}}},
        // A type-'i' line with the wrong number of tabs is raw text, type character included.
        {"gopher://g.example/1/", "iNo fields\n", {{"iNo fields", STYLE_TEXT, 0, nullptr}}},
    };
    for (const auto& c : cases) {
        const PageModel& p = parse(c.url, 80, c.doc);
        expectLines(p, c.lines, std::string(c.url) + " " + c.doc.substr(0, 20));
    }
}

TEST_F(PageParser, GopherVisitedItems) {
    ASSERT_TRUE(visitedAdd("gopher://g.example/1/seen"));
    ASSERT_TRUE(visitedAdd("gopher://g.example/7/find"));
    const PageModel& p = parse("gopher://g.example/1/", 80,
                               "1Seen\t/seen\tg.example\t70\r\n"
                               "1Fresh\t/fresh\tg.example\t70\r\n"
                               "7Find\t/find\tg.example\t70\r\n");
    expectLines(p,
                {
                    {"Seen", STYLE_VISITED, 0, "gopher://g.example/1/seen"},
                    {"Fresh", STYLE_LINK, 1, "gopher://g.example/1/fresh"},
                    {"Find", STYLE_SEARCH_VISITED, 2, "gopher://g.example/7/find"},
                },
                "visited");
}

// ---- Nex and plain text ----

TEST_F(PageParser, NexListing) {
    const PageModel& p = parse("nex://nex.example.org/users/me/", 20,
                               "Welcome to my nex space\n"
                               "\n"
                               "=> notes/ My notes, a directory of many things\n"
                               "=> ../about.txt\n"
                               "=> nex://other.example/\n"
                               "=: query\n"
                               "# not a heading here\n"
                               "* nor a list item\n"
                               "```\n"
                               "> nor a quote\n");
    const char* notes = "nex://nex.example.org/users/me/notes/";
    expectLines(p,
                {
                    {"Welcome to my nex", STYLE_TEXT, 0, nullptr},
                    {"space", STYLE_TEXT, 0, nullptr},
                    {"", STYLE_TEXT, 1, nullptr},
                    // No indent and no continuation indent for Nex links.
                    {"=> My notes, a", STYLE_LINK, 2, notes},
                    {"directory of many", STYLE_LINK, 2, notes},
                    {"things", STYLE_LINK, 2, notes},
                    {"=> ../about.txt", STYLE_LINK, 3, "nex://nex.example.org/users/about.txt"},
                    {"=> nex://other.", STYLE_LINK, 4, "nex://other.example/"},
                    {"example/", STYLE_LINK, 4, "nex://other.example/"},
                    {"=: query", STYLE_PROMPT, 5, "nex://nex.example.org/users/me/query"},
                    {"# not a heading here", STYLE_TEXT, 6, nullptr},
                    {"* nor a list item", STYLE_TEXT, 7, nullptr},
                    {"```", STYLE_TEXT, 8, nullptr},
                    {"> nor a quote", STYLE_TEXT, 9, nullptr},
                },
                "nex");
    EXPECT_EQ(p.linkCount, 7);
}

TEST_F(PageParser, PlainTextWithTabs) {
    const PageModel& p = parse("finger://host.example/user", 20,
                               "Name\tValue\tNote\r\n"
                               "\tindented by a tab\r\n"
                               "```\r\n"
                               "plain text with a rather long line that wraps somewhere\r\n"
                               "=> not a link\r\n");
    expectLines(p,
                {
                    {"Name    Value   Note", STYLE_TEXT, 0, nullptr},
                    {"        indented by", STYLE_TEXT, 1, nullptr},
                    {"a tab", STYLE_TEXT, 1, nullptr},
                    {"```", STYLE_TEXT, 2, nullptr},
                    {"plain text with a", STYLE_TEXT, 3, nullptr},
                    {"rather long line", STYLE_TEXT, 3, nullptr},
                    {"that wraps somewhere", STYLE_TEXT, 3, nullptr},
                    {"=> not a link", STYLE_TEXT, 4, nullptr},
                },
                "plain");
    EXPECT_EQ(p.linkCount, 0);
}

// ---- edge cases ----

TEST_F(PageParser, EdgeCases) {
    const char* page1 = "gemini://h.example/page";
    const struct {
        const char* name;
        const char* url;
        int columns;
        std::string doc;
        std::vector<Line> lines;
    } cases[] = {
        {"header only", page1, 80, "20 text/gemini\r\n", {{"", STYLE_TEXT, 0, nullptr}}},
        {"no line break at all", page1, 80, "20 text/gemini", {{"", STYLE_TEXT, 0, nullptr}}},
        {"empty plain document", "finger://h.example/", 80, "", {{"", STYLE_TEXT, 0, nullptr}}},
        {"unterminated last line",
         "finger://h.example/",
         80,
         "a\nb",
         {{"a", STYLE_TEXT, 0, nullptr}, {"b", STYLE_TEXT, 1, nullptr}}},
        {"preformatted line is cut, not wrapped",
         page1,
         10,
         "20 text/gemini\r\n```\nabc def ghi jkl\n```\nafter\n",
         {{"abc def gh", STYLE_PREFORMAT, 1, nullptr}, {"after", STYLE_TEXT, 3, nullptr}}},
        {"unterminated block runs to the end",
         page1,
         80,
         "20 text/gemini\r\n```\n# kept\n=> /x link\n",
         {{"# kept", STYLE_PREFORMAT, 1, nullptr}, {"=> /x link", STYLE_PREFORMAT, 2, nullptr}}},
        {"text after the backquotes is ignored",
         page1,
         80,
         "20 text/gemini\r\n````python\n#x\n``` end\n#x\n",
         {{"#x", STYLE_PREFORMAT, 1, nullptr}, {"#x", STYLE_HEADING, 3, nullptr}}},
        {"link over three display lines",
         page1,
         12,
         "20 text/gemini\r\n=> /x one two three four\n",
         {{" => one two", STYLE_LINK, 0, "gemini://h.example/x"},
          {"    three", STYLE_LINK, 0, "gemini://h.example/x"},
          {"    four", STYLE_LINK, 0, "gemini://h.example/x"}}},
        {"link text is everything up to a space or control byte",
         page1,
         80,
         "20 text/gemini\r\n=>  \t/caf\xC3\xA9 \t Caf\xC3\xA9  \n",
         {{" => Caf\xE9  ", STYLE_LINK, 0, "gemini://h.example/caf%c3%a9"}}},
        {"a link to the page itself counts as visited",
         page1,
         80,
         "20 text/gemini\r\n=> /page Here\n",
         {{" => Here", STYLE_VISITED, 0, page1}}},
        {"a label broken at its last fitting space",
         page1,
         20,
         "20 text/gemini\r\n=> /x A rather long label\n",
         {{" => A rather long", STYLE_LINK, 0, "gemini://h.example/x"},
          {"    label", STYLE_LINK, 0, "gemini://h.example/x"}}},
        {"hard cut at exactly the width",
         "finger://h.example/",
         10,
         "abcdefghijklmnopqrstuvwxy\n",
         {{"abcdefghij", STYLE_TEXT, 0, nullptr},
          {"klmnopqrst", STYLE_TEXT, 0, nullptr},
          {"uvwxy", STYLE_TEXT, 0, nullptr}}},
        {"a space before half the width does not count",
         "finger://h.example/",
         10,
         "abc defghijklmno\n",
         {{"abc defghi", STYLE_TEXT, 0, nullptr}, {"jklmno", STYLE_TEXT, 0, nullptr}}},
        {"a space exactly at half the width counts",
         "finger://h.example/",
         10,
         "abcde fghijklmno\n",
         {{"abcde", STYLE_TEXT, 0, nullptr}, {"fghijklmno", STYLE_TEXT, 0, nullptr}}},
        {"a space at the width itself does not count",
         "finger://h.example/",
         10,
         "abcdefghij klmno\n",
         {{"abcdefghij", STYLE_TEXT, 0, nullptr}, {" klmno", STYLE_TEXT, 0, nullptr}}},
        {"the break character stays on the line, the rightmost wins",
         "finger://h.example/",
         10,
         "abcde-fg?hijkl\n",
         {{"abcde-fg?", STYLE_TEXT, 0, nullptr}, {"hijkl", STYLE_TEXT, 0, nullptr}}},
        {"a space wins over a later break character",
         "finger://h.example/",
         10,
         "abcde fg;hijkl\n",
         {{"abcde", STYLE_TEXT, 0, nullptr}, {"fg;hijkl", STYLE_TEXT, 0, nullptr}}},
        {"every break character",
         "finger://h.example/",
         4,
         "ab,cd-ef.gh+ij!kl&mn:op;qr#st?uv\n",
         {{"ab,", STYLE_TEXT, 0, nullptr},
          {"cd-", STYLE_TEXT, 0, nullptr},
          {"ef.", STYLE_TEXT, 0, nullptr},
          {"gh+", STYLE_TEXT, 0, nullptr},
          {"ij!", STYLE_TEXT, 0, nullptr},
          {"kl&", STYLE_TEXT, 0, nullptr},
          {"mn:", STYLE_TEXT, 0, nullptr},
          {"op;", STYLE_TEXT, 0, nullptr},
          {"qr#", STYLE_TEXT, 0, nullptr},
          {"st?", STYLE_TEXT, 0, nullptr},
          {"uv", STYLE_TEXT, 0, nullptr}}},
        {"only one space is consumed",
         "finger://h.example/",
         6,
         "abcd   efgh\n",
         {{"abcd ", STYLE_TEXT, 0, nullptr}, {" efgh", STYLE_TEXT, 0, nullptr}}},
        {"quote of markers and spaces only",
         page1,
         80,
         "20 text/gemini\r\n> > >  \n>\n",
         {{" >", STYLE_TEXT, 0, nullptr}, {" >", STYLE_TEXT, 1, nullptr}}},
        {"list item needs no space",
         page1,
         80,
         "20 text/gemini\r\n*bold*\n",
         {{" \xB7"
           "bold*",
           STYLE_TEXT, 0, nullptr}}},
        {"empty lines count as source lines inside a block",
         page1,
         80,
         "20 text/gemini\r\n```\n\n```\nx\n",
         {{"", STYLE_TEXT, 1, nullptr}, {"x", STYLE_TEXT, 3, nullptr}}},
        {"Spartan links",
         "spartan://s.example/a/b",
         80,
         "2 text/gemini\r\n=> c Sibling\n",
         {{" => Sibling", STYLE_LINK, 0, "spartan://s.example/a/c"}}},
    };
    for (const auto& c : cases) {
        const PageModel& p = parse(c.url, c.columns, c.doc);
        expectLines(p, c.lines, c.name);
    }
}

TEST_F(PageParser, ListPagesMakeEveryLinkVisited) {
    const std::string doc =
        "20 text/gemini\r\n# History\n\n=> gemini://a.example/\n\n=> spartan://b.example/ B\n";
    for (const char* url : {"HISTORY", "BOOKVIEW", "BOOKMAN"}) {
        const PageModel& p = parse(url, 80, doc);
        ASSERT_EQ(p.linkCount, 2) << url;
        for (const PageLine& line : p.lines) {
            if (line.linkUrl != nullptr) {
                EXPECT_EQ(line.style, STYLE_VISITED) << url << " " << line.text;
            }
        }
    }
    const PageModel& home = parse("HOME", 80, doc);
    ASSERT_NE(home.lines[2].linkUrl, nullptr);
    EXPECT_EQ(home.lines[2].style, STYLE_LINK);
}

TEST_F(PageParser, ZeroLinesGiveNull) {
    const UrlRecord r = record("gemini://h.example/");
    int32_t lines = -1;
    int32_t links = -1;
    EXPECT_EQ(parseNetBuf(page, r, 80, "20 text/gemini\r\n```\n", &lines, &links), nullptr);
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(links, 0);
    for (const ShellCall& call : headlessCalls())
        EXPECT_EQ(call.what, ShellCall::STATUS);
}

// ---- the status line ----

TEST_F(PageParser, ProgressShowsTensOnly) {
    const std::string prefix = std::string(getString(80)) + " ";
    const struct {
        std::string doc;  // plain text (finger)
        std::vector<std::string> percents;
    } cases[] = {
        {"", {}},  // one line break: never more than 0%
        {"ab", {"30", "60"}},
        {std::string(999, 'x'), {"10", "20", "30", "40", "50", "60", "70", "80", "90"}},
        {std::string(300, 'y') + "\n" + std::string(699, 'z'),
         {"10", "20", "30", "40", "50", "60", "70", "80", "90"}},
        {"abcd", {"20", "40", "60", "80"}},
    };
    for (const auto& c : cases) {
        headlessReset();
        parse("finger://h.example/", 40, c.doc);
        std::vector<std::string> shown;
        for (const ShellCall& call : headlessCalls()) {
            ASSERT_EQ(call.what, ShellCall::STATUS);
            ASSERT_EQ(call.body.substr(0, prefix.size()), prefix);
            ASSERT_EQ(call.body.back(), '%');
            shown.push_back(call.body.substr(prefix.size(), call.body.size() - prefix.size() - 1));
        }
        EXPECT_EQ(shown, c.percents) << c.doc.size();
    }
}

// ---- hostile input ----

TEST_F(PageParser, HostileInputTerminates) {
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    const std::string longLine(100000, 'w');
    std::string longWords;
    while (longWords.size() < 100000)
        longWords += "word, ";
    const std::vector<std::string> docs = {
        binary,
        "20 text/gemini\r\n" + binary,
        "20 text/gemini\r\n" + longLine,
        "20 text/gemini\r\n=> /" + longLine + " " + longWords + "\n",
        "20 text/gemini\r\n> " + longWords + "\n* " + longWords + "\n=> " + longWords + "\n",
        "20 text/gemini\r\n```\n" + longLine + "\n",
        longWords,
    };
    const char* urls[] = {"gemini://h.example/", "finger://h.example/", "nex://h.example/",
                          "gopher://h.example/1/"};
    for (const std::string& doc : docs) {
        for (const char* url : urls) {
            for (int columns : {-5, 0, 1, 2, 3, 6, 7, 80}) {
                SCOPED_TRACE(std::string(url) + " columns " + std::to_string(columns));
                const PageModel& p = parse(url, columns, doc);
                EXPECT_GE(p.lineCount, 1);
            }
        }
    }
}

TEST_F(PageParser, NarrowViewsStillWrapEveryKind) {
    const std::string doc = "20 text/gemini\r\n> quoted text\n* listed text\n=> /x link label\n=: /y\nword\n";
    for (int columns = -2; columns <= 7; ++columns) {
        const PageModel& p = parse("gemini://h.example/", columns, doc);
        // Every character of the quote's words is shown: pieces hold at least one character
        // unless a space was consumed.
        std::string quote;
        for (const PageLine& line : p.lines) {
            if (line.sourceLine == 0) {
                ASSERT_EQ(std::string_view(line.text).substr(0, 3), " > ") << columns;
                quote += std::string_view(line.text).substr(3);
            }
        }
        EXPECT_EQ(quote, "quotedtext") << columns;
    }
    // At one column (and below) every width is 1.
    for (int columns : {-1, 0, 1}) {
        const PageModel& p = parse("finger://h.example/", columns, "abc\n");
        expectLines(
            p, {{"a", STYLE_TEXT, 0, nullptr}, {"b", STYLE_TEXT, 0, nullptr}, {"c", STYLE_TEXT, 0, nullptr}},
            "columns " + std::to_string(columns));
    }
}

TEST_F(PageParser, NulBytesShowAsMiddleDots) {
    const std::string doc("a\0b\n=> x\0y\n", 11);
    const PageModel& p = parse("finger://h.example/", 80, doc);
    expectLines(p,
                {{"a\xB7"
                  "b",
                  STYLE_TEXT, 0, nullptr},
                 {"=> x\xB7y", STYLE_TEXT, 1, nullptr}},
                "nul");
}

TEST_F(PageParser, ReparsingAtAnotherWidthKeepsSourceLines) {
    const std::string doc =
        "20 text/gemini\r\nfirst paragraph with a handful of words\n\nsecond paragraph, also with words\n";
    const auto withoutSpaces = [](std::string_view text) {
        std::string out;
        for (char c : text) {
            if (c != ' ') out.push_back(c);
        }
        return out;
    };
    for (int columns : {8, 15, 30, 200}) {
        const PageModel& p = parse("gemini://h.example/", columns, doc);
        std::vector<std::string> sources(3);
        for (const PageLine& line : p.lines) {
            ASSERT_LT(line.sourceLine, 3);
            sources[static_cast<size_t>(line.sourceLine)] += withoutSpaces(line.text);
        }
        EXPECT_EQ(sources[0], withoutSpaces("first paragraph with a handful of words")) << columns;
        EXPECT_EQ(sources[1], "") << columns;
        EXPECT_EQ(sources[2], withoutSpaces("second paragraph, also with words")) << columns;
    }
}

TEST_F(PageParser, ParsingAgainWritesOverTheOldPage) {
    // Pages far larger and far smaller than one storage block, in turn, into one model.
    const std::string wide(300000, 'w');
    const struct {
        int columns;
        std::string doc;
        std::string first;
        std::string last;
        int32_t lines;
    } steps[] = {
        {400000, wide + "\nend\n", wide, "end", 2},
        {80, "short\n", "short", "short", 1},
        {1000, wide, std::string(1000, 'w'), std::string(1000, 'w'), 300},
        {400000, "x\n" + wide + "y\n", "x", wide + "y", 2},
        {3, "abcdefg\n", "abc", "g", 3},
    };
    for (const auto& step : steps) {
        const PageModel& p = parse("finger://h.example/", step.columns, step.doc);
        ASSERT_EQ(p.lineCount, step.lines) << step.columns;
        EXPECT_EQ(p.lines.front().text, step.first) << step.columns;
        EXPECT_EQ(p.lines.back().text, step.last) << step.columns;
    }
}

TEST_F(PageParser, PageOnShowAndItsEntryPoints) {
    const UrlRecord r = record("gemini://h.example/");
    const char* doc = "20 text/gemini\r\n# Title\n=> /a A\n";
    int32_t lines = 0;
    int32_t links = 0;
    const PageLine* first = parseNetBuf(r, 80, doc, &lines, &links);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, currentPageModel().lines.data());
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(links, 1);
    EXPECT_STREQ(first[1].text, " => A");

    // The counted form reads exactly its bytes; the C string form stops at the NUL.
    const std::string withNul = std::string(doc) + std::string("\0# Hidden\n", 10);
    parseNetBuf(r, 80, withNul.c_str(), &lines, &links);
    EXPECT_EQ(lines, 2);
    parseNetBuf(r, 80, std::string_view(withNul), &lines, &links);
    EXPECT_EQ(lines, 3);

    // A moved page keeps its pointers.
    PageModel moved = std::move(page);
    parse("gemini://h.example/", 80, doc);
    const char* text = page.lines[0].text;
    moved = std::move(page);
    EXPECT_EQ(moved.lines[0].text, text);
    EXPECT_STREQ(moved.lines[0].text, "# Title");

    freePageLines();
    EXPECT_EQ(currentPageModel().lineCount, 0);
    EXPECT_TRUE(currentPageModel().lines.empty());
}

TEST_F(PageParser, AddLineCopiesTheText) {
    char text[] = "hello there";
    ASSERT_TRUE(addLine(page, text, 5, STYLE_HEADING, 7));
    text[0] = 'j';
    ASSERT_TRUE(addLine(page, nullptr, 3, STYLE_TEXT, 8));
    expectLines(page, {{"hello", STYLE_HEADING, 7, nullptr}, {"", STYLE_TEXT, 8, nullptr}}, "addLine");
    EXPECT_EQ(page.lineCount, 2);
}

TEST_F(PageParser, OutOfMemoryTranslatingIsReported) {
    // A document too long for a 32-bit length cannot be transliterated; nothing of it is read.
    const char small[] = "x";
    const std::string_view huge(small, (size_t{1} << 31) + 1);
    const UrlRecord r = record("finger://h.example/");
    int32_t lines = -1;
    int32_t links = -1;
    EXPECT_EQ(parseNetBuf(page, r, 80, huge, &lines, &links), nullptr);
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(links, 0);
    bool reported = false;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what == ShellCall::REQUESTER && call.body == getString(126)) reported = true;
    }
    EXPECT_TRUE(reported);
}

}  // namespace
