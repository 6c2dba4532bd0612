#include "settings/themes.h"

#include "platform/gui.h"

const ThemeInfo THEME_INFO[THEME_COUNT] = {
    {"aqua", "Aqua"},
    {"custom", "Custom"},
    {"default", "Default"},
    {"dorcha", "Dorcha"},
    {"morkbla", "M\xC3\xB6rkbl\xC3\xA5"},
    {"uchu", "Uchu"},
};

namespace {

const uint32_t BUILTIN_COLOURS[THEME_COUNT][PALETTE_SIZE] = {
    {0x345, 0x012, 0x9AB, 0x25A, 0x298, 0xFA3, 0x345, 0x788},
    {0x999, 0x000, 0xFFF, 0x69E, 0x3A3, 0xFF9, 0x36B, 0xBBB},
    {0x999, 0x000, 0xFFF, 0x68B, 0x3A3, 0xFF9, 0x358, 0xBBB},
    {0x555, 0x000, 0xBBB, 0xBBB, 0xBBB, 0xBBB, 0x777, 0x777},
    {0x116, 0xCCF, 0x338, 0xFFF, 0xCCF, 0x88B, 0xFFF, 0xF22},
    {0x888, 0x002, 0xCCC, 0x85F, 0xD77, 0xFB6, 0x358, 0x69C},
};

const int32_t BUILTIN_ROLES[THEME_COUNT][PEN_ROLE_COUNT] = {
    {1, 7, 4, 5, 3, 6, 0, 6, 0, 0, 6}, {1, 7, 4, 5, 3, 6, 0, 6, 0, 0, 6}, {1, 7, 4, 5, 3, 6, 0, 6, 0, 0, 6},
    {1, 7, 4, 5, 3, 6, 0, 6, 0, 0, 6}, {0, 1, 3, 3, 4, 5, 4, 6, 7, 5, 5}, {1, 2, 4, 5, 7, 6, 0, 6, 0, 0, 6},
};

// The role of each line style, in the order of the style codes: link, visited,
// prompt, visited prompt, search, visited search, web, bookmark, ftp, mailto,
// unsupported, heading, preformatted, text.
constexpr int32_t STYLE_ROLES[STYLE_COUNT] = {
    PEN_GEMLINK,  PEN_VISITED, PEN_GEMLINK, PEN_VISITED, PEN_GEMLINK, PEN_VISITED,   PEN_WEBLINK,
    PEN_BOOKMARK, PEN_BADLINK, PEN_BADLINK, PEN_BADLINK, PEN_HEADING, PEN_PREFORMAT, PEN_TEXT,
};

int32_t validTheme(int32_t theme) {
    return theme >= 0 && theme < THEME_COUNT ? theme : THEME_DEFAULT;
}

int32_t obtainedPens[PALETTE_SIZE];
bool pensObtained = false;

}  // namespace

int32_t elementPens[PEN_ROLE_COUNT];
int32_t stylePens[STYLE_COUNT];

const uint32_t* themeColours(int32_t theme) {
    theme = validTheme(theme);
    return theme == THEME_CUSTOM ? settings.customColours : BUILTIN_COLOURS[theme];
}

const int32_t* themeRolePens(int32_t theme) {
    theme = validTheme(theme);
    return theme == THEME_CUSTOM ? settings.customPens : BUILTIN_ROLES[theme];
}

void themeColourTable(int32_t theme, ColourEntry table[PALETTE_SIZE + 1]) {
    const uint32_t* colours = themeColours(theme);
    for (int i = 0; i < PALETTE_SIZE; ++i) {
        uint32_t c = colours[i];
        table[i] = {i, static_cast<uint8_t>((c >> 8) & 15), static_cast<uint8_t>((c >> 4) & 15),
                    static_cast<uint8_t>(c & 15)};
    }
    table[PALETTE_SIZE] = {-1, 0, 0, 0};
}

void themePensSetUp(bool ownScreen) {
    ColourEntry table[PALETTE_SIZE + 1];
    themeColourTable(settings.theme, table);
    const int32_t* roles = themeRolePens(settings.theme);
    for (int i = 0; table[i].index >= 0; ++i) {
        uint32_t rgb = (uint32_t{table[i].red} << 8) | (uint32_t{table[i].green} << 4) | table[i].blue;
        if (ownScreen) {
            guiSetRegister(i, rgb);
        } else {
            obtainedPens[i] = guiObtainPen(rgb);
        }
    }
    pensObtained = !ownScreen;
    for (int r = 0; r < PEN_ROLE_COUNT; ++r) {
        // A pen number outside the palette (a hand-edited Custom row) takes colour 0.
        int32_t index = roles[r] >= 0 && roles[r] < PALETTE_SIZE ? roles[r] : 0;
        elementPens[r] = ownScreen ? index : obtainedPens[index];
    }
    guiUseRegistersForInterface(ownScreen);
    buildStylePens();
}

int32_t highlightPen() {
    return pensObtained ? obtainedPens[3] : 3;
}

void themePensRelease() {
    if (!pensObtained) return;
    for (int32_t pen : obtainedPens)
        guiReleasePen(pen);
    pensObtained = false;
}

void buildStylePens() {
    for (int s = 0; s < STYLE_COUNT; ++s)
        stylePens[s] = elementPens[STYLE_ROLES[s]];
}
