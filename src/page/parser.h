// The page parser: turns one received document into display lines wrapped to the
// view's width, each with a style code and, for links, the absolute URL a click
// follows. Understands text/gemini, Gopher menus, Nex documents and plain text.
// GUI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "page/linestyle.h"
#include "url/url.h"

// One display line. text and linkUrl point into the page's own storage and stay
// valid until the page is parsed again or freed.
struct PageLine {
    const char* text = nullptr;     // NUL-terminated, display character set, no line break
    int32_t style = STYLE_TEXT;     // LineStyle code
    int32_t sourceLine = 0;         // source line (0 = first line after the header) it was cut from
    const char* linkUrl = nullptr;  // absolute URL on every display line of a link, else null
    int32_t linkTextLength = 0;     // link lines: the length of text; 0 otherwise
};

// Storage for the strings of a page: blocks that never move, so a pointer handed
// out stays valid while more strings are added. A new parse of the same page model
// writes over the blocks of the previous one before it allocates more.
struct PageTextBlock {
    std::unique_ptr<char[]> data;
    size_t size = 0;
};

struct PageTextStore {
    std::vector<PageTextBlock> blocks;
    size_t used = 0;         // blocks in use; the last of them has room left
    char* cursor = nullptr;  // free room in block used - 1
    size_t room = 0;
};

// A parsed page: the display lines in order and the storage their texts live in.
// Movable; moving keeps every text and linkUrl pointer valid.
struct PageModel {
    std::vector<PageLine> lines;
    int32_t lineCount = 0;
    int32_t linkCount = 0;  // link display lines, not distinct links
    // The texts are UTF-8 (the Unicode display) rather than ISO-8859-1 display text;
    // linkTextLength then counts display columns.
    bool unicode = false;
    // The reply named a character set that could not be converted: shown as UTF-8.
    bool unknownCharset = false;
    // The transliterated document. A display line without indent is cut out of it
    // where it stands (a NUL written over the line break or dropped space after it);
    // the others are copied into the store.
    std::unique_ptr<char[]> displayText;
    PageTextStore store;
};

// Answers whether an address has been visited; links to visited addresses get the
// visited styles. An empty function means nothing has been visited.
using VisitedCheck = std::function<bool(std::string_view url)>;

struct ParseOptions {
    VisitedCheck isVisited;  // empty: nothing has been visited
    // Keep the text as UTF-8 and wrap it by display columns (a reply in another
    // character set is converted first), instead of transliterating it to ISO-8859-1.
    bool unicode = false;
};

// Parses document (the whole reply, header line included for gemini, spartan and
// built-in pages) for a view columns characters wide into page, dropping what page
// held before. Returns the first line, or null when there are no lines or memory
// ran out (an error requester has said so then, message 126 or 127).
// A NUL byte inside the document is shown as a middle dot (0xB7; U+FFFD in Unicode).
// The links of the "HISTORY" and bookmark pages are all shown as visited.
const PageLine* parseNetBuf(PageModel& page, const UrlRecord& urlRecord, int columns,
                            std::string_view document, const ParseOptions& options);
const PageLine* parseNetBuf(PageModel& page, const UrlRecord& urlRecord, int columns,
                            std::string_view document, const VisitedCheck& isVisited = {});

// The character set a reply's header line names ("text/gemini; charset=latin1" gives
// "latin1"), lower-cased; "" when it names none.
std::string headerCharset(std::string_view header);

// The line style of a link of this kind: visited when it leads to base itself or to
// a visited address (fetched pages and Gopher searches only).
int32_t linkStyle(LinkKind kind, std::string_view url, const UrlRecord& base, const VisitedCheck& isVisited);

// Changes the style of one display line (a link saved to a file turns visited);
// indexes outside the page are ignored.
void setPageLineStyle(PageModel& page, int32_t index, int32_t style);

// Frees the lines and strings of a page.
void freePageLines(PageModel& page);

// Appends one display line with a copy of length bytes of text. False when out of
// memory (the page is unchanged then).
bool addLine(PageModel& page, const char* text, size_t length, int32_t style, int32_t sourceLine);
