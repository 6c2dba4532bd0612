// The live settings record that the menus change and every module reads.
#pragma once

#include <cstdint>

inline constexpr int FONT_NAME_MAX = 32;
inline constexpr int PEN_ROLE_COUNT = 11;
inline constexpr int PALETTE_SIZE = 8;
inline constexpr int THEME_COUNT = 6;

enum Theme : int32_t {
    THEME_AQUA = 0,
    THEME_CUSTOM = 1,
    THEME_DEFAULT = 2,
    THEME_DORCHA = 3,
    THEME_MORKBLA = 4,
    THEME_UCHU = 5,
};

enum PenRole : int32_t {
    PEN_BACKGROUND = 0,
    PEN_TEXT,
    PEN_HEADING,
    PEN_PREFORMAT,
    PEN_GEMLINK,
    PEN_VISITED,
    PEN_WEBLINK,
    PEN_BOOKMARK,
    PEN_BADLINK,
    PEN_LINKDOWN,
    PEN_WEBDOWN,
};

// Order of the desktop-handler flags in useOpenUrl.
enum OpenUrlScheme : int32_t {
    OPENURL_FTP = 0,
    OPENURL_GOPHER,
    OPENURL_HTTP,
    OPENURL_HTTPS,
    OPENURL_MAILTO,
    OPENURL_COUNT,
};

struct FontSpec {
    char name[FONT_NAME_MAX + 1] = {};
    uint16_t height = 0;
};

// Equal when the names agree in their first 32 characters and the heights match.
bool fontEqual(const FontSpec& a, const FontSpec& b);
// Copies at most 32 characters of name.
void fontSet(FontSpec& font, const char* name, uint16_t height);

struct Settings {
    int32_t useScreen = 0;
    uint32_t displayId = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    uint32_t workbenchDisplayId = 0;
    FontSpec screenFont;
    FontSpec workbenchFont;
    FontSpec systemFont;  // the platform's default text font, the fixed font's reference
    uint8_t borderBlank = 0;
    uint8_t usePropFont = 0;
    FontSpec propFont;
    FontSpec fixedFont;
    int32_t theme = THEME_DEFAULT;
    uint32_t customColours[PALETTE_SIZE] = {0x999, 0x000, 0xFFF, 0x69E, 0x3A3, 0xFF9, 0x36B, 0xBBB};
    int32_t customPens[PEN_ROLE_COUNT] = {1, 7, 4, 5, 3, 6, 0, 6, 0, 0, 6};
    uint8_t useBackNav = 0;
    uint8_t useOpenUrl[OPENURL_COUNT] = {};
    uint8_t useGemProxy = 0;
    char gemProxyHost[64] = {};
    int32_t gemProxyPort = 0;
    uint8_t gemProxyAll = 0;
    // Pages are shown in Unicode (UTF-8, every script); 0 transliterates them to the
    // ISO-8859-1 display character set. A preferences file without the key means 1.
    uint8_t unicodeText = 1;
};

// The one live record. Written by the GUI thread only; the network thread works
// from the copy of the proxy fields made when a fetch starts.
extern Settings settings;
