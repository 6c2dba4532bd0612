// The page cache: the document texts of the most recently shown pages, keyed by
// address, so that Back, Forward, revisits, window restarts and the built-in pages
// come back without a fetch. GUI thread only.
#pragma once

#include <string_view>

#include "page/pagetext.h"

inline constexpr int CACHE_CAPACITY = 25;

// Starts with an empty cache (dropping anything held before).
void cacheInit();

// The cached text for url, or null. A hit makes the entry the most recently used.
// Keys are exact, case-sensitive strings.
PageText cacheGet(std::string_view url);

// Offers a text to the cache. Nothing happens when url is empty, text is null, or an
// entry for url exists already (the cache keeps its own text). Otherwise the entry
// goes to the front; a 26th entry drops the least recently used one. True when the
// text was stored; false also when memory ran out.
bool cachePut(std::string_view url, PageText text);

// Drops the entry for url, if there is one.
void cacheDelete(std::string_view url);

// Drops every entry.
void cacheCleanUp();

// How many entries the cache holds.
int cacheCount();
