// The decisions on the way from an address to a shown page that need no window:
// where an address goes, what a built-in page holds, what a fetch's outcome calls
// for and when a redirect is followed. The window's page pipeline (browser/load.h)
// and the command-line dump both take them from here.
#pragma once

#include <cstdint>

#include "net/exchange.h"
#include "page/pagetext.h"
#include "settings/settings.h"
#include "url/url.h"

enum AddressRoute {
    ROUTE_FETCH,             // fetch it (or show it from the cache)
    ROUTE_BUILTIN,           // a page the program makes: builtinPageText
    ROUTE_BOOK_COMMAND,      // a bookmark manager command ("BOOK:...")
    ROUTE_IDENTITY_COMMAND,  // an identity manager command ("IDENTITY:...")
    ROUTE_DESKTOP,           // hand it to the desktop's URL handler
    ROUTE_NOT_HERE,          // ftp and mailto without the desktop handler: nothing to show
    ROUTE_NEEDS_TLS,         // Gemini or HTTPS with neither TLS nor the proxy (message 139)
};

// Where a parsed address goes. With desktopHandlers the settings' choice of schemes
// for the desktop's URL handler applies (the window); without it nothing goes to the
// desktop (the dump).
AddressRoute routeAddress(const UrlRecord& address, const Settings& live, bool tlsAvailable,
                          bool desktopHandlers);

// The text of a built-in page, made now: the start page, the test page, the history,
// the two bookmark pages and the identity manager. Null for the other names and when memory runs out.
PageText builtinPageText(BuiltinPage page);

// What a finished fetch calls for, by its status.
enum OutcomeAction {
    OUTCOME_PAGE,          // show the result (a reply without a text shows nothing)
    OUTCOME_INPUT,         // ask for the input the server wants, then load the answer
    OUTCOME_DOWNLOADED,    // a download went to its file (or was declined)
    OUTCOME_REDIRECT,      // follow the redirect, within the limit
    OUTCOME_CERTIFICATE,   // the server wants a client certificate
    OUTCOME_CERT_CHANGED,  // the server's key is not the pinned one: ask before going on
    OUTCOME_ERROR_PAGE,    // a network or server error: show it as the page
    OUTCOME_LOCAL_ERROR,   // a local failure: a requester, the page stays
};
OutcomeAction outcomeAction(int32_t fetchStatus);

enum RedirectAction {
    REDIRECT_FOLLOW = 0,       // load the target
    REDIRECT_TOO_MANY = 1,     // a third redirect in a row: error page "Too many redirects"
    REDIRECT_UNSUPPORTED = 2,  // error page "Redirected to unsupported URL"
};

// The limit of redirects followed in a row.
inline constexpr int REDIRECT_LIMIT = 2;

// Counts one more redirect in a row and decides what becomes of target. Only
// "gemini://", "spartan://", "https://" and "http://" targets are followed.
RedirectAction redirectDecide(int32_t& redirectCount, const char* target);

// The message id of the error page for a refused redirect, 0 to follow.
int redirectErrorMessage(RedirectAction action);

// Whether following target from the address from leaves its host or port (a target
// that cannot be read counts as leaving). Such a redirect is followed without an
// identity, and so is every redirect after it in the chain.
bool redirectLeavesHost(const UrlRecord& from, const char* target);

// The address as the stores keep it: an address reached with a sensitive answer
// (FetchOptions::sensitiveQuery) without its query, else the address itself.
UrlRecord storedAddress(const UrlRecord& address, bool sensitiveQuery);
