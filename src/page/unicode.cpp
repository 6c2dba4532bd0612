#include "page/unicode.h"

#include "page/utf8.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr uint64_t ONES = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

// What a byte is, for the copying loop of cleanUtf8: kept as it is (printable
// ASCII and the line feed), the lead of a two-byte or of a simple three-byte
// sequence, or anything else (checked one by one).
enum ByteKind : uint8_t { KIND_OTHER = 0, KIND_PLAIN, KIND_LEAD2, KIND_LEAD3 };
constexpr std::array<uint8_t, 256> BYTE_KIND = [] {
    std::array<uint8_t, 256> kinds{};
    for (int b = 0x20; b < 0x7F; ++b)
        kinds[static_cast<size_t>(b)] = KIND_PLAIN;
    kinds['\n'] = KIND_PLAIN;
    for (int b = 0xC2; b <= 0xDF; ++b)
        kinds[static_cast<size_t>(b)] = KIND_LEAD2;
    for (int b = 0xE1; b <= 0xEF; ++b)
        if (b != 0xED) kinds[static_cast<size_t>(b)] = KIND_LEAD3;
    return kinds;
}();

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

// Decodes the code point at text[at] (valid UTF-8, as cleanUtf8 leaves it); returns
// its byte length. A cut-off sequence at the end reads as U+FFFD.
inline __attribute__((always_inline)) size_t decode(const char* text, size_t length, size_t at,
                                                    utf8proc_int32_t& c) {
    const auto* p = reinterpret_cast<const unsigned char*>(text + at);
    const size_t left = length - at;
    const unsigned char b = p[0];
    if (b < 0x80) {
        c = b;
        return 1;
    }
    if (b < 0xE0 && left >= 2) {
        c = ((b & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b < 0xF0 && left >= 3) {
        c = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return 3;
    }
    if (left >= 4) {
        c = ((b & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        return 4;
    }
    c = 0xFFFD;
    return 1;
}

// Clusters that begin with one of these classes follow the grapheme rules in full
// (pairs of regional indicators, emoji sequences, Hangul syllables, prepended marks);
// all others end before the next code point unless it extends them.
bool needsFullRules(int boundclass) {
    switch (boundclass) {
        case UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR:
        case UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC:
        case UTF8PROC_BOUNDCLASS_E_ZWG:
        case UTF8PROC_BOUNDCLASS_E_BASE:
        case UTF8PROC_BOUNDCLASS_E_BASE_GAZ:
        case UTF8PROC_BOUNDCLASS_GLUE_AFTER_ZWJ:
        case UTF8PROC_BOUNDCLASS_L:
        case UTF8PROC_BOUNDCLASS_V:
        case UTF8PROC_BOUNDCLASS_T:
        case UTF8PROC_BOUNDCLASS_LV:
        case UTF8PROC_BOUNDCLASS_LVT:
        case UTF8PROC_BOUNDCLASS_PREPEND:
            return true;
        default:
            return false;
    }
}

bool extendsCluster(int boundclass) {
    return boundclass == UTF8PROC_BOUNDCLASS_EXTEND || boundclass == UTF8PROC_BOUNDCLASS_ZWJ ||
           boundclass == UTF8PROC_BOUNDCLASS_SPACINGMARK || boundclass == UTF8PROC_BOUNDCLASS_E_MODIFIER;
}

bool isRegionalIndicator(utf8proc_int32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

}  // namespace

using unicode_detail::FULL_RULES;
using unicode_detail::JOINS;
using unicode_detail::PLANE_TABLE;

// Built from utf8proc when the program starts (65536 lookups, well under a
// millisecond), so the hot path reads it without a guard.
const std::array<uint8_t, 0x10000> unicode_detail::PLANE_TABLE = [] {
    std::array<uint8_t, 0x10000> t{};
    for (utf8proc_int32_t c = 0; c < 0x10000; ++c) {
        const utf8proc_property_t* p = utf8proc_get_property(c);
        uint8_t entry = static_cast<uint8_t>(c < 0x20 ? 0 : p->charwidth & 3);
        if (extendsCluster(p->boundclass)) entry |= JOINS;
        if (needsFullRules(p->boundclass)) entry |= FULL_RULES;
        t[static_cast<size_t>(c)] = entry;
    }
    return t;
}();

std::unique_ptr<char[]> cleanUtf8(const char* input, size_t inputLength, int32_t* outLength, bool keepTabs) {
    if (outLength != nullptr) *outLength = 0;
    const size_t n = input != nullptr ? inputLength : 0;
    const auto* in = reinterpret_cast<const unsigned char*>(input);

    // Each input byte gives at most three output bytes (a replacement character), a
    // tab at most eight, and one line break may be added.
    constexpr size_t maxLength = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    const size_t tabs = keepTabs || n == 0 ? 0 : countTabs(in, n);
    if (n > (maxLength - 2) / 3 || tabs > (maxLength - 2 - 3 * n) / 5) return nullptr;
    const size_t size = 3 * n + 5 * tabs + 2;
    std::unique_ptr<char[]> buffer = allocateText(size);
    if (!buffer) return nullptr;
    auto* out = reinterpret_cast<unsigned char*>(buffer.get());
    auto replace = [&](size_t& o) {
        std::memcpy(out + o, REPLACEMENT_UTF8, 3);
        o += 3;
    };

    // Valid text is copied in runs; what is not is handled byte by byte. The column
    // at a tab is measured from the line's start, found by looking back no further
    // than the last tab, so a line of many tabs costs no more than one pass over it.
    size_t i = 0, o = 0, runStart = 0, measured = 0;
    int64_t column = 0;
    auto flush = [&](size_t end) {
        std::memcpy(out + o, in + runStart, end - runStart);
        o += end - runStart;
    };
    while (i < n) {
        if constexpr (std::endian::native == std::endian::little) {
            // Printable ASCII and line feeds, eight bytes at a time.
            while (n - i >= 8) {
                uint64_t x;
                std::memcpy(&x, in + i, 8);
                const uint64_t special = (x & HIGH_BITS) |
                                         (bytesBelow(x, 0x20) & ~zeroBytes(x ^ (ONES * '\n'))) |
                                         zeroBytes(x ^ (ONES * 0x7F));
                if (special == 0) {
                    i += 8;
                    continue;
                }
                i += static_cast<size_t>(std::countr_zero(special) >> 3);
                break;
            }
        }
        // Byte by byte while the text goes on as it is.
        while (i < n) {
            const unsigned char c = in[i];
            const uint8_t kind = BYTE_KIND[c];
            if (kind == KIND_PLAIN) {
                ++i;
            } else if (kind == KIND_LEAD2 && i + 1 < n && (in[i + 1] & 0xC0) == 0x80 &&
                       (c != 0xC2 || in[i + 1] >= 0xA0)) {
                i += 2;
            } else if (kind == KIND_LEAD3 && i + 2 < n && (in[i + 1] & 0xC0) == 0x80 &&
                       (in[i + 2] & 0xC0) == 0x80) {
                i += 3;
            } else {
                break;
            }
            // Back to eight at a time after a run of ASCII.
            if (kind == KIND_PLAIN && i + 8 <= n && (in[i] & 0x80) == 0) break;
        }
        if (i >= n) break;
        const unsigned char b = in[i];
        if (b >= 0x80) {
            // The common letters first: two-byte sequences past the C1 codes, and
            // three-byte ones whose lead needs no range check of its second byte.
            if (b >= 0xC2 && b <= 0xDF && n - i >= 2 && (in[i + 1] & 0xC0) == 0x80 &&
                (b != 0xC2 || in[i + 1] >= 0xA0)) {
                i += 2;
                continue;
            }
            if (((b >= 0xE1 && b <= 0xEC) || b >= 0xEE) && b <= 0xEF && n - i >= 3 &&
                (in[i + 1] & 0xC0) == 0x80 && (in[i + 2] & 0xC0) == 0x80) {
                i += 3;
                continue;
            }
            size_t consumed = 0;
            const size_t length = validSequence(in + i, n - i, &consumed);
            if (length != 0 && !(b == 0xC2 && in[i + 1] < 0xA0)) {
                i += length;  // part of the run
                continue;
            }
            // Not UTF-8, or a C1 control code (U+0080 to U+009F): one U+FFFD.
            flush(i);
            replace(o);
            i += length == 0 ? consumed : length;
            runStart = i;
            continue;
        }
        if (b == '\n' || (b >= 0x20 && b != 0x7F)) {
            ++i;
            continue;
        }
        flush(i);
        ++i;
        runStart = i;
        if (b == '\r') continue;  // dropped
        if (b == '\t') {
            if (keepTabs) {
                out[o++] = '\t';
                continue;
            }
            const void* feed = ::memrchr(out + measured, '\n', o - measured);
            if (feed != nullptr) {
                measured = static_cast<size_t>(static_cast<const unsigned char*>(feed) - out) + 1;
                column = 0;
            }
            column +=
                displayWidth(std::string_view(reinterpret_cast<const char*>(out + measured), o - measured));
            const size_t spaces = static_cast<size_t>(8 - column % 8);
            std::memset(out + o, ' ', spaces);
            o += spaces;
            column += static_cast<int64_t>(spaces);
            measured = o;
            continue;
        }
        replace(o);  // another control code
    }
    flush(n);
    if (o == 0 || out[o - 1] != '\n') out[o++] = '\n';
    out[o] = '\0';
    if (outLength != nullptr) *outLength = static_cast<int32_t>(o);
    return buffer;
}

size_t nextClusterSlow(const char* text, size_t length, size_t at, int& width) {
    utf8proc_int32_t first = 0;
    size_t end = at + decode(text, length, at, first);
    // The common case: a code point of the Basic Multilingual Plane and the marks
    // that join it, read from the table.
    if (first < 0x10000) {
        const std::array<uint8_t, 0x10000>& table = PLANE_TABLE;
        const uint8_t entry = table[static_cast<size_t>(first)];
        if (!(entry & FULL_RULES)) {
            width = entry & 3;
            while (end < length && static_cast<unsigned char>(text[end]) >= 0x80) {
                utf8proc_int32_t c = 0;
                const size_t next = decode(text, length, end, c);
                const uint8_t more =
                    c < 0x10000 ? table[static_cast<size_t>(c)]
                                : static_cast<uint8_t>(
                                      extendsCluster(utf8proc_get_property(c)->boundclass) ? JOINS : 0);
                if (!(more & JOINS)) break;
                if (width == 0) width = more & 3;
                end += next;
            }
            return end;
        }
    }
    const utf8proc_property_t* property = utf8proc_get_property(first);
    width = first < 0x20 ? 0 : property->charwidth;
    if (!needsFullRules(property->boundclass)) {
        // The common case: a letter and whatever marks extend it.
        while (end < length) {
            utf8proc_int32_t c = 0;
            const size_t next = decode(text, length, end, c);
            const utf8proc_property_t* more = utf8proc_get_property(c);
            if (!extendsCluster(more->boundclass)) break;
            if (width == 0) width = more->charwidth;
            end += next;
        }
        return end;
    }
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
        if (width == 0) width = utf8proc_charwidth(c);
        previous = c;
        end += next;
    }
    // A flag (two regional indicators) and a symbol shown as an emoji take two columns.
    if ((emoji || regional == 2) && width == 1) width = 2;
    return end;
}

int64_t displayWidth(std::string_view text) {
    int64_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        int width = 0;
        at = clusterEnd(text.data(), text.size(), at, width);
        columns += width;
    }
    return columns;
}

size_t prefixFitting(std::string_view text, int64_t columns, int64_t* width) {
    size_t mark = 0;
    return fitColumns(text, columns, std::numeric_limits<int64_t>::max(), &mark, width);
}

size_t fitColumns(std::string_view text, int64_t columns, int64_t markColumn, size_t* mark, int64_t* width) {
    const char* data = text.data();
    const size_t length = text.size();
    // A start of printable ASCII is one column a byte, found eight bytes at a time; its
    // last byte is measured with what follows, which may join it.
    // Looked for no further than one byte past the columns, so that measuring the start
    // of a long text costs no more than the start.
    const size_t scan =
        columns >= 0 && static_cast<uint64_t>(columns) < length ? static_cast<size_t>(columns) + 1 : length;
    size_t ascii = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (scan - ascii >= 8) {
            uint64_t x;
            std::memcpy(&x, data + ascii, 8);
            if ((x & HIGH_BITS) != 0 || bytesBelow(x, 0x20) != 0 || zeroBytes(x ^ (ONES * 0x7F)) != 0) break;
            ascii += 8;
        }
    }
    while (ascii < scan && static_cast<unsigned char>(data[ascii]) >= 0x20 &&
           static_cast<unsigned char>(data[ascii]) < 0x7F)
        ++ascii;
    if (ascii > 0 && ascii < length && static_cast<unsigned char>(data[ascii]) >= 0x80) --ascii;
    if (columns >= 0 && ascii > static_cast<size_t>(columns)) ascii = static_cast<size_t>(columns);

    int64_t used = static_cast<int64_t>(ascii);
    size_t at = ascii;
    int w = 0;
    size_t end = 0;
    if (used >= markColumn) {
        *mark = static_cast<size_t>(std::max<int64_t>(markColumn, 0));
    } else {
        for (; at < length && used < markColumn; used += w, at = end) {
            end = clusterEnd(data, length, at, w);
            if (used + w > columns) break;
        }
        *mark = at;
    }
    for (; at < length; used += w, at = end) {
        end = clusterEnd(data, length, at, w);
        if (used + w > columns) break;
    }
    if (width != nullptr) *width = used;
    return at;
}

bool asciiStartsCluster(const char* text, size_t at) {
    if (at == 0 || static_cast<unsigned char>(text[at - 1]) < 0x80) return true;
    size_t start = at - 1;
    while (start > 0 && at - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    utf8proc_int32_t code = 0;
    decode(text, at, start, code);
    return utf8proc_get_property(code)->boundclass != UTF8PROC_BOUNDCLASS_PREPEND;
}

bool joinsAt(const char* text, size_t length, size_t at) {
    if (at >= length || static_cast<unsigned char>(text[at]) < 0x80) return false;
    utf8proc_int32_t code = 0;
    decode(text, length, at, code);
    if (code < 0x10000) return (PLANE_TABLE[static_cast<size_t>(code)] & JOINS) != 0;
    return extendsCluster(utf8proc_get_property(code)->boundclass);
}
