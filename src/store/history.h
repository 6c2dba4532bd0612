// The navigation history (Back/Forward, with each page's reading position) and the
// visited list's file. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "page/pagetext.h"

struct HistoryEntry {
    std::string url;
    int32_t savedLine = 0;  // source line at the top of the view when last scrolled
};

// At most this many visited addresses, most recent first, are written to the file.
inline constexpr int VISITED_FILE_MAX = 50;

// Starts with an empty history and visited list, then reads the visited file.
void historyInit();
// Writes the visited file (unless the visited list is empty) and frees both lists.
void historyCleanup();

// Records a shown page: a network address also goes to the front of the visited
// list; the entries after the current one are discarded and the new entry, at the
// end, becomes current. Returns it, or null when out of memory (nothing recorded).
HistoryEntry* historyAdd(std::string_view url);

// The entry before / after the current one; null at either end or without a
// current entry. The caller makes it current with historySetCurrent.
HistoryEntry* historyPrevious();
HistoryEntry* historyNext();

// The entry of the page on show, or null. Stays valid until it is discarded.
HistoryEntry* currentEntry();
// entry must be one of the history's entries, or null for none.
void historySetCurrent(HistoryEntry* entry);

// How many entries the history holds.
size_t historyCount();

// The visited file: prefsDirectory() + "/visited.txt".
std::string visitedFilePath();
// Appends the file's addresses, in order, at the back of the visited list. A missing
// or unreadable file is no error. Lines are read 328 bytes at a time at most.
void visitedRead();
// Writes the 50 most recent addresses, one per line; false when the list is empty
// (nothing written) or the folder or file cannot be made.
bool visitedWrite();

// The "HISTORY" page: the visited addresses under the title message 43.
PageText historyView();
