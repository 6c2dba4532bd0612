// Bookmarks: the user's ordered list of addresses, mirrored in
// <prefs>/bookmarks.txt (one address per line, each ended by a line feed; no file
// when the list is empty), shown as the "BOOKVIEW" page and managed through the
// "BOOKMAN" page, whose links are "BOOK:" commands. GUI thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "page/pagetext.h"

// The longest bookmark, and the longest line one read of the file takes.
inline constexpr size_t BOOKMARK_MAX_LENGTH = 328;

// Starts with an empty list and reads the file.
void bookmarkInit();
// Forgets every bookmark (the file stays).
void bookmarkCleanup();

// Appends the file's lines to the list. A missing or unreadable file (or a folder
// in its place) leaves the list as it is, silently. A line longer than 328
// characters arrives in pieces of 328, each a bookmark of its own; a line's final
// line feed is dropped (a last line without one keeps all its characters), and a
// line ends at its first NUL byte.
void bookmarkRead();

// Saves the list: an empty list deletes the file; otherwise the preferences folder
// is created when missing and the file replaced whole. True when the file mirrors
// the list; on failure the old file stays as it was and the change lives in memory.
bool bookmarkWrite();

// Appends url (cut to 328 characters) and saves, unless an equal bookmark exists.
// True when it was added.
bool bookmarkAdd(std::string_view url);

// The "BOOKVIEW" page: the bookmarks as a list page titled "Bookmarks".
PageText bookmarkView();
// The "BOOKMAN" page: for each bookmark a "move up", a "delete" and a "move down"
// command link.
PageText bookmarkManage();

// Carries out one command address: "BOOK:up:<url>", "BOOK:down:<url>" or
// "BOOK:del:<url>" (the address counts up to its 328th character). Up moves the
// bookmark one place toward the front unless it is first; down one place toward the
// back (the last stays last, and the file is still rewritten); del asks "Delete
// bookmark?" first. Any other address, or an address naming no bookmark, changes
// nothing. True when a command was carried out and the file rewritten.
bool bookmarkEdit(std::string_view address);

// The bookmarks in order.
const std::vector<std::string>& bookmarkList();
// <prefs>/bookmarks.txt
std::string bookmarkFilePath();
