// The event loop of one opening of the window and the commands it dispatches:
// menus, toolbar, keys, wheel, scroller, link clicks, the prompts, the download
// hand-over. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "url/url.h"

// runGUI's results.
inline constexpr int GUI_QUIT = 0;
inline constexpr int GUI_BREAK = 20;
inline constexpr int GUI_RESTART = -1;

int runGUI();
// One turn of the loop: waits up to timeoutMs (-1: for as long as it takes) for a
// signal, then handles the signals and the queued window messages. result is set to
// GUI_BREAK or GUI_RESTART when one of them asks for it. False when nothing came.
bool runGUIStep(int timeoutMs, int& result);

// Text typed by a person as it goes into a URL: every byte 0x80 and above and every
// "%" percent-encoded (lower-case hex).
std::string encodeTyped(const std::string& typed);

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

// Carries out one menu command (its menu code). Returns GUI_RESTART when the window
// must be reopened, else 0.
int menuCommand(int code);
// The about requester's text.
std::string aboutText();
