// The preferences file Farlander.prefs: reading it at start-up, merging what it
// said into the live settings, and writing the live settings back on request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"

// What the file said, each field still "unset" where it said nothing.
struct LoadedPrefs {
    int32_t useScreen = -1;
    int32_t theme = -1;
    uint32_t screenDisplayId = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    char screenFontName[FONT_NAME_MAX + 1] = {};
    char propFontName[FONT_NAME_MAX + 1] = {};
    char fixedFontName[FONT_NAME_MAX + 1] = {};
    int32_t screenFontSize = 0;
    int32_t propFontSize = 0;
    int32_t fixedFontSize = 0;
    int32_t usePropFont = 0;
    int32_t customColours[PALETTE_SIZE] = {};
    int32_t customPens[PEN_ROLE_COUNT] = {};
};

// Filled by prefsLoad, read once by prefsMerge.
extern LoadedPrefs loadedPrefs;

// The longest proxy host name the settings hold.
inline constexpr int PROXY_HOST_MAX = 63;

// prefsDirectory() + "/Farlander.prefs".
std::string prefsFilePath();

// Reads the file into loadedPrefs (reset to unset first) and the settings that
// the file sets directly. False when there was no readable file; nothing is
// ever reported.
bool prefsLoad();

// Writes the live settings to the file, replacing it whole; a failure is silent
// and leaves the old file as it was.
void prefsSave();

// Puts the fixed font back to the system font, the proportional and screen fonts
// back to the desktop font, and clears usePropFont; true when any of them changed.
bool resetFonts();

// The start-up merge: reads the desktop's facts, then lays loadedPrefs over the
// defaults in settings. startupScreenChoice is -1 (not given), 0 (window) or
// 1 (own screen).
void prefsMerge(int32_t startupScreenChoice);

// The parts of the above that do not touch the file or the desktop.
// prefsParse reads file text as prefsLoad does (loaded is not reset first).
void prefsParse(std::string_view text, LoadedPrefs& loaded, Settings& live);
// The exact text prefsSave writes for live.
std::string prefsFormat(const Settings& live);
