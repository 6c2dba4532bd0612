// The help viewer: a window of its own, beside the main window, that shows the
// program's manual (a Markdown document) with a contents list of its sections,
// Back and Forward within the document and a "main page" action. The browser
// stays usable while it is open.
//
// The viewer reports to the event loop like the window does: each event is queued
// and the task's signal bits are raised; the loop takes the events one at a time
// with helpGetEvent. Everything here runs on the GUI thread.
//
// Links in the document that point into it (#section) move within it and count for
// Back and Forward; links to other places (gemini://, https://, mailto: ...) are
// handed to the desktop's URL handler (openDesktopUrl), never shown in the viewer;
// links to other files are ignored.
//
// The window lives apart from the main window: closing and reopening the main window
// (a screen change) leaves it as it is. guiCleanUp closes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/task.h"

enum HelpEventKind {
    HELP_EVENT_SHUTDOWN = 1,  // the user closed the window
    HELP_EVENT_ACTIVE = 2,    // the window is up and shows the document (once per open)
    HELP_EVENT_FAILED = 3,    // the document could not be shown; code and text say why
};

// Codes of HELP_EVENT_FAILED.
inline constexpr int HELP_ERROR_NOT_FOUND = 101;  // missing, not a file, or not readable
inline constexpr int HELP_ERROR_TOO_LARGE = 102;  // larger than HELP_DOCUMENT_LIMIT
inline constexpr int HELP_ERROR_NO_WINDOW = 103;  // the window could not be shown
inline constexpr long long HELP_DOCUMENT_LIMIT = 4LL << 20;

struct HelpEvent {
    int kind = 0;
    int code = 0;      // HELP_EVENT_FAILED: one of the codes above
    std::string text;  // HELP_EVENT_FAILED: what went wrong, in English (UTF-8)
};

// Where the window goes: on the monitor of the program's own screen (kept above the
// full-screen main window), or on the desktop's primary monitor.
struct HelpPlacement {
    bool ownScreen = false;
    uint32_t monitorId = 0;  // as in WindowSpec; the primary monitor when none matches
};

// Opens the viewer on the Markdown document at path, at its top, and from then on
// raises mask in task for every event. An open viewer is closed first (without an
// event), so this also moves the viewer to another screen. A document that cannot be
// read gives HELP_EVENT_FAILED (no window); otherwise HELP_EVENT_ACTIVE follows.
// False (and no event) only without the GUI (guiInit).
bool helpOpen(const std::string& path, const HelpPlacement& placement, const TaskHandle& task, uint32_t mask);
// The texts of the viewer's window (UTF-8), in the user's language; English until set.
struct HelpLabels {
    std::string title = "Farlander Help";
    std::string navigation = "Navigation";  // the toolbar's name
    std::string back = "Back";
    std::string forward = "Forward";
    std::string mainPage = "Main page";
};
// Takes effect for the next helpOpen.
void helpSetLabels(const HelpLabels& labels);

// Takes the oldest queued event; false when there is none.
bool helpGetEvent(HelpEvent& event);
// Brings the window to the front at the top of the document (the main page), as a
// step Back can undo. Nothing happens when the viewer is not open.
void helpShowMain();
// Closes the viewer from the program's side: no event is reported, and the events
// still queued are dropped. Safe when it was never opened.
void helpClose();
// True from helpOpen until the user or the program closes the window.
bool helpIsOpen();

// ---- finding the manual ----

// The folders searched for the manual, in order: the current folder,
// <executable folder>/data, <executable folder>/../data (a build folder inside the
// source tree finds the tree's data folder), then the installed data folder.
std::vector<std::string> helpSearchFolders();
// The path of the first regular file called name in the folders, or "".
std::string helpFindDocumentIn(const std::string& name, const std::vector<std::string>& folders);
// helpFindDocumentIn over helpSearchFolders().
std::string helpFindDocument(const std::string& name);

// ---- what the window shows (tests) ----

// One entry of the contents list: a heading of the document and the anchor its
// link jumps to.
struct HelpSection {
    int level = 0;  // 1 for "#", 2 for "##", ...
    std::string title;
    std::string anchor;
};
std::string helpWindowTitle();
std::vector<HelpSection> helpContents();
// The document view's vertical scroll position in pixels; -1 when not open.
int helpScrollPosition();
// The title of the section the view's top edge is in ("" above the first heading).
std::string helpSectionAtTop();
// Scrolls the document view to a position, as dragging its scroll bar would.
void helpScrollTo(int position);

// ---- simulated input (tests): real toolkit events to the window ----

// Clicks the contents list's entry (0 = first); false when there is no such entry.
bool helpSimulateContentsClick(int index);
// A key to the document view: KEY_LEFT, KEY_RIGHT, KEY_UP (gui.h) with QUAL_ALT are
// Back, Forward and the main page.
void helpSimulateKey(int code, int qualifier);
// Clicks a link of the document: the first one whose address is href.
bool helpSimulateLinkClick(const std::string& href);
// Closes the window as its close button would.
void helpSimulateClose();
