// Request texts and response header checks of the fetch driver.
#include "net/protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "text/locale.h"

namespace {

constexpr size_t GEMINI_LINE_LIMIT = 1029;  // the line feed must come before this index
constexpr size_t SPARTAN_LINE_LIMIT = 322;
constexpr size_t REDIRECT_MAX = URL_MAX;   // bytes of a Gemini or Spartan redirect text
constexpr size_t HTTP_LOCATION_MAX = 327;  // characters of an HTTP Location word
constexpr size_t STATUS_TEXT_MAX = 1027;   // characters of a quoted HTTP status text
constexpr size_t REQUEST_BLOCK_MAX = REQUEST_SIZE_HTTP_PROXY;

static_assert(REQUEST_SIZE_GEMINI <= REQUEST_BLOCK_MAX && REQUEST_SIZE_SPARTAN <= REQUEST_BLOCK_MAX &&
              REQUEST_SIZE_GOPHER_PROXY <= REQUEST_BLOCK_MAX &&
              REQUEST_SIZE_FINGER_PROXY <= REQUEST_BLOCK_MAX && REQUEST_SIZE_NEX_PROXY <= REQUEST_BLOCK_MAX &&
              REQUEST_SIZE_PLAIN_DIRECT <= REQUEST_BLOCK_MAX &&
              REQUEST_SIZE_HTTP_DIRECT <= REQUEST_BLOCK_MAX);

// Length of a fixed text field, never reading past the field even without a NUL.
template <size_t N>
int fieldLength(const char (&field)[N]) {
    const void* nul = std::memchr(field, '\0', N);
    return static_cast<int>(nul != nullptr ? static_cast<const char*>(nul) - field : N);
}

// The text snprintf left in a block of size bytes, given its return value.
std::string takeBlock(const char* block, size_t size, int written) {
    if (written < 0) return std::string();
    return std::string(block, std::min(static_cast<size_t>(written), size - 1));
}

int bodyLength(const UrlRecord& request) {
    return request.data ? request.data->length : 0;
}

std::string buildGemini(const UrlRecord& r) {
    char block[REQUEST_BLOCK_MAX];
    const size_t size = REQUEST_SIZE_GEMINI;
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    int n;
    if (r.port == 1965) {
        n = std::snprintf(block, size, "gemini://%.*s%.*s\r\n", hostLen, r.host, pathLen, r.path);
    } else {
        n = std::snprintf(block, size, "gemini://%.*s:%d%.*s\r\n", hostLen, r.host, static_cast<int>(r.port),
                          pathLen, r.path);
    }
    return takeBlock(block, size, n);
}

std::string buildSpartan(const UrlRecord& r, bool viaProxy) {
    char block[REQUEST_BLOCK_MAX];
    const size_t size = REQUEST_SIZE_SPARTAN;
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    int n;
    if (viaProxy && r.port != 300) {
        n = std::snprintf(block, size, "%.*s:%d %.*s %d\r\n", hostLen, r.host, static_cast<int>(r.port),
                          pathLen, r.path, bodyLength(r));
    } else {
        n = std::snprintf(block, size, "%.*s %.*s %d\r\n", hostLen, r.host, pathLen, r.path, bodyLength(r));
    }
    return takeBlock(block, size, n);
}

std::string buildGopher(const UrlRecord& r, bool viaProxy) {
    char block[REQUEST_BLOCK_MAX];
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    if (viaProxy) {
        const size_t size = REQUEST_SIZE_GOPHER_PROXY;
        const int n = std::snprintf(block, size, "%.*s\t%d\t%.*s\r\n", hostLen, r.host,
                                    static_cast<int>(r.port), pathLen, r.path);
        return takeBlock(block, size, n);
    }
    const size_t size = REQUEST_SIZE_PLAIN_DIRECT;
    return takeBlock(block, size, std::snprintf(block, size, "%.*s\r\n", pathLen, r.path));
}

std::string buildFinger(const UrlRecord& r, bool viaProxy) {
    char block[REQUEST_BLOCK_MAX];
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    if (viaProxy) {
        const size_t size = REQUEST_SIZE_FINGER_PROXY;
        const int n = std::snprintf(block, size, "finger://%.*s:%d%.*s\r\n", hostLen, r.host,
                                    static_cast<int>(r.port), pathLen, r.path);
        return takeBlock(block, size, n);
    }
    // The user name follows the path's leading "/".
    const char* user = r.path;
    int userLen = pathLen;
    if (userLen > 0) {
        ++user;
        --userLen;
    }
    const size_t size = REQUEST_SIZE_PLAIN_DIRECT;
    return takeBlock(block, size, std::snprintf(block, size, "%.*s\r\n", userLen, user));
}

std::string buildNex(const UrlRecord& r, bool viaProxy) {
    char block[REQUEST_BLOCK_MAX];
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    if (viaProxy) {
        const size_t size = REQUEST_SIZE_NEX_PROXY;
        const int n = std::snprintf(block, size, "nex://%.*s:%d%.*s\r\n", hostLen, r.host,
                                    static_cast<int>(r.port), pathLen, r.path);
        return takeBlock(block, size, n);
    }
    const size_t size = REQUEST_SIZE_PLAIN_DIRECT;
    return takeBlock(block, size, std::snprintf(block, size, "%.*s\r\n", pathLen, r.path));
}

std::string buildHttp(const UrlRecord& r, bool viaProxy) {
    char block[REQUEST_BLOCK_MAX];
    const int hostLen = fieldLength(r.host);
    const int pathLen = fieldLength(r.path);
    if (viaProxy) {
        const size_t size = REQUEST_SIZE_HTTP_PROXY;
        const int n = std::snprintf(
            block, size, "GET http%s://%.*s:%d%.*s HTTP/1.1\r\nConnection: close\r\n\r\n",
            r.scheme == SCHEME_HTTPS ? "s" : "", hostLen, r.host, static_cast<int>(r.port), pathLen, r.path);
        return takeBlock(block, size, n);
    }
    const size_t size = REQUEST_SIZE_HTTP_DIRECT;
    const int n = std::snprintf(block, size, "GET %.*s HTTP/1.1\r\nHost: %.*s\r\nConnection: close\r\n\r\n",
                                pathLen, r.path, hostLen, r.host);
    return takeBlock(block, size, n);
}

// The response read as text: the bytes before the first NUL, at most total.
std::string_view headerText(const char* buffer, size_t total) {
    if (buffer == nullptr || total == 0) return std::string_view();
    const void* nul = std::memchr(buffer, '\0', total);
    const size_t length =
        nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - buffer) : total;
    return std::string_view(buffer, length);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isWordSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

void serverErrorMessage(FetchExchange& exchange, int id) {
    setServerError(exchange.error, messageText(id));
}

// Quotes a piece of the server's answer (at most STATUS_TEXT_MAX bytes) as a server error.
void serverErrorQuote(FetchExchange& exchange, std::string_view quote) {
    char text[STATUS_TEXT_MAX + 1];
    const size_t length = std::min(quote.size(), STATUS_TEXT_MAX);
    std::memcpy(text, quote.data(), length);
    text[length] = '\0';
    setServerError(exchange.error, text);
}

// Resolves a Gemini or Spartan redirect text against the request into redirectTarget.
void resolveRedirect(FetchExchange& exchange, std::string_view target, const UrlRecord& request) {
    char work[REDIRECT_MAX + 1];
    const size_t length = std::min(target.size(), REDIRECT_MAX);
    std::memcpy(work, target.data(), length);
    work[length] = '\0';
    int destLength = 0;
    resolveLink(exchange.redirectTarget, &destLength, work, static_cast<int>(length), request, 0, nullptr, 0);
}

// Reads the decimal number after "Content-Length: ". Blanks before it are skipped;
// anything that is not a number, or one too large for 64 bits, counts as unknown (0).
int64_t readContentLength(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    int64_t value = 0;
    constexpr int64_t limit = std::numeric_limits<int64_t>::max();
    for (; i < text.size() && isDigit(text[i]); ++i) {
        const int digit = text[i] - '0';
        if (value > (limit - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

bool isGopherPageType(char type) {
    return type == '0' || type == '1' || type == '3' || type == '7' || type == 'i';
}

bool isNexDownload(const UrlRecord& request) {
    const std::string_view path(request.path, static_cast<size_t>(fieldLength(request.path)));
    if (path.find('.') == std::string_view::npos) return false;
    return path.size() <= 4 || (!path.ends_with(".txt") && !path.ends_with(".xtw"));
}

}  // namespace

std::string buildRequest(const UrlRecord& request, bool viaProxy) {
    switch (request.scheme) {
        case SCHEME_GEMINI:
            return buildGemini(request);
        case SCHEME_SPARTAN:
            return buildSpartan(request, viaProxy);
        case SCHEME_GOPHER:
            return buildGopher(request, viaProxy);
        case SCHEME_FINGER:
            return buildFinger(request, viaProxy);
        case SCHEME_NEX:
            return buildNex(request, viaProxy);
        default:
            return buildHttp(request, viaProxy);
    }
}

int checkGeminiHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                      size_t& headerLength, int64_t& contentLength) {
    headerLength = 0;
    contentLength = 0;
    const std::string_view text = headerText(buffer, total);
    const size_t n = text.find('\n');
    if (n == std::string_view::npos || n < 5 || n >= GEMINI_LINE_LIMIT || text[n - 1] != '\r' ||
        !isDigit(text[0]) || !isDigit(text[1]) || (text[2] != ' ' && text[2] != '\t')) {
        serverErrorMessage(exchange, MSG_ERR_BAD_GEMINI_HEADER);
        return FETCH_SERVER_ERROR;
    }
    headerLength = n + 1;
    const std::string_view line = text.substr(0, n);
    const std::string_view meta = text.substr(3, n - 4);
    switch (text[0]) {
        case '1': {
            const size_t length = std::min(meta.size(), static_cast<size_t>(PROMPT_SIZE - 1));
            std::memcpy(exchange.prompt, meta.data(), length);
            exchange.prompt[length] = '\0';
            exchange.sensitivePrompt = text[1] == '1';
            return FETCH_INPUT;
        }
        case '2':
            if (line.find('/') != std::string_view::npos) {
                return meta.starts_with("text/") ? FETCH_PAGE : FETCH_DOWNLOAD;
            }
            break;
        case '3':
            resolveRedirect(exchange, meta, request);
            return FETCH_REDIRECT;
        case '6':
            if (text[1] == '0') return FETCH_CERTIFICATE;
            break;
        default:
            break;
    }
    serverErrorQuote(exchange, text.substr(0, n - 1));
    return FETCH_SERVER_ERROR;
}

int checkSpartanHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                       size_t& headerLength, int64_t& contentLength) {
    headerLength = 0;
    contentLength = 0;
    const std::string_view text = headerText(buffer, total);
    const size_t n = text.find('\n');
    if (n == std::string_view::npos || n < 4 || n >= SPARTAN_LINE_LIMIT || !isDigit(text[0]) ||
        text[1] != ' ') {
        serverErrorMessage(exchange, MSG_ERR_BAD_SPARTAN_HEADER);
        return FETCH_SERVER_ERROR;
    }
    headerLength = n + 1;
    const std::string_view line = text.substr(0, n);
    if (text[0] == '2' && line.find('/') != std::string_view::npos) {
        return line.substr(2).starts_with("text/") ? FETCH_PAGE : FETCH_DOWNLOAD;
    }
    if (text[0] == '3') {
        // The target runs up to the byte before the line feed.
        resolveRedirect(exchange, text.substr(2, n - 3), request);
        return FETCH_REDIRECT;
    }
    serverErrorQuote(exchange, text.substr(0, n - 1));
    return FETCH_SERVER_ERROR;
}

int checkHttpHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& /*request*/,
                    size_t& headerLength, int64_t& contentLength) {
    headerLength = 0;
    contentLength = 0;
    const std::string_view text = headerText(buffer, total);
    const size_t blank = text.find("\r\n\r\n");
    if (blank == std::string_view::npos) {
        serverErrorMessage(exchange, MSG_ERR_BAD_HTTP_HEADER);
        return FETCH_SERVER_ERROR;
    }
    const std::string_view header = text.substr(0, blank);
    constexpr std::string_view statusMark = "HTTP/1.1 ";
    const size_t mark = header.find(statusMark);
    if (mark == std::string_view::npos || mark + statusMark.size() >= header.size())
        return FETCH_SERVER_ERROR;
    const size_t code = mark + statusMark.size();
    switch (header[code]) {
        case '2': {
            headerLength = blank + 4;
            constexpr std::string_view lengthMark = "Content-Length: ";
            const size_t at = header.find(lengthMark);
            if (at != std::string_view::npos)
                contentLength = readContentLength(header.substr(at + lengthMark.size()));
            return FETCH_DOWNLOAD;
        }
        case '3': {
            constexpr std::string_view locationMark = "Location: ";
            const size_t at = header.find(locationMark);
            if (at == std::string_view::npos) return FETCH_SERVER_ERROR;
            // One word on the Location line.
            size_t start = at + locationMark.size();
            while (start < header.size() && (header[start] == ' ' || header[start] == '\t'))
                ++start;
            size_t end = start;
            while (end < header.size() && end - start < HTTP_LOCATION_MAX && !isWordSpace(header[end]))
                ++end;
            if (end == start) {
                serverErrorMessage(exchange, MSG_ERR_BAD_REDIRECT);
                return FETCH_SERVER_ERROR;
            }
            std::memcpy(exchange.redirectTarget, header.data() + start, end - start);
            exchange.redirectTarget[end - start] = '\0';
            return FETCH_REDIRECT;
        }
        case '1':
        case '4':
        case '5': {
            size_t end = header.find('\n', code);
            if (end == std::string_view::npos) end = header.size();
            if (end > code && header[end - 1] == '\r') --end;
            serverErrorQuote(exchange, header.substr(code, end - code));
            return FETCH_SERVER_ERROR;
        }
        default:
            return FETCH_SERVER_ERROR;
    }
}

int classifyResponse(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                     size_t& headerLength, int64_t& contentLength) {
    headerLength = 0;
    contentLength = 0;
    switch (request.scheme) {
        case SCHEME_GEMINI:
            return checkGeminiHeader(exchange, buffer, total, request, headerLength, contentLength);
        case SCHEME_SPARTAN:
            return checkSpartanHeader(exchange, buffer, total, request, headerLength, contentLength);
        case SCHEME_GOPHER:
            return isGopherPageType(request.gopherType) ? FETCH_PAGE : FETCH_DOWNLOAD;
        case SCHEME_FINGER:
            return FETCH_PAGE;
        case SCHEME_NEX:
            return isNexDownload(request) ? FETCH_DOWNLOAD : FETCH_PAGE;
        default:
            return checkHttpHeader(exchange, buffer, total, request, headerLength, contentLength);
    }
}
