#include "shell/menu.h"

#include <iterator>

#include "text/messages.h"

namespace {

constexpr MenuCommand SEPARATOR(int menu, int item) {
    return MenuCommand{CMD_NONE, menu, item, -1, 0, 0, nullptr};
}

constexpr MenuCommand COMMANDS[] = {
    {CMD_SAVE_SOURCE, MENU_PROJECT, 0, MSG_ITEM_SAVE_SOURCE, 0, 0},
    {CMD_SAVE_TEXT, MENU_PROJECT, 1, MSG_ITEM_SAVE_TEXT, 0, 0},
    SEPARATOR(MENU_PROJECT, 2),
    {CMD_ABOUT, MENU_PROJECT, 3, MSG_ITEM_ABOUT, '!', 0},
    {CMD_HELP, MENU_PROJECT, 4, MSG_ITEM_HELP, '?', 0},
    {CMD_QUIT, MENU_PROJECT, 5, MSG_ITEM_QUIT, 'Q', 0},
    {CMD_COPY_URL, MENU_EDIT, 0, MSG_ITEM_COPY_URL, 'C', 0},
    {CMD_PASTE_URL, MENU_EDIT, 1, MSG_ITEM_PASTE_URL, 'V', 0},
    {CMD_COPY_TEXT, MENU_EDIT, 2, MSG_ITEM_COPY_TEXT, 0, 0, "Ctrl+Shift+C"},
    SEPARATOR(MENU_EDIT, 3),
    {CMD_FIND, MENU_EDIT, 4, MSG_ITEM_FIND, 0, 0, "Ctrl+Shift+F"},
    {CMD_FIND_NEXT, MENU_EDIT, 5, MSG_ITEM_FIND_NEXT, 0, 0, "F3"},
    {CMD_FIND_PREVIOUS, MENU_EDIT, 6, MSG_ITEM_FIND_PREVIOUS, 0, 0, "Shift+F3"},
    {CMD_BACK, MENU_GO, 0, MSG_ITEM_BACK, 'B', MENU_IDLE_ONLY | MENU_START_DISABLED},
    {CMD_FORWARD, MENU_GO, 1, MSG_ITEM_FORWARD, 'F', MENU_IDLE_ONLY | MENU_START_DISABLED},
    {CMD_HOME, MENU_GO, 2, MSG_ITEM_HOME, 'H', MENU_IDLE_ONLY},
    {CMD_RELOAD, MENU_GO, 3, MSG_ITEM_RELOAD, 'R', MENU_IDLE_ONLY},
    {CMD_STOP, MENU_GO, 4, MSG_ITEM_STOP, 'S', MENU_BUSY_ONLY | MENU_START_DISABLED},
    SEPARATOR(MENU_GO, 5),
    {CMD_HISTORY, MENU_GO, 6, MSG_ITEM_HISTORY, 0, MENU_IDLE_ONLY},
    {CMD_ADD_BOOKMARK, MENU_BOOKMARKS, 0, MSG_ITEM_BOOKMARK_ADD, 'A', 0},
    {CMD_VIEW_BOOKMARKS, MENU_BOOKMARKS, 1, MSG_ITEM_BOOKMARK_VIEW, 'K', 0},
    {CMD_MANAGE_BOOKMARKS, MENU_BOOKMARKS, 2, MSG_ITEM_BOOKMARK_MANAGE, 'M', 0},
    SEPARATOR(MENU_BOOKMARKS, 3),
    {CMD_MANAGE_IDENTITIES, MENU_BOOKMARKS, 4, MSG_ITEM_MANAGE_IDENTITIES, 'I', 0},
    {CMD_SCREEN_MODE, MENU_SETTINGS, 0, MSG_ITEM_SCREEN_MODE, 0, 0},
    {CMD_SCREEN_FONT, MENU_SETTINGS, 1, MSG_ITEM_SCREEN_FONT, 0, 0},
    {CMD_BLANK_BORDER, MENU_SETTINGS, 2, MSG_ITEM_BLANK_BORDER, 0, MENU_CHECKABLE},
    SEPARATOR(MENU_SETTINGS, 3),
    {CMD_TEXT_FONTS, MENU_SETTINGS, 4, MSG_ITEM_TEXT_FONTS, 0, 0},
    {CMD_FIXED_FONT, MENU_SETTINGS, 5, MSG_ITEM_FIXED_FONT, 0, 0},
    {CMD_PROPORTIONAL_FONT, MENU_SETTINGS, 6, MSG_ITEM_PROPORTIONAL_FONT, 0, 0},
    {CMD_RESET_FONTS, MENU_SETTINGS, 7, MSG_ITEM_RESET_FONTS, 0, 0},
    // Added later than the items around it: its code comes after theirs.
    {CMD_UNICODE_TEXT, MENU_SETTINGS, 17, MSG_ITEM_UNICODE_TEXT, 0, MENU_CHECKABLE},
    SEPARATOR(MENU_SETTINGS, 8),
    {CMD_THEME, MENU_SETTINGS, 9, MSG_ITEM_THEME, 0, 0},
    {CMD_EDIT_THEME, MENU_SETTINGS, 10, MSG_ITEM_EDIT_THEME, 0, 0},
    SEPARATOR(MENU_SETTINGS, 11),
    {CMD_OPENURL, MENU_SETTINGS, 12, MSG_ITEM_OPENURL, 0, 0},
    SEPARATOR(MENU_SETTINGS, 13),
    {CMD_USE_PROXY, MENU_SETTINGS, 14, MSG_ITEM_USE_PROXY, 0, MENU_CHECKABLE},
    SEPARATOR(MENU_SETTINGS, 15),
    {CMD_SAVE_SETTINGS, MENU_SETTINGS, 16, MSG_ITEM_SAVE_SETTINGS, 0, 0},
};

constexpr int TITLES[MENU_COUNT] = {MSG_MENU_PROJECT, MSG_MENU_EDIT, MSG_MENU_GO, MSG_MENU_BOOKMARKS,
                                    MSG_MENU_SETTINGS};

struct GadgetCommand {
    int gadget;
    Command command;
};
constexpr GadgetCommand GADGET_COMMANDS[] = {
    {GAD_BACK, CMD_BACK}, {GAD_FORWARD, CMD_FORWARD},     {GAD_RELOAD, CMD_RELOAD},
    {GAD_HOME, CMD_HOME}, {GAD_BOOK, CMD_VIEW_BOOKMARKS}, {GAD_STOP, CMD_STOP},
};

}  // namespace

std::span<const MenuCommand> menuCommands() {
    return COMMANDS;
}

int menuTitle(int menu) {
    return menu >= 0 && menu < MENU_COUNT ? TITLES[menu] : -1;
}

Command commandOfCode(int code, int& sub) {
    const int menu = code & 31;
    const int item = (code >> 5) & 63;
    const int subItem = (code >> 11) & 31;
    sub = subItem == 31 ? -1 : subItem;
    for (const MenuCommand& entry : COMMANDS)
        if (entry.menu == menu && entry.item == item) return entry.command;
    return CMD_NONE;
}

int commandCode(Command command, int sub) {
    for (const MenuCommand& entry : COMMANDS)
        if (entry.command == command && command != CMD_NONE) return menuCode(entry.menu, entry.item, sub);
    return -1;
}

Command gadgetCommand(int gadget) {
    for (const GadgetCommand& entry : GADGET_COMMANDS)
        if (entry.gadget == gadget) return entry.command;
    return CMD_NONE;
}
