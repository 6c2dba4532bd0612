#include "page/parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "page/unicode.h"
#include "page/utf8.h"
#include "platform/charsets.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

constexpr size_t STORE_BLOCK_SIZE = 256 * 1024;
constexpr char MIDDLE_DOT = static_cast<char>(0xB7);
constexpr int PROGRESS_MESSAGE_MAX = 27;  // the status text is 32 bytes: message, "  0%" and a NUL

// Room for n bytes in the page's storage; throws std::bad_alloc.
char* storeAllocate(PageTextStore& store, size_t n) {
    if (n > store.room) {
        // The next block kept from an earlier parse, or a new one.
        if (store.used < store.blocks.size() && store.blocks[store.used].size < n) {
            store.blocks.resize(store.used);
        }
        if (store.used == store.blocks.size()) {
            const size_t size = std::max(n, STORE_BLOCK_SIZE);
            if (store.blocks.size() == store.blocks.capacity())
                store.blocks.reserve(store.blocks.size() * 2 + 8);
            store.blocks.push_back(PageTextBlock{std::make_unique_for_overwrite<char[]>(size), size});
        }
        const PageTextBlock& block = store.blocks[store.used++];
        store.cursor = block.data.get();
        store.room = block.size;
    }
    char* at = store.cursor;
    store.cursor += n;
    store.room -= n;
    return at;
}

// Empties the store but keeps its blocks for the next parse.
void storeReset(PageTextStore& store) {
    store.used = 0;
    store.cursor = nullptr;
    store.room = 0;
}

// Releases the blocks the page does not use.
void storeTrim(PageTextStore& store) {
    store.blocks.resize(store.used);
}

// Empties a page for a new parse; its storage is written over, not reallocated,
// which matters when a page is parsed again at a new width.
void pageReset(PageModel& page) {
    page.lines.clear();
    page.displayText.reset();
    storeReset(page.store);
    page.lineCount = 0;
    page.linkCount = 0;
}

// A NUL-terminated copy of text in the page's storage; throws std::bad_alloc.
const char* storeCopy(PageTextStore& store, const char* text, size_t length) {
    char* at = storeAllocate(store, length + 1);
    if (length > 0) std::memcpy(at, text, length);
    at[length] = '\0';
    return at;
}

// The clickable extent of a link's display line: its length in characters (display
// columns of UTF-8 text); 0 for other lines.
int32_t linkLength(const PageModel& page, const char* text, size_t length, const char* linkUrl) {
    if (linkUrl == nullptr) return 0;
    if (!page.unicode) return static_cast<int32_t>(length);
    return static_cast<int32_t>(displayWidth(std::string_view(text, length)));
}

// Appends one display line: indent spaces (the second one a '>' for quotes) and
// then length bytes of text. Throws std::bad_alloc.
void emitLine(PageModel& page, int indent, bool quote, const char* text, size_t length, int32_t style,
              int32_t sourceLine, const char* linkUrl) {
    const size_t total = static_cast<size_t>(indent) + length;
    if (page.lines.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
        total >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::bad_alloc();
    }
    char* at = storeAllocate(page.store, total + 1);
    if (indent > 0) {
        std::memset(at, ' ', static_cast<size_t>(indent));
        if (quote && indent >= 2) at[1] = '>';
    }
    if (length > 0) std::memcpy(at + indent, text, length);
    at[total] = '\0';
    page.lines.push_back(PageLine{at, style, sourceLine, linkUrl, linkLength(page, at, total, linkUrl)});
    if (linkUrl != nullptr) ++page.linkCount;
}

// Appends one display line whose text is already NUL-terminated where it stands in
// the page's transliterated text. Throws std::bad_alloc.
void emitInPlace(PageModel& page, const char* text, size_t length, int32_t style, int32_t sourceLine,
                 const char* linkUrl) {
    if (page.lines.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw std::bad_alloc();
    page.lines.push_back(PageLine{text, style, sourceLine, linkUrl, linkLength(page, text, length, linkUrl)});
    if (linkUrl != nullptr) ++page.linkCount;
}

constexpr std::array<bool, 256> makeBreakTable() {
    std::array<bool, 256> table{};
    for (const char c : std::string_view(",-.+!&:;#?"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 256> BREAK_CHARACTERS = makeBreakTable();

// The status line's "Parsing... 10%" to "90%": one update each time the percentage of
// the text passed, rounded down to tens, changes.
struct Progress {
    char text[32] = {};
    size_t digitsAt = 0;
    uint64_t length = 1;
    uint64_t shown = 0;

    explicit Progress(size_t textLength) : length(textLength > 0 ? textLength : 1) {
        const char* message = getString(MSG_STATUS_PARSING);
        if (message == nullptr) message = "";
        size_t m = strnlen(message, PROGRESS_MESSAGE_MAX + 1);
        if (m > PROGRESS_MESSAGE_MAX) {
            // Keep the "NN%" in the buffer; never cut a UTF-8 character in two.
            m = PROGRESS_MESSAGE_MAX;
            while (m > 0 && (static_cast<unsigned char>(message[m]) & 0xC0u) == 0x80u)
                --m;
        }
        std::memcpy(text, message, m);
        std::memcpy(text + m, "  0%", 5);
        digitsAt = m + 1;
    }

    uint64_t tens(uint64_t position) const { return position * 100 / length / 10 * 10; }

    // Every byte position up to and including position has been passed.
    void passed(uint64_t position) {
        const uint64_t reached = tens(position);
        while (shown < reached) {
            // The first position whose value exceeds the one shown; short texts skip values.
            const uint64_t first = ((shown + 10) * length + 99) / 100;
            shown = tens(first);
            text[digitsAt] = static_cast<char>('0' + shown / 10);
            text[digitsAt + 1] = static_cast<char>('0' + shown % 10);
            setStatus(text);
        }
    }
};

struct Parser {
    PageModel& page;
    const UrlRecord& record;
    const VisitedCheck& isVisited;
    int columns = 1;
    bool gemtext = false;
    bool nex = false;
    bool gopherMenu = false;
    bool listPage = false;
    bool unicode = false;
    bool preformatted = false;
    int32_t sourceLine = 0;
    char linkBuffer[URL_MAX + 1] = {};
    char hostBuffer[URL_MAX + 1] = {};
    std::string scratch;

    Parser(PageModel& model, const UrlRecord& base, const VisitedCheck& visited)
        : page(model), record(base), isVisited(visited) {}

    int32_t styleOf(LinkKind kind, const char* url, int urlLength) const {
        if (listPage) return STYLE_VISITED;
        return linkStyle(kind, std::string_view(url, static_cast<size_t>(std::max(urlLength, 0))), record,
                         isVisited);
    }

    int width(int w) const { return w > 0 ? w : 1; }

    // Link text runs to the first space or control character; bytes from 0x80 on belong to it.
    static bool isLinkByte(char c) { return static_cast<unsigned char>(c) > 0x20; }

    // One display line of a wrap. inPlace: the byte after the piece may become its end.
    void emitPiece(char* text, size_t length, int indent, bool quote, int32_t style, const char* linkUrl,
                   bool inPlace) {
        if (inPlace && indent == 0) {
            text[length] = '\0';
            emitInPlace(page, text, length, style, sourceLine, linkUrl);
        } else {
            emitLine(page, indent, quote, text, length, style, sourceLine, linkUrl);
        }
    }

    // Cuts text into display lines and appends them. The continuation indent and
    // width take over after the first display line only when the first indent is 1.
    // inPlace: text lies in the transliterated text and the byte after it is a line
    // break or a field's tab, so a display line without indent that ends there or at a
    // dropped space is terminated where it stands instead of copied.
    void wrap(char* text, size_t length, int firstIndent, int firstWidth, int nextIndent, bool quote,
              int32_t style, const char* linkUrl, bool inPlace) {
        if (unicode) {
            wrapColumns(text, length, firstIndent, firstWidth, nextIndent, quote, style, linkUrl, inPlace);
            return;
        }
        int indent = firstIndent;
        size_t w = static_cast<size_t>(width(firstWidth));
        while (length > w) {
            const size_t half = w / 2;
            size_t piece = w;
            size_t skip = w;
            // The rightmost space at a position from half to w - 1 ends the line and is dropped;
            // else the rightmost break character there ends it and stays; else a hard cut.
            size_t p = w;
            while (p > half && text[p - 1] != ' ')
                --p;
            if (p > half) {
                piece = p - 1;
                skip = p;
            } else {
                p = w;
                while (p > half && !BREAK_CHARACTERS[static_cast<unsigned char>(text[p - 1])])
                    --p;
                if (p > half) {
                    piece = p;
                    skip = p;
                }
            }
            emitPiece(text, piece, indent, quote, style, linkUrl, inPlace && skip == piece + 1);
            text += skip;
            length -= skip;
            if (firstIndent == 1) {
                indent = nextIndent;
                w = static_cast<size_t>(width(columns - nextIndent));
            }
        }
        emitPiece(text, length, indent, quote, style, linkUrl, inPlace);
    }

    // wrap for UTF-8 text: the same rules, counted in display columns by grapheme
    // clusters, so that no character or cluster is ever cut in two. A text is never
    // wider than it is long in bytes, so a text that fits in bytes needs no measuring.
    void wrapColumns(char* text, size_t length, int firstIndent, int firstWidth, int nextIndent, bool quote,
                     int32_t style, const char* linkUrl, bool inPlace) {
        int indent = firstIndent;
        int64_t w = width(firstWidth);
        while (length > static_cast<size_t>(w)) {
            size_t halfAt = 0;
            const size_t at = fitColumns(std::string_view(text, length), w, w / 2, &halfAt, nullptr);
            if (at >= length) break;  // it fits after all
            // The rightmost space at a column from half to w - 1, else the end of the
            // rightmost break character there; spaces and break characters are ASCII.
            size_t space = SIZE_MAX;
            size_t breakAfter = SIZE_MAX;
            for (size_t p = at; p > halfAt; --p) {
                if (text[p - 1] == ' ' && asciiStartsCluster(text, p - 1)) {
                    space = p - 1;
                    break;
                }
            }
            if (space == SIZE_MAX) {
                for (size_t p = at; p > halfAt; --p) {
                    const auto c = static_cast<unsigned char>(text[p - 1]);
                    if (c < 0x80 && BREAK_CHARACTERS[c] && !joinsAt(text, length, p) &&
                        asciiStartsCluster(text, p - 1)) {
                        breakAfter = p;
                        break;
                    }
                }
            }
            size_t piece, skip;
            if (space != SIZE_MAX) {
                piece = space;
                skip = space + 1;
            } else if (breakAfter != SIZE_MAX) {
                piece = skip = breakAfter;
            } else if (at > 0) {
                piece = skip = at;  // a hard cut
            } else {
                // A cluster wider than the whole line still goes on a line of its own.
                int ignored = 0;
                piece = skip = nextCluster(text, length, 0, ignored);
                if (skip >= length) break;
            }
            emitPiece(text, piece, indent, quote, style, linkUrl, inPlace && skip == piece + 1);
            text += skip;
            length -= skip;
            if (firstIndent == 1) {
                indent = nextIndent;
                w = width(columns - nextIndent);
            }
        }
        emitPiece(text, length, indent, quote, style, linkUrl, inPlace);
    }

    // Text of the transliterated document, ending at a line break or a tab.
    void plain(char* text, size_t length, int32_t style) {
        wrap(text, length, 0, columns, 0, false, style, nullptr, true);
    }

    void linkLine(const char* line, size_t n) {
        const bool prompt = line[1] == ':';
        size_t i = 2;
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t linkStart = i;
        while (i < n && isLinkByte(line[i]))
            ++i;
        const size_t linkLength = i - linkStart;
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;

        int urlLength = 0;
        LinkKind kind = resolveLink(linkBuffer, &urlLength, line + linkStart, static_cast<int>(linkLength),
                                    record, 0, nullptr, 0, unicode);
        int32_t style = prompt ? STYLE_PROMPT : styleOf(kind, linkBuffer, urlLength);
        const char* url = storeCopy(page.store, linkBuffer, static_cast<size_t>(std::max(urlLength, 0)));

        scratch.assign(prompt ? "=: " : "=> ");
        if (i < n) {
            scratch.append(line + i, n - i);
        } else {
            scratch.append(line + linkStart, linkLength);
        }
        const int indent = gemtext ? 1 : 0;
        wrap(scratch.data(), scratch.size(), indent, columns - indent, 4, false, style, url, false);
    }

    void gemtextLine(char* line, size_t n) {
        if (line[0] == '#') {
            plain(line, n, STYLE_HEADING);
        } else if (line[0] == '*') {
            if (unicode) {
                scratch.assign("\xC2\xB7");  // U+00B7, the middle dot
                scratch.append(line + 1, n - 1);
            } else {
                scratch.assign(line, n);
                scratch[0] = MIDDLE_DOT;
            }
            wrap(scratch.data(), scratch.size(), 1, columns - 1, 3, false, STYLE_TEXT, nullptr, false);
        } else if (line[0] == '>') {
            size_t i = 0;
            while (i < n && (line[i] == '>' || line[i] == ' '))
                ++i;
            if (i == n) {
                emitLine(page, 0, false, " >", 2, STYLE_TEXT, sourceLine, nullptr);
            } else {
                wrap(line + i, n - i, 3, columns - 6, 3, true, STYLE_TEXT, nullptr, false);
            }
        } else {
            plain(line, n, STYLE_TEXT);
        }
    }

    static int portNumber(const char* text, size_t length) {
        size_t i = 0;
        while (i < length && text[i] == ' ')
            ++i;
        int value = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (value < 100000000) value = value * 10 + (text[i] - '0');
        }
        return value;
    }

    void gopherLine(char* line, size_t n) {
        size_t tabs[3] = {};
        int tabCount = 0;
        for (const char* at = line + 1; at < line + n;) {
            const void* found = std::memchr(at, '\t', static_cast<size_t>(line + n - at));
            if (found == nullptr) break;
            const char* tab = static_cast<const char*>(found);
            if (tabCount < 3) tabs[tabCount] = static_cast<size_t>(tab - line);
            if (++tabCount > 4) break;
            at = tab + 1;
        }
        if (tabCount != 3 && tabCount != 4) {
            plain(line, n, STYLE_TEXT);
            return;
        }
        const char type = line[0];
        char* display = line + 1;
        const size_t displayLength = tabs[0] - 1;
        const char* selector = line + tabs[0] + 1;
        const size_t selectorLength = tabs[1] - tabs[0] - 1;
        const char* host = line + tabs[1] + 1;
        const size_t hostLength = tabs[2] - tabs[1] - 1;
        const char* port = line + tabs[2] + 1;
        const size_t portLength = n - tabs[2] - 1;

        if (type == 'i' || type == '3') {
            plain(display, displayLength, STYLE_TEXT);
            return;
        }
        if (displayLength == 0) return;

        int32_t style;
        const char* url;
        if (type == 'h') {
            style = STYLE_WEB;
            const bool fits = selectorLength >= 4 && selectorLength - 4 <= static_cast<size_t>(URL_MAX);
            url =
                fits ? storeCopy(page.store, selector + 4, selectorLength - 4) : storeCopy(page.store, "", 0);
        } else {
            const size_t hostCopy = std::min(hostLength, static_cast<size_t>(URL_MAX));
            std::memcpy(hostBuffer, host, hostCopy);
            hostBuffer[hostCopy] = '\0';
            int urlLength = 0;
            LinkKind kind =
                resolveLink(linkBuffer, &urlLength, selector,
                            static_cast<int>(std::min(selectorLength, static_cast<size_t>(INT32_MAX))),
                            record, type, hostBuffer, portNumber(port, portLength), unicode);
            style = styleOf(kind, linkBuffer, urlLength);
            url = storeCopy(page.store, linkBuffer, static_cast<size_t>(std::max(urlLength, 0)));
        }
        wrap(display, displayLength, 0, columns, 0, false, style, url, true);
    }

    // One source line of n bytes; text[n] is its line break.
    void line(char* text, size_t n) {
        if (n == 0) {
            text[0] = '\0';
            emitInPlace(page, text, 0, STYLE_TEXT, sourceLine, nullptr);
            return;
        }
        if (gemtext && n >= 3 && text[0] == '`' && text[1] == '`' && text[2] == '`') {
            preformatted = !preformatted;
            return;
        }
        if (preformatted) {
            const size_t cut = n <= static_cast<size_t>(columns) || !unicode
                                   ? std::min(n, static_cast<size_t>(columns))
                                   : prefixFitting(std::string_view(text, n), columns);
            text[cut] = '\0';
            emitInPlace(page, text, cut, STYLE_PREFORMAT, sourceLine, nullptr);
            return;
        }
        if (gemtext || nex) {
            if (n >= 2 && text[0] == '=' && (text[1] == '>' || text[1] == ':')) {
                linkLine(text, n);
            } else if (gemtext) {
                gemtextLine(text, n);
            } else {
                plain(text, n, STYLE_TEXT);
            }
        } else if (gopherMenu) {
            gopherLine(text, n);
        } else {
            plain(text, n, STYLE_TEXT);
        }
    }
};

// Room for every display line the text can give at this width: a cut piece holds at
// least half a width. Only the pages written to become resident, so an estimate
// on the high side costs address space, not memory; growing by copying would cost both.
// The line breaks from start to end (memchr looks at many bytes at a time).
size_t countLines(const char* start, const char* end) {
    size_t lines = 0;
    for (const char* at = start; at < end; ++lines) {
        const void* found = std::memchr(at, '\n', static_cast<size_t>(end - at));
        if (found == nullptr) break;
        at = static_cast<const char*>(found) + 1;
    }
    return lines;
}

void reserveLines(PageModel& page, size_t sourceLines, size_t length, int columns) {
    const size_t half = static_cast<size_t>(std::max(columns / 2, 1));
    const size_t estimate = sourceLines + length / half + 16;
    try {
        page.lines.reserve(estimate);
    } catch (const std::bad_alloc&) {
        page.lines.reserve(sourceLines + 16);
    }
}

constexpr int32_t STYLE_OF_KIND[] = {STYLE_LINK, STYLE_SEARCH, STYLE_WEB,        STYLE_BOOK,
                                     STYLE_FTP,  STYLE_MAILTO, STYLE_UNSUPPORTED};
static_assert(std::size(STYLE_OF_KIND) == LINK_UNSUPPORTED + 1);

}  // namespace

int32_t linkStyle(LinkKind kind, std::string_view url, const UrlRecord& base, const VisitedCheck& isVisited) {
    if (kind == LINK_FETCH) {
        const bool self = url.substr(0, URL_MAX) == std::string_view(base.url, strnlen(base.url, URL_MAX));
        return self || (isVisited && isVisited(url)) ? STYLE_VISITED : STYLE_LINK;
    }
    if (kind == LINK_SEARCH) return isVisited && isVisited(url) ? STYLE_SEARCH_VISITED : STYLE_SEARCH;
    return kind >= 0 && kind <= LINK_UNSUPPORTED ? STYLE_OF_KIND[kind] : STYLE_UNSUPPORTED;
}

void freePageLines(PageModel& page) {
    page.displayText.reset();
    page.lines.clear();
    page.lines.shrink_to_fit();
    page.store.blocks.clear();
    page.store.blocks.shrink_to_fit();
    storeReset(page.store);
    page.lineCount = 0;
    page.linkCount = 0;
}

void setPageLineStyle(PageModel& page, int32_t index, int32_t style) {
    if (index >= 0 && static_cast<size_t>(index) < page.lines.size())
        page.lines[static_cast<size_t>(index)].style = style;
}

bool addLine(PageModel& page, const char* text, size_t length, int32_t style, int32_t sourceLine) {
    const size_t lines = page.lines.size();
    try {
        emitLine(page, 0, false, text != nullptr ? text : "", text != nullptr ? length : 0, style, sourceLine,
                 nullptr);
    } catch (const std::bad_alloc&) {
        page.lines.resize(lines);
        return false;
    }
    page.lineCount = static_cast<int32_t>(page.lines.size());
    return true;
}

std::string headerCharset(std::string_view header) {
    std::string lower(header);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    size_t at = lower.find("charset=");
    while (at != std::string::npos && at > 0 && lower[at - 1] != ';' && lower[at - 1] != ' ' &&
           lower[at - 1] != '\t')
        at = lower.find("charset=", at + 1);
    if (at == std::string::npos) return {};
    std::string value = lower.substr(at + 8);
    value = value.substr(0, value.find_first_of("; \t\r"));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

const PageLine* parseNetBuf(PageModel& page, const UrlRecord& urlRecord, int columns,
                            std::string_view document, const VisitedCheck& isVisited) {
    return parseNetBuf(page, urlRecord, columns, document, ParseOptions{isVisited, false});
}

const PageLine* parseNetBuf(PageModel& page, const UrlRecord& urlRecord, int columns,
                            std::string_view document, const ParseOptions& options) {
    pageReset(page);
    page.unicode = options.unicode;
    page.unknownCharset = false;

    Parser parser{page, urlRecord, options.isVisited};
    parser.columns = columns > 0 ? columns : 1;
    parser.unicode = options.unicode;

    // Gemini, Spartan and built-in replies start with a header line: "20 text/gemini"
    // or Spartan's "2 text/gemini" make the body gemtext.
    std::string_view body = document;
    std::string_view header;
    const int32_t scheme = urlRecord.scheme;
    if (scheme == SCHEME_GEMINI || scheme == SCHEME_SPARTAN || scheme == SCHEME_INTERNAL) {
        const size_t lineEnd = document.find('\n');
        header = document.substr(0, lineEnd);
        parser.gemtext = (header.size() >= 14 && header.substr(8, 6) == "gemini") ||
                         (header.size() >= 13 && header.substr(7, 6) == "gemini");
        body = lineEnd == std::string_view::npos ? std::string_view() : document.substr(lineEnd + 1);
    }
    parser.nex = scheme == SCHEME_NEX;
    parser.gopherMenu = urlRecord.gopherType == '1' || urlRecord.gopherType == '7';
    const std::string_view address(urlRecord.url, strnlen(urlRecord.url, sizeof urlRecord.url));
    const BuiltinPage builtin = builtinPageOf(address);
    parser.listPage = builtin == PAGE_HISTORY || builtin == PAGE_BOOKVIEW || builtin == PAGE_BOOKMAN ||
                      builtin == PAGE_BOOK_COMMAND || builtin == PAGE_BOOK_UNKNOWN ||
                      builtin == PAGE_IDENTITIES || builtin == PAGE_IDENTITY_COMMAND;

    int32_t textLength = 0;
    std::unique_ptr<char[]> text;
    std::string converted;  // the body in UTF-8, when it came in another character set
    if (options.unicode) {
        // A reply in another character set is read as what it is, then kept as UTF-8.
        const std::string charset = headerCharset(header);
        if (!charset.empty() && charset != "utf-8" && charset != "utf8" && charset != "us-ascii" &&
            charset != "ascii") {
            try {
                if (convertToUtf8(charset, body, converted)) {
                    body = converted;
                } else {
                    page.unknownCharset = true;
                }
            } catch (const std::bad_alloc&) {
                showError(getString(MSG_ERR_MEMORY_UTF8));
                return nullptr;
            }
        }
        text = cleanUtf8(body.empty() ? "" : body.data(), body.size(), &textLength, parser.gopherMenu);
    } else {
        text = translateUtf8(body.empty() ? "" : body.data(), body.size(), &textLength, parser.gopherMenu);
    }
    if (!text) {
        showError(getString(MSG_ERR_MEMORY_UTF8));
        return nullptr;
    }
    size_t length = static_cast<size_t>(textLength);

    // Gopher text files and menus end with a "." line.
    if ((scheme == SCHEME_GOPHER && urlRecord.gopherType == '0') || parser.gopherMenu) {
        if (length >= 3 && std::memcmp(text.get() + length - 3, "\n.\n", 3) == 0) length -= 2;
    }
    // (The Unicode text has no NUL left: it became U+FFFD.)
    if (!options.unicode && !body.empty() && std::memchr(body.data(), '\0', body.size()) != nullptr) {
        std::replace(text.get(), text.get() + length, '\0', MIDDLE_DOT);
    }

    Progress progress(length);
    try {
        char* start = text.get();
        char* const end = start + length;
        reserveLines(page, countLines(start, end), length, parser.columns);
        while (start < end) {
            const void* found = std::memchr(start, '\n', static_cast<size_t>(end - start));
            char* lineEnd = found != nullptr ? start + (static_cast<const char*>(found) - start) : end;
            parser.line(start, static_cast<size_t>(lineEnd - start));
            ++parser.sourceLine;
            progress.passed(static_cast<uint64_t>(std::min(lineEnd, end - 1) - text.get()));
            start = lineEnd + 1;
        }
    } catch (const std::bad_alloc&) {
        text.reset();
        freePageLines(page);
        showError(getString(MSG_ERR_MEMORY_PARSING));
        return nullptr;
    }

    page.displayText = std::move(text);
    storeTrim(page.store);
    if (page.lines.capacity() > 8 * page.lines.size() + 4096) page.lines.shrink_to_fit();
    page.lineCount = static_cast<int32_t>(page.lines.size());
    return page.lines.empty() ? nullptr : page.lines.data();
}
