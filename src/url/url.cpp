// URL record, the address parser and the small text helpers of the URL unit.
#include "url/url.h"

#include "url/bounded_text.h"

#include <cstring>
#include <new>

namespace {

struct SchemeEntry {
    const char* prefix;
    int length;
    int32_t scheme;
    int32_t defaultPort;
};

// Matched in this order; a scheme may be written in any case (it is written in lower
// case in the record).
constexpr SchemeEntry SCHEME_TABLE[] = {
    {"gemini://", 9, SCHEME_GEMINI, 1965}, {"spartan://", 10, SCHEME_SPARTAN, 300},
    {"http://", 7, SCHEME_HTTP, 80},       {"https://", 8, SCHEME_HTTPS, 443},
    {"ftp://", 6, SCHEME_FTP, 21},         {"gopher://", 9, SCHEME_GOPHER, 70},
    {"finger://", 9, SCHEME_FINGER, 79},   {"nex://", 6, SCHEME_NEX, 1900},
    {"mailto:", 7, SCHEME_MAILTO, 25},
};

constexpr int NETBUF_TEXT_SIZE = 1024;
constexpr int NETBUF_PATH_SIZE = 128;

// True when the first length bytes of text equal prefix in any case (ASCII letters).
bool strncasecmpAscii(const char* text, const char* prefix, int length) {
    for (int i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

int boundedLength(const char* s, int maximum) {
    return static_cast<int>(strnlen(s, static_cast<size_t>(maximum)));
}

// Reads "name:digits" as the host form with a port. The digits must follow the first ":"
// directly; reading stops at the first non-digit. A value that does not fit 32 bits is no
// number. Returns the position of the ":" or -1, and the value through port.
int findPort(const char* host, int32_t* port) {
    const char* colon = std::strchr(host, ':');
    if (colon == nullptr || colon == host) return -1;
    const char* p = colon + 1;
    if (*p < '0' || *p > '9') return -1;
    int32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (value > (INT32_MAX - digit) / 10) return -1;
        value = value * 10 + digit;
    }
    *port = value;
    return static_cast<int>(colon - host);
}

// Percent-decodes a Spartan query into a new text body; null when out of memory.
std::unique_ptr<NetBuffer> decodeQueryBody(const char* query, int length) {
    std::unique_ptr<NetBuffer> body = newNetBuffer(NETBUF_TEXT);
    if (!body) return nullptr;
    int out = 0;
    for (int i = 0; i < length && out < static_cast<int>(body->data.size()); ++out) {
        if (query[i] == '%' && i + 2 < length) {
            body->data[static_cast<size_t>(out)] =
                static_cast<char>(hexDigitValue(query[i + 1]) * 16 + hexDigitValue(query[i + 2]));
            i += 3;
        } else {
            body->data[static_cast<size_t>(out)] = query[i++];
        }
    }
    body->length = out;
    return body;
}

}  // namespace

std::unique_ptr<NetBuffer> newNetBuffer(int32_t type) {
    try {
        auto buffer = std::make_unique<NetBuffer>();
        buffer->type = type;
        buffer->data.resize(type == NETBUF_UPLOAD ? NETBUF_PATH_SIZE : NETBUF_TEXT_SIZE);
        buffer->length = 0;
        return buffer;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void freeNetBuffer(std::unique_ptr<NetBuffer>& buffer) {
    buffer.reset();
}

UrlRecord::UrlRecord(const UrlRecord& other)
    : scheme(other.scheme), port(other.port), gopherType(other.gopherType) {
    std::memcpy(url, other.url, sizeof url);
    std::memcpy(host, other.host, sizeof host);
    std::memcpy(path, other.path, sizeof path);
}

UrlRecord& UrlRecord::operator=(const UrlRecord& other) {
    if (this == &other) return *this;
    scheme = other.scheme;
    std::memcpy(url, other.url, sizeof url);
    std::memcpy(host, other.host, sizeof host);
    std::memcpy(path, other.path, sizeof path);
    port = other.port;
    data.reset();
    gopherType = other.gopherType;
    return *this;
}

bool sameAddress(std::string_view a, std::string_view b) {
    return a.substr(0, URL_MAX) == b.substr(0, URL_MAX);
}

namespace {

struct PageNameEntry {
    BuiltinPage page;
    std::string_view name;
};

// The one table of the built-in pages' names.
constexpr PageNameEntry PAGE_NAMES[] = {
    {PAGE_HOME, "HOME"},         {PAGE_TEST, "TEST"},       {PAGE_HISTORY, "HISTORY"},
    {PAGE_BOOKVIEW, "BOOKVIEW"}, {PAGE_BOOKMAN, "BOOKMAN"}, {PAGE_IDENTITIES, "IDENTITIES"},
};

}  // namespace

const char* pageName(BuiltinPage page) {
    for (const PageNameEntry& entry : PAGE_NAMES)
        if (entry.page == page) return entry.name.data();
    return "";
}

BuiltinPage builtinPageOf(std::string_view text) {
    for (const PageNameEntry& entry : PAGE_NAMES)
        if (text == entry.name) return entry.page;
    if (text.starts_with(BOOK_COMMAND_PREFIX)) return PAGE_BOOK_COMMAND;
    if (text.starts_with("BOOK")) return PAGE_BOOK_UNKNOWN;
    if (text.starts_with(IDENTITY_COMMAND_PREFIX)) return PAGE_IDENTITY_COMMAND;
    return PAGE_NONE;
}

bool isBuiltinPageName(const char* text) {
    return text != nullptr && builtinPageOf(text) != PAGE_NONE;
}

void lowercaseInPlace(char* s) {
    if (s == nullptr) return;
    for (; *s != '\0'; ++s) {
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
    }
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;  // not a digit: any value will do, but keep it within 0-15
}

const char* decimalText(int64_t value, int* length) {
    thread_local char text[24];
    char digits[24];
    int count = 0;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int n = 0;
    if (value < 0) text[n++] = '-';
    while (count > 0)
        text[n++] = digits[--count];
    text[n] = '\0';
    if (length != nullptr) *length = n;
    return text;
}

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string encodeTyped(std::string_view typed) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(typed.size());
    for (size_t i = 0; i < typed.size(); ++i) {
        const auto c = static_cast<unsigned char>(typed[i]);
        const bool escape =
            c == '%' && i + 2 < typed.size() && isHexDigit(typed[i + 1]) && isHexDigit(typed[i + 2]);
        if (c >= 0x80 || (c == '%' && !escape)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int encodeQuery(char* s) {
    return encodeQueryWithin(s, PATH_MAX_LEN);
}

int encodeQueryWithin(char* s, int limit) {
    if (s == nullptr) return 0;
    if (limit > URL_MAX) limit = URL_MAX;
    const int inLength = boundedLength(s, limit);
    const char* question = static_cast<const char*>(std::memchr(s, '?', static_cast<size_t>(inLength)));
    if (question == nullptr) return static_cast<int>(std::strlen(s));

    char out[URL_MAX + 1];
    int o = 0;
    int i = 0;
    const int queryStart = static_cast<int>(question - s) + 1;
    for (; i < queryStart; ++i)
        out[o++] = s[i];
    for (; i < inLength; ++i) {
        const char* code = nullptr;
        switch (s[i]) {
            case ' ':
                code = "%20";
                break;
            case '/':
                code = "%2f";
                break;
            case '?':
                code = "%3f";
                break;
            case '#':
                code = "%23";
                break;
            case '[':
                code = "%5b";
                break;
            case ']':
                code = "%5d";
                break;
            default:
                break;
        }
        if (code != nullptr) {
            if (o + 3 >= limit) continue;
            std::memcpy(out + o, code, 3);
            o += 3;
        } else if (o < limit) {
            out[o++] = s[i];
        }
    }
    std::memcpy(s, out, static_cast<size_t>(o));
    s[o] = '\0';
    return o;
}

void decodeSelector(char* s) {
    if (s == nullptr) return;
    const int inLength = boundedLength(s, PATH_MAX_LEN);
    int o = 0;
    for (int i = 0; i < inLength;) {
        if (s[i] == '%' && i + 2 < inLength && isHexDigit(s[i + 1]) && isHexDigit(s[i + 2])) {
            s[o++] = static_cast<char>(hexDigitValue(s[i + 1]) * 16 + hexDigitValue(s[i + 2]));
            i += 3;
        } else {
            s[o++] = s[i++];
        }
    }
    s[o] = '\0';
}

int parseUrl(const char* text, UrlRecord& record) {
    record = UrlRecord();
    if (text == nullptr) return 0;
    const int textLength = boundedLength(text, URL_MAX + 1);
    if (textLength == 0 || textLength > URL_MAX) return 0;

    if (isBuiltinPageName(text)) {
        std::memcpy(record.url, text, static_cast<size_t>(textLength) + 1);
        record.scheme = SCHEME_INTERNAL;
        return 1;
    }

    const char* prefix = "gemini://";
    const char* rest = text;
    record.scheme = SCHEME_GEMINI;
    record.port = 1965;
    for (const SchemeEntry& entry : SCHEME_TABLE) {
        if (strncasecmpAscii(text, entry.prefix, entry.length)) {
            prefix = entry.prefix;
            rest = text + entry.length;
            record.scheme = entry.scheme;
            record.port = entry.defaultPort;
            break;
        }
    }
    int restLength = textLength - static_cast<int>(rest - text);

    if (record.scheme == SCHEME_SPARTAN) {
        const void* hash = std::memchr(rest, '#', static_cast<size_t>(restLength));
        if (hash != nullptr) restLength = static_cast<int>(static_cast<const char*>(hash) - rest);
        const void* question = std::memchr(rest, '?', static_cast<size_t>(restLength));
        if (question != nullptr) {
            const char* query = static_cast<const char*>(question) + 1;
            record.data = decodeQueryBody(query, restLength - static_cast<int>(query - rest));
        }
    }

    const void* slash = std::memchr(rest, '/', static_cast<size_t>(restLength));
    const int hostLength = slash ? static_cast<int>(static_cast<const char*>(slash) - rest) : restLength;
    BoundedText hostText{record.host, HOST_MAX};
    hostText.append(rest, hostLength);

    if (slash != nullptr) {
        BoundedText pathText{record.path, PATH_MAX_LEN};
        pathText.append(rest + hostLength, restLength - hostLength);
        if (std::strchr(record.path, '.') != nullptr) removeDotSegments(record.path);
        encodeQuery(record.path);
    } else {
        record.path[0] = '/';
        record.path[1] = '\0';
    }
    if (record.path[0] != '\0' && record.path[1] == '\0' &&
        (record.scheme == SCHEME_GOPHER || record.scheme == SCHEME_FINGER)) {
        record.path[0] = '\0';
    }

    char user[HOST_MAX + 1] = {};
    if (const char* at = std::strchr(record.host, '@')) {
        const int userLength = static_cast<int>(at - record.host) + 1;
        std::memcpy(user, record.host, static_cast<size_t>(userLength));
        user[userLength] = '\0';
        std::memmove(record.host, at + 1, std::strlen(at + 1) + 1);
    }

    int32_t port = 0;
    const int colon = findPort(record.host, &port);
    if (colon >= 0) {
        record.host[colon] = '\0';
        record.port = port;
    }
    lowercaseInPlace(record.host);

    BoundedText urlText{record.url, URL_MAX};
    urlText.append(prefix);
    if (record.scheme != SCHEME_SPARTAN) urlText.append(user);
    urlText.append(record.host);
    if (colon >= 0) {
        int digits = 0;
        const char* number = decimalText(record.port, &digits);
        urlText.append(":", 1);
        urlText.append(number, digits);
    }
    urlText.append(record.path);

    if (record.scheme == SCHEME_GOPHER) {
        const size_t pathLength = std::strlen(record.path);
        if (pathLength <= 1) {
            record.gopherType = '1';
        } else {
            record.gopherType = record.path[1];
            std::memmove(record.path, record.path + 2, pathLength - 1);
            decodeSelector(record.path);
        }
    }
    return 1;
}
