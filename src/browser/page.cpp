#include "browser/page.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/locale.h"
#include "browser/commands.h"
#include "browser/redirect.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "page/builtin.h"
#include "page/linestyle.h"
#include "platform/desktop.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/history.h"
#include "store/visited.h"
#include "view/view.h"

namespace {

std::unique_ptr<PageRecord> page;
UrlRecord request;  // the record loadPage parses into
int32_t redirects = 0;

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

void certificateRequest(const UrlRecord& req) {
    setStatus(getString(86));
    int answer = 0;
    if (settings.useGemProxy) {
        showError(getString(140));
    } else {
        answer = askChoice(getString(88), getString(52));
    }
    std::string commonName;
    if (answer == 1) {
        commonName = "Farlander";
    } else if (answer == 2) {
        if (openInputWindow("Common Name", "Farlander", 64, commonName) != 0) {
            setQuitFlag(true);
            return;
        }
    }
    if (!commonName.empty()) {
        setStatus(getString(87));
        if (createIdentity(req.host, "/", commonName.c_str())) {
            std::string url = req.url;
            cacheDelete(url);
            loadPage(url.c_str());
            return;
        }
        showError(getString(116));
    }
    enableGuiAfterPageLoad();
}

void inputRequest(const UrlRecord& req, const char* prompt) {
    setStatus(getString(74));
    std::string answer;
    if (openInputWindow(prompt, nullptr, 253, answer) != 0) {
        setQuitFlag(true);
        return;
    }
    if (answer.empty()) {
        enableGuiAfterPageLoad();
        return;
    }
    char url[URL_MAX + 1];
    composeQueryUrl(req.url, encodeTyped(answer), url);
    cacheDelete(url);
    loadPage(url);
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

void urlFieldText(const UrlRecord& address, char out[319]) {
    out[0] = '\0';
    if (address.scheme == SCHEME_INTERNAL) return;
    size_t length = strnlen(address.url, 318);
    std::memcpy(out, address.url, length);
    out[length] = '\0';
    if (std::strcmp(address.path, "/") == 0 && address.scheme != SCHEME_GOPHER && length > 0) out[length - 1] = '\0';
}

void updateUrlGad(const UrlRecord& address) {
    if (!winIsOpen()) return;
    char text[319];
    urlFieldText(address, text);
    std::string shown = guiGadgetText(GAD_URL);
    if (shown.compare(0, 318, text) != 0 || shown.size() > 318) guiUrlFieldSetText(text);
}

void addToHistory(const char* url) {
    historyAdd(url ? url : "");
    HistoryEntry* current = currentEntry();
    bool earlier = false;
    if (current) {
        HistoryEntry* previous = historyPrevious();
        earlier = previous != nullptr;
    }
    backDisabled = earlier ? 0 : 1;
    forwardDisabled = 1;
    if (winIsOpen() && !guiLocked()) {
        guiGadgetEnable(GAD_BACK, earlier);
        guiMenuEnable(menuCode(MENU_GO, 0), earlier);
        guiGadgetEnable(GAD_FORWARD, false);
        guiMenuEnable(menuCode(MENU_GO, 1), false);
    }
}

void loadPage(const char* url, std::unique_ptr<NetBuffer> body, bool updateUrlField) {
    if (!parseUrl(url ? url : "", request)) {
        updateUrlGad(request);
        return;
    }
    if (body) request.data = std::move(body);

    int flag = handlerFlag(request.scheme);
    if (flag >= 0 && settings.useOpenUrl[flag]) {
        openDesktopUrl(url);
        return;
    }
    if (request.scheme == SCHEME_FTP || request.scheme == SCHEME_MAILTO || request.scheme == SCHEME_NONE) return;
    FetchExchange& exchange = fetchExchange();
    if (!exchange.tlsAvailable.load() && !settings.useGemProxy &&
        (request.scheme == SCHEME_GEMINI || request.scheme == SCHEME_HTTPS)) {
        showError(getString(139));
        return;
    }
    if (updateUrlField) updateUrlGad(request);

    const char* name = request.url;
    PageText text;
    if (std::strcmp(name, "HISTORY") == 0) {
        cacheDelete("HISTORY");
        text = historyView();
    } else if ((text = cacheGet(name))) {
    } else if (std::strcmp(name, "HOME") == 0) {
        text = getHomePage();
    } else if (std::strncmp(name, "BOOK", 4) == 0) {
        const char* rest = name + 4;
        if (std::strcmp(rest, "VIEW") == 0) {
            text = bookmarkView();
        } else if (std::strcmp(rest, "MAN") == 0) {
            text = bookmarkManage();
        } else if (rest[0] == ':') {
            std::string command = name;
            bookmarkEdit(command);
            cacheDelete("BOOKVIEW");
            cacheDelete("BOOKMAN");
            loadPage("BOOKMAN");
            return;
        }
    } else if (std::strcmp(name, "TEST") == 0) {
        text = getTestPage();
    }

    disableGuiBeforePageLoad();
    if (text) {
        UrlRecord address = request;
        renderPage(address, text);
    } else if (!childFetchPending()) {
        if (!childStartFetch(std::move(request))) enableGuiAfterPageLoad();
        request.data.reset();
    } else {
        request.data.reset();
    }
}

void processPage() {
    FetchExchange& exchange = fetchExchange();
    const UrlRecord& req = exchange.request;
    int32_t status = exchange.status;
    const char* result = exchange.result;
    size_t resultLength = result ? exchange.resultLength : 0;

    switch (status) {
        case FETCH_INPUT:
        case FETCH_DOWNLOAD:
        case FETCH_REDIRECT:
        case FETCH_CERTIFICATE: {
            if (status != FETCH_REDIRECT) redirects = 0;
            if (!isHttp(req.scheme) && !(status == FETCH_DOWNLOAD && !exchange.downloadAccepted))
                visitedAdd(req.url);
            UrlRecord copy = req;
            if (status == FETCH_DOWNLOAD) {
                if (page) updateUrlGad(page->address);
                enableGuiAfterPageLoad();
            } else if (status == FETCH_CERTIFICATE) {
                certificateRequest(copy);
            } else if (status == FETCH_REDIRECT) {
                setStatus(getString(72));
                std::string target = exchange.redirectTarget;
                RedirectAction action = redirectDecide(redirects, target.c_str());
                if (action == REDIRECT_FOLLOW) {
                    setStatus(getString(72));
                    cacheDelete(target);
                    loadPage(target.c_str());
                } else {
                    renderPage(copy, getErrorPage(getString(redirectErrorMessage(action)), copy.scheme));
                }
            } else {
                std::string prompt = exchange.prompt;
                inputRequest(copy, prompt.c_str());
            }
            break;
        }
        case FETCH_ERROR: {
            std::string text = result ? result : "";
            showError(text.c_str());
            if (page) updateUrlGad(page->address);
            enableGuiAfterPageLoad();
            break;
        }
        case FETCH_NETWORK_ERROR:
        case FETCH_SERVER_ERROR: {
            UrlRecord copy = req;
            renderPage(copy, getErrorPage(result ? result : "", copy.scheme));
            break;
        }
        default: {
            PageText text = resultLength > 0 ? textOf(result, resultLength) : nullptr;
            UrlRecord copy = req;
            if (text) {
                renderPage(copy, text);
            } else {
                enableGuiAfterPageLoad();
            }
            break;
        }
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
