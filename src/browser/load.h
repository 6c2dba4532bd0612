// The page on show and the road from an address to a shown page: loadPage parses the
// address, serves built-in and cached pages at once and otherwise starts a fetch;
// processPage acts on the fetch's outcome; showPage makes a text the page on show.
// GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/exchange.h"
#include "page/pagetext.h"
#include "page/parser.h"
#include "url/url.h"
#include "view/view.h"

// The page on show: its address, its text and its display lines, all its own.
struct PageRecord {
    UrlRecord address;
    PageText source;
    PageModel model;
};

// The current page record; null between windows (before pageOpen, after pageClose).
PageRecord* currentPage();
// A new, empty record for a new window; false when it cannot be allocated.
bool pageOpen();
// Frees the record, its lines and its address.
void pageClose();

// The redirect counter: redirects followed in a row.
int32_t& redirectCount();

// Shows an address in the URL field (empty for a built-in page, "/" dropped from a
// bare path except for Gopher, cut to 318 characters).
void updateUrlGad(const UrlRecord& address);
// Records a shown page in the history and sets the Back/Forward controls.
void addToHistory(const char* url);

// The URL field's text for an address.
void urlFieldText(const UrlRecord& address, char out[URL_FIELD_MAX + 1]);

// The address an input answer loads: the answer after a "?" (the address's own final
// "?" when it has one), dropped when the address would reach 328 characters, and the
// query percent-encoded over the address's whole length.
void composeQueryUrl(const char* address, const std::string& answer, char out[URL_MAX + 1]);

// Loads url; a fetch is made as options say. A sensitive query (options.sensitiveQuery)
// is never looked up in the cache or shown in the URL field.
void loadPage(const char* url, std::unique_ptr<NetBuffer> body = nullptr, bool updateUrlField = false,
              FetchOptions options = {});
// Return in the URL field: the typed text, trimmed and encoded, is loaded, and the page
// takes the keyboard focus.
void loadTypedAddress(const std::string& typed);
// Acts on a finished fetch: the exchange's request, status and result.
void processPage();

// Makes text the page on show at address: parses it for the view's width, shows the
// address, draws it from the reading position the history holds for it, caches it,
// records the visit and unlocks the controls (unless a fetch is still under way).
// Nothing happens when text is null.
void showPage(const UrlRecord& address, PageText text);
// Parses and draws the page on show again (new width, new pens, new fonts).
void redrawPage();
// After a change of size or fonts: lays the window out again and redraws the page.
void relayoutWindow();

// Scrolls the page on show and keeps the reading position in its history entry.
void scrollPageUp(int32_t n, bool updateScroller);
void scrollPageDown(int32_t n, bool updateScroller);

// The pointer over the text view (window message coordinates): link feedback, and a
// released link is followed.
void pageMouse(int32_t x, int32_t y, int32_t code);
// A link clicked or chosen from the keyboard (line -1: none): remembered for the
// download hand-over, then followed.
void followPageLink(const LinkClick& click);
// A released link: styles 4 and 5 search, 2 and 3 prompt, others load.
void followLink(int32_t style, const char* url);
// After a download hand-over: the link whose click started it turns visited when the
// download was accepted, and is drawn in its own pen again when it was declined.
void markClickedLink(bool accepted);

// The quit flag (the exchange's quitRequested).
bool quitFlag();
void setQuitFlag(bool on);
