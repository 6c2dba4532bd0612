#include "page/utf8.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

namespace {

constexpr unsigned char MIDDLE_DOT = 0xB7;
constexpr unsigned char FULL_BLOCK = 0x80;  // the display fonts draw a solid block here
constexpr unsigned char DROPPED = 0;        // no two-byte character turns into a NUL

// Base letters of U+0100 to U+01FF, one string per lead byte 0xC4 to 0xC7,
// indexed by the low six bits of the code point.
constexpr std::array<std::string_view, 4> EXTENDED_LETTERS = {
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiiiJjKkkLlLlLlL",
    "lLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs",
    "bBBbbbCCcDDDddEaEFfGGhIIKkllWNnOCoOoPpRS2EetTttUuUVYyZzEEee255?w",
    "||||DDdLLlNNnAaIiOoUuUuUuUuUueAaAaAaGgGgKkOoOoEejDDdGgHWNnAaAaOo",
};
static_assert(EXTENDED_LETTERS[0].size() == 64 && EXTENDED_LETTERS[1].size() == 64 &&
              EXTENDED_LETTERS[2].size() == 64 && EXTENDED_LETTERS[3].size() == 64);

// The output byte of every two-byte sequence, indexed by the five payload bits of
// the lead byte and the six of the continuation byte; DROPPED writes nothing.
constexpr std::array<unsigned char, 32 * 64> makeTwoByteTable() {
    std::array<unsigned char, 32 * 64> table{};
    for (unsigned lead = 0xC0; lead <= 0xDF; ++lead) {
        for (unsigned c = 0x80; c <= 0xBF; ++c) {
            unsigned char out = MIDDLE_DOT;  // C1 controls, Greek, Cyrillic, ...
            if (lead == 0xC2) {
                if (c >= 0xA0) out = c == 0xAD ? DROPPED : static_cast<unsigned char>(c);
            } else if (lead == 0xC3) {
                out = static_cast<unsigned char>(c + 0x40);
            } else if (lead >= 0xC4 && lead <= 0xC7) {
                out = static_cast<unsigned char>(EXTENDED_LETTERS[lead - 0xC4][c - 0x80]);
            } else if (lead == 0xCC || (lead == 0xCD && c <= 0xAF)) {
                out = DROPPED;  // combining diacritical marks
            }
            table[((lead & 0x1F) << 6) | (c & 0x3F)] = out;
        }
    }
    return table;
}

constexpr std::array<unsigned char, 32 * 64> TWO_BYTE = makeTwoByteTable();

constexpr bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Writes the replacement of a complete three-byte sequence; returns its length.
size_t writeThreeByte(unsigned char lead, unsigned char c1, unsigned char c2, unsigned char* out) {
    if (lead == 0xE2 && c1 == 0x80) {
        switch (c2) {
            case 0xA6:  // horizontal ellipsis
                out[0] = '.';
                out[1] = '.';
                out[2] = '.';
                return 3;
            case 0x9C:  // double quotation marks
            case 0x9D:
                out[0] = '"';
                return 1;
            case 0x93:  // en dash
                out[0] = '-';
                return 1;
            case 0x94:  // em dash
                out[0] = '-';
                out[1] = '-';
                return 2;
            case 0x98:  // single quotation marks
                out[0] = '`';
                return 1;
            case 0x99:
                out[0] = '\'';
                return 1;
            case 0x8A:  // hair space, narrow no-break space
            case 0xAF:
                out[0] = ' ';
                return 1;
            default:
                out[0] = MIDDLE_DOT;
                return 1;
        }
    }
    out[0] = (lead == 0xE2 && c1 == 0x96 && c2 == 0x88) ? FULL_BLOCK : MIDDLE_DOT;
    return 1;
}

constexpr uint64_t ONES = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

// Nonzero when some byte of v is zero; the lowest flagged byte is always a zero byte.
constexpr uint64_t zeroBytes(uint64_t v) {
    return (v - ONES) & ~v & HIGH_BITS;
}

}  // namespace

std::unique_ptr<char[]> allocateText(size_t size) {
    try {
        return std::make_unique_for_overwrite<char[]>(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

size_t countTabs(const unsigned char* in, size_t length) {
    size_t tabs = 0;
    const unsigned char* end = in + length;
    while (in < end) {
        const void* hit = std::memchr(in, '\t', static_cast<size_t>(end - in));
        if (hit == nullptr) break;
        ++tabs;
        in = static_cast<const unsigned char*>(hit) + 1;
    }
    return tabs;
}

std::unique_ptr<char[]> translateUtf8(const char* input, int32_t* outLength, bool keepTabs) {
    return translateUtf8(input, input != nullptr ? std::strlen(input) : 0, outLength, keepTabs);
}

std::unique_ptr<char[]> translateUtf8(const char* input, size_t inputLength, int32_t* outLength,
                                      bool keepTabs) {
    if (outLength != nullptr) *outLength = 0;
    const size_t n = input != nullptr ? inputLength : 0;
    const auto* in = reinterpret_cast<const unsigned char*>(input);

    // The longest possible text, n + 7 * tabs + 1 bytes, must fit the 32-bit length.
    constexpr size_t maxLength = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    if (n >= maxLength) return nullptr;
    const size_t tabs = countTabs(in, n);
    if (tabs > (maxLength - 1 - n) / 7) return nullptr;
    const size_t size = n + 7 * tabs + 2;

    std::unique_ptr<char[]> buffer = allocateText(size);
    if (!buffer) return nullptr;
    auto* out = reinterpret_cast<unsigned char*>(buffer.get());

    // Every input byte yields at most one output byte, except a tab (at most 8)
    // and complete sequences (never more bytes than they consume). So before
    // input position i the output position is at most i + 7 * (tabs so far), and
    // an 8-byte store while 8 input bytes remain stays inside the buffer.
    size_t i = 0;
    size_t o = 0;
    // The column is o - lineStart. Line breaks are looked for only when a tab
    // needs the column: output before `scanned` has been searched already.
    size_t lineStart = 0;
    size_t scanned = 0;

    while (i < n) {
        if constexpr (std::endian::native == std::endian::little) {
            // Runs of bytes that are copied unchanged: anything below 0x80 except
            // carriage return and tab.
            while (n - i >= 8) {
                uint64_t x;
                std::memcpy(&x, in + i, 8);
                std::memcpy(out + o, &x, 8);
                const uint64_t special =
                    (x & HIGH_BITS) | zeroBytes(x ^ (ONES * '\r')) | zeroBytes(x ^ (ONES * '\t'));
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
            if (b == '\r') {
                ++i;
                continue;
            }
            if (b == '\t' && !keepTabs) {
                for (size_t p = o; p > scanned; --p) {
                    if (out[p - 1] == '\n') {
                        lineStart = p;
                        break;
                    }
                }
                const size_t spaces = 8 - ((o - lineStart) & 7);
                std::memset(out + o, ' ', spaces);
                o += spaces;
                scanned = o;
                ++i;
                continue;
            }
        } else if (b >= 0xC0 && b <= 0xDF) {
            if (n - i >= 2 && isContinuation(in[i + 1])) {
                const unsigned char mapped = TWO_BYTE[((b & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu)];
                if (mapped != DROPPED) out[o++] = mapped;
                i += 2;
                continue;
            }
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (n - i >= 3 && isContinuation(in[i + 1]) && isContinuation(in[i + 2])) {
                o += writeThreeByte(b, in[i + 1], in[i + 2], out + o);
                i += 3;
                continue;
            }
        } else if (b >= 0xF0 && b <= 0xF7) {
            if (n - i >= 4 && isContinuation(in[i + 1]) && isContinuation(in[i + 2]) &&
                isContinuation(in[i + 3])) {
                out[o++] = MIDDLE_DOT;
                i += 4;
                continue;
            }
        }
        // Plain bytes, stray continuation bytes and incomplete sequences.
        out[o++] = b;
        ++i;
    }

    if (o == 0 || out[o - 1] != '\n') out[o++] = '\n';
    out[o] = '\0';
    if (outLength != nullptr) *outLength = static_cast<int32_t>(o);
    return buffer;
}
