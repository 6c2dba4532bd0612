#include <gtest/gtest.h>

#include <string>

#include "browser/redirect.h"
#include "view/charset.h"

namespace {

TEST(DisplayCharset, ConvertsAndEscapes) {
    struct Case {
        std::string in, utf8, escaped;
    } cases[] = {
        {"plain", "plain", "plain"},
        {"\xe9t\xe9", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {"\x80\x81\x9f\xa0\xb7\xff", "\xe2\x96\x88\xc2\xb7\xc2\xb7\xc2\xa0\xc2\xb7\xc3\xbf",
         "\xe2\x96\x88\xc2\xb7\xc2\xb7\xc2\xa0\xc2\xb7\xc3\xbf"},
        {"a\tb\\c", "a\tb\\c", "a\\tb\\\\c"},
        {std::string("\x00\x01\x1f\x7f\n\r", 6), std::string("\x00\x01\x1f\x7f\n\r", 6),
         "\\x00\\x01\\x1f\\x7f\\x0a\\x0d"},
    };
    for (const auto& c : cases) {
        std::string utf8, escaped;
        appendDisplayAsUtf8(utf8, c.in);
        appendEscapedDisplay(escaped, c.in);
        EXPECT_EQ(utf8, c.utf8) << c.in;
        EXPECT_EQ(escaped, c.escaped) << c.in;
    }
}

TEST(Redirects, TwoInARowAreFollowedThenRefused) {
    struct Case {
        const char* target;
        RedirectAction first;
    } cases[] = {
        {"gemini://h/", REDIRECT_FOLLOW},      {"spartan://h/", REDIRECT_FOLLOW},
        {"https://w/", REDIRECT_FOLLOW},       {"http://w/", REDIRECT_FOLLOW},
        {"gopher://h/", REDIRECT_UNSUPPORTED}, {"GEMINI://h/", REDIRECT_UNSUPPORTED},
        {"/relative", REDIRECT_UNSUPPORTED},   {"", REDIRECT_UNSUPPORTED},
        {nullptr, REDIRECT_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        int32_t count = 0;
        EXPECT_EQ(redirectDecide(count, c.target), c.first) << (c.target ? c.target : "null");
        EXPECT_EQ(redirectDecide(count, c.target), c.first);
        EXPECT_EQ(redirectDecide(count, c.target), REDIRECT_TOO_MANY);
        EXPECT_EQ(count, 3);
    }
    EXPECT_EQ(redirectErrorMessage(REDIRECT_TOO_MANY), 111);
    EXPECT_EQ(redirectErrorMessage(REDIRECT_UNSUPPORTED), 112);
    EXPECT_EQ(redirectErrorMessage(REDIRECT_FOLLOW), 0);
}

}  // namespace
