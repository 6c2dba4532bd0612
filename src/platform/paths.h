// Where the program keeps and looks for its files.
#pragma once

#include <string>

// The preferences folder: $FARLANDER_HOME/prefs when that variable is set, else a
// "prefs" folder beside the executable when one exists, else
// $XDG_CONFIG_HOME/farlander (~/.config/farlander). Not created here.
std::string prefsDirectory();

// Creates the preferences folder (and its parents) when missing; false on failure.
bool ensurePrefsDirectory();

// The folder that holds the running executable ("" when unknown).
std::string executableDirectory();

// Where file requesters start: the user's Downloads folder if it exists, else home.
std::string initialDrawer();
