#include "page/find.h"

#include <utf8proc.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "page/utf8.h"
#include "text/charset.h"

namespace {

// Lower case of an ISO-8859-1 display byte.
unsigned char latinLower(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    return c;
}

// A text folded to lower case, with the byte of the original each folded byte came
// from (and one more entry: the original's length).
struct Folded {
    std::string text;
    std::vector<int32_t> origin;
};

void foldLatin(std::string_view in, Folded& out) {
    out.text.resize(in.size());
    out.origin.resize(in.size() + 1);
    for (size_t i = 0; i < in.size(); ++i) {
        out.text[i] = static_cast<char>(latinLower(static_cast<unsigned char>(in[i])));
        out.origin[i] = static_cast<int32_t>(i);
    }
    out.origin[in.size()] = static_cast<int32_t>(in.size());
}

void foldUtf8(std::string_view in, Folded& out) {
    out.text.clear();
    out.origin.clear();
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(in.data());
    for (size_t i = 0; i < in.size();) {
        utf8proc_int32_t code = 0;
        utf8proc_ssize_t n = utf8proc_iterate(p + i, static_cast<utf8proc_ssize_t>(in.size() - i), &code);
        if (n <= 0) {
            // Not UTF-8 (the page's text never is): the byte as it is.
            out.text.push_back(in[i]);
            out.origin.push_back(static_cast<int32_t>(i));
            ++i;
            continue;
        }
        utf8proc_uint8_t buffer[4];
        const utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_tolower(code), buffer);
        for (utf8proc_ssize_t k = 0; k < length; ++k) {
            out.text.push_back(static_cast<char>(buffer[k]));
            out.origin.push_back(static_cast<int32_t>(i));
        }
        i += static_cast<size_t>(n);
    }
    out.origin.push_back(static_cast<int32_t>(in.size()));
}

bool isWordByte(const PageModel& page, const char* text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) return std::isalnum(c) != 0 || c == '_';
    if (!page.unicode) return c >= 0xC0 && c != 0xD7 && c != 0xF7;
    return true;  // a letter of another script, or a mark
}

}  // namespace

std::vector<FindMatch> findInPage(const PageModel& page, std::string_view needle, size_t limit) {
    std::vector<FindMatch> matches;
    if (needle.empty()) return matches;
    // The needle in the page's own character set, folded.
    Folded key;
    if (page.unicode) {
        foldUtf8(needle, key);
    } else {
        int32_t length = 0;
        const std::string typed(needle);
        auto display = translateUtf8(typed.data(), typed.size(), &length, true);
        if (!display) return matches;
        std::string_view text(display.get(), static_cast<size_t>(length));
        while (!text.empty() && text.back() == '\n')
            text.remove_suffix(1);
        foldLatin(text, key);
    }
    if (key.text.empty()) return matches;
    Folded line;
    for (int32_t i = 0; i < page.lineCount && matches.size() < limit; ++i) {
        const char* text = page.lines[static_cast<size_t>(i)].text;
        if (text == nullptr) continue;
        const std::string_view original(text, std::strlen(text));
        if (original.size() < key.text.size() && !page.unicode) continue;
        if (page.unicode) {
            foldUtf8(original, line);
        } else {
            foldLatin(original, line);
        }
        for (size_t at = line.text.find(key.text); at != std::string::npos && matches.size() < limit;
             at = line.text.find(key.text, at + key.text.size())) {
            matches.push_back(FindMatch{i, line.origin[at], line.origin[at + key.text.size()]});
        }
    }
    return matches;
}

std::string textBetween(const PageModel& page, TextSpot a, TextSpot b) {
    if (b < a) std::swap(a, b);
    std::string out;
    if (a.line < 0 || page.lineCount == 0) return out;
    const int32_t last = std::min(b.line, page.lineCount - 1);
    for (int32_t i = a.line; i <= last; ++i) {
        const char* text = page.lines[static_cast<size_t>(i)].text;
        const size_t length = text ? std::strlen(text) : 0;
        const size_t from = i == a.line ? std::min(static_cast<size_t>(std::max(a.offset, 0)), length) : 0;
        const size_t to = i == b.line ? std::min(static_cast<size_t>(std::max(b.offset, 0)), length) : length;
        if (i > a.line) out += '\n';
        if (to <= from) continue;
        const std::string_view piece(text + from, to - from);
        if (page.unicode) {
            out.append(piece);
        } else {
            appendDisplayAsUtf8(out, piece);
        }
    }
    return out;
}

FindMatch wordAt(const PageModel& page, TextSpot spot) {
    FindMatch word{spot.line, spot.offset, spot.offset};
    if (spot.line < 0 || spot.line >= page.lineCount) return word;
    const char* text = page.lines[static_cast<size_t>(spot.line)].text;
    const size_t length = text ? std::strlen(text) : 0;
    size_t at = std::min(static_cast<size_t>(std::max(spot.offset, 0)), length);
    if (at == length) {
        if (at == 0) return word;
        --at;
    }
    // Back to the start of the character.
    if (page.unicode)
        while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            --at;
    const bool inWord = isWordByte(page, text, at);
    auto same = [&](size_t i) {
        return isWordByte(page, text, i) == inWord && (inWord || text[i] == text[at]);
    };
    size_t start = at, end = at;
    while (start > 0 && same(start - 1))
        --start;
    while (end < length && same(end))
        ++end;
    if (page.unicode) {
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        while (end < length && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    }
    word.start = static_cast<int32_t>(start);
    word.end = static_cast<int32_t>(end);
    return word;
}
