// The system clipboard, as plain UTF-8 text. Only the GUI thread (the one that
// called guiInit) may use it; any other thread gets CLIP_UNAVAILABLE.
#pragma once

#include <string>

enum ClipStatus {
    CLIP_OK = 0,
    CLIP_EMPTY = 1,        // the clipboard holds no text (or only an empty one)
    CLIP_UNAVAILABLE = 2,  // no application, no clipboard, not the GUI thread, or no selection
};

// Puts the text on the clipboard; with alsoSelection also into the primary selection
// where the window system has one (X11). Text that is not valid UTF-8 has its bad
// bytes replaced. An empty text leaves an empty clipboard (a read answers CLIP_EMPTY).
ClipStatus clipboardWriteText(const std::string& utf8, bool alsoSelection);

// Puts the text into the primary selection only (X11: what a middle click pastes);
// CLIP_UNAVAILABLE where the window system has none.
ClipStatus clipboardWriteSelection(const std::string& utf8);
// Reads the clipboard's plain text. utf8 is cleared first and stays empty unless the
// answer is CLIP_OK.
ClipStatus clipboardReadText(std::string& utf8);

// Reads the primary selection (the text last selected with the mouse, X11);
// CLIP_UNAVAILABLE where the window system has none.
ClipStatus clipboardReadSelection(std::string& utf8);

// True when the window system has a primary selection.
bool clipboardHasSelection();
