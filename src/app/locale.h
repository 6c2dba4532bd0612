// Message texts by id (0-140): the translation catalog's text when one is open,
// else the built-in English default.
#pragma once

inline constexpr int MESSAGE_COUNT = 141;

void localeInit();
// Read-only text valid for the whole run; null for an id outside 0-140.
// Safe from any thread once localeInit has run.
const char* getString(int id);
void localeCleanup();
