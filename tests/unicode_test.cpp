// Page text kept as UTF-8: cleaning received bytes for display, and measuring text in
// display columns by grapheme clusters.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "page/unicode.h"

namespace {

std::string clean(const std::string& in, bool keepTabs = false) {
    int32_t length = -1;
    auto out = cleanUtf8(in.data(), in.size(), &length, keepTabs);
    EXPECT_TRUE(out);
    return out ? std::string(out.get(), static_cast<size_t>(length)) : std::string();
}

const std::string FFFD = REPLACEMENT_UTF8;

TEST(UnicodeText, CleaningKeepsUtf8AndReplacesWhatIsNot) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\n"},
        {"plain", "plain\n"},
        {"a\r\nb\rc\n", "a\nbc\n"},
        {"caf\xC3\xA9 \xE4\xBD\xA0 \xF0\x9F\x91\x8D\n", "caf\xC3\xA9 \xE4\xBD\xA0 \xF0\x9F\x91\x8D\n"},
        // Tab stops count display columns: a wide character is two.
        {"a\tb", "a       b\n"},
        {"\xE4\xBD\xA0\tb", "\xE4\xBD\xA0      b\n"},
        {"\xC3\xA9\xC3\xA9\t|", "\xC3\xA9\xC3\xA9      |\n"},
        // Controls other than tab and line feed, DEL and C1 become U+FFFD.
        {std::string("a\0b\x01\x1B\x7F", 6), "a" + FFFD + "b" + FFFD + FFFD + FFFD + "\n"},
        {"\xC2\x85\xC2\x9F\xC2\xA0", FFFD + FFFD + "\xC2\xA0\n"},
        // Each maximal invalid part is one U+FFFD: lone bytes, cut sequences, overlong
        // forms, surrogates, code points past U+10FFFF.
        {"\xFF", FFFD + "\n"},
        {"\xE2\x82(", FFFD + "(\n"},
        {"\xC3(", FFFD + "(\n"},
        {"\xC0\xAF", FFFD + FFFD + "\n"},
        {"\xE0\x80\x80", FFFD + FFFD + FFFD + "\n"},
        {"\xED\xA0\x80", FFFD + FFFD + FFFD + "\n"},
        {"\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD + "\n"},
        {"\xF0\x9F\x91", FFFD + "\n"},
        {"\x80\xBF", FFFD + FFFD + "\n"},
        // Long runs through the fast path, with a special byte in the middle.
        {std::string(19, 'x') + "\xE9" + std::string(19, 'y'),
         std::string(19, 'x') + FFFD + std::string(19, 'y') + "\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(clean(in), out) << in;
    EXPECT_EQ(clean("a\tb", true), "a\tb\n") << "Gopher menus keep their tabs";
    // Hostile: a line of tabs costs one pass, and everything stays in bounds.
    EXPECT_EQ(clean(std::string(100000, '\t')).size(), 800001u);
    EXPECT_EQ(clean(std::string(30000, '\xFF')).size(), 90001u);
}

TEST(UnicodeText, ClustersAndTheirWidths) {
    const struct {
        const char* text;
        int clusters;
        int64_t width;
    } cases[] = {
        {"abc", 3, 3},
        {"caf\xC3\xA9", 4, 4},
        {"e\xCC\x81", 1, 1},                         // e and a combining accent
        {"\xE4\xBD\xA0\xE5\xA5\xBD", 2, 4},          // two CJK characters
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1, 2},  // thumbs up with a skin tone
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1, 2},  // a flag: two regional indicators
        {"\xE2\x9D\xA4\xEF\xB8\x8F", 1, 2},          // a heart shown as an emoji
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1, 2},  // a family
        {"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", 4, 4},                                          // Hebrew
        {"\xEF\xBF\xBD", 1, 1},  // the replacement character
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        int clusters = 0;
        for (size_t at = 0; at < text.size(); ++clusters) {
            int w = 0;
            at = nextCluster(text.data(), text.size(), at, w);
        }
        EXPECT_EQ(clusters, c.clusters) << c.text;
        EXPECT_EQ(displayWidth(text), c.width) << c.text;
        EXPECT_LE(displayWidth(text), static_cast<int64_t>(text.size())) << "never wider than it is long";
    }
    // A prefix that fits never ends inside a character or a cluster.
    const std::string mixed =
        "a\xE4\xBD\xA0"
        "e\xCC\x81\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    const std::pair<int64_t, size_t> prefixes[] = {{0, 0}, {1, 1}, {2, 1},  {3, 4},
                                                   {4, 7}, {5, 7}, {6, 15}, {99, 15}};
    for (const auto& [columns, bytes] : prefixes)
        EXPECT_EQ(prefixFitting(mixed, columns), bytes) << columns;
}

// The quick paths (lead-byte tables, runs of ASCII, the per-code-point table) against
// the grapheme rules in full, on random texts made of the pieces that trip them up.
TEST(UnicodeText, QuickMeasuresAgreeWithTheFullRules) {
    const std::vector<std::string> pieces = {
        "a",
        "Z",
        " ",
        "-",
        ",",
        "word",
        "longer ascii run ",
        "\xC3\xA9",
        "\xCE\xBA",
        "\xD0\xBC",
        "\xD7\xA9",
        "\xD9\x85",
        "\xD9\x8B",  // Hebrew, Arabic, an Arabic mark
        "\xCC\x81",
        "\xE2\x80\x8D",
        "\xEF\xB8\x8F",  // combining acute, ZWJ, VS16
        "\xE4\xBD\xA0",
        "\xE3\x81\x93",
        "\xE3\x82\x99",  // CJK, hiragana, a kana voicing mark
        "\xEC\x95\x88",
        "\xEB\x85\x95",
        "\xE1\x84\x80",
        "\xE1\x85\xA1",
        "\xE1\x86\xA8",  // Hangul
        "\xED\x9E\xB0",  // a Hangul vowel jamo (extended)
        "\xF0\x9F\x91\x8D",
        "\xF0\x9F\x8F\xBD",
        "\xF0\x9F\x87\xA9",
        "\xE2\x9D\xA4",
        "\xD8\x80",
        "\xE0\xA4\x95",
        "\xE0\xA5\x8D",
        "\xE0\xA4\xBF",  // prepend, Devanagari
        "\xEF\xBF\xBD",
    };
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            text += pieces[random() % pieces.size()];
        // Reference: every cluster boundary and the column there.
        std::vector<size_t> bounds{0};
        std::vector<int64_t> cols{0};
        for (size_t at = 0; at < text.size();) {
            int w = 0;
            at = nextClusterSlow(text.data(), text.size(), at, w);
            bounds.push_back(at);
            cols.push_back(cols.back() + w);
        }
        ASSERT_EQ(displayWidth(text), cols.back()) << text;
        for (size_t k = 0; k < bounds.size(); ++k) {
            if (k + 1 < bounds.size()) {
                int w = -1;
                ASSERT_EQ(clusterEnd(text.data(), text.size(), bounds[k], w), bounds[k + 1])
                    << text << " at " << bounds[k];
                ASSERT_EQ(w, cols[k + 1] - cols[k]) << text;
            }
        }
        for (int64_t columns = 0; columns <= cols.back() + 1; ++columns) {
            const int64_t markColumn = columns / 2;
            size_t fit = 0;
            for (size_t k = 0; k < bounds.size() && cols[k] <= columns; ++k)
                fit = bounds[k];
            size_t mark = fit;
            for (size_t k = bounds.size(); k-- > 0;)
                if (cols[k] >= markColumn && bounds[k] <= fit) mark = bounds[k];
            size_t gotMark = 0;
            int64_t width = -1;
            ASSERT_EQ(fitColumns(text, columns, markColumn, &gotMark, &width), fit)
                << text << " in " << columns;
            ASSERT_EQ(gotMark, mark) << text << " in " << columns;
        }
        // Where an ASCII byte begins a cluster, and which code points extend one.
        for (size_t at = 0; at < text.size(); ++at) {
            const bool boundary = std::find(bounds.begin(), bounds.end(), at) != bounds.end();
            if (static_cast<unsigned char>(text[at]) < 0x80) {
                ASSERT_EQ(asciiStartsCluster(text.data(), at), boundary) << text << " at " << at;
            }
            if (at > 0 && static_cast<unsigned char>(text[at - 1]) < 0x80 &&
                static_cast<unsigned char>(text[at]) >= 0xC0 && asciiStartsCluster(text.data(), at - 1)) {
                ASSERT_EQ(joinsAt(text.data(), text.size(), at), !boundary) << text << " at " << at;
            }
        }
    }
}

}  // namespace
