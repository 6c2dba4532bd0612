// Finding text in a page: every place a word occurs in the display lines, ignoring
// case, and the text between two places of the page (what a selection copies).
// GUI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "page/parser.h"

// A stretch of one display line: bytes start to end of its text.
struct FindMatch {
    int32_t line = 0;
    int32_t start = 0;
    int32_t end = 0;
};

// Every place the needle (UTF-8, as typed) occurs in the page's display lines,
// ignoring case, in page order; a match never spans two display lines. At most
// limit matches; none for an empty needle.
std::vector<FindMatch> findInPage(const PageModel& page, std::string_view needle, size_t limit = 100000);

// A place in the text: a display line and a byte offset in its text.
struct TextSpot {
    int32_t line = -1;
    int32_t offset = 0;
};
inline bool operator==(const TextSpot& a, const TextSpot& b) {
    return a.line == b.line && a.offset == b.offset;
}
inline bool operator<(const TextSpot& a, const TextSpot& b) {
    return a.line < b.line || (a.line == b.line && a.offset < b.offset);
}

// The text from one spot to the other (in either order) as UTF-8, display lines
// joined by line breaks.
std::string textBetween(const PageModel& page, TextSpot a, TextSpot b);

// The word around a spot (letters, digits and marks; a run of anything else alone):
// its start and end in the line.
FindMatch wordAt(const PageModel& page, TextSpot spot);
