// The page parser: every document kind, the wrap rules, the link lines and the
// status line, on documents as servers send them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <set>

#include "page/parser.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

// A display line as "source STYLE|text", a link with "|url" appended:
// "3 LINK| => About this|gemini://example.org/about.gmi".
std::string describe(const PageLine& line) {
    const char* style = lineStyleName(line.style);
    std::string out = std::to_string(line.sourceLine) + " " + (style ? style + 6 : "?") + "|" + line.text;
    if (line.linkUrl != nullptr) out += std::string("|") + line.linkUrl;
    return out;
}

std::vector<std::string> describe(const PageModel& page) {
    std::vector<std::string> out;
    for (const PageLine& line : page.lines)
        out.push_back(describe(line));
    return out;
}

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
        EXPECT_EQ(std::strpbrk(line.text, "\r\n"), nullptr);
        EXPECT_LE(length, widest) << line.text;
        EXPECT_NE(lineStyleName(line.style), nullptr) << line.style;
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

class PageParser : public testing::Test {
  protected:
    void SetUp() override { headlessReset(); }
    void TearDown() override { headlessReset(); }

    // Parses doc for url at columns, checks the page's invariants.
    const PageModel& parse(const char* url, int columns, std::string_view doc) {
        const PageLine* first = parseNetBuf(page, record(url), columns, doc, isVisited);
        EXPECT_EQ(first, page.lines.empty() ? nullptr : page.lines.data());
        checkInvariants(page, columns);
        for (const ShellCall& call : headlessCalls())
            EXPECT_NE(call.what, ShellCall::REQUESTER) << call.body;
        return page;
    }

    PageModel page;
    std::set<std::string> visited;
    const VisitedCheck isVisited = [this](std::string_view url) {
        return visited.count(std::string(url)) > 0;
    };
};

constexpr const char* INDEX = "gemini://example.org/dir/index.gmi";

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

TEST_F(PageParser, GemtextEveryLineKind) {
    const std::vector<std::string> narrow = {
        "0 HEADING|# Heading one",
        "1 TEXT|",
        "2 TEXT|Plain paragraph",
        "2 TEXT|text that is long",
        "2 TEXT|enough to wrap at",
        "2 TEXT|twenty.",
        "3 LINK| => About this|gemini://example.org/about.gmi",
        "3 LINK|    capsule|gemini://example.org/about.gmi",
        "4 LINK| => gemini://other.|gemini://other.example/",
        "4 LINK|    example/|gemini://other.example/",
        "5 PROMPT| =: Search the|gemini://example.org/search",
        "5 PROMPT|    capsule|gemini://example.org/search",
        "6 TEXT| \xB7 first item of a",
        "6 TEXT|   list that wraps",
        "7 TEXT| > quoted words,",
        "7 TEXT| > quite a few",
        "7 TEXT| > of them",
        "8 TEXT| >",
        "10 PREFORMAT|  preformatted  line",
        "11 TEXT|",
        "13 HEADING|## Sub-heading",
        "14 WEB| => Web site|https://www.example.com/",
        "15 MAILTO| => mailto:|mailto:me@example.org",
        "15 MAILTO|    me@example.org|mailto:me@example.org",
        "16 FTP| => FTP|ftp://files.example/",
        "17 BOOK| => Add bookmark|BOOK:ADD",
        "18 UNSUPPORTED| => unknown:thing|unknown:thing",
        "19 LINK| => Relative|gemini://example.org/up/page2.gmi",
        "20 UNSUPPORTED| => |",
    };
    EXPECT_EQ(describe(parse(INDEX, 20, GEMTEXT)), narrow);
    EXPECT_EQ(page.linkCount, 14);

    // Wide enough, nothing wraps and the preformatted line is whole.
    const PageModel& wide = parse(INDEX, 80, GEMTEXT);
    ASSERT_EQ(wide.lineCount, 19);
    EXPECT_EQ(wide.linkCount, 10);
    EXPECT_STREQ(wide.lines[2].text, "Plain paragraph text that is long enough to wrap at twenty.");
    EXPECT_STREQ(wide.lines[7].text, " > quoted words, quite a few of them");
    EXPECT_STREQ(wide.lines[9].text, "  preformatted  line that is longer than twenty columns");
    EXPECT_STREQ(wide.lines[13].text, " => mailto:me@example.org");
}

TEST_F(PageParser, GopherMenuEveryItemType) {
    visited.insert("gopher://gopher.example.org/1/phlog");
    visited.insert("gopher://search.example.net:7070/7/seen");
    const PageModel& p = parse("gopher://gopher.example.org/1/", 20,
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
                               "7Seen search\t/seen\tsearch.example.net\t7070\r\n"
                               "1\t/empty\tgopher.example.org\t70\r\n"
                               ".\r\n");
    const std::vector<std::string> expected = {
        "0 TEXT|Welcome to the hole", "1 TEXT|",
        "2 VISITED|Phlog archive|gopher://gopher.example.org/1/phlog",
        "3 LINK|About me|gopher://gopher.example.org/0/about.txt",
        "4 SEARCH|Search Veronica|gopher://search.example.net:7070/7/v2/vs",
        "5 WEB|Home page|https://www.example.com/", "6 WEB|Broken|", "7 TEXT|Not found",
        "8 UNSUPPORTED|Mirror|gopher://mirror.example/+/",
        "9 LINK|Archive with spaces|gopher://gopher.example.org/9/files/my%20file.zip",
        // Two tabs: shown raw, tabs kept, wrapped like text.
        "10 TEXT|IPicture\t/p.", "10 TEXT|png\tgopher.example.", "10 TEXT|org",
        "11 TEXT|Two\ttabs only\there", "12 TEXT|Five\ta\tb\tc\td\te",
        "13 SEARCH_VISITED|Seen search|gopher://search.example.net:7070/7/seen",
        // An item without a display string and the "." line show nothing.
    };
    EXPECT_EQ(describe(p), expected);
}

TEST_F(PageParser, NexAndPlainTextAtTwentyColumns) {
    const struct {
        const char* url;
        const char* doc;
        std::vector<std::string> lines;
    } cases[] = {
        {"nex://nex.example.org/users/me/",
         "Welcome to my nex space\n"
         "=> notes/ My notes, a directory of many things\n"
         "=> ../about.txt\n"
         "=: query\n"
         "# not a heading here\n"
         "* nor a list item\n"
         "```\n"
         "> nor a quote\n",
         {
             "0 TEXT|Welcome to my nex",
             "0 TEXT|space",
             // No indent and no continuation indent for Nex links.
             "1 LINK|=> My notes, a|nex://nex.example.org/users/me/notes/",
             "1 LINK|directory of many|nex://nex.example.org/users/me/notes/",
             "1 LINK|things|nex://nex.example.org/users/me/notes/",
             "2 LINK|=> ../about.txt|nex://nex.example.org/users/about.txt",
             "3 PROMPT|=: query|nex://nex.example.org/users/me/query",
             "4 TEXT|# not a heading here",
             "5 TEXT|* nor a list item",
             "6 TEXT|```",
             "7 TEXT|> nor a quote",
         }},
        {"finger://host.example/user",
         "Name\tValue\tNote\r\n"
         "\tindented by a tab\r\n"
         "```\r\n"
         "plain text with a rather long line that wraps somewhere\r\n"
         "=> not a link\r\n",
         {"0 TEXT|Name    Value   Note", "1 TEXT|        indented by", "1 TEXT|a tab", "2 TEXT|```",
          "3 TEXT|plain text with a", "3 TEXT|rather long line", "3 TEXT|that wraps somewhere",
          "4 TEXT|=> not a link"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(parse(c.url, 20, c.doc)), c.lines) << c.url;
}

TEST_F(PageParser, EdgeCases) {
    const char* gem = "gemini://h/page";
    const char* finger = "finger://h/";
    const char* menu = "gopher://g/1/";
    const std::string G = "20 text/gemini\r\n";
    const std::string longSelector = "URL:" + std::string(URL_MAX, 'u');
    const std::string tooLong = "URL:" + std::string(URL_MAX + 1, 'u');
    const struct {
        const char* url;
        std::string doc;
        std::vector<std::string> lines;
        int columns = 80;
    } cases[] = {
        // The header decides on gemtext; its "gemini" must lie in the header line itself.
        {gem, "20 text/gemini;charset=utf-8\r\n# x\n", {"0 HEADING|# x"}},
        {"spartan://h/", "2 text/gemini\r\n# x\n", {"0 HEADING|# x"}},
        {"HOME", G + "# x\n", {"0 HEADING|# x"}},
        {gem, "20 text/plain\r\n# x\n", {"0 TEXT|# x"}},
        {"spartan://h/", "2 text/plain\r\n# x\n", {"0 TEXT|# x"}},
        {gem, "20 gemini\r\n# x\n", {"0 TEXT|# x"}},
        {gem, "20 text/\ngemini\n# x\n", {"0 TEXT|gemini", "1 TEXT|# x"}},
        // Documents without lines; an empty block shows nothing at all.
        {gem, G, {"0 TEXT|"}},
        {gem, "20 text/gemini", {"0 TEXT|"}},
        {finger, "", {"0 TEXT|"}},
        {finger, "a\nb", {"0 TEXT|a", "1 TEXT|b"}},
        {gem, G + "```\n", {}},
        // Preformatted blocks: cut, not wrapped; unterminated to the end; text after the
        // backquotes ignored; empty lines still count as source lines.
        {gem, G + "```\nabc def ghi jkl\n```\nafter\n", {"1 PREFORMAT|abc def gh", "3 TEXT|after"}, 10},
        {gem, G + "```\n# kept\n=> /x link\n", {"1 PREFORMAT|# kept", "2 PREFORMAT|=> /x link"}},
        {gem, G + "````python\n#x\n``` end\n#x\n", {"1 PREFORMAT|#x", "3 HEADING|#x"}},
        {gem, G + "```\n\n```\nx\n", {"1 TEXT|", "3 TEXT|x"}},
        // Links: continuation lines, text up to a space or control byte, UTF-8 transliterated
        // in the text and escaped in the URL, the page itself counts as visited.
        {gem,
         G + "=> /x one two three four\n",
         {"0 LINK| => one two|gemini://h/x", "0 LINK|    three|gemini://h/x", "0 LINK|    four|gemini://h/x"},
         12},
        {gem, G + "=>  \t/caf\xC3\xA9 \t Caf\xC3\xA9  \n", {"0 LINK| => Caf\xE9  |gemini://h/caf%c3%a9"}},
        {gem, G + "=> /page Here\n", {"0 VISITED| => Here|gemini://h/page"}},
        {"spartan://s/a/b", "2 text/gemini\r\n=> c Sibling\n", {"0 LINK| => Sibling|spartan://s/a/c"}},
        // Quotes of markers only; list items need no space; NUL bytes show as middle dots.
        {gem, G + "> > >  \n>\n", {"0 TEXT| >", "1 TEXT| >"}},
        {gem, G + "*note*\n", {"0 TEXT| \xB7note*"}},
        {finger, std::string("a\0z\n=> x\0y\n", 11), {"0 TEXT|a\xB7z", "1 TEXT|=> x\xB7y"}},
        // Wrapping: a hard cut at the width; a space counts from half the width up to one
        // before it and wins over a later break character; a break character stays on the
        // line and the rightmost wins; one space is consumed; below one column it is one.
        {finger, "abcdefghijklmnopqrstuv\n", {"0 TEXT|abcdefghij", "0 TEXT|klmnopqrst", "0 TEXT|uv"}, 10},
        {finger, "abc defghijklmno\n", {"0 TEXT|abc defghi", "0 TEXT|jklmno"}, 10},
        {finger, "abcde fghijklmno\n", {"0 TEXT|abcde", "0 TEXT|fghijklmno"}, 10},
        {finger, "abcdefghij klmno\n", {"0 TEXT|abcdefghij", "0 TEXT| klmno"}, 10},
        {finger, "abcde fg;hijkl\n", {"0 TEXT|abcde", "0 TEXT|fg;hijkl"}, 10},
        {finger, "abcde-fg?hijkl\n", {"0 TEXT|abcde-fg?", "0 TEXT|hijkl"}, 10},
        {finger,
         "ab,cd-ef.gh+ij!kl&mn:op;qr#st?uv\n",
         {"0 TEXT|ab,", "0 TEXT|cd-", "0 TEXT|ef.", "0 TEXT|gh+", "0 TEXT|ij!", "0 TEXT|kl&",
          "0 TEXT|mn:", "0 TEXT|op;", "0 TEXT|qr#", "0 TEXT|st?", "0 TEXT|uv"},
         4},
        {finger, "abcd   efgh\n", {"0 TEXT|abcd ", "0 TEXT| efgh"}, 6},
        {finger, "abc\n", {"0 TEXT|a", "0 TEXT|b", "0 TEXT|c"}, 1},
        {finger, "abc\n", {"0 TEXT|a", "0 TEXT|b", "0 TEXT|c"}, 0},
        // Gopher: a text file and a search result lose their "." line, other types and
        // schemes keep it, and only the last one goes.
        {"gopher://g/0/a.txt", "one\r\n.\r\n", {"0 TEXT|one"}},
        {"gopher://g/7/find", "iResults\t\th\t1\r\n.\r\n", {"0 TEXT|Results"}},
        {"gopher://g/9/a.bin", "one\n.\n", {"0 TEXT|one", "1 TEXT|."}},
        {finger, "one\n.\n", {"0 TEXT|one", "1 TEXT|."}},
        {"gopher://g/0/a.txt", ".\nx\n.\n", {"0 TEXT|.", "1 TEXT|x"}},
        // An 'h' selector: 328 characters after the prefix fit, 329 give an empty URL, as does
        // a selector shorter than the prefix.
        {menu, "hFits\t" + longSelector + "\th\t70\n", {"0 WEB|Fits|" + longSelector.substr(4)}},
        {menu, "hToo long\t" + tooLong + "\th\t70\n", {"0 WEB|Too long|"}},
        {menu, "hShort\tURL\th\t70\n", {"0 WEB|Short|"}},
        // The port stops at a fifth field; a type-'i' line with the wrong number of tabs is
        // raw text, type character included.
        {menu, "1Port\t/x\th.example\t7070\tignored\n", {"0 LINK|Port|gopher://h.example:7070/1/x"}},
        {menu, "iNo fields\n", {"0 TEXT|iNo fields"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(parse(c.url, c.columns, c.doc)), c.lines)
            << c.url << " " << c.columns << " " << c.doc.substr(0, 40);
    }
}

TEST_F(PageParser, WrappingLosesNoCharacters) {
    const std::string doc =
        "20 text/gemini\r\n> quoted text\n* listed text\n=> /x link label\n=: /y\nword\n"
        "first paragraph with a handful of words\n\nsecond paragraph, also with words\n";
    const auto withoutSpaces = [](std::string text) {
        std::erase(text, ' ');
        return text;
    };
    for (int columns : {-2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 15, 30, 200}) {
        const PageModel& p = parse("gemini://h.example/", columns, doc);
        // No character is lost, whatever the width; each quote piece has its marker.
        std::vector<std::string> sources(8);
        for (const PageLine& line : p.lines) {
            ASSERT_LT(line.sourceLine, 8);
            std::string_view text = line.text;
            if (line.sourceLine == 0) {
                ASSERT_EQ(text.substr(0, 3), " > ") << columns;
                text.remove_prefix(3);
            }
            sources[static_cast<size_t>(line.sourceLine)] += withoutSpaces(std::string(text));
        }
        EXPECT_EQ(sources[0], "quotedtext") << columns;
        EXPECT_EQ(sources[5], withoutSpaces("first paragraph with a handful of words")) << columns;
        EXPECT_EQ(sources[6], "") << columns;
        EXPECT_EQ(sources[7], withoutSpaces("second paragraph, also with words")) << columns;
    }
}

TEST_F(PageParser, ListPagesMakeEveryLinkVisited) {
    const std::string doc =
        "20 text/gemini\r\n# History\n\n=> gemini://a.example/\n\n=> spartan://b.example/ B\n";
    for (const char* url : {"HISTORY", "BOOKVIEW", "BOOKMAN", "HOME"}) {
        const int style = std::string_view(url) == "HOME" ? STYLE_LINK : STYLE_VISITED;
        const PageModel& p = parse(url, 80, doc);
        EXPECT_EQ(p.linkCount, 2) << url;
        for (const PageLine& line : p.lines) {
            if (line.linkUrl == nullptr) continue;
            EXPECT_EQ(line.style, style) << url << " " << line.text;
        }
    }
}

TEST_F(PageParser, OutOfMemoryTranslatingIsReported) {
    // A document too long for a 32-bit length cannot be transliterated; nothing of it is read.
    const char small[] = "x";
    const std::string_view huge(small, (size_t{1} << 31) + 1);
    EXPECT_EQ(parseNetBuf(page, record("finger://h/"), 80, huge), nullptr);
    EXPECT_EQ(page.lineCount, 0);
    EXPECT_EQ(page.linkCount, 0);
    bool reported = false;
    for (const ShellCall& call : headlessCalls())
        reported =
            reported || (call.what == ShellCall::REQUESTER && call.body == getString(MSG_ERR_MEMORY_UTF8));
    EXPECT_TRUE(reported);
}

TEST_F(PageParser, ProgressShowsTensOnly) {
    const std::string prefix = std::string(getString(MSG_STATUS_PARSING)) + " ";
    const std::vector<std::string> tens = {"10", "20", "30", "40", "50", "60", "70", "80", "90"};
    const struct {
        std::string doc;  // plain text (finger)
        std::vector<std::string> percents;
    } cases[] = {
        {"", {}},  // one line break: never more than 0%
        {"ab", {"30", "60"}},
        {std::string(999, 'x'), tens},
        {std::string(300, 'y') + "\n" + std::string(699, 'z'), tens},
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

TEST_F(PageParser, HostileInputKeepsTheInvariants) {
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
    for (const std::string& doc : docs) {
        for (const char* url :
             {"gemini://h.example/", "finger://h.example/", "nex://h.example/", "gopher://h.example/1/"}) {
            for (int columns : {-5, 0, 1, 2, 3, 6, 7, 80}) {
                SCOPED_TRACE(std::string(url) + " columns " + std::to_string(columns));
                EXPECT_GE(parse(url, columns, doc).lineCount, 1);
            }
        }
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

TEST_F(PageParser, CountedDocumentsAndMovedPages) {
    const char* doc = "20 text/gemini\r\n# Title\n=> /a A\n";
    // The counted form reads exactly its bytes, a NUL among them included.
    const std::string withNul = std::string(doc) + std::string("\0# Hidden\n", 10);
    EXPECT_EQ(parse("gemini://h.example/", 80, std::string_view(withNul)).lineCount, 3);

    // A moved page keeps its pointers.
    parse("gemini://h.example/", 80, doc);
    const char* text = page.lines[0].text;
    PageModel moved = std::move(page);
    EXPECT_EQ(moved.lines[0].text, text);
    EXPECT_STREQ(moved.lines[0].text, "# Title");
    EXPECT_STREQ(moved.lines[1].text, " => A");

    freePageLines(moved);
    EXPECT_EQ(moved.lineCount, 0);
    EXPECT_TRUE(moved.lines.empty());
}

TEST_F(PageParser, UnicodeTextWrapsByColumnsAndNeverCutsACluster) {
    const std::string wide = "\xE4\xBD\xA0";   // one CJK character: two columns, three bytes
    const std::string accented = "e\xCC\x81";  // e and a combining acute accent: one column
    std::string tenWide;
    for (int i = 0; i < 10; ++i)
        tenWide += wide;
    const struct {
        int columns;
        std::string body;
        std::vector<std::string> lines;
    } cases[] = {
        // Bytes would cut the line after 3 characters; columns after 5.
        {7,
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 x",
         {"0 TEXT|\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "0 TEXT|x"}},
        // No space or break character: a hard cut between characters.
        {7,
         tenWide,
         {"0 TEXT|" + tenWide.substr(0, 9), "0 TEXT|" + tenWide.substr(9, 9),
          "0 TEXT|" + tenWide.substr(18, 9), "0 TEXT|" + tenWide.substr(27, 3)}},
        // A character wider than the whole line still gets a line of its own.
        {1, wide + wide, {"0 TEXT|" + wide, "0 TEXT|" + wide}},
        // Combining accents stay with their letter; the list marker is U+00B7.
        {5,
         "* " + accented + accented + accented,
         {"0 TEXT| \xC2\xB7 " + accented + accented, "0 TEXT|   " + accented}},
        // Preformatted lines are cut at a column, on a character's edge.
        {5, "```\nab" + wide + wide + "cd\n```", {"1 PREFORMAT|ab" + wide}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ParseOptions options;
        options.unicode = true;
        parseNetBuf(page, record(INDEX), c.columns, "20 text/gemini\r\n" + c.body + "\n", options);
        EXPECT_EQ(describe(page), c.lines);
    }
    // A link's clickable extent counts columns, and its target is requested escaped.
    ParseOptions options;
    options.unicode = true;
    parseNetBuf(page, record(INDEX), 80, "20 text/gemini\r\n=> caf\xC3\xA9 " + tenWide + "\n", options);
    ASSERT_EQ(page.lineCount, 1);
    EXPECT_EQ(page.lines[0].linkTextLength, 24);
    EXPECT_STREQ(page.lines[0].linkUrl, "gemini://example.org/dir/caf%c3%a9");
}

TEST_F(PageParser, AddLineCopiesTheText) {
    char text[] = "hello there";
    ASSERT_TRUE(addLine(page, text, 5, STYLE_HEADING, 7));
    text[0] = 'j';
    ASSERT_TRUE(addLine(page, nullptr, 3, STYLE_TEXT, 8));
    EXPECT_EQ(describe(page), (std::vector<std::string>{"7 HEADING|hello", "8 TEXT|"}));
    checkInvariants(page, 80);
}

}  // namespace
