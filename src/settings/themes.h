// Themes: an eight-colour palette and, for each of the eleven pen roles, the palette
// index it uses. The window shell turns the selected theme into pen numbers each
// time it opens the window; the text view draws each line in the pen of its style.
#pragma once

#include <cstdint>

#include "settings/settings.h"
#include "text/limits.h"

struct ThemeInfo {
    const char* keyword;  // preferences keyword
    const char* label;    // menu label (UTF-8)
};
extern const ThemeInfo THEME_INFO[THEME_COUNT];

// The palette (0xRGB) and role table of a theme; row THEME_CUSTOM is the settings'
// customColours and customPens.
const uint32_t* themeColours(int32_t theme);
const int32_t* themeRolePens(int32_t theme);

// Run-time pens, rebuilt by every window start.
extern int32_t elementPens[PEN_ROLE_COUNT];
extern int32_t stylePens[STYLE_COUNT];  // by line style

// The colour table entry i of the current theme as 4-bit components.
struct ColourEntry {
    int32_t index;
    uint8_t red, green, blue;
};
// Fills table[0..7] and ends it with index -1 at table[8].
void themeColourTable(int32_t theme, ColourEntry table[PALETTE_SIZE + 1]);

// Own screen: the palette becomes colour registers 0-7 and the role pens are the
// palette indices. Desktop: one pen is obtained for each of the eight colours.
void themePensSetUp(bool ownScreen);
// The pen of the theme's highlight colour (palette colour 3, the interface's
// highlight on a screen of its own): the keyboard's frame around the text.
int32_t highlightPen();
// Releases the obtained pens, once each.
void themePensRelease();
void buildStylePens();
