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

// The home page shows a banner of four preformatted lines, the welcome heading and six
// links the browser can follow. (Which links they are is the page's own text.)
TEST_F(BuiltinPages, HomePageIsABannerTheWelcomeAndLinks) {
    const PageText home = getHomePage();
    ASSERT_NE(home, nullptr);
    ASSERT_EQ(home->substr(0, 16), "20 text/gemini\r\n");
    EXPECT_NE(home->find(getString(MSG_WELCOME)), std::string::npos);
    const PageModel page = parsed("HOME", 80, *home);
    int banner = 0, links = 0;
    bool welcome = false;
    for (const PageLine& line : page.lines) {
        banner += line.style == STYLE_PREFORMAT;
        welcome = welcome ||
                  (line.style == STYLE_HEADING && std::strcmp(line.text, "# Welcome to Farlander!") == 0);
        if (line.linkUrl == nullptr) continue;
        ++links;
        EXPECT_NE(line.style, STYLE_UNSUPPORTED) << line.linkUrl;
    }
    EXPECT_EQ(banner, 4);
    EXPECT_TRUE(welcome);
    EXPECT_EQ(links, 6);
}

TEST_F(BuiltinPages, TestPageLayout) {
    const PageText page = getTestPage();
    ASSERT_NE(page, nullptr);
    const std::string& text = *page;
    EXPECT_EQ(text.size() + 1, 20217u) << "with its NUL";
    const std::string digits =
        "123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(text.substr(16 + 99 * 101, 101), "100 abcdef" + digits + "\n");

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
    const PageText empty = getErrorPage(nullptr, SCHEME_FINGER);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, "\n");
}

}  // namespace
