// UTF-8 to display text (ISO-8859-1) transliteration.
//
// Latin-1 characters become their byte, Latin Extended-A/B letters their base
// letter, a few punctuation marks ASCII look-alikes; combining accents and soft
// hyphens vanish; every other character becomes a middle dot (0xB7). Malformed
// or incomplete sequences are copied byte for byte. The same pass removes
// carriage returns, expands tabs to stops of 8 columns (unless keepTabs) and
// makes sure the text ends with a line break.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Converts the NUL-terminated input. Returns a new NUL-terminated buffer of
// inputLength + 7 * (tabs in the input) + 2 bytes, and stores the text's length
// (final line break included, NUL excluded) in *outLength when it is not null.
// Returns null (and a length of 0) when the buffer cannot be allocated, or when
// the result could not be described by a 32-bit length.
std::unique_ptr<char[]> translateUtf8(const char* input, int32_t* outLength, bool keepTabs);

// The same for exactly inputLength bytes at input; NUL bytes among them are
// ordinary bytes and are copied.
std::unique_ptr<char[]> translateUtf8(const char* input, size_t inputLength, int32_t* outLength,
                                      bool keepTabs);

// The tabs among length bytes: what tab expansion will add room for.
size_t countTabs(const unsigned char* in, size_t length);

// An uninitialised buffer of size bytes for a converted text; null when memory is out.
std::unique_ptr<char[]> allocateText(size_t size);
