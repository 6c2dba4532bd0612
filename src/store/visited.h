// The visited list: network addresses the user has opened, most recent first. It
// colours visited links and makes the "HISTORY" page. Used from the GUI thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Puts url at the front, moving an existing equal entry there instead of adding a
// second one. False when out of memory (the list is unchanged then).
bool visitedAdd(std::string_view url);

// Adds a new entry at the front, or at the back when atBack is set; an equal entry
// already in the list stays where it is. False when out of memory.
bool visitedInsert(std::string_view url, bool atBack);

// Whether an entry equals url exactly (case-sensitive).
bool isVisited(std::string_view url);

// The entries, most recent first. Valid until the list next changes.
const std::vector<std::string>& visitedEntries();
void visitedForEach(const std::function<void(const std::string&)>& visit);

size_t visitedCount();
void visitedClear();
