#include "settings/prefs.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/paths.h"

LoadedPrefs loadedPrefs;

namespace {

// The file is read as a C line reader with a 64-byte buffer would read it: at most
// 63 bytes at a time, each piece ending after its line feed or at the limit.
constexpr size_t LINE_PIECE = 63;

constexpr const char* THEME_KEYWORDS[THEME_COUNT] = {"aqua",   "custom",  "default",
                                                     "dorcha", "morkbla", "uchu"};
constexpr const char* PEN_ROLE_NAMES[PEN_ROLE_COUNT] = {"Background", "Text",     "Heading", "Preformat",
                                                        "Gemlink",    "Visited",  "Weblink", "Bookmark",
                                                        "Badlink",    "Linkdown", "Webdown"};
constexpr const char* OPENURL_NAMES[OPENURL_COUNT] = {"ftp", "gopher", "http", "https", "mailto"};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// A signed number as strtol reads it (base 10, or the automatic base: "0x" hex,
// leading "0" octal), but held to the 32-bit signed range instead of overflowing.
int32_t readNumber(std::string_view s, bool automaticBase) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i]))
        i++;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int base = 10;
    if (automaticBase && i < s.size() && s[i] == '0') {
        if (i + 2 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X') && digitValue(s[i + 2]) < 16) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    constexpr uint64_t LIMIT = uint64_t{1} << 31;
    uint64_t magnitude = 0;
    for (; i < s.size(); i++) {
        int digit = digitValue(s[i]);
        if (digit >= base) break;
        if (magnitude <= LIMIT) {
            magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        }
    }
    if (negative) return magnitude >= LIMIT ? INT32_MIN : -static_cast<int32_t>(magnitude);
    return magnitude >= LIMIT ? INT32_MAX : static_cast<int32_t>(magnitude);
}

uint8_t lowByte(int32_t value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
}

// Copies a text value only when it fits; a longer one leaves the field empty.
void copyText(char* field, size_t limit, std::string_view value) {
    if (value.size() > limit) {
        field[0] = '\0';
        return;
    }
    std::memcpy(field, value.data(), value.size());
    field[value.size()] = '\0';
}

bool takePrefix(std::string_view& key, std::string_view prefix) {
    if (key.substr(0, prefix.size()) != prefix) return false;
    key.remove_prefix(prefix.size());
    return true;
}

void applyUse(std::string_view rest, std::string_view value, LoadedPrefs& loaded, Settings& live) {
    if (rest == "Screen") {
        loaded.useScreen = readNumber(value, false);
    } else if (rest == "PropFont") {
        loaded.usePropFont = readNumber(value, false);
    } else if (rest == "BackNav") {
        live.useBackNav = lowByte(readNumber(value, false));
    } else if (rest == "GemProxy") {
        live.useGemProxy = lowByte(readNumber(value, false));
    } else if (takePrefix(rest, "OpenURL")) {
        for (int i = 0; i < OPENURL_COUNT; i++) {
            if (rest == OPENURL_NAMES[i]) live.useOpenUrl[i] = lowByte(readNumber(value, false));
        }
    }
}

void applyScreen(std::string_view rest, std::string_view value, LoadedPrefs& loaded, Settings& live) {
    if (rest == "DisplayID") {
        loaded.screenDisplayId = static_cast<uint32_t>(readNumber(value, true));
    } else if (rest == "Width") {
        loaded.screenWidth = readNumber(value, false);
    } else if (rest == "Height") {
        loaded.screenHeight = readNumber(value, false);
    } else if (rest == "FontName") {
        copyText(loaded.screenFontName, FONT_NAME_MAX, value);
    } else if (rest == "FontSize") {
        loaded.screenFontSize = readNumber(value, false);
    } else if (rest == "BorderBlank") {
        live.borderBlank = lowByte(readNumber(value, false));
    }
}

void applyFont(std::string_view rest, std::string_view value, char* name, int32_t& size) {
    if (rest == "Name") {
        copyText(name, FONT_NAME_MAX, value);
    } else if (rest == "Size") {
        size = readNumber(value, false);
    }
}

void applyCustom(std::string_view rest, std::string_view value, LoadedPrefs& loaded) {
    if (takePrefix(rest, "Colour")) {
        if (rest.size() == 1 && rest[0] >= '0' && rest[0] <= '7') {
            loaded.customColours[rest[0] - '0'] = readNumber(value, true);
        }
    } else if (takePrefix(rest, "Pen")) {
        for (int role = 0; role < PEN_ROLE_COUNT; role++) {
            if (rest == PEN_ROLE_NAMES[role]) loaded.customPens[role] = readNumber(value, false);
        }
    }
}

void applyGemProxy(std::string_view rest, std::string_view value, Settings& live) {
    if (rest == "Host") {
        copyText(live.gemProxyHost, PROXY_HOST_MAX, value);
    } else if (rest == "Port") {
        live.gemProxyPort = readNumber(value, false);
    } else if (rest == "All") {
        live.gemProxyAll = lowByte(readNumber(value, false));
    }
}

void parsePiece(std::string_view piece, LoadedPrefs& loaded, Settings& live) {
    // The piece is a C string: a NUL byte ends it.
    piece = piece.substr(0, piece.find('\0'));
    if (!piece.empty() && piece[0] == ';') return;
    size_t n = piece.size();
    if (n <= 3) return;
    // The last character goes, whatever it is; after a line feed a carriage
    // return goes too, so files with CR LF endings read as their author meant.
    std::string_view line = piece.substr(0, n - 1);
    if (piece[n - 1] == '\n' && line.back() == '\r') line.remove_suffix(1);
    size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals + 1 >= line.size()) return;
    std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);

    if (takePrefix(key, "Use")) {
        applyUse(key, value, loaded, live);
    } else if (takePrefix(key, "Screen")) {
        applyScreen(key, value, loaded, live);
    } else if (takePrefix(key, "PropFont")) {
        applyFont(key, value, loaded.propFontName, loaded.propFontSize);
    } else if (takePrefix(key, "FixedFont")) {
        applyFont(key, value, loaded.fixedFontName, loaded.fixedFontSize);
    } else if (key == "Theme") {
        for (int i = 0; i < THEME_COUNT; i++) {
            if (value == THEME_KEYWORDS[i]) loaded.theme = i;
        }
    } else if (takePrefix(key, "Custom")) {
        applyCustom(key, value, loaded);
    } else if (takePrefix(key, "GemProxy")) {
        applyGemProxy(key, value, live);
    } else if (key == "UnicodeText") {
        live.unicodeText = lowByte(readNumber(value, false)) != 0 ? 1 : 0;
    }
}

void appendLine(std::string& out, std::string_view key, int64_t value) {
    out += key;
    out += '=';
    out += std::to_string(value);
    out += '\n';
}

void appendHexLine(std::string& out, std::string_view key, uint32_t value) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value, 16);
    std::transform(digits, result.ptr, digits,
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; });
    out += key;
    out += "=0x";
    out.append(digits, result.ptr);
    out += '\n';
}

void appendTextLine(std::string& out, std::string_view key, const char* text, size_t capacity) {
    out += key;
    out += '=';
    out.append(text, strnlen(text, capacity));
    out += '\n';
}

// "default" and a size of 0 when the font is its reference font.
void appendFont(std::string& out, std::string_view prefix, const FontSpec& font, const FontSpec& reference) {
    std::string nameKey = std::string(prefix) + "Name";
    std::string sizeKey = std::string(prefix) + "Size";
    if (fontEqual(font, reference)) {
        appendTextLine(out, nameKey, "default", 8);
        appendLine(out, sizeKey, 0);
    } else {
        appendTextLine(out, nameKey, font.name, sizeof font.name);
        appendLine(out, sizeKey, font.height);
    }
}

int flag(int32_t value) {
    return value != 0 ? 1 : 0;
}

uint16_t fontHeight(int64_t size) {
    return static_cast<uint16_t>(std::clamp<int64_t>(size, 0, UINT16_MAX));
}

void applyLoadedFont(FontSpec& font, const char* name, int32_t size) {
    if (size > 0 && name[0] != '\0') fontSet(font, name, fontHeight(size));
}

}  // namespace

std::string prefsFilePath() {
    return prefsDirectory() + "/Farlander.prefs";
}

void prefsParse(std::string_view text, LoadedPrefs& loaded, Settings& live) {
    size_t pos = 0;
    while (pos < text.size()) {
        std::string_view window = text.substr(pos, LINE_PIECE);
        size_t newline = window.find('\n');
        std::string_view piece = newline == std::string_view::npos ? window : window.substr(0, newline + 1);
        parsePiece(piece, loaded, live);
        pos += piece.size();
    }
}

bool prefsLoad() {
    loadedPrefs = LoadedPrefs{};
    try {
        std::string text;
        if (!readWholeFile(prefsFilePath(), text)) return false;
        prefsParse(text, loadedPrefs, settings);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::string prefsFormat(const Settings& live) {
    std::string out;
    out.reserve(1024);
    out += ";\n; Farlander.prefs\n;\n";
    appendLine(out, "UseScreen", flag(live.useScreen));
    if (live.displayId == live.workbenchDisplayId) {
        out += "ScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n";
    } else {
        appendHexLine(out, "ScreenDisplayID", live.displayId);
        appendLine(out, "ScreenWidth", live.screenWidth);
        appendLine(out, "ScreenHeight", live.screenHeight);
    }
    appendFont(out, "ScreenFont", live.screenFont, live.workbenchFont);
    appendLine(out, "ScreenBorderBlank", flag(live.borderBlank));
    appendLine(out, "UsePropFont", flag(live.usePropFont));
    appendFont(out, "PropFont", live.propFont, live.screenFont);
    appendFont(out, "FixedFont", live.fixedFont, live.systemFont);
    // A theme number outside the table cannot come from the menus; it is saved
    // as the default theme rather than read past the table.
    int theme = live.theme >= 0 && live.theme < THEME_COUNT ? live.theme : THEME_DEFAULT;
    appendTextLine(out, "Theme", THEME_KEYWORDS[theme], 16);
    for (int i = 0; i < PALETTE_SIZE; i++) {
        appendHexLine(out, "CustomColour" + std::to_string(i), live.customColours[i]);
    }
    for (int role = 0; role < PEN_ROLE_COUNT; role++) {
        appendLine(out, std::string("CustomPen") + PEN_ROLE_NAMES[role], live.customPens[role]);
    }
    appendLine(out, "UseBackNav", flag(live.useBackNav));
    for (int i = 0; i < OPENURL_COUNT; i++) {
        appendLine(out, std::string("UseOpenURL") + OPENURL_NAMES[i], flag(live.useOpenUrl[i]));
    }
    appendLine(out, "UseGemProxy", flag(live.useGemProxy));
    appendTextLine(out, "GemProxyHost", live.gemProxyHost, sizeof live.gemProxyHost);
    appendLine(out, "GemProxyPort", live.gemProxyPort);
    appendLine(out, "GemProxyAll", flag(live.gemProxyAll));
    appendLine(out, "UnicodeText", flag(live.unicodeText));
    return out;
}

void prefsSave() {
    try {
        if (!ensurePrefsDirectory()) return;
        writeFileAtomic(prefsFilePath(), prefsFormat(settings));
    } catch (const std::bad_alloc&) {
    }
}

bool resetFonts() {
    bool changed = !fontEqual(settings.fixedFont, settings.systemFont) ||
                   !fontEqual(settings.propFont, settings.workbenchFont) ||
                   !fontEqual(settings.screenFont, settings.workbenchFont) || settings.usePropFont != 0;
    settings.fixedFont = settings.systemFont;
    settings.propFont = settings.workbenchFont;
    settings.screenFont = settings.workbenchFont;
    settings.usePropFont = 0;
    return changed;
}

void prefsMerge(int32_t startupScreenChoice) {
    const LoadedPrefs& loaded = loadedPrefs;
    Settings& s = settings;

    DesktopFacts desktop = desktopFacts();
    s.workbenchDisplayId = desktop.displayId;
    fontSet(s.workbenchFont, desktop.fontName.c_str(), fontHeight(desktop.fontHeight));
    fontSet(s.systemFont, desktop.fixedFontName.c_str(), fontHeight(desktop.fixedFontHeight));

    s.theme = loaded.theme >= 0 ? loaded.theme : THEME_DEFAULT;

    bool customFromFile = std::any_of(std::begin(loaded.customColours), std::end(loaded.customColours),
                                      [](int32_t colour) { return colour > 0; });
    if (customFromFile) {
        for (int i = 0; i < PALETTE_SIZE; i++)
            s.customColours[i] = static_cast<uint32_t>(loaded.customColours[i]);
        // Pens index an eight-colour palette; anything else would draw with a
        // colour that does not exist.
        for (int role = 0; role < PEN_ROLE_COUNT; role++) {
            int32_t pen = loaded.customPens[role];
            s.customPens[role] = pen >= 0 && pen < PALETTE_SIZE ? pen : 0;
        }
    }

    if (startupScreenChoice != -1) {
        s.useScreen = startupScreenChoice;
    } else if (loaded.useScreen != -1) {
        s.useScreen = loaded.useScreen;
    } else {
        s.useScreen = desktop.height < 768 || desktop.depth < 8 ? 1 : 0;
    }

    s.displayId = desktop.displayId;
    s.screenWidth = desktop.width;
    s.screenHeight = desktop.height;
    if (loaded.screenDisplayId != 0 && loaded.screenWidth != 0 && loaded.screenHeight != 0) {
        s.displayId = loaded.screenDisplayId;
        s.screenWidth = loaded.screenWidth;
        s.screenHeight = loaded.screenHeight;
    }

    resetFonts();
    s.usePropFont = loaded.usePropFont == 1 ? 1 : 0;
    applyLoadedFont(s.screenFont, loaded.screenFontName, loaded.screenFontSize);
    applyLoadedFont(s.fixedFont, loaded.fixedFontName, loaded.fixedFontSize);
    applyLoadedFont(s.propFont, loaded.propFontName, loaded.propFontSize);
}
