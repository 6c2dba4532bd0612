// The commands of the menus and the toolbar, the prompts of links, and the download
// hand-over. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "shell/menu.h"
#include "url/url.h"

// What a command asks of the event loop.
inline constexpr int GUI_QUIT = 0;
inline constexpr int GUI_BREAK = 20;
inline constexpr int GUI_RESTART = -1;

void goBack();
void goForward();
void handleGopherSearch(const char* url);
void handleSpartanPrompt(const char* url);
// The download hand-over: asks for a file name and answers the network thread.
void downloadHandOver();
// The save-name dialog: a path, or empty when none.
std::string askSaveName(const UrlRecord& address, bool textMode);
// The default file name the save dialog offers.
std::string defaultSaveName(const UrlRecord& address, bool textMode);

// Carries out a command (sub: its sub-item, -1 for none). Returns GUI_RESTART when
// the window must be reopened, GUI_BREAK when a break ended a modal window (the quit
// flag is set then), else 0.
int runCommand(Command command, int sub = -1);
// The same for a menu pick's code.
int menuCommand(int code);
// Stop: ends the fetch under way and shows the page's address again.
void stopCommand();
// The about requester's text.
std::string aboutText();
