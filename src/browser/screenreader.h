// The page on show as assistive technology (a screen reader) reads it: its lines, its
// links and where the keyboard is, told to the platform only while one listens.
// GUI thread only.
#pragma once

#include <cstdint>

// A page was drawn: all of it is told anew (a new page is announced as loaded; the
// same page laid out again is not).
void readerPageShown();
// The page scrolled: where its links are on the screen now.
void readerViewMoved();
// The link cursor moved.
void readerCursorMoved();
// A screen reader pressed link index (of the links last told): followed as a click.
void readerLinkPressed(int32_t index);
