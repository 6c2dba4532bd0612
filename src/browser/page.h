// The page on show and the road from an address to a shown page: loadPage parses the
// address, serves built-in and cached pages at once and otherwise starts a fetch;
// processPage acts on the fetch's outcome. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/cache.h"
#include "url/url.h"

struct PageLine;

// The page on show. lines point into the page model the parser fills.
struct PageRecord {
    UrlRecord address;
    PageText source;
    const PageLine* lines = nullptr;
    int32_t lineCount = 0;
    int32_t linkCount = 0;
};

// The current page record; null between windows (before pageOpen, after pageClose).
PageRecord* currentPage();
// A zeroed record for a new window; false when it cannot be allocated.
bool pageOpen();
// Frees the record (the address is gone with it).
void pageClose();

// The redirect counter: redirects followed in a row.
int32_t& redirectCount();

// Shows an address in the URL field (empty for a built-in page, "/" dropped from a
// bare path except for Gopher, cut to 318 characters).
void updateUrlGad(const UrlRecord& address);
// Records a shown page in the history and sets the Back/Forward controls.
void addToHistory(const char* url);

// The URL field's text for an address.
void urlFieldText(const UrlRecord& address, char out[319]);

// The address an input answer loads: the answer after a "?" (the address's own final
// "?" when it has one), dropped when the address would reach 328 characters, and the
// query percent-encoded over the address's whole length.
void composeQueryUrl(const char* address, const std::string& answer, char out[URL_MAX + 1]);

void loadPage(const char* url, std::unique_ptr<NetBuffer> body = nullptr, bool updateUrlField = false);
// Acts on a finished fetch: the exchange's request, status and result.
void processPage();

// A released link: styles 4 and 5 search, 2 and 3 prompt, others load.
void followLink(int32_t style, const char* url);

// The quit flag (the exchange's quitRequested).
bool quitFlag();
void setQuitFlag(bool on);
