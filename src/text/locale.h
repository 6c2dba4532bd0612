// Message texts by id: the translation catalog's text when one is open, else the
// built-in English default.
#pragma once

#include "text/messages.h"

void localeInit();
// Read-only text valid for the whole run; null for an id outside the list.
// Safe from any thread once localeInit has run.
const char* getString(int id);
// The same, but "" instead of null.
const char* messageText(int id);
void localeCleanup();
