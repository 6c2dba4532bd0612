// Link resolution against a page address, dot-segment removal and the link encoders.
#include <cstring>

#include "url/url.h"

#include "url/bounded_text.h"

namespace {

bool startsWith(const char* text, int length, const char* prefix) {
    const size_t prefixLength = std::strlen(prefix);
    return static_cast<size_t>(length) >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0;
}

LinkKind gopherTypeKind(char type) {
    if (type != '\0' && std::strchr("0134569IPXdgiprs", type) != nullptr) return LINK_FETCH;
    if (type == '7') return LINK_SEARCH;
    if (type == 'h') return LINK_WEB;
    return LINK_UNSUPPORTED;
}

// Spaces as "%20", and "%" as "%25" when alsoPercent, in place. At most PATH_MAX_LEN
// characters are read and written; an escape that would pass that is left out.
int encodeInPlace(char* s, bool alsoPercent) {
    char out[PATH_MAX_LEN + 1];
    const int n = static_cast<int>(strnlen(s, PATH_MAX_LEN));
    int o = 0;
    for (int i = 0; i < n; ++i) {
        const char* code = s[i] == ' ' ? "%20" : s[i] == '%' && alsoPercent ? "%25" : nullptr;
        if (code != nullptr) {
            if (o + 3 >= PATH_MAX_LEN) continue;
            std::memcpy(out + o, code, 3);
            o += 3;
        } else if (o < PATH_MAX_LEN) {
            out[o++] = s[i];
        }
    }
    std::memcpy(s, out, static_cast<size_t>(o));
    s[o] = '\0';
    return o;
}

// A Gopher selector as an address's path: "%" encoded too, so that decoding the
// address gives the selector back byte for byte.
int encodeSelector(char* s) {
    return encodeInPlace(s, true);
}

}  // namespace

LinkKind resolveLink(char* dest, int* destLength, const char* link, int linkLength, const UrlRecord& base,
                     char gopherType, const char* gopherHost, int gopherPort, bool utf8) {
    if (dest == nullptr) return LINK_UNSUPPORTED;
    dest[0] = '\0';
    if (link == nullptr || linkLength < 0) linkLength = 0;
    // A NUL ends the reference even inside the counted bytes: the result is a C string.
    if (linkLength > 0) {
        const void* nul = std::memchr(link, '\0', static_cast<size_t>(linkLength));
        if (nul != nullptr) linkLength = static_cast<int>(static_cast<const char*>(nul) - link);
    }

    const bool gopherMode = gopherHost != nullptr;
    const char* prefix;
    int defaultPort;
    const char* host;
    int hostLength;
    int port;
    LinkKind kind;
    if (gopherMode) {
        prefix = "gopher://";
        defaultPort = 70;
        host = gopherHost;
        hostLength = static_cast<int>(strnlen(gopherHost, URL_MAX));
        port = gopherPort;
        kind = gopherTypeKind(gopherType);
    } else {
        if (base.scheme == SCHEME_SPARTAN) {
            prefix = "spartan://";
            defaultPort = 300;
        } else if (base.scheme == SCHEME_NEX) {
            prefix = "nex://";
            defaultPort = 1900;
        } else {
            prefix = "gemini://";
            defaultPort = 1965;
        }
        host = base.host;
        hostLength = static_cast<int>(strnlen(base.host, sizeof base.host));
        port = base.port;
        kind = LINK_FETCH;
    }

    BoundedText result{dest, URL_MAX};
    if (startsWith(link, linkLength, "gemini://") || startsWith(link, linkLength, "gopher://") ||
        startsWith(link, linkLength, "finger://") || startsWith(link, linkLength, "nex://") ||
        startsWith(link, linkLength, "spartan://")) {
        result.append(link, linkLength);
    } else if (startsWith(link, linkLength, "/") || gopherMode) {
        if (startsWith(link, linkLength, "//")) {
            result.append(prefix, static_cast<int>(std::strlen(prefix)) - 2);
            result.append(link, linkLength);
        } else {
            result.append(prefix);
            result.append(host, hostLength);
            result.appendPort(port, defaultPort);
            if (gopherMode && gopherType != '\0' && linkLength > 0) {
                const char typePart[2] = {'/', gopherType};
                result.append(typePart, 2);
                char selector[URL_MAX + 1];
                const int room = URL_MAX - result.length;
                const int count = linkLength < room ? linkLength : room;
                std::memcpy(selector, link, static_cast<size_t>(count));
                selector[count] = '\0';
                result.append(selector, encodeSelector(selector));
            } else {
                result.append(link, linkLength);
            }
        }
    } else if (startsWith(link, linkLength, "http://") || startsWith(link, linkLength, "https://")) {
        kind = LINK_WEB;
        result.append(link, linkLength);
    } else if (startsWith(link, linkLength, "ftp://")) {
        kind = LINK_FTP;
        result.append(link, linkLength);
    } else if (startsWith(link, linkLength, "mailto:")) {
        kind = LINK_MAILTO;
        result.append(link, linkLength);
    } else if (startsWith(link, linkLength, BOOK_COMMAND_PREFIX) ||
               startsWith(link, linkLength, IDENTITY_COMMAND_PREFIX)) {
        kind = LINK_BOOK;
        result.append(link, linkLength);
    } else if (linkLength == 0 || std::memchr(link, ':', static_cast<size_t>(linkLength)) != nullptr) {
        kind = LINK_UNSUPPORTED;
        result.append(link, linkLength);
    } else {
        result.append(prefix);
        result.append(host, hostLength);
        result.appendPort(port, defaultPort);
        const int pathStart = result.length;
        int directory = static_cast<int>(strnlen(base.path, sizeof base.path));
        while (directory > 0 && base.path[directory - 1] != '/')
            --directory;
        result.append(base.path, directory);
        result.append(link, linkLength);
        result.length = pathStart + removeDotSegments(result.text + pathStart);
    }

    if ((kind == LINK_FETCH || kind == LINK_WEB) && result.length < URL_MAX &&
        !startsWith(dest, result.length, "gopher") && !startsWith(dest, result.length, "finger")) {
        const char* separator = std::strstr(dest, "://");
        if (separator != nullptr && std::strchr(separator + 3, '/') == nullptr) result.append("/", 1);
    }

    if (utf8) {
        const int encoded = encodeNonAscii(dest, result.length);
        if (encoded < 0) kind = LINK_UNSUPPORTED;
        if (encoded >= 0) result.length = encoded;
    } else {
        result.length = encodeLatin1(dest, result.length);
    }
    if (destLength != nullptr) *destLength = result.length;
    return kind;
}

int removeDotSegments(char* s) {
    if (s == nullptr) return 0;
    char in[URL_MAX + 2];
    char out[URL_MAX + 1];
    const int n = static_cast<int>(strnlen(s, URL_MAX));
    std::memcpy(in, s, static_cast<size_t>(n));
    in[n] = '\0';
    int i = 0;  // start of the remaining input
    int o = 0;
    auto rest = [&](const char* prefix) { return std::strncmp(in + i, prefix, std::strlen(prefix)) == 0; };
    auto restIs = [&](const char* whole) { return std::strcmp(in + i, whole) == 0; };
    while (i < n) {
        if (rest("../")) {
            i += 3;
        } else if (rest("./")) {
            i += 2;
        } else if (rest("/./")) {
            i += 2;
        } else if (restIs("/.")) {
            i += 1;
            in[i] = '/';
        } else if (rest("/../") || restIs("/..")) {
            if (rest("/../")) {
                i += 3;
            } else {
                i += 2;
                in[i] = '/';
            }
            while (o > 0 && out[o - 1] != '/')
                --o;
            if (o > 0) --o;
        } else if (restIs(".") || restIs("..")) {
            i = n;
        } else {
            do {
                out[o++] = in[i++];
            } while (i < n && in[i] != '/');
        }
    }
    std::memcpy(s, out, static_cast<size_t>(o));
    s[o] = '\0';
    return o;
}

int encodeSpaces(char* s) {
    return s == nullptr ? 0 : encodeInPlace(s, false);
}

int encodeLatin1(char* s, int length) {
    if (s == nullptr || length <= 0) return length;
    const int n = length < URL_MAX ? length : URL_MAX;
    int highCount = 0;
    for (int i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(s[i]) >= 0xC0) ++highCount;
    }
    if (highCount == 0 || n + highCount * 5 > URL_MAX) return length;
    static constexpr char HEX[] = "0123456789abcdef";
    char out[URL_MAX + 1];
    int o = 0;
    for (int i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte >= 0xC0) {
            const unsigned tail = byte - 0x40u;
            std::memcpy(out + o, "%c3%", 4);
            out[o + 4] = HEX[tail >> 4];
            out[o + 5] = HEX[tail & 15u];
            o += 6;
        } else {
            out[o++] = s[i];
        }
    }
    std::memcpy(s, out, static_cast<size_t>(o));
    s[o] = '\0';
    return o;
}

int encodeNonAscii(char* s, int length) {
    if (s == nullptr || length <= 0) return length;
    const int n = length < URL_MAX ? length : URL_MAX;
    int high = 0;
    for (int i = 0; i < n; ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) ++high;
    if (high == 0) return length;
    if (n + high * 2 > URL_MAX) return -1;
    static constexpr char HEX[] = "0123456789abcdef";
    char out[URL_MAX + 1];
    int o = 0;
    for (int i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte >= 0x80) {
            out[o++] = '%';
            out[o++] = HEX[byte >> 4];
            out[o++] = HEX[byte & 15u];
        } else {
            out[o++] = s[i];
        }
    }
    std::memcpy(s, out, static_cast<size_t>(o));
    s[o] = '\0';
    return o;
}
