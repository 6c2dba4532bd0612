// What assistive technology finds in the main window, read through the toolkit's
// accessibility interfaces from the canvas down, as a screen reader reads them
// (tests; in the farlander_platform_testing library).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One accessible object.
struct AccessNode {
    std::string role;  // "document", "link", "button", "text", "scrollbar", "label", or a number
    std::string name;
    std::string description;
    std::vector<std::string> actions;
    int x = 0, y = 0, width = 0, height = 0;  // on the screen
    bool focused = false;                     // its state says so
    bool offscreen = false;
    uint32_t id = 0;  // the toolkit's id of the object
    int index = -1;   // its place as its parent counts it
};

struct AccessSummary {
    bool found = false;            // the canvas has a text view among its children
    int canvasX = 0, canvasY = 0;  // the canvas's top-left corner on the screen
    int childCount = 0;            // the canvas's children, the text view included
    int viewIndex = -1;            // the text view's place among them
    AccessNode view;
    std::string text;  // all of it, through the text interface
    int characterCount = 0;
    int caret = -1;
    std::vector<AccessNode> links;  // the text view's children
    int focus = -2;                 // the canvas's focus child: a link's index, -1 the view, -2 else
};
AccessSummary guiAccessDescribe();

// The canvas's children other than the text view, in order.
std::vector<AccessNode> guiAccessGadgets();

// Performs the press action of a link of the text view; false when there is no such
// link or it has no press action.
bool guiAccessPress(int link);

// A piece of the text view's text, by the text interface.
enum AccessBoundary { ACCESS_CHAR = 0, ACCESS_WORD = 1, ACCESS_LINE = 2 };
struct AccessTextPiece {
    std::string text;
    int start = -1, end = -1;
    bool operator==(const AccessTextPiece&) const = default;
};
// where: -1 the piece before offset, 0 the one at it, 1 the one after it.
AccessTextPiece guiAccessTextAt(int offset, AccessBoundary boundary, int where);

// What is found at a point of the raster, as a screen reader's pointer review finds
// it: the canvas's child there and, in the text view, its child: "link 2", "view",
// "button Back", or "" for nothing.
std::string guiAccessHit(int x, int y);

// Whether an id still names an accessible object.
bool guiAccessAlive(uint32_t id);

// Records the events the text view tells assistive technology (the gadgets' own are
// the toolkit's business). listening: tell them as if a screen reader listened
// (headless, none does); else only what would be told anyway, which is nothing.
void guiAccessRecord(bool on, bool listening = true);
// The events recorded since the last call, oldest first: "focus view", "focus link 2",
// "name view", "text view", "created link 0", "destroyed link 1", "loaded view".
std::vector<std::string> guiAccessTakeEvents();
