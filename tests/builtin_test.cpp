// The generated pages: their bytes, and how the parser shows them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "page/builtin.h"
#include "page/parser.h"
#include "store/visited.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

PageModel parsed(const char* url, int columns, const std::string& doc) {
    UrlRecord r;
    EXPECT_EQ(parseUrl(url, r), 1) << url;
    PageModel page;
    parseNetBuf(page, r, columns, doc);
    return page;
}

class BuiltinPages : public testing::Test {
  protected:
    void SetUp() override {
        visitedClear();
        headlessReset();
    }
    void TearDown() override { headlessReset(); }
};

TEST_F(BuiltinPages, HomePageIsHeaderBannerWelcomeAndLinks) {
    const PageText home = getHomePage();
    ASSERT_NE(home, nullptr);
    const std::string& text = *home;
    ASSERT_EQ(text.substr(0, 16), "20 text/gemini\r\n");
    EXPECT_NE(text.find(getString(MSG_WELCOME)), std::string::npos);

    // Header, toggle, four banner lines, toggle, two empty lines.
    std::vector<std::string> lines;
    for (size_t at = 16; at < text.size();) {
        const size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "every line ends with a line break";
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "```");
    for (size_t i = 1; i <= 4; ++i) {
        EXPECT_FALSE(lines[i].empty());
        for (char c : lines[i])
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "banner line " << i;
    }
    EXPECT_EQ(lines[5], "```");
    EXPECT_EQ(lines[6], "");
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

TEST_F(BuiltinPages, HomePageLinks) {
    const struct {
        const char* scheme;
        const char* path;  // what follows the host
        const char* label;
    } links[] = {
        {"spartan://", "/amiga/links/", "Amiga Links"}, {"gemini://", "/", "Project Gemini"},
        {"spartan://", "/", "Spartan Homepage"},        {"gopher://", "", "Gopher Project"},
        {"spartan://", "/finger/", "Finger Links"},     {"nex://", "/", nullptr},
    };
    const PageText home = getHomePage();
    ASSERT_NE(home, nullptr);
    const PageModel page = parsed("HOME", 80, *home);

    std::vector<const PageLine*> linkLines;
    int banner = 0;
    bool welcome = false;
    for (const PageLine& line : page.lines) {
        if (line.linkUrl != nullptr) linkLines.push_back(&line);
        if (line.style == STYLE_PREFORMAT) ++banner;
        if (line.style == STYLE_HEADING && std::strcmp(line.text, "# Welcome to Farlander!") == 0)
            welcome = true;
    }
    EXPECT_EQ(banner, 4);
    EXPECT_TRUE(welcome);
    ASSERT_EQ(linkLines.size(), std::size(links));
    for (size_t i = 0; i < std::size(links); ++i) {
        SCOPED_TRACE("link " + std::to_string(i + 1));
        const std::string url = linkLines[i]->linkUrl;
        ASSERT_EQ(url.substr(0, std::strlen(links[i].scheme)), links[i].scheme);
        const std::string afterScheme = url.substr(std::strlen(links[i].scheme));
        const size_t slash = afterScheme.find('/');
        const std::string host = afterScheme.substr(0, slash);
        EXPECT_FALSE(host.empty());
        EXPECT_NE(host.find('.'), std::string::npos);
        EXPECT_EQ(slash == std::string::npos ? "" : afterScheme.substr(slash), links[i].path);
        if (links[i].label != nullptr) {
            EXPECT_EQ(std::string(linkLines[i]->text), std::string(" => ") + links[i].label);
        } else {
            EXPECT_GT(std::strlen(linkLines[i]->text), 4u);
        }
        EXPECT_NE(linkLines[i]->style, STYLE_UNSUPPORTED);
    }
    // Links 1 and 5 share the authors' host.
    const std::string first = linkLines[0]->linkUrl;
    const std::string fifth = linkLines[4]->linkUrl;
    EXPECT_EQ(first.substr(0, first.find('/', 10)), fifth.substr(0, fifth.find('/', 10)));
}

TEST_F(BuiltinPages, TestPageLayout) {
    const PageText page = getTestPage();
    ASSERT_NE(page, nullptr);
    const std::string& text = *page;
    EXPECT_EQ(text.size() + 1, 20217u) << "with its NUL";
    EXPECT_EQ(text.substr(0, 16), "20 text/gemini\r\n");
    const std::string digits =
        "123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890";
    const struct {
        int number;
        const char* prefix;
    } samples[] = {{1, "1   "}, {9, "9   "}, {10, "10  "}, {99, "99  "}, {100, "100 "}, {200, "200 "}};
    for (const auto& s : samples) {
        const std::string line = text.substr(16 + static_cast<size_t>(s.number - 1) * 101, 101);
        EXPECT_EQ(line, std::string(s.prefix) + "abcdef" + digits + "\n") << s.number;
    }

    // No spaces in the second half of the window: cut hard, two display lines per line at 80.
    const PageModel at80 = parsed("TEST", 80, text);
    ASSERT_EQ(at80.lineCount, 400);
    EXPECT_STREQ(at80.lines[0].text, ("1   abcdef" + digits.substr(0, 70)).c_str());
    EXPECT_STREQ(at80.lines[1].text, digits.substr(70).c_str());
    EXPECT_EQ(at80.lines[399].sourceLine, 199);
    EXPECT_EQ(at80.linkCount, 0);
    // At 12 columns the "f" after the letters is no break character either.
    const PageModel at12 = parsed("TEST", 12, text);
    EXPECT_STREQ(at12.lines[0].text, "1   abcdef12");
    EXPECT_STREQ(at12.lines[1].text, "345678901234");
}

TEST_F(BuiltinPages, ErrorPageFollowsTheScheme) {
    const struct {
        int32_t scheme;
        const char* url;
        bool header;
        int style;  // of the message's line
    } cases[] = {
        {SCHEME_GEMINI, "gemini://h.example/", true, STYLE_HEADING},
        {SCHEME_SPARTAN, "spartan://h.example/", true, STYLE_HEADING},
        {SCHEME_GOPHER, "gopher://h.example/1/", false, STYLE_TEXT},
        {SCHEME_FINGER, "finger://h.example/", false, STYLE_TEXT},
        {SCHEME_NEX, "nex://h.example/", false, STYLE_TEXT},
    };
    for (const auto& c : cases) {
        const PageText page = getErrorPage("# 51 Not found", c.scheme);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(*page, std::string(c.header ? "20 text/gemini\r\n" : "") + "# 51 Not found\n") << c.url;
        const PageModel model = parsed(c.url, 80, *page);
        ASSERT_EQ(model.lineCount, 1) << c.url;
        EXPECT_STREQ(model.lines[0].text, "# 51 Not found") << c.url;
        EXPECT_EQ(model.lines[0].style, c.style) << c.url;
    }
    const PageText redirects = getErrorPage(getString(MSG_ERR_TOO_MANY_REDIRECTS), SCHEME_GEMINI);
    ASSERT_NE(redirects, nullptr);
    EXPECT_EQ(*redirects, std::string("20 text/gemini\r\n") + getString(MSG_ERR_TOO_MANY_REDIRECTS) + "\n");
    const PageText empty = getErrorPage(nullptr, SCHEME_FINGER);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, "\n");
}

}  // namespace
