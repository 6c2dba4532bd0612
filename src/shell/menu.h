// The menu strip as one table: for each command its place (menu and item, which give
// its menu code), its label, its Ctrl shortcut and how its state follows the page
// loads. The strip, the dispatch of picks and the loading state all read it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/gui.h"

// Menu numbers of the strip.
enum MenuNumber { MENU_PROJECT = 0, MENU_EDIT = 1, MENU_GO = 2, MENU_BOOKMARKS = 3, MENU_SETTINGS = 4 };
inline constexpr int MENU_COUNT = 5;

enum Command : int32_t {
    CMD_NONE = 0,
    CMD_SAVE_SOURCE,
    CMD_SAVE_TEXT,
    CMD_ABOUT,
    CMD_HELP,
    CMD_QUIT,
    CMD_COPY_URL,
    CMD_PASTE_URL,
    CMD_BACK,
    CMD_FORWARD,
    CMD_HOME,
    CMD_RELOAD,
    CMD_STOP,
    CMD_HISTORY,
    CMD_ADD_BOOKMARK,
    CMD_VIEW_BOOKMARKS,
    CMD_MANAGE_BOOKMARKS,
    CMD_MANAGE_IDENTITIES,
    CMD_SCREEN_MODE,
    CMD_SCREEN_FONT,
    CMD_BLANK_BORDER,
    CMD_TEXT_FONTS,  // sub-items: fixed width only, fixed + proportional
    CMD_FIXED_FONT,
    CMD_PROPORTIONAL_FONT,
    CMD_RESET_FONTS,
    CMD_UNICODE_TEXT,
    CMD_THEME,  // sub-items: the themes
    CMD_EDIT_THEME,
    CMD_OPENURL,  // sub-items: the schemes handed to the desktop
    CMD_USE_PROXY,
    CMD_SAVE_SETTINGS,
    CMD_COPY_TEXT,
    CMD_FIND,
    CMD_FIND_NEXT,
    CMD_FIND_PREVIOUS,
};

enum MenuFlag : uint32_t {
    MENU_IDLE_ONLY = 1,       // disabled while a page loads
    MENU_BUSY_ONLY = 2,       // enabled only while a page loads
    MENU_START_DISABLED = 4,  // disabled when the strip is made
    MENU_CHECKABLE = 8,       // carries a check mark
};

struct MenuCommand {
    Command command;  // CMD_NONE for a separator
    int menu;
    int item;
    int label;  // message id; -1 for a separator
    char key;   // with Ctrl; 0 for none
    uint32_t flags;
    const char* keys = nullptr;  // a further shortcut ("Ctrl+Shift+C", "F3"); null for none
};

// The table in menu order, separators included.
std::span<const MenuCommand> menuCommands();
// The title of each menu (message ids, by MenuNumber).
int menuTitle(int menu);

// The command a menu code stands for (CMD_NONE when none); sub receives the
// sub-item, -1 for none.
Command commandOfCode(int code, int& sub);
// The menu code of a command's item, or of one of its sub-items.
int commandCode(Command command, int sub = -1);
// The command of a toolbar button (CMD_NONE for the other gadgets).
Command gadgetCommand(int gadget);
