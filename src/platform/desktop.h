// What the program needs to know about the desktop it starts on: the primary
// monitor's size, depth and mode id, the desktop font and the default
// fixed-width font.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct DesktopFacts {
    int width = 0;
    int height = 0;
    int depth = 0;
    uint32_t displayId = 0;
    std::string fontName;  // the desktop font's family
    int fontHeight = 0;    // its pixel size
    std::string fixedFontName;
    int fixedFontHeight = 0;
};

// Reads the facts from the running application (primary screen, application
// font, system fixed font). Without a GUI application it answers fixed
// fallbacks: 1024 x 768 x 24, "DejaVu Sans" 12 and "DejaVu Sans Mono" 12.
DesktopFacts desktopFacts();

// Tests fix the answer of desktopFacts with this; null returns to the real one.
void setDesktopFactsForTesting(const DesktopFacts* facts);

// The display mode id of a monitor: a stable hash (32-bit FNV-1a) of its name,
// kept below 0x80000000 so that it survives the preferences file's signed
// 32-bit numbers, and never 0 (0 there means "the desktop's mode").
uint32_t displayIdForScreenName(const std::string& name);

// Hands a link to the desktop's URL handler (which opens it in another program).
void openDesktopUrl(const std::string& url);
// Tests see the links instead; an empty function returns to the desktop.
void setDesktopUrlOpenerForTesting(std::function<void(const std::string&)> opener);
