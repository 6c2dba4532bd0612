#include "browser/navigate.h"

#include <cstring>
#include <string>

#include "browser/identities.h"
#include "net/exchange.h"
#include "page/builtin.h"
#include "store/bookmarks.h"
#include "store/history.h"
#include "text/messages.h"

namespace {

// The desktop handler flag of a foreign scheme, or -1.
int handlerFlag(int32_t scheme) {
    switch (scheme) {
        case SCHEME_FTP:
            return OPENURL_FTP;
        case SCHEME_GOPHER:
            return OPENURL_GOPHER;
        case SCHEME_HTTP:
            return OPENURL_HTTP;
        case SCHEME_HTTPS:
            return OPENURL_HTTPS;
        case SCHEME_MAILTO:
            return OPENURL_MAILTO;
        default:
            return -1;
    }
}

}  // namespace

AddressRoute routeAddress(const UrlRecord& address, const Settings& live, bool tlsAvailable,
                          bool desktopHandlers) {
    const int flag = handlerFlag(address.scheme);
    if (desktopHandlers && flag >= 0 && live.useOpenUrl[flag]) return ROUTE_DESKTOP;
    switch (address.scheme) {
        case SCHEME_FTP:
        case SCHEME_MAILTO:
        case SCHEME_NONE:
            return ROUTE_NOT_HERE;
        case SCHEME_GEMINI:
        case SCHEME_HTTPS:
            return tlsAvailable || live.useGemProxy ? ROUTE_FETCH : ROUTE_NEEDS_TLS;
        case SCHEME_INTERNAL:
            switch (builtinPageOf(address.url)) {
                case PAGE_BOOK_COMMAND:
                    return ROUTE_BOOK_COMMAND;
                case PAGE_IDENTITY_COMMAND:
                    return ROUTE_IDENTITY_COMMAND;
                default:
                    return ROUTE_BUILTIN;
            }
        default:
            return ROUTE_FETCH;
    }
}

PageText builtinPageText(BuiltinPage page) {
    switch (page) {
        case PAGE_HOME:
            return getHomePage();
        case PAGE_TEST:
            return getTestPage();
        case PAGE_HISTORY:
            return historyView();
        case PAGE_BOOKVIEW:
            return bookmarkView();
        case PAGE_BOOKMAN:
            return bookmarkManage();
        case PAGE_IDENTITIES:
            return identityManage();
        default:
            return nullptr;
    }
}

OutcomeAction outcomeAction(int32_t fetchStatus) {
    switch (fetchStatus) {
        case FETCH_INPUT:
            return OUTCOME_INPUT;
        case FETCH_DOWNLOAD:
            return OUTCOME_DOWNLOADED;
        case FETCH_REDIRECT:
            return OUTCOME_REDIRECT;
        case FETCH_CERTIFICATE:
            return OUTCOME_CERTIFICATE;
        case FETCH_NETWORK_ERROR:
        case FETCH_SERVER_ERROR:
            return OUTCOME_ERROR_PAGE;
        case FETCH_ERROR:
            return OUTCOME_LOCAL_ERROR;
        case FETCH_CERT_CHANGED:
            return OUTCOME_CERT_CHANGED;
        default:
            return OUTCOME_PAGE;
    }
}

RedirectAction redirectDecide(int32_t& redirectCount, const char* target) {
    if (++redirectCount > REDIRECT_LIMIT) return REDIRECT_TOO_MANY;
    static const char* const followed[] = {"gemini://", "spartan://", "https://", "http://"};
    for (const char* prefix : followed) {
        if (target && std::strncmp(target, prefix, std::strlen(prefix)) == 0) return REDIRECT_FOLLOW;
    }
    return REDIRECT_UNSUPPORTED;
}

int redirectErrorMessage(RedirectAction action) {
    switch (action) {
        case REDIRECT_TOO_MANY:
            return MSG_ERR_TOO_MANY_REDIRECTS;
        case REDIRECT_UNSUPPORTED:
            return MSG_ERR_UNSUPPORTED_REDIRECT;
        default:
            return 0;
    }
}

bool redirectLeavesHost(const UrlRecord& from, const char* target) {
    UrlRecord to;
    if (target == nullptr || !parseUrl(target, to)) return true;
    return to.port != from.port || std::strcmp(to.host, from.host) != 0;
}

UrlRecord storedAddress(const UrlRecord& address, bool sensitiveQuery) {
    UrlRecord stored = address;
    if (!sensitiveQuery) return stored;
    const char* query = std::strchr(address.url, '?');
    if (query == nullptr) return stored;
    std::string bare(address.url, static_cast<size_t>(query - address.url));
    if (!parseUrl(bare.c_str(), stored)) stored = UrlRecord();
    return stored;
}
