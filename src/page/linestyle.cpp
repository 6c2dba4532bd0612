#include "page/linestyle.h"

#include <iterator>

const char* lineStyleName(int style) {
    static const char* const names[] = {"STYLE_LINK",        "STYLE_VISITED",
                                        "STYLE_PROMPT",      "STYLE_PROMPT_VISITED",
                                        "STYLE_SEARCH",      "STYLE_SEARCH_VISITED",
                                        "STYLE_WEB",         "STYLE_BOOK",
                                        "STYLE_FTP",         "STYLE_MAILTO",
                                        "STYLE_UNSUPPORTED", "STYLE_HEADING",
                                        "STYLE_PREFORMAT",   "STYLE_TEXT"};
    static_assert(std::size(names) == STYLE_COUNT);
    if (style < 0 || style >= STYLE_COUNT) return nullptr;
    return names[style];
}
