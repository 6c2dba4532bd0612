#include "page/unicode.h"

#include <utf8proc.h>

#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr uint64_t ONES = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

// Nonzero when some byte of v is below n (n at most 0x80); the lowest flagged byte
// is always such a byte.
constexpr uint64_t bytesBelow(uint64_t v, uint8_t n) {
    return (v - ONES * n) & ~v & HIGH_BITS;
}
// Nonzero when some byte of v is zero; the lowest flagged byte is always a zero byte.
constexpr uint64_t zeroBytes(uint64_t v) {
    return (v - ONES) & ~v & HIGH_BITS;
}

bool inRange(unsigned char b, unsigned char low, unsigned char high) {
    return b >= low && b <= high;
}

// The length of the valid UTF-8 sequence at in[0] (1 to 4), or 0 with *consumed set to
// the bytes of its longest valid start (at least 1): those become one U+FFFD.
size_t validSequence(const unsigned char* in, size_t available, size_t* consumed) {
    const unsigned char lead = in[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        *consumed = 1;
        return 0;
    }
    size_t k = 1;
    for (; k < length && k < available; ++k) {
        const bool ok = k == 1 ? inRange(in[k], low, high) : inRange(in[k], 0x80, 0xBF);
        if (!ok) break;
    }
    if (k == length) return length;
    *consumed = k;
    return 0;
}

int codepointWidth(utf8proc_int32_t c) {
    if (c < 0x300) return c < 0x20 ? 0 : 1;
    return utf8proc_charwidth(c);
}

bool isRegionalIndicator(utf8proc_int32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Decodes the code point at text[at] (valid UTF-8); returns its byte length.
size_t decode(const char* text, size_t length, size_t at, utf8proc_int32_t& c) {
    const utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text + at),
                                                static_cast<utf8proc_ssize_t>(length - at), &c);
    if (n <= 0) {
        c = 0xFFFD;
        return 1;
    }
    return static_cast<size_t>(n);
}

}  // namespace

std::unique_ptr<char[]> cleanUtf8(const char* input, size_t inputLength, int32_t* outLength, bool keepTabs) {
    if (outLength != nullptr) *outLength = 0;
    const size_t n = input != nullptr ? inputLength : 0;
    const auto* in = reinterpret_cast<const unsigned char*>(input);

    // Each input byte gives at most three output bytes (a replacement character), a
    // tab at most eight, and one line break may be added.
    constexpr size_t maxLength = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    size_t tabs = 0;
    if (!keepTabs) {
        for (const unsigned char* p = in; n > 0 && p < in + n;) {
            const void* hit = std::memchr(p, '\t', static_cast<size_t>(in + n - p));
            if (hit == nullptr) break;
            ++tabs;
            p = static_cast<const unsigned char*>(hit) + 1;
        }
    }
    if (n > (maxLength - 2) / 3 || tabs > (maxLength - 2 - 3 * n) / 5) return nullptr;
    const size_t size = 3 * n + 5 * tabs + 2;
    std::unique_ptr<char[]> buffer;
    try {
        buffer = std::make_unique_for_overwrite<char[]>(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    auto* out = reinterpret_cast<unsigned char*>(buffer.get());
    auto replace = [&](size_t& o) {
        std::memcpy(out + o, REPLACEMENT_UTF8, 3);
        o += 3;
    };

    // The column at a tab: measured up to `measured`, on from there when needed, so a
    // line of many tabs costs no more than one pass over it.
    size_t i = 0, o = 0, measured = 0;
    int64_t column = 0;
    while (i < n) {
        if constexpr (std::endian::native == std::endian::little) {
            // Runs that are copied as they are: printable ASCII (line breaks and the
            // rest are handled one by one below). Every input byte so far gave at
            // least one output byte, so an 8-byte store stays inside the buffer.
            while (n - i >= 8) {
                uint64_t x;
                std::memcpy(&x, in + i, 8);
                std::memcpy(out + o, &x, 8);
                const uint64_t special = (x & HIGH_BITS) | bytesBelow(x, 0x20) | zeroBytes(x ^ (ONES * 0x7F));
                if (special == 0) {
                    i += 8;
                    o += 8;
                    continue;
                }
                const auto plain = static_cast<size_t>(std::countr_zero(special) >> 3);
                i += plain;
                o += plain;
                break;
            }
            if (i >= n) break;
        }
        const unsigned char b = in[i];
        if (b < 0x80) {
            ++i;
            if (b == '\n') {
                out[o++] = b;
                measured = o;
                column = 0;
            } else if (b == '\r') {
                // dropped
            } else if (b == '\t') {
                if (keepTabs) {
                    out[o++] = b;
                } else {
                    column += displayWidth(
                        std::string_view(reinterpret_cast<const char*>(out + measured), o - measured));
                    const size_t spaces = static_cast<size_t>(8 - column % 8);
                    std::memset(out + o, ' ', spaces);
                    o += spaces;
                    column += static_cast<int64_t>(spaces);
                    measured = o;
                }
            } else if (b < 0x20 || b == 0x7F) {
                replace(o);
            } else {
                out[o++] = b;
            }
            continue;
        }
        size_t consumed = 0;
        const size_t length = validSequence(in + i, n - i, &consumed);
        if (length == 0 || (b == 0xC2 && in[i + 1] < 0xA0)) {
            // Not UTF-8, or a C1 control code (U+0080 to U+009F).
            replace(o);
            i += length == 0 ? consumed : length;
            continue;
        }
        std::memcpy(out + o, in + i, length);
        o += length;
        i += length;
    }
    if (o == 0 || out[o - 1] != '\n') out[o++] = '\n';
    out[o] = '\0';
    if (outLength != nullptr) *outLength = static_cast<int32_t>(o);
    return buffer;
}

size_t nextCluster(const char* text, size_t length, size_t at, int& width) {
    if (at >= length) {
        width = 0;
        return length;
    }
    const auto lead = static_cast<unsigned char>(text[at]);
    // ASCII followed by ASCII (or nothing) is a cluster of its own.
    if (lead < 0x80 && (at + 1 >= length || static_cast<unsigned char>(text[at + 1]) < 0x80)) {
        width = lead < 0x20 || lead == 0x7F ? 0 : 1;
        return at + 1;
    }
    utf8proc_int32_t first = 0;
    size_t end = at + decode(text, length, at, first);
    width = codepointWidth(first);
    utf8proc_int32_t previous = first;
    utf8proc_int32_t state = 0;
    bool emoji = false;
    int regional = isRegionalIndicator(first) ? 1 : 0;
    while (end < length) {
        utf8proc_int32_t c = 0;
        const size_t next = decode(text, length, end, c);
        if (utf8proc_grapheme_break_stateful(previous, c, &state)) break;
        if (c == 0xFE0F) emoji = true;  // emoji presentation
        if (isRegionalIndicator(c)) ++regional;
        if (width == 0) width = codepointWidth(c);
        previous = c;
        end += next;
    }
    // A flag (two regional indicators) and a symbol shown as an emoji take two columns.
    if ((emoji || regional == 2) && width == 1) width = 2;
    return end;
}

int64_t displayWidth(std::string_view text) {
    int64_t columns = 0;
    size_t at = 0;
    while (at < text.size()) {
        int w = 0;
        at = nextCluster(text.data(), text.size(), at, w);
        columns += w;
    }
    return columns;
}

size_t prefixFitting(std::string_view text, int64_t columns, int64_t* width) {
    int64_t used = 0;
    size_t at = 0;
    while (at < text.size()) {
        int w = 0;
        const size_t next = nextCluster(text.data(), text.size(), at, w);
        if (used + w > columns) break;
        used += w;
        at = next;
    }
    if (width != nullptr) *width = used;
    return at;
}
