// The text view as assistive technology (a screen reader, a magnifier) sees it. The
// view is drawn on the raster, a picture to the window system; what it shows is told
// here as plain text and links. Pressing a link from a screen reader queues a
// WMSG_LINKPRESS window message (value: the link's index), handled like a click.
//
// Everything runs on the GUI thread. Nothing is told while no assistive technology
// listens; what was set is kept across window openings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A link of the text view.
struct AccessLink {
    std::string text;                         // UTF-8, as shown
    std::string address;                      // the URL it leads to
    int32_t line = 0;                         // index of its first display line in AccessView::lines
    int x = 0, y = 0, width = 0, height = 0;  // on the raster while visible, else all 0
};

// What the text view shows.
struct AccessView {
    std::string name;                // the page's address (the view's accessible name)
    std::vector<std::string> lines;  // the display lines, UTF-8
    std::vector<AccessLink> links;
    int x = 0, y = 0, width = 0, height = 0;  // the text area on the raster
};

// Replaces what the view tells and announces that a page loaded: the links become new
// objects, the keyboard's place goes back to the view itself, and a press still
// waiting in the message queue is dropped (its index meant a link of the old page).
void guiAccessSetPage(AccessView view);
// Replaces what the view tells without announcing a load, after the view scrolled or
// wrapped its lines anew. When the links are the same (count, texts, addresses) they
// stay the same objects and the keyboard's place stays; else it is as for a new page,
// less the announcement.
void guiAccessUpdatePage(AccessView view);
// The keyboard's place in the view: a link's index, or -1 for the view itself (an
// index outside the links is -1). When the view has the keyboard focus, assistive
// technology is told the focus moved there.
void guiAccessSetFocus(int link);

// Whether assistive technology listens now: what the view tells is worth making.
bool guiAccessListening();
