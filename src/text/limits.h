// Limits that several modules share: the lengths of addresses and of what a person
// types, and the number of line styles. Every length counts bytes unless it says
// characters.
#pragma once

// An address: at most URL_MAX bytes (a buffer of URL_MAX + 1).
inline constexpr int URL_MAX = 328;
// A host name, and a request path or selector.
inline constexpr int HOST_MAX = 63;
inline constexpr int PATH_MAX_LEN = 255;

// What a person may type: characters in the URL field, in the input window, and in
// a Spartan prompt's text answer.
inline constexpr int URL_FIELD_MAX = 318;
inline constexpr int INPUT_MAX = 253;
inline constexpr int SPARTAN_INPUT_MAX = 1023;
// Characters of an identity's common name.
inline constexpr int COMMON_NAME_MAX = 64;

// Display line styles (the page model's LineStyle codes 0 to STYLE_COUNT - 1).
inline constexpr int STYLE_COUNT = 14;
