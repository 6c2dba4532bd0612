#include "page/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Translated {
    bool ok = false;
    std::string text;  // exactly the reported length
    int32_t length = -1;
    bool terminated = false;  // a NUL right after the reported length
};

Translated runTranslate(const std::string& input, bool keepTabs) {
    Translated result;
    // An exact copy without a terminator, so that the sanitizer sees any read past the end.
    std::vector<char> exact(input.begin(), input.end());
    int32_t length = -1;
    std::unique_ptr<char[]> out = translateUtf8(exact.data(), exact.size(), &length, keepTabs);
    result.length = length;
    if (!out) return result;
    result.ok = true;
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
    auto write = [&](const std::string& s) {
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
            std::string s = dot;
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
    const char* name;
    std::string input;
    bool keepTabs;
    std::string expected;
};

// Cases named after what they show; inputs and outputs as explicit bytes.
const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        // Tabs, line ends and the final line break.
        {"tab expanded", "a\tb", false, "a       b\n"},
        {"tab kept", "a\tb", true, "a\tb\n"},
        {"tab at column 0", "\tx", false, "        x\n"},
        {"tab at column 7", "1234567\tx", false, "1234567 x\n"},
        {"tab at column 8", "12345678\tx", false, "12345678        x\n"},
        {"two tabs", "\t\tx", false, "                x\n"},
        {"tab after a long run", "0123456789abcdefghij\tx", false, "0123456789abcdefghij    x\n"},
        {"tab after a line break", "abc\n\tx", false, "abc\n        x\n"},
        {"tab after a break inside a run", "0123456789\nabcdefghijk\tx", false,
         "0123456789\nabcdefghijk     x\n"},
        {"tab after breaks in earlier runs", "0123456789abcdef\n0123456789\n0123456789abcdefghij\tx\tz",
         false, "0123456789abcdef\n0123456789\n0123456789abcdefghij    x       z\n"},
        {"tab after a lone CR", "abc\r\tx", false, "abc     x\n"},
        {"tab after CR LF", "ab\r\n\tx", false, "ab\n        x\n"},
        {"CR LF becomes LF", "one\r\ntwo\r\n", false, "one\ntwo\n"},
        {"lone CR vanishes", "a\rb", false, "ab\n"},
        {"CR before CR LF", "a\r\r\n", false, "a\n"},
        {"only CR", "\r", false, "\n"},
        {"only CR LF", "\r\n", false, "\n"},
        {"empty input", "", false, "\n"},
        {"empty input, tabs kept", "", true, "\n"},
        {"no final break", "abc", false, "abc\n"},
        {"final break kept", "abc\n", false, "abc\n"},
        {"blank lines kept", "\n\n", false, "\n\n"},
        {"keep tabs still removes CR", "a\tb\r\n", true, "a\tb\n"},
        {"keep tabs after a letter", "\xC3\xA9\tx", true, "\xE9\tx\n"},

        // The examples.
        {"e acute", "\xC3\xA9", false, "\xE9\n"},
        {"s caron", "\xC5\xA1", false, "s\n"},
        {"em dash", "\xE2\x80\x94", false, "--\n"},
        {"ellipsis", "\xE2\x80\xA6", false, "...\n"},
        {"emoji", "\xF0\x9F\x98\x80", false, "\xB7\n"},
        {"soft hyphen vanishes", "co\xC2\xADop", false, "coop\n"},
        {"combining accent vanishes", "e\xCC\x81x", false, "ex\n"},

        // Lead byte 0xC2.
        {"C1 control first", "\xC2\x80", false, "\xB7\n"},
        {"C1 control last", "\xC2\x9F", false, "\xB7\n"},
        {"no-break space", "\xC2\xA0", false, "\xA0\n"},
        {"copyright", "\xC2\xA9", false, "\xA9\n"},
        {"inverted question mark", "\xC2\xBF", false, "\xBF\n"},
        {"soft hyphen alone", "\xC2\xAD", false, "\n"},
        // Lead byte 0xC3.
        {"A grave", "\xC3\x80", false, "\xC0\n"},
        {"y diaeresis", "\xC3\xBF", false, "\xFF\n"},
        {"sharp s", "\xC3\x9F", false, "\xDF\n"},
        // Latin Extended-A and -B.
        {"U+0100", "\xC4\x80", false, "A\n"},
        {"U+0107", "\xC4\x87", false, "c\n"},
        {"U+011F", "\xC4\x9F", false, "g\n"},
        {"U+0131", "\xC4\xB1", false, "i\n"},
        {"U+013F", "\xC4\xBF", false, "L\n"},
        {"U+0140", "\xC5\x80", false, "l\n"},
        {"U+0141", "\xC5\x81", false, "L\n"},
        {"U+0152", "\xC5\x92", false, "O\n"},
        {"U+0160", "\xC5\xA0", false, "S\n"},
        {"U+0178", "\xC5\xB8", false, "Y\n"},
        {"U+017F", "\xC5\xBF", false, "s\n"},
        {"U+0180", "\xC6\x80", false, "b\n"},
        {"U+0192", "\xC6\x92", false, "f\n"},
        {"U+01BE", "\xC6\xBE", false, "?\n"},
        {"U+01BF", "\xC6\xBF", false, "w\n"},
        {"U+01C0", "\xC7\x80", false, "|\n"},
        {"U+01CE", "\xC7\x8E", false, "a\n"},
        {"U+01FF", "\xC7\xBF", false, "o\n"},
        // Combining marks and the rest of the two-byte range.
        {"combining first", "\xCC\x80", false, "\n"},
        {"combining 0xCC last", "\xCC\xBF", false, "\n"},
        {"combining 0xCD first", "\xCD\x80", false, "\n"},
        {"combining last", "\xCD\xAF", false, "\n"},
        {"Greek after combining", "\xCD\xB0", false, "\xB7\n"},
        {"0xCD last", "\xCD\xBF", false, "\xB7\n"},
        {"overlong 0xC0", "\xC0\x80", false, "\xB7\n"},
        {"overlong 0xC1", "\xC1\xBF", false, "\xB7\n"},
        {"lead 0xC8", "\xC8\x80", false, "\xB7\n"},
        {"lead 0xCB", "\xCB\x86", false, "\xB7\n"},
        {"Greek alpha", "\xCE\xB1", false, "\xB7\n"},
        {"Cyrillic", "\xD0\x96", false, "\xB7\n"},
        {"lead 0xDF", "\xDF\xBF", false, "\xB7\n"},

        // Three bytes.
        {"left double quote", "\xE2\x80\x9C", false, "\"\n"},
        {"right double quote", "\xE2\x80\x9D", false, "\"\n"},
        {"en dash", "\xE2\x80\x93", false, "-\n"},
        {"left single quote", "\xE2\x80\x98", false, "`\n"},
        {"right single quote", "\xE2\x80\x99", false, "'\n"},
        {"hair space", "\xE2\x80\x8A", false, " \n"},
        {"narrow no-break space", "\xE2\x80\xAF", false, " \n"},
        {"other general punctuation", "\xE2\x80\xA2", false, "\xB7\n"},
        {"en quad", "\xE2\x80\x80", false, "\xB7\n"},
        {"full block", "\xE2\x96\x88", false, "\x80\n"},
        {"upper half block", "\xE2\x96\x80", false, "\xB7\n"},
        {"euro sign", "\xE2\x82\xAC", false, "\xB7\n"},
        {"lead 0xE0", "\xE0\xA4\x85", false, "\xB7\n"},
        {"byte order mark", "\xEF\xBB\xBF", false, "\xB7\n"},
        {"surrogate code", "\xED\xA0\x80", false, "\xB7\n"},
        {"quoted word", "\xE2\x80\x9Chi\xE2\x80\x9D", false, "\"hi\"\n"},

        // Four bytes and bytes that lead nothing.
        {"lead 0xF7", "\xF7\xBF\xBF\xBF", false, "\xB7\n"},
        {"lead 0xF4", "\xF4\x8F\xBF\xBF", false, "\xB7\n"},
        {"lead 0xF8 copied", "\xF8\x80\x80\x80\x80", false, "\xF8\x80\x80\x80\x80\n"},
        {"0xFF copied", "a\xFF", false, "a\xFF\n"},
        {"stray continuation bytes", "\x80\xBFx", false, "\x80\xBFx\n"},
        {"Latin-1 text passes", "caf\xE9 na\xEFve", false, "caf\xE9 na\xEFve\n"},
        {"lead before ASCII",
         "\xC3"
         "A",
         false,
         "\xC3"
         "A\n"},
        {"lead before a sequence", "\xC3\xC3\xA9", false, "\xC3\xE9\n"},
        {"three-byte lead before two-byte", "\xE2\xC3\xA9", false, "\xE2\xE9\n"},
        {"control bytes copied", "\x01\x1B[0m\x7F", false, "\x01\x1B[0m\x7F\n"},

        // Truncated sequences at the end and before a line break.
        {"truncated two at end", "a\xC3", false, "a\xC3\n"},
        {"truncated three at end", "\xE2\x80", false, "\xE2\x80\n"},
        {"truncated three, one byte", "\xE2", false, "\xE2\n"},
        {"truncated four at end", "\xF0\x9F\x98", false, "\xF0\x9F\x98\n"},
        {"truncated two before break", "\xC3\nx", false, "\xC3\nx\n"},
        {"truncated three before break", "\xE2\x80\n", false, "\xE2\x80\n"},
        {"truncated four before break", "\xF0\x9F\x98\nz", false, "\xF0\x9F\x98\nz\n"},
        {"truncated before CR LF", "\xC5\r\n", false, "\xC5\n"},

        // Columns after multibyte characters.
        {"tab after a one-byte letter", "\xC3\xA9\tx", false, "\xE9       x\n"},
        {"tab after ellipsis", "\xE2\x80\xA6\tx", false, "...     x\n"},
        {"tab after em dash", "\xE2\x80\x94\tx", false, "--      x\n"},
        {"tab after combining mark", "e\xCC\x81\tx", false, "e       x\n"},
        {"tab after soft hyphen", "\xC2\xAD\tx", false, "        x\n"},
        {"tab after emoji", "\xF0\x9F\x98\x80\tx", false, "\xB7       x\n"},
        {"tab after a cut sequence", "\xC3\tx", false, "\xC3       x\n"},
        {"tab after long mixed run", "abcdefgh\xC3\xA9ijklmnopq\xE2\x80\xA6rs\tx", false,
         "abcdefgh\xE9ijklmnopq...rs x\n"},
    };
    return table;
}

TEST(Utf8Translate, Table) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Translated t = runTranslate(c.input, c.keepTabs);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(t.text, c.expected);
        EXPECT_EQ(t.length, static_cast<int32_t>(c.expected.size()));
        EXPECT_TRUE(t.terminated);
        // The reference agrees with every hand-written row.
        EXPECT_EQ(referenceTranslate(c.input, c.keepTabs), c.expected);
    }
}

TEST(Utf8Translate, TerminatedInputStopsAtNul) {
    struct Row {
        const char* input;
        const char* expected;
    };
    const Row rows[] = {
        {"a\0b", "a\n"},
        {"\xC3\xA9\0\xC3\xA9", "\xE9\n"},
        {"\xC3\0\xA9", "\xC3\n"},  // the NUL ends the input: the lead byte is cut
        {"x\ty", "x       y\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        int32_t length = -1;
        std::unique_ptr<char[]> out = translateUtf8(row.input, &length, false);
        ASSERT_TRUE(out);
        EXPECT_EQ(std::string(out.get()), row.expected);
        EXPECT_EQ(length, static_cast<int32_t>(std::string_view(row.expected).size()));
    }
}

TEST(Utf8Translate, CountedInputCopiesNulBytes) {
    const Translated t = runTranslate(std::string("a\0b\0", 4), false);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.text, std::string("a\0b\0\n", 5));
    EXPECT_EQ(t.length, 5);
}

TEST(Utf8Translate, NullInputIsEmpty) {
    int32_t length = -1;
    std::unique_ptr<char[]> out = translateUtf8(nullptr, &length, false);
    ASSERT_TRUE(out);
    EXPECT_STREQ(out.get(), "\n");
    EXPECT_EQ(length, 1);
    // The length may be left out.
    EXPECT_TRUE(translateUtf8("abc", nullptr, true));
}

// Checks one random input against the reference and the general promises.
void checkAgainstReference(const std::string& input, bool keepTabs) {
    size_t tabs = 0;
    for (char ch : input)
        tabs += ch == '\t' ? 1 : 0;
    const Translated t = runTranslate(input, keepTabs);
    ASSERT_TRUE(t.ok);
    ASSERT_GE(t.length, 1);
    EXPECT_TRUE(t.terminated);
    EXPECT_LE(static_cast<size_t>(t.length) + 1, input.size() + 7 * tabs + 2);
    EXPECT_EQ(t.text.back(), '\n');
    EXPECT_EQ(t.text.find('\r'), std::string::npos);
    if (!keepTabs) {
        EXPECT_EQ(t.text.find('\t'), std::string::npos);
    }
    ASSERT_EQ(t.text, referenceTranslate(input, keepTabs));
}

TEST(Utf8Translate, RandomBytesMatchReference) {
    std::mt19937 random(20240611u);
    const unsigned char favourites[] = {'\t', '\r', '\n', 0xC3, 0xE2, 0x80, 0xA9, ' '};
    for (int round = 0; round < 3000; ++round) {
        const size_t length = random() % 200;
        std::string input;
        for (size_t k = 0; k < length; ++k) {
            const uint32_t r = random();
            // Mostly ASCII so that long plain runs occur, with the interesting bytes often.
            unsigned char b;
            if (r % 4 == 0) {
                b = favourites[(r >> 8) % sizeof favourites];
            } else if (r % 4 == 1) {
                b = static_cast<unsigned char>(r >> 8);
            } else {
                b = static_cast<unsigned char>(0x20 + (r >> 8) % 0x5F);
            }
            input.push_back(static_cast<char>(b));
        }
        SCOPED_TRACE(round);
        checkAgainstReference(input, round % 5 == 0);
        if (HasFatalFailure()) return;
    }
}

TEST(Utf8Translate, RandomUtf8MatchesReference) {
    // Pieces of real and broken UTF-8; inputs are random sequences of them.
    const std::vector<std::string> pieces = {
        "word ",        "a longer run of plain text ",
        "\n",           "\r\n",
        "\t",           "\xC3\xA9",
        "\xC5\xA1",     "\xC2\xAD",
        "\xC2\x85",     "\xCC\x81",
        "\xCD\xB0",     "\xC6\x92",
        "\xC7\xBF",     "\xD0\x96",
        "\xE2\x80\xA6", "\xE2\x80\x94",
        "\xE2\x80\x9C", "\xE2\x80\x99",
        "\xE2\x80\xAF", "\xE2\x96\x88",
        "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\xC3",         "\xE2\x80",
        "\xF0\x9F\x98", "\x80",
        "\xFE",         "\xE9",
    };
    std::mt19937 random(77u);
    for (int round = 0; round < 3000; ++round) {
        const size_t count = random() % 40;
        std::string input;
        for (size_t k = 0; k < count; ++k)
            input += pieces[random() % pieces.size()];
        // Sometimes cut anywhere, also inside a sequence.
        if (!input.empty() && random() % 3 == 0) input.resize(random() % input.size());
        SCOPED_TRACE(round);
        checkAgainstReference(input, round % 7 == 0);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
