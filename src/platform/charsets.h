// Character sets other than UTF-8, as servers name them in a reply's header.
#pragma once

#include <string>
#include <string_view>

// Converts text from the named character set ("iso-8859-1", "windows-1251",
// "shift_jis", ...) to UTF-8 into out. A byte the character set does not define
// becomes U+FFFD. False (out unchanged) when the character set is not known.
bool convertToUtf8(const std::string& charset, std::string_view text, std::string& out);
