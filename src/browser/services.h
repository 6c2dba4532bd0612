// Three small services of the window: saving the page on show (its source or the
// text as shown), exchanging addresses with the desktop's clipboard, and the help
// window with the program's manual. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "url/url.h"

// ---- saving ----

// "Save source..." (textMode false) and "Save text..." (textMode true) of the page on
// show. The file is written whole or not at all; an old file of that name stays as it
// was when the save fails.
void saveFile(bool textMode);
// What saveFile writes: the display lines, one per line and as UTF-8 (textMode), or
// the source without its response header line (the whole source for Gopher, Finger
// and Nex, which have none).
std::string saveText(bool textMode);

// ---- clipboard ----

// The clipboard text buffer's size: a paste keeps at most CLIP_BUFFER_SIZE - 1 bytes.
inline constexpr int CLIP_BUFFER_SIZE = 384;

void clipInit();
void clipCleanUp();
// Puts text on the clipboard (and, where the desktop has one, the primary selection).
// A clipboard that cannot be reached says so in a requester.
void clipWrite(const std::string& text);
// Reads the clipboard's text into text, cut to CLIP_BUFFER_SIZE - 1 bytes. False (after
// a requester) when the clipboard cannot be reached; a clipboard without text reads as
// empty.
bool clipRead(std::string& text);
// Copy URL (nothing for a built-in page) and Paste URL (loads the clipboard's text as
// an address and shows it in the URL field; an empty clipboard loads nothing).
void copyUrlCommand();
void pasteUrlCommand();

// ---- help ----

void guideInit();
// Help (and F1): opens the manual at its main page; a second Help while it is open
// shows the main page again on an own screen, and reopens the manual on the desktop
// or after a change of screen.
void showHelp();
// The help window's signal mask (0 while it is closed); the event loop waits on it.
uint32_t guideSignalMask();
// Takes the help window's events: it was closed, it is up, or the manual could not
// be shown (a requester says why).
void handleGuideSignal();
void guideCleanUp();
// Tests: the manual is looked for under this name instead (empty: the real one).
void guideSetDocumentForTesting(const std::string& name);
