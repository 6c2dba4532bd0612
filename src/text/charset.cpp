#include "text/charset.h"

char32_t displayCodePoint(unsigned char byte) {
    if (byte == 0x80) return U'\u2588';
    if (byte > 0x80 && byte < 0xA0) return U'\u00B7';
    return byte;
}

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

void appendDisplayAsUtf8(std::string& out, std::string_view text) {
    for (char ch : text)
        appendUtf8(out, displayCodePoint(static_cast<unsigned char>(ch)));
}

std::string displayToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendDisplayAsUtf8(out, text);
    return out;
}

namespace {

// Appends text escaped so that a line stays one line; other bytes go through put.
template <typename Put>
void appendEscaped(std::string& out, std::string_view text, Put put) {
    static const char hex[] = "0123456789abcdef";
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            put(byte);
        }
    }
}

}  // namespace

void appendEscapedDisplay(std::string& out, std::string_view text) {
    appendEscaped(out, text, [&](unsigned char byte) { appendUtf8(out, displayCodePoint(byte)); });
}

void appendEscapedUtf8(std::string& out, std::string_view text) {
    appendEscaped(out, text, [&](unsigned char byte) { out += static_cast<char>(byte); });
}
