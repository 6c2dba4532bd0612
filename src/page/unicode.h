// Page text kept as UTF-8 (the Unicode display mode): cleaning a received text for
// display, and measuring it in display columns by grapheme clusters, the units a
// line is never cut inside.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>

// The replacement character, for bytes that are not UTF-8 and for control codes.
inline constexpr char REPLACEMENT_UTF8[] = "\xEF\xBF\xBD";

// The same pass as translateUtf8 for the Unicode display: carriage returns removed,
// tabs expanded to stops of 8 display columns (unless keepTabs), a final line break
// ensured; invalid UTF-8 (each maximal invalid part of a sequence) and control codes
// other than tab and line feed (C0, DEL, C1, NUL) become U+FFFD. Returns a new
// NUL-terminated buffer and its length (without the NUL) in *outLength; null when it
// cannot be allocated or its length would not fit 32 bits.
std::unique_ptr<char[]> cleanUtf8(const char* input, size_t inputLength, int32_t* outLength, bool keepTabs);

// The grapheme cluster of text (valid UTF-8) that starts at byte at: returns the
// byte where the next one starts, and its width in display columns in width: 2 for
// wide East Asian characters and emoji, 0 for a cluster of marks alone, else 1.
size_t nextClusterSlow(const char* text, size_t length, size_t at, int& width);
inline size_t nextCluster(const char* text, size_t length, size_t at, int& width) {
    if (at >= length) {
        width = 0;
        return length;
    }
    // ASCII followed by ASCII (or nothing) is a cluster of its own.
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80 && (at + 1 >= length || static_cast<unsigned char>(text[at + 1]) < 0x80)) {
        width = lead < 0x20 || lead == 0x7F ? 0 : 1;
        return at + 1;
    }
    return nextClusterSlow(text, length, at, width);
}

// What the cluster rules need of each code point of the Basic Multilingual Plane,
// in one byte: its width (bits 0-1), whether it joins the cluster before it (JOINS:
// marks and joiners), and whether a cluster it begins follows the full rules
// (FULL_RULES: regional indicators, emoji, Hangul, prepended marks).
namespace unicode_detail {
inline constexpr uint8_t JOINS = 4, FULL_RULES = 8;
extern const std::array<uint8_t, 0x10000> PLANE_TABLE;

// Lead bytes of code points that never join the cluster before them: everything below
// U+0300, Greek and Cyrillic up to U+047F, CJK ideographs U+5000 to U+9FFF, Hangul
// syllables U+B000 to U+CFFF (only a leading jamo, which takes the full rules, joins them).
inline constexpr std::array<bool, 256> NEVER_JOINS = [] {
    std::array<bool, 256> never{};
    for (int b = 0; b < 0xCC; ++b)
        never[static_cast<size_t>(b)] = true;
    for (int b : {0xCE, 0xCF, 0xD0, 0xD1, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEB, 0xEC})
        never[static_cast<size_t>(b)] = true;
    return never;
}();

// The code point of two or three bytes at p (valid UTF-8, lead byte b).
inline uint32_t decodeShort(const unsigned char* p, unsigned b) {
    return b < 0xE0 ? ((b & 0x1Fu) << 6) | (p[1] & 0x3Fu)
                    : ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
}
}  // namespace unicode_detail

// The end of the grapheme cluster at text[at] (valid UTF-8, at < length) when the
// quick rules tell it, with its width in width; 0 when they do not. A code point of
// the Basic Multilingual Plane that keeps to the simple rules, followed by one that
// does not join it, is a cluster of its own; so is a Hangul syllable no jamo follows.
inline size_t quickClusterEnd(const char* text, size_t length, size_t at, int& width) {
    using namespace unicode_detail;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned b = p[at];
    uint32_t code;
    size_t end;
    if (b < 0x80) {
        code = b;
        end = at + 1;
    } else {
        end = at + (b < 0xE0 ? 2 : 3);
        if (b < 0xC2 || b >= 0xF0 || end > length) return 0;
        code = decodeShort(p + at, b);
    }
    const uint8_t entry = PLANE_TABLE[code];
    if (end < length && !NEVER_JOINS[p[end]]) {
        const unsigned next = p[end];
        if (next >= 0xF0 || end + (next < 0xE0 ? 2 : 3) > length) return 0;
        const uint8_t nextEntry = PLANE_TABLE[decodeShort(p + end, next)];
        if (nextEntry & (JOINS | FULL_RULES)) return 0;
    }
    if ((entry & FULL_RULES) && code - 0xAC00u > 0xD7A3u - 0xAC00u) return 0;
    width = entry & 3;
    return end;
}

// The end of the grapheme cluster at text[at] and its width, by the quick rules or
// the full ones.
inline size_t clusterEnd(const char* text, size_t length, size_t at, int& width) {
    if (const size_t end = quickClusterEnd(text, length, at, width); end != 0) return end;
    return nextClusterSlow(text, length, at, width);
}

// The width of text in display columns (never more than its length in bytes).
int64_t displayWidth(std::string_view text);

// The longest start of text that is at most columns wide, ending on a cluster
// boundary: its length in bytes; its width goes to *width when given.
size_t prefixFitting(std::string_view text, int64_t columns, int64_t* width = nullptr);

// prefixFitting for the wrap: also the first cluster boundary at a column from
// markColumn on (the end of the fitting start when there is none) in *mark.
size_t fitColumns(std::string_view text, int64_t columns, int64_t markColumn, size_t* mark, int64_t* width);

// Whether the ASCII character at text[at] begins a grapheme cluster (it does unless a
// prepended mark comes before it).
bool asciiStartsCluster(const char* text, size_t at);

// Whether the code point at text[at] extends any cluster before it (a mark or a joiner);
// false at the end.
bool joinsAt(const char* text, size_t length, size_t at);
