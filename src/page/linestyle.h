// Style codes of display lines: the link styles (by the kind of link and whether
// it was visited), the prompt styles, and headings, preformatted and plain text.
#pragma once

#include <cstdint>

#include "text/limits.h"

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

static_assert(STYLE_TEXT + 1 == STYLE_COUNT, "the styles are numbered 0 to STYLE_COUNT - 1");

// The code's name as written in the source ("STYLE_LINK"), or null outside 0-13.
const char* lineStyleName(int style);
