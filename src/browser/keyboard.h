// The page from the keyboard: scrolling keys, the link cursor (Tab, Shift+Tab,
// Return), finding text, and copying what is selected. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gui.h"

// A key on the text view (WMSG_RAWKEY, or WMSG_VANILLAKEY); true when it was used.
bool pageKey(const WindowMessage& message);

// Find... : opens the find bar (or gives it the keyboard again).
void findCommand();
// Find next / previous: the next or previous match of the find bar's text, searching
// afresh when the page changed; the find bar opens when it holds nothing yet.
void findAgain(bool forward);
// A message of the find bar.
void findBarMessage(int action);
// A new page (or the same one laid out anew): the matches are looked for again
// while the find bar is open.
void findRefresh();

// Copy text: the selection to the clipboard (a word in the status line when there is
// none).
void copyTextCommand();
// A selection was made with the mouse: it goes to the primary selection.
void selectionMade();
// What went to the primary selection last (tests: the window system may have none).
const std::string& lastPrimaryText();
