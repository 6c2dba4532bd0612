// The translation catalog behind the message texts: gettext, text domain
// "farlander". Each message is looked up under its own context, so two messages
// with the same English text can be translated differently.
#pragma once

// Selects the user's language from the environment (LC_MESSAGES and LC_CTYPE only;
// LC_NUMERIC stays "C" so number formats never change) and binds the text domain
// to the first of: $FARLANDER_LOCALEDIR, a "locale" folder beside the executable,
// the installed locale folder. Nothing is reported when no catalog is found.
// Call before other threads start: setlocale is not thread-safe.
void catalogOpen();

// The catalog's text for a message in UTF-8, or defaultText when the catalog is
// missing or lacks the message. The result stays valid for the whole run.
const char* catalogText(const char* context, const char* defaultText);

// The folder the text domain is bound to ("" before catalogOpen).
const char* catalogDirectory();

void catalogClose();
