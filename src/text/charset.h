// The display character set (ISO-8859-1 with the block glyph at 0x80) as people's
// terminals and the window's widgets see it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The character a display byte is drawn as: Latin-1, except 0x80 (U+2588, full block)
// and 0x81-0x9F (U+00B7, middle dot), control codes that fonts have no glyph for.
char32_t displayCodePoint(unsigned char byte);

// Appends text converted to UTF-8 with displayCodePoint.
void appendDisplayAsUtf8(std::string& out, std::string_view text);
// Display text as a widget shows it (widgets take UTF-8).
std::string displayToUtf8(std::string_view text);

// As appendDisplayAsUtf8, then written so that a line stays one line: a backslash as
// "\\", a tab as "\t", every other byte below 0x20 and 0x7F as "\xNN" (lower-case hex).
void appendEscapedDisplay(std::string& out, std::string_view text);

// The same for UTF-8 text (the Unicode display): its bytes as they are, but a
// backslash, a tab and every byte below 0x20 and 0x7F escaped.
void appendEscapedUtf8(std::string& out, std::string_view text);
