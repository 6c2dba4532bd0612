#include <gtest/gtest.h>

#include <string>

#include "text/charset.h"

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

}  // namespace
