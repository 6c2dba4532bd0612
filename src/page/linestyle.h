// Style codes of display lines. Codes 0-10 come from link resolution; the parser
// sets the prompt code and 11-13 itself.
#pragma once

#include <cstdint>

enum LineStyle : int32_t {
    STYLE_LINK = 0,
    STYLE_VISITED = 1,
    STYLE_PROMPT = 2,
    STYLE_PROMPT_VISITED = 3,
    STYLE_SEARCH = 4,
    STYLE_SEARCH_VISITED = 5,
    STYLE_WEB = 6,
    STYLE_BOOK = 7,
    STYLE_FTP = 8,
    STYLE_MAILTO = 9,
    STYLE_UNSUPPORTED = 10,
    STYLE_HEADING = 11,
    STYLE_PREFORMAT = 12,
    STYLE_TEXT = 13,
};

inline constexpr int STYLE_COUNT = 14;

// The code's name as written in the source ("STYLE_LINK"), or null outside 0-13.
const char* lineStyleName(int style);
