// Pages generated inside the program: the start page ("HOME"), the layout test
// page ("TEST") and the error page that stands in for a document when a fetch
// fails. Each is a complete reply, header line included where the scheme has one,
// so it goes through the same parse and render path as a fetched document.
#pragma once

#include <cstdint>

#include "page/pagetext.h"

// The header of every generated gemtext page.
inline constexpr char BUILTIN_GEMTEXT_HEADER[] = "20 text/gemini\r\n";

// The start page: banner, welcome text (message 0) and six links. Null when out of memory.
PageText getHomePage();

// 200 numbered lines of 100 characters without spaces. Null when out of memory.
PageText getTestPage();

// text as a page: with the gemtext header for Gemini and Spartan addresses (scheme),
// as plain text for every other scheme. Null when out of memory.
PageText getErrorPage(const char* text, int32_t scheme);
