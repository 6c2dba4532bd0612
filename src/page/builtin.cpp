#include "page/builtin.h"

#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

#include "text/locale.h"
#include "url/url.h"

namespace {

constexpr std::string_view HEADER = BUILTIN_GEMTEXT_HEADER;

// Four lines between two toggle lines, then two empty lines.
constexpr std::string_view BANNER =
    "```\n"
    "  .=== .==. .==. .    .==. .  . .==. .=== .==.\n"
    "  |___ |__| |__/ |    |__| |\\ | |  | |___ |__/\n"
    "  |    |  | |  \\ |    |  | | \\| |  | |    |  \\\n"
    "  '    '  ' '  ' '=== '  ' '  ' '==' '=== '  '\n"
    "```\n"
    "\n"
    "\n";

constexpr std::string_view LINKS =
    "=> spartan://farlander.space/amiga/links/ Amiga Links\n\n"
    "=> gemini://geminiprotocol.net/ Project Gemini\n\n"
    "=> spartan://mozz.us/ Spartan Homepage\n\n"
    "=> gopher://gopher.floodgap.com Gopher Project\n\n"
    "=> spartan://farlander.space/finger/ Finger Links\n\n"
    "=> nex://nightfall.city/ Nightfall City\n\n";

constexpr int TEST_LINES = 200;

// One allocation of exactly the pieces' summed length.
PageText concatenate(std::initializer_list<std::string_view> pieces) {
    try {
        size_t length = 0;
        for (std::string_view piece : pieces)
            length += piece.size();
        std::string text;
        text.reserve(length);
        for (std::string_view piece : pieces)
            text.append(piece);
        return std::make_shared<const std::string>(std::move(text));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

PageText getHomePage() {
    const char* welcome = getString(MSG_WELCOME);
    return concatenate({HEADER, BANNER, welcome != nullptr ? welcome : "", LINKS});
}

PageText getTestPage() {
    constexpr std::string_view LETTERS = "abcdef";
    constexpr std::string_view DIGITS = "1234567890";
    constexpr size_t LINE_LENGTH = 4 + LETTERS.size() + 9 * DIGITS.size() + 1;
    try {
        std::string text;
        text.reserve(HEADER.size() + TEST_LINES * LINE_LENGTH);
        text.append(HEADER);
        for (int n = 1; n <= TEST_LINES; ++n) {
            char number[8];
            std::snprintf(number, sizeof number, "%-4d", n);
            text.append(number);
            text.append(LETTERS);
            for (int i = 0; i < 9; ++i)
                text.append(DIGITS);
            text.push_back('\n');
        }
        return std::make_shared<const std::string>(std::move(text));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PageText getErrorPage(const char* text, int32_t scheme) {
    const bool gemtext = scheme == SCHEME_GEMINI || scheme == SCHEME_SPARTAN;
    return concatenate({gemtext ? HEADER : std::string_view(), text != nullptr ? text : "", "\n"});
}
