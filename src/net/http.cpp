#include "net/http.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

bool netHeaderIsChunked(const char* header, size_t length) {
    if (header == nullptr) return false;
    static constexpr const char* name = "transfer-encoding:";
    size_t at = 0;
    while (at < length) {
        const void* feed = std::memchr(header + at, '\n', length - at);
        size_t end = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - header) : length;
        const char* line = header + at;
        size_t lineLength = end - at;
        if (startsWithNoCase(line, lineLength, name)) {
            // The codings are a comma-separated list; look for the token "chunked".
            for (size_t i = std::strlen(name); i < lineLength; ++i) {
                if (!isTokenChar(line[i])) continue;
                size_t start = i;
                while (i < lineLength && isTokenChar(line[i]))
                    ++i;
                if (i - start == 7 && startsWithNoCase(line + start, 7, "chunked")) return true;
            }
        }
        at = end + 1;
    }
    return false;
}

bool chunkedDecode(ChunkedDecoder& decoder, const char* data, size_t length,
                   const std::function<bool(const char* bytes, size_t count)>& sink) {
    using State = ChunkedDecoder::State;
    constexpr uint64_t sizeLimit = std::numeric_limits<uint64_t>::max() / 16;
    size_t i = 0;
    while (i < length) {
        switch (decoder.state) {
            case State::SIZE: {
                char c = data[i++];
                int digit = hexValue(c);
                if (digit >= 0) {
                    if (decoder.remaining > sizeLimit) {
                        decoder.state = State::BAD;
                        return false;
                    }
                    decoder.remaining = decoder.remaining * 16 + static_cast<uint64_t>(digit);
                    decoder.sawDigit = true;
                } else if (c == ';' || c == ' ' || c == '\t') {
                    decoder.state = State::EXTENSION;
                } else if (c == '\r') {
                    decoder.state = State::SIZE_LF;
                } else if (c == '\n') {
                    decoder.state = State::SIZE_LF;
                    --i;  // handled by SIZE_LF as a bare line feed
                } else {
                    decoder.state = State::BAD;
                    return false;
                }
                if (decoder.state == State::SIZE_LF && !decoder.sawDigit) {
                    decoder.state = State::BAD;
                    return false;
                }
                break;
            }
            case State::EXTENSION:
                if (!decoder.sawDigit) {
                    decoder.state = State::BAD;
                    return false;
                }
                if (data[i] == '\r' || data[i] == '\n') {
                    decoder.state = State::SIZE_LF;
                    if (data[i] == '\n') break;
                }
                ++i;
                break;
            case State::SIZE_LF:
                if (data[i++] != '\n') {
                    decoder.state = State::BAD;
                    return false;
                }
                decoder.sawDigit = false;
                if (decoder.remaining == 0) {
                    decoder.state = State::TRAILER;
                    decoder.lineEmpty = true;
                } else {
                    decoder.state = State::DATA;
                }
                break;
            case State::DATA: {
                size_t n = static_cast<size_t>(std::min<uint64_t>(decoder.remaining, length - i));
                if (!sink(data + i, n)) return false;
                i += n;
                decoder.remaining -= n;
                if (decoder.remaining == 0) decoder.state = State::DATA_CR;
                break;
            }
            case State::DATA_CR:
                if (data[i] == '\r') {
                    ++i;
                    decoder.state = State::DATA_LF;
                } else if (data[i] == '\n') {
                    decoder.state = State::DATA_LF;
                } else {
                    decoder.state = State::BAD;
                    return false;
                }
                break;
            case State::DATA_LF:
                if (data[i++] != '\n') {
                    decoder.state = State::BAD;
                    return false;
                }
                decoder.state = State::SIZE;
                break;
            case State::TRAILER:
                if (data[i] == '\r') {
                    decoder.state = State::TRAILER_LF;
                } else if (data[i] == '\n') {
                    decoder.state = State::TRAILER_LF;
                    break;
                } else {
                    decoder.lineEmpty = false;
                }
                ++i;
                break;
            case State::TRAILER_LF:
                if (data[i++] != '\n') {
                    decoder.state = State::BAD;
                    return false;
                }
                if (decoder.lineEmpty) {
                    decoder.state = State::DONE;
                } else {
                    decoder.state = State::TRAILER;
                    decoder.lineEmpty = true;
                }
                break;
            case State::DONE:
                return true;
            case State::BAD:
                return false;
        }
    }
    return decoder.state != State::BAD;
}
