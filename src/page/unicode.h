// Page text kept as UTF-8 (the Unicode display mode): cleaning a received text for
// display, and measuring it in display columns by grapheme clusters, the units a
// line is never cut inside.
#pragma once

#include <cstddef>
#include <cstdint>
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
size_t nextCluster(const char* text, size_t length, size_t at, int& width);

// The width of text in display columns (never more than its length in bytes).
int64_t displayWidth(std::string_view text);

// The longest start of text that is at most columns wide, ending on a cluster
// boundary: its length in bytes; its width goes to *width when given.
size_t prefixFitting(std::string_view text, int64_t columns, int64_t* width = nullptr);
