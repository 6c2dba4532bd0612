// HTTP framing of a download: whether the server framed the body in chunks, and the
// decoder that takes the framing off as the bytes stream in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// True when the HTTP header text (length bytes) names the chunked transfer coding.
bool netHeaderIsChunked(const char* header, size_t length);

// Removes the framing of a chunked HTTP body as it streams: the bytes may be split
// anywhere between calls.
struct ChunkedDecoder {
    enum State : int32_t { SIZE, EXTENSION, SIZE_LF, DATA, DATA_CR, DATA_LF, TRAILER, TRAILER_LF, DONE, BAD };
    State state = SIZE;
    uint64_t remaining = 0;  // data bytes left in the current chunk
    bool sawDigit = false;   // the size line has a digit
    bool lineEmpty = true;   // the trailer line read so far is empty
};

// Feeds length bytes; each run of body bytes goes to sink, which returns false to give
// up. Returns false on malformed framing or when the sink gave up. Bytes after the
// last chunk's trailer are ignored.
bool chunkedDecode(ChunkedDecoder& decoder, const char* data, size_t length,
                   const std::function<bool(const char* bytes, size_t count)>& sink);
