#include "browser/load.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "browser/commands.h"
#include "browser/identities.h"
#include "browser/keyboard.h"
#include "browser/navigate.h"
#include "browser/screenreader.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/known_hosts.h"
#include "page/builtin.h"
#include "page/linestyle.h"
#include "platform/desktop.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/cache.h"
#include "store/history.h"
#include "store/visited.h"
#include "text/charset.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

std::unique_ptr<PageRecord> page;
UrlRecord request;  // the record loadPage parses into
int32_t redirects = 0;

// The link whose click was followed last, for the download hand-over that may follow.
struct ClickedLink {
    int32_t line = -1;
    char pageUrl[URL_MAX + 1] = {};
};
ClickedLink clicked;

PageText textOf(const char* result, size_t length) {
    if (!result) return nullptr;
    try {
        return std::make_shared<const std::string>(result, length);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool isHttp(int32_t scheme) {
    return scheme == SCHEME_HTTP || scheme == SCHEME_HTTPS;
}

void recordReadingPosition(const PageRecord& shown) {
    const int32_t top = viewState().topLine;
    HistoryEntry* entry = currentEntry();
    if (entry && top >= 0 && top < shown.model.lineCount)
        entry->savedLine = shown.model.lines[static_cast<size_t>(top)].sourceLine;
}

// Status 60. An identity that the capsule already has is never replaced without a
// question, and its files are kept aside (createIdentity).
void certificateRequest(const UrlRecord& req, const FetchOptions& options) {
    setStatus(getString(MSG_STATUS_CERTIFICATE_REQUIRED));
    // The identity this capsule was shown, if any: replacing it is asked first.
    const bool hasIdentity = findIdentity(req.host, req.port, req.path) != nullptr;
    int answer = 0;
    if (settings.useGemProxy) {
        showError(getString(MSG_NOTICE_CERTIFICATE_PROXY));
    } else if (!hasIdentity ||
               askChoice(getString(MSG_ASK_REPLACE_IDENTITY), getString(MSG_BUTTONS_REPLACE_IDENTITY)) == 1) {
        answer = askChoice(getString(MSG_NOTICE_CERTIFICATE), getString(MSG_BUTTONS_IDENTITY));
    }
    std::string commonName;
    if (answer == 1) {
        commonName = "Farlander";
    } else if (answer == 2) {
        if (openInputWindow("Common Name", "Farlander", COMMON_NAME_MAX, commonName) != 0) {
            setQuitFlag(true);
            return;
        }
    }
    if (!commonName.empty()) {
        setStatus(getString(MSG_STATUS_CREATING_IDENTITY));
        if (createIdentity(req.host, req.port, "/", commonName.c_str())) {
            std::string url = req.url;
            cacheDelete(storedAddress(req, options.sensitiveQuery).url);
            // The reload presents the new identity.
            FetchOptions again = options;
            again.withoutIdentity = false;
            loadPage(url.c_str(), nullptr, false, again);
            return;
        }
        showError(getString(MSG_ERR_CREATE_IDENTITY));
    }
}

// Status 1x. A sensitive prompt (11) masks what is typed, and the address it leads to
// is kept by no store with its query.
void inputRequest(const UrlRecord& req, const char* prompt, bool sensitive) {
    setStatus(getString(MSG_STATUS_INPUT));
    std::string answer;
    if (openInputWindow(prompt, nullptr, INPUT_MAX, answer, sensitive) != 0) {
        setQuitFlag(true);
        return;
    }
    if (answer.empty()) return;
    char url[URL_MAX + 1];
    composeQueryUrl(req.url, encodeTyped(answer), url);
    FetchOptions options;
    options.sensitiveQuery = sensitive;
    if (!sensitive) cacheDelete(url);
    loadPage(url, nullptr, false, options);
}

// Status 8: the server shows another key than the one pinned for its host and port.
// Trusting it pins the new key and loads the page again; otherwise an error page says
// what happened.
void certificateChanged(const FetchExchange& exchange, const UrlRecord& shown) {
    const std::string facts =
        knownHostChangeText(exchange.pinnedKey, exchange.seenKey, static_cast<int64_t>(std::time(nullptr)));
    setStatus("");
    if (askChoice(facts.c_str(), getString(MSG_BUTTONS_CERT_CHANGED)) == 1) {
        knownHostTrust(exchange.seenKey);
        std::string url = exchange.request.url;
        cacheDelete(shown.url);
        loadPage(url.c_str(), nullptr, false, exchange.options);
        return;
    }
    const std::string text = facts + "\n\n" + messageText(MSG_CERT_RELOAD_TO_ASK);
    showPage(shown, getErrorPage(text.c_str(), shown.scheme));
}

// A page past the bound: after its error page, the offer to save it as a download.
void offerDownload(const FetchExchange& exchange) {
    if (askChoice(getString(MSG_ASK_SAVE_TOO_LARGE), getString(MSG_BUTTONS_SAVE_TOO_LARGE)) != 1) return;
    FetchOptions options = exchange.options;
    options.asDownload = true;
    std::string url = exchange.request.url;
    loadPage(url.c_str(), nullptr, false, options);
}

}  // namespace

void composeQueryUrl(const char* address, const std::string& answer, char out[URL_MAX + 1]) {
    std::snprintf(out, URL_MAX + 1, "%s", address);
    int length = static_cast<int>(std::strlen(out));
    int queryStart = -1;
    if (length > 0 && out[length - 1] == '?') {
        queryStart = length - 1;
    } else if (length < URL_MAX) {
        queryStart = length;
        out[length++] = '?';
        out[length] = '\0';
    }
    if (length + static_cast<int>(answer.size()) < URL_MAX) {
        std::memcpy(out + length, answer.data(), answer.size());
        length += static_cast<int>(answer.size());
        out[length] = '\0';
    }
    if (queryStart >= 0) encodeQueryWithin(out + queryStart, URL_MAX - queryStart);
}

PageRecord* currentPage() {
    return page.get();
}

bool pageOpen() {
    try {
        page = std::make_unique<PageRecord>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void pageClose() {
    page.reset();
}

int32_t& redirectCount() {
    return redirects;
}

bool quitFlag() {
    return fetchExchange().quitRequested.load();
}

void setQuitFlag(bool on) {
    fetchExchange().quitRequested.store(on);
}

void urlFieldText(const UrlRecord& address, char out[URL_FIELD_MAX + 1]) {
    out[0] = '\0';
    if (address.scheme == SCHEME_INTERNAL) return;
    size_t length = strnlen(address.url, URL_FIELD_MAX);
    std::memcpy(out, address.url, length);
    out[length] = '\0';
    if (std::strcmp(address.path, "/") == 0 && address.scheme != SCHEME_GOPHER && length > 0)
        out[length - 1] = '\0';
}

void updateUrlGad(const UrlRecord& address) {
    if (!winIsOpen()) return;
    char text[URL_FIELD_MAX + 1];
    urlFieldText(address, text);
    // An address is display text (a link may carry Latin-1 letters); the field shows UTF-8.
    const std::string wanted = displayToUtf8(text);
    if (guiGadgetText(GAD_URL) != wanted) guiUrlFieldSetText(wanted);
}

void addToHistory(const char* url) {
    historyAdd(url ? url : "");
    winSetNavState(currentEntry() && historyPrevious(), false);
}

void loadPage(const char* url, std::unique_ptr<NetBuffer> body, bool updateUrlField, FetchOptions options) {
    if (!parseUrl(url ? url : "", request)) {
        updateUrlGad(request);
        return;
    }
    if (body) request.data = std::move(body);

    switch (routeAddress(request, settings, fetchExchange().tlsAvailable.load(), true)) {
        case ROUTE_DESKTOP:
            openDesktopUrl(url);
            return;
        case ROUTE_NOT_HERE:
            return;
        case ROUTE_NEEDS_TLS:
            showError(getString(MSG_NOTICE_NO_TLS));
            return;
        case ROUTE_BOOK_COMMAND: {
            std::string command = request.url;
            bookmarkEdit(command);
            cacheDelete(pageName(PAGE_BOOKVIEW));
            cacheDelete(pageName(PAGE_BOOKMAN));
            loadPage(pageName(PAGE_BOOKMAN));
            return;
        }
        case ROUTE_IDENTITY_COMMAND: {
            std::string command = request.url;
            identityCommand(command);
            cacheDelete(pageName(PAGE_IDENTITIES));
            loadPage(pageName(PAGE_IDENTITIES));
            return;
        }
        case ROUTE_BUILTIN:
        case ROUTE_FETCH:
            break;
    }
    if (updateUrlField && !options.sensitiveQuery) updateUrlGad(request);

    // The history and identity pages are made anew every time; every other page comes
    // from the cache when it is there.
    const BuiltinPage builtin = request.scheme == SCHEME_INTERNAL ? builtinPageOf(request.url) : PAGE_NONE;
    PageText text;
    if (builtin == PAGE_HISTORY || builtin == PAGE_IDENTITIES) {
        cacheDelete(request.url);
        text = builtinPageText(builtin);
    } else if (!options.sensitiveQuery && !options.asDownload && !(text = cacheGet(request.url))) {
        text = builtinPageText(builtin);
    }

    disableGuiBeforePageLoad();
    if (text) {
        UrlRecord address = request;
        showPage(address, text);
    } else if (!childFetchPending()) {
        if (!childStartFetch(std::move(request), options)) enableGuiAfterPageLoad();
        request.data.reset();
    } else {
        request.data.reset();
    }
}

void processPage() {
    FetchExchange& exchange = fetchExchange();
    const UrlRecord& req = exchange.request;
    const int32_t status = exchange.status;
    const char* result = exchange.result;
    size_t resultLength = result ? exchange.resultLength : 0;
    const OutcomeAction action = outcomeAction(status);
    // What the history, the visited list, the cache and the URL field are told.
    const UrlRecord shown = storedAddress(req, exchange.options.sensitiveQuery);

    // Redirects count only in an unbroken row.
    if (action != OUTCOME_REDIRECT) redirects = 0;
    switch (action) {
        case OUTCOME_INPUT:
        case OUTCOME_DOWNLOADED:
        case OUTCOME_REDIRECT:
        case OUTCOME_CERTIFICATE: {
            if (!isHttp(req.scheme) && !(action == OUTCOME_DOWNLOADED && !exchange.downloadAccepted))
                visitedAdd(shown.url);
            UrlRecord copy = req;
            if (action == OUTCOME_CERTIFICATE) {
                FetchOptions options = exchange.options;
                certificateRequest(copy, options);
            } else if (action == OUTCOME_REDIRECT) {
                setStatus(getString(MSG_STATUS_REDIRECTING));
                std::string target = exchange.redirectTarget;
                RedirectAction redirect = redirectDecide(redirects, target.c_str());
                if (redirect == REDIRECT_FOLLOW) {
                    setStatus(getString(MSG_STATUS_REDIRECTING));
                    FetchOptions options;
                    options.withoutIdentity =
                        exchange.options.withoutIdentity || redirectLeavesHost(copy, target.c_str());
                    cacheDelete(target);
                    loadPage(target.c_str(), nullptr, false, options);
                } else {
                    showPage(shown, getErrorPage(getString(redirectErrorMessage(redirect)), shown.scheme));
                }
            } else {
                std::string prompt = exchange.prompt;
                inputRequest(shown, prompt.c_str(), exchange.sensitivePrompt);
            }
            break;
        }
        case OUTCOME_CERT_CHANGED:
            certificateChanged(exchange, shown);
            break;
        case OUTCOME_LOCAL_ERROR: {
            std::string text = result ? result : "";
            showError(text.c_str());
            break;
        }
        case OUTCOME_ERROR_PAGE: {
            const bool tooLarge = exchange.pageTooLarge;
            showPage(shown, getErrorPage(result ? result : "", shown.scheme));
            if (tooLarge) offerDownload(exchange);
            break;
        }
        case OUTCOME_PAGE: {
            PageText text = resultLength > 0 ? textOf(result, resultLength) : nullptr;
            if (text) showPage(shown, text);
            break;
        }
    }
    // However the outcome ended (a prompt answered or cancelled, a redirect that went
    // to the desktop or was refused), without a new fetch the controls are free again
    // and the URL field shows the page on show.
    if (!childFetchPending() && !quitFlag()) {
        enableGuiAfterPageLoad();
        if (page) updateUrlGad(page->address);
    }
}

void loadTypedAddress(const std::string& typed) {
    // Spaces around the address are no part of it.
    const size_t first = typed.find_first_not_of(" \t");
    const size_t last = typed.find_last_not_of(" \t");
    const std::string address =
        first == std::string::npos ? std::string() : typed.substr(first, last - first + 1);
    // The page takes the keyboard, so Space, the cursor keys and the shortcuts reach it.
    guiFocusPage();
    loadPage(encodeTyped(address).c_str());
}

void showPage(const UrlRecord& address, PageText text) {
    if (!text || !page) return;
    parseNetBuf(page->model, address, viewMetrics().columns, std::string_view(*text),
                ParseOptions{isVisited, settings.unicodeText != 0});
    page->address = address;
    page->source = text;

    setStatus(getString(MSG_STATUS_RENDERING));
    redirects = 0;
    updateUrlGad(address);

    // Back to the reading position the history keeps for this page.
    HistoryEntry* entry = currentEntry();
    const bool sameEntry = entry && sameAddress(entry->url, address.url);
    int32_t top = 0;
    if (sameEntry && entry->savedLine > 0) {
        for (int32_t i = 0; i < page->model.lineCount; ++i) {
            if (page->model.lines[static_cast<size_t>(i)].sourceLine == entry->savedLine) {
                top = i;
                break;
            }
        }
    }
    // The link cursor, a selection and the matches belonged to the lines before.
    viewClearMarks();
    drawPage(page->model, top);
    findRefresh();
    readerPageShown();

    cachePut(address.url, text);
    // A fetch still under way keeps the controls locked, so Stop stays available.
    if (!childFetchPending()) enableGuiAfterPageLoad();
    if (!sameEntry) addToHistory(address.url);
    // A character set this system cannot read is worth a word; else the line is clear.
    setStatus(page->model.unknownCharset ? getString(MSG_STATUS_UNKNOWN_CHARSET) : "");
}

void redrawPage() {
    if (page && page->source) {
        UrlRecord address = page->address;
        PageText text = page->source;
        showPage(address, text);
    }
}

void relayoutWindow() {
    resizeWindow();
    if (page) {
        updateUrlGad(page->address);
        redrawPage();
    }
}

void scrollPageUp(int32_t n, bool updateScroller) {
    if (page && scrollUp(page->model, n, updateScroller)) {
        recordReadingPosition(*page);
        readerViewMoved();
    }
}

void scrollPageDown(int32_t n, bool updateScroller) {
    if (page && scrollDown(page->model, n, updateScroller)) {
        recordReadingPosition(*page);
        readerViewMoved();
    }
}

void pageMouse(int32_t x, int32_t y, int32_t code) {
    if (!page) return;
    LinkClick click = handleTextMouse(page->model, x, y, code);
    if (click.selected) selectionMade();
    followPageLink(click);
}

void followPageLink(const LinkClick& click) {
    if (!page || click.line < 0) return;
    clicked.line = click.line;
    std::memcpy(clicked.pageUrl, page->address.url, sizeof clicked.pageUrl);
    followLink(click.style, click.url.c_str());
}

void markClickedLink(bool accepted) {
    if (!page || clicked.line < 0 || clicked.line >= page->model.lineCount ||
        !sameAddress(page->address.url, clicked.pageUrl))
        return;
    const PageLine& line = page->model.lines[static_cast<size_t>(clicked.line)];
    if (accepted) {
        if (line.style == STYLE_LINK) setPageLineStyle(page->model, clicked.line, STYLE_VISITED);
    } else {
        // The row it is shown in now: the page may have scrolled since the click.
        int32_t row = clicked.line - viewState().topLine;
        if (row >= 0 && row < viewMetrics().rows)
            highlightLink(page->model, clicked.line, row, stylePens[line.style]);
    }
}

void followLink(int32_t style, const char* url) {
    if (style == STYLE_SEARCH || style == STYLE_SEARCH_VISITED) {
        handleGopherSearch(url);
    } else if (style == STYLE_PROMPT || style == STYLE_PROMPT_VISITED) {
        handleSpartanPrompt(url);
    } else {
        loadPage(url);
    }
}
