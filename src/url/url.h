// URL record, parsing, link resolution and the small text helpers of the URL unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/limits.h"

enum Scheme : int32_t {
    SCHEME_NONE = 0,
    SCHEME_GEMINI = 1,
    SCHEME_SPARTAN = 2,
    SCHEME_HTTP = 3,
    SCHEME_HTTPS = 4,
    SCHEME_FTP = 5,
    SCHEME_GOPHER = 6,
    SCHEME_FINGER = 7,
    SCHEME_NEX = 8,
    SCHEME_MAILTO = 9,
    SCHEME_INTERNAL = 10,
};

enum NetBufferType : int32_t {
    NETBUF_TEXT = 1,    // in-memory body
    NETBUF_UPLOAD = 2,  // data holds the path of a local file; length is its size
};

// A request body: Spartan query data, a typed Spartan answer or a file upload.
struct NetBuffer {
    int32_t type = NETBUF_TEXT;
    std::vector<char> data;  // 1024 bytes for a text body, 128 for a path; grows when needed
    int32_t length = 0;
};

// Returns null when the buffer cannot be allocated.
std::unique_ptr<NetBuffer> newNetBuffer(int32_t type);
void freeNetBuffer(std::unique_ptr<NetBuffer>& buffer);

// An address. Copied by value, but only one record owns the request body: a copy
// carries no body, a move hands it on.
struct UrlRecord {
    int32_t scheme = SCHEME_NONE;
    char url[URL_MAX + 1] = {};
    char host[HOST_MAX + 1] = {};
    char path[PATH_MAX_LEN + 1] = {};
    int32_t port = 0;
    std::unique_ptr<NetBuffer> data;
    char gopherType = 0;

    UrlRecord() = default;
    UrlRecord(const UrlRecord& other);
    UrlRecord& operator=(const UrlRecord& other);
    UrlRecord(UrlRecord&& other) noexcept = default;
    UrlRecord& operator=(UrlRecord&& other) noexcept = default;
    ~UrlRecord() = default;
};

// Fills record from text; returns 1 on success, 0 for an empty text or one over URL_MAX.
// A port is the digits right after the host's first ":" (reading stops at the first
// non-digit); no digits, or a value over 2147483647, is no port and stays in the host.
int parseUrl(const char* text, UrlRecord& record);

// Two addresses are the same when their first 328 characters agree.
bool sameAddress(std::string_view a, std::string_view b);

// The pages the program makes itself. Their names stand where an address would.
enum BuiltinPage : int32_t {
    PAGE_NONE = 0,          // not a built-in name: an address
    PAGE_HOME,              // "HOME", the start page
    PAGE_TEST,              // "TEST", the layout test page
    PAGE_HISTORY,           // "HISTORY", the visited list
    PAGE_BOOKVIEW,          // "BOOKVIEW", the bookmarks
    PAGE_BOOKMAN,           // "BOOKMAN", the bookmark manager
    PAGE_BOOK_COMMAND,      // "BOOK:...", a bookmark manager command
    PAGE_BOOK_UNKNOWN,      // any other name starting with "BOOK"
    PAGE_IDENTITIES,        // "IDENTITIES", the identity manager
    PAGE_IDENTITY_COMMAND,  // "IDENTITY:...", an identity manager command
};
// The name of a built-in page ("" for PAGE_NONE and the two BOOK forms).
const char* pageName(BuiltinPage page);
// Which built-in page a text names.
BuiltinPage builtinPageOf(std::string_view text);
// True for "HOME", "HISTORY", "TEST", "IDENTITIES", anything starting with "BOOK" and
// the identity manager's commands.
bool isBuiltinPageName(const char* text);
// The prefix of the bookmark manager's commands.
inline constexpr char BOOK_COMMAND_PREFIX[] = "BOOK:";
// The prefix of the identity manager's commands.
inline constexpr char IDENTITY_COMMAND_PREFIX[] = "IDENTITY:";

void lowercaseInPlace(char* s);
int hexDigitValue(char c);

// Decimal digits of a non-negative value (at most 14 digits; a negative one gets a
// "-"). The text lives in storage of the calling thread, overwritten by its next call.
const char* decimalText(int64_t value, int* length);

// Text typed by a person as it goes into a URL: every byte 0x80 and above, and every
// "%" that does not begin an escape ("%" and two hex digits), percent-encoded
// (lower-case hex). An escape the person typed, or copied from an address, is kept.
std::string encodeTyped(std::string_view typed);

// In-place encoders and decoders; s must hold at least PATH_MAX_LEN + 1 bytes.
int encodeQuery(char* s);
// The same with the output capped at limit characters (at most URL_MAX); s must hold
// limit + 1 bytes.
int encodeQueryWithin(char* s, int limit);
// Decodes every "%" and two hex digits of a Gopher selector into its byte.
void decodeSelector(char* s);

// What a resolved link leads to.
enum LinkKind : int32_t {
    LINK_FETCH = 0,  // a page this program fetches (gemini, spartan, gopher, finger, nex)
    LINK_SEARCH,     // a Gopher search (item type 7)
    LINK_WEB,        // http and https, and Gopher's "h" items
    LINK_BOOK,       // a bookmark or identity manager command
    LINK_FTP,
    LINK_MAILTO,
    LINK_UNSUPPORTED,  // anything else, and Gopher item types this program does not show
};

// Resolves link (linkLength bytes; a NUL ends it early) against base into dest (at
// most URL_MAX characters and a NUL). Gopher menu items (gopherHost set) are
// resolved from their item type, selector, host and port. Returns what the link
// leads to; destLength receives the length of dest. A link is display text
// (ISO-8859-1 letters are written as the UTF-8 escapes they stand for), or, with
// utf8, UTF-8 text whose every byte from 0x80 on is escaped (an IRI becomes a URI);
// one whose escaped form would not fit is unsupported.
LinkKind resolveLink(char* dest, int* destLength, const char* link, int linkLength, const UrlRecord& base,
                     char gopherType, const char* gopherHost, int gopherPort, bool utf8 = false);
int removeDotSegments(char* s);
// s must hold at least PATH_MAX_LEN + 1 bytes; the result has at most PATH_MAX_LEN characters.
int encodeSpaces(char* s);
// s must hold at least URL_MAX + 1 bytes.
int encodeLatin1(char* s, int length);
// Escapes every byte from 0x80 on ("%c3%a9"); -1 (s unchanged) when the result would
// pass URL_MAX characters. s must hold at least URL_MAX + 1 bytes.
int encodeNonAscii(char* s, int length);
