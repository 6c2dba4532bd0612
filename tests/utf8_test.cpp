#include "page/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Translated {
    std::string text;         // exactly the reported length
    bool terminated = false;  // a NUL right after the reported length
};

Translated runTranslate(const std::string& input, bool keepTabs) {
    Translated result;
    // An exact copy without a terminator, so that the sanitizer sees any read past the end.
    std::vector<char> exact(input.begin(), input.end());
    int32_t length = -1;
    std::unique_ptr<char[]> out = translateUtf8(exact.data(), exact.size(), &length, keepTabs);
    if (!out) return result;
    result.text.assign(out.get(), static_cast<size_t>(length));
    result.terminated = out[static_cast<size_t>(length)] == '\0';
    return result;
}

// Byte by byte with an explicit column counter, written straight from the rules.
std::string referenceTranslate(const std::string& in, bool keepTabs) {
    static const char* const letters[4] = {
        "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiiiJjKkkLlLlLlL",
        "lLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs",
        "bBBbbbCCcDDDddEaEFfGGhIIKkllWNnOCoOoPpRS2EetTttUuUVYyZzEEee255?w",
        "||||DDdLLlNNnAaIiOoUuUuUuUuUueAaAaAaGgGgKkOoOoEejDDdGgHWNnAaAaOo",
    };
    std::string out;
    size_t column = 0;
    auto write = [&](std::string_view s) {
        out += s;
        column = s.back() == '\n' ? 0 : column + s.size();
    };
    auto byteAt = [&](size_t k) { return static_cast<unsigned char>(in[k]); };
    auto cont = [&](size_t k) { return k < in.size() && (byteAt(k) & 0xC0) == 0x80; };
    const std::string dot(1, '\xB7');

    size_t i = 0;
    while (i < in.size()) {
        const unsigned char b = byteAt(i);
        if (b == '\r') {
            i += 1;
        } else if (b == '\t' && !keepTabs) {
            write(std::string(8 - column % 8, ' '));
            i += 1;
        } else if (b >= 0xC0 && b <= 0xDF && cont(i + 1)) {
            const unsigned char c = byteAt(i + 1);
            if (b == 0xC2 && c >= 0xA0) {
                if (c != 0xAD) write(std::string(1, static_cast<char>(c)));
            } else if (b == 0xC3) {
                write(std::string(1, static_cast<char>(c + 0x40)));
            } else if (b >= 0xC4 && b <= 0xC7) {
                write(std::string(1, letters[b - 0xC4][c - 0x80]));
            } else if (b == 0xCC || (b == 0xCD && c <= 0xAF)) {
                // dropped
            } else {
                write(dot);
            }
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            const unsigned char c1 = byteAt(i + 1);
            const unsigned char c2 = byteAt(i + 2);
            std::string_view s = dot;
            if (b == 0xE2 && c1 == 0x80) {
                if (c2 == 0xA6) s = "...";
                if (c2 == 0x9C || c2 == 0x9D) s = "\"";
                if (c2 == 0x93) s = "-";
                if (c2 == 0x94) s = "--";
                if (c2 == 0x98) s = "`";
                if (c2 == 0x99) s = "'";
                if (c2 == 0x8A || c2 == 0xAF) s = " ";
            } else if (b == 0xE2 && c1 == 0x96 && c2 == 0x88) {
                s = "\x80";
            }
            write(s);
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF7 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            write(dot);
            i += 4;
        } else {
            write(std::string(1, static_cast<char>(b)));
            i += 1;
        }
    }
    if (out.empty() || out.back() != '\n') write("\n");
    return out;
}

struct Case {
    std::string input;
    bool keepTabs;
    std::string expected;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        // clang-format off
        {"a\tb", false, "a       b\n"}, {"a\tb", true, "a\tb\n"}, {"1234567\tx", false, "1234567 x\n"},
        {"12345678\tx", false, "12345678        x\n"}, {"abc\n\tx", false, "abc\n        x\n"},
        {"0123456789\nabcdefghijk\tx", false, "0123456789\nabcdefghijk     x\n"},
        {"0123456789abcdef\n0123456789\n0123456789abcdefghij\tx\tz", false,
         "0123456789abcdef\n0123456789\n0123456789abcdefghij    x       z\n"},
        {"abc\r\tx", false, "abc     x\n"}, {"one\r\ntwo\r\n", false, "one\ntwo\n"}, {"a\rb", false, "ab\n"},
        {"", false, "\n"}, {"abc\n", false, "abc\n"}, {"a\tb\r\n", true, "a\tb\n"},
        {"\xC3\xA9", false, "\xE9\n"}, {"\xC5\xA1", false, "s\n"}, {"\xE2\x80\x94", false, "--\n"},
        {"\xE2\x80\xA6", false, "...\n"}, {"\xF0\x9F\x98\x80", false, "\xB7\n"},
        {"co\xC2\xADop", false, "coop\n"}, {"e\xCC\x81x", false, "ex\n"}, {"\xC2\x80", false, "\xB7\n"},
        {"\xC2\x9F", false, "\xB7\n"}, {"\xC2\xA0", false, "\xA0\n"}, {"\xC2\xAD", false, "\n"},
        {"\xC3\x80", false, "\xC0\n"}, {"\xC3\xBF", false, "\xFF\n"}, {"\xC4\x80", false, "A\n"},
        {"\xC4\xBF", false, "L\n"}, {"\xC5\x80", false, "l\n"}, {"\xC6\xBE", false, "?\n"},
        {"\xC6\xBF", false, "w\n"}, {"\xC7\x80", false, "|\n"}, {"\xC7\xBF", false, "o\n"},
        {"\xCC\xBF", false, "\n"}, {"\xCD\x80", false, "\n"}, {"\xCD\xAF", false, "\n"},
        {"\xCD\xB0", false, "\xB7\n"}, {"\xC0\x80", false, "\xB7\n"}, {"\xDF\xBF", false, "\xB7\n"},
        {"\xE2\x80\x9C", false, "\"\n"}, {"\xE2\x80\x93", false, "-\n"}, {"\xE2\x80\x98", false, "`\n"},
        {"\xE2\x80\x99", false, "'\n"}, {"\xE2\x80\x8A", false, " \n"}, {"\xE2\x80\xAF", false, " \n"},
        {"\xE2\x80\xA2", false, "\xB7\n"}, {"\xE2\x96\x88", false, "\x80\n"},
        {"\xE2\x96\x80", false, "\xB7\n"}, {"\xED\xA0\x80", false, "\xB7\n"},
        {"\xF7\xBF\xBF\xBF", false, "\xB7\n"}, {"\xF8\x80\x80\x80\x80", false, "\xF8\x80\x80\x80\x80\n"},
        {"a\xFF", false, "a\xFF\n"}, {"\x80\xBFx", false, "\x80\xBFx\n"}, {"\xC3" "A", false, "\xC3" "A\n"},
        {"\xC3\xC3\xA9", false, "\xC3\xE9\n"}, {"\xE2\xC3\xA9", false, "\xE2\xE9\n"},
        {"\x01\x1B[0m\x7F", false, "\x01\x1B[0m\x7F\n"}, {"a\xC3", false, "a\xC3\n"},
        {"\xE2\x80", false, "\xE2\x80\n"}, {"\xF0\x9F\x98", false, "\xF0\x9F\x98\n"},
        {"\xC3\nx", false, "\xC3\nx\n"}, {"\xC5\r\n", false, "\xC5\n"},
        {"\xE2\x80\xA6\tx", false, "...     x\n"}, {"e\xCC\x81\tx", false, "e       x\n"},
        {"\xC2\xAD\tx", false, "        x\n"}, {"\xF0\x9F\x98\x80\tx", false, "\xB7       x\n"},
        {"\xC3\tx", false, "\xC3       x\n"},
        {"abcdefgh\xC3\xA9ijklmnopq\xE2\x80\xA6rs\tx", false, "abcdefgh\xE9ijklmnopq...rs x\n"},
        // clang-format on
    };
    return table;
}

TEST(Utf8Translate, Table) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(testing::PrintToString(c.input));
        const Translated t = runTranslate(c.input, c.keepTabs);
        EXPECT_EQ(t.text, c.expected);
        EXPECT_TRUE(t.terminated);
    }
}

TEST(Utf8Translate, NulBytes) {
    // A terminated input ends at its NUL, also inside a sequence.
    for (const char* input : {"a\0b", "\xC3\0\xA9"}) {
        int32_t length = -1;
        std::unique_ptr<char[]> out = translateUtf8(input, &length, false);
        ASSERT_TRUE(out);
        EXPECT_EQ(std::string(out.get()), std::string(input) + "\n");
        EXPECT_EQ(length, 2);
    }
    int32_t length = -1;
    EXPECT_STREQ(translateUtf8(nullptr, &length, false).get(), "\n");
    EXPECT_EQ(length, 1);
    EXPECT_TRUE(translateUtf8("abc", nullptr, true));  // the length may be left out
    // A counted input copies them.
    EXPECT_EQ(runTranslate(std::string("a\0b\0", 4), false).text, std::string("a\0b\0\n", 5));
}

TEST(Utf8Translate, RandomUtf8MatchesReference) {
    // Pieces of real and broken UTF-8; inputs are random sequences of them.
    const std::vector<std::string> pieces = {
        "word ",        "a longer run of plain text ",
        "\n",           "\r\n",
        "\t",           "\xC3\xA9",
        "\xC2\xAD",     "\xC2\x85",
        "\xCC\x81",     "\xC6\x92",
        "\xE2\x80\xA6", "\xE2\x80\x94",
        "\xE2\x80\x9C", "\xE2\x80\x99",
        "\xE2\x80\xAF", "\xE2\x96\x88",
        "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\xC3",         "\xE2\x80",
        "\xF0\x9F\x98", "\x80",
        "\xFE",         "\xE9",
    };
    std::mt19937 random(77u);
    for (int round = 0; round < 1500; ++round) {
        const size_t count = random() % 40;
        std::string input;
        for (size_t k = 0; k < count; ++k)
            input += pieces[random() % pieces.size()];
        // Sometimes cut anywhere, also inside a sequence.
        if (!input.empty() && random() % 3 == 0) input.resize(random() % input.size());
        SCOPED_TRACE(round);
        const bool keepTabs = round % 7 == 0;
        const Translated t = runTranslate(input, keepTabs);
        ASSERT_TRUE(t.terminated);
        ASSERT_EQ(t.text, referenceTranslate(input, keepTabs));
    }
}

}  // namespace
