#include "browser/commands.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app.h"
#include "app/locale.h"
#include "browser/page.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/tls.h"
#include "page/parser.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/shell.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/history.h"
#include "store/visited.h"
#include "view/view.h"

namespace {

void setBackState(bool disabled) {
    backDisabled = disabled ? 1 : 0;
    if (guiLocked()) return;
    guiGadgetEnable(GAD_BACK, !disabled);
    guiMenuEnable(menuCode(MENU_GO, 0), !disabled);
}

void setForwardState(bool disabled) {
    forwardDisabled = disabled ? 1 : 0;
    if (guiLocked()) return;
    guiGadgetEnable(GAD_FORWARD, !disabled);
    guiMenuEnable(menuCode(MENU_GO, 1), !disabled);
}

bool builtinPage(const PageRecord* page) {
    return !page || page->address.scheme == SCHEME_INTERNAL;
}

int fontResetCommand() {
    if (!askOkCancel(getString(85))) return 0;
    if (settings.useScreen && !fontEqual(settings.screenFont, settings.workbenchFont)) {
        resetFonts();
        return GUI_RESTART;
    }
    if (!resetFonts()) return 0;
    guiMenuCheck(menuCode(MENU_SETTINGS, 4, 0), true);
    guiMenuCheck(menuCode(MENU_SETTINGS, 4, 1), false);
    shellReopenFonts();
    computeFontMetrics();
    resizeWindow();
    return 0;
}

void proxySwitch() {
    if (settings.useGemProxy) {
        settings.useGemProxy = 0;
        return;
    }
    int ok;
    if (std::strncmp(settings.gemProxyHost, GEM_PROXY_DEFAULT_HOST, PROXY_HOST_MAX) != 0) {
        char text[126];
        std::snprintf(text, sizeof text, "Host: %s\nPort: %d", settings.gemProxyHost,
                      static_cast<int>(settings.gemProxyPort));
        ok = askOkCancel(text);
    } else {
        ok = askOkCancel(getString(89));
    }
    if (ok) {
        settings.useGemProxy = 1;
    } else {
        clearProxyCheck();
    }
}

}  // namespace

std::string encodeTyped(const std::string& typed) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(typed.size());
    for (unsigned char c : typed) {
        if (c >= 0x80 || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void goBack() {
    HistoryEntry* entry = historyPrevious();
    if (!entry) return;
    historySetCurrent(entry);
    setBackState(historyPrevious() == nullptr);
    setForwardState(false);
    std::string url = entry->url;
    loadPage(url.c_str());
}

void goForward() {
    HistoryEntry* entry = historyNext();
    if (!entry) return;
    historySetCurrent(entry);
    setForwardState(historyNext() == nullptr);
    setBackState(false);
    std::string url = entry->url;
    loadPage(url.c_str());
}

void handleGopherSearch(const char* url) {
    visitedAdd(url);
    std::string answer;
    if (openInputWindow(getString(75), nullptr, 253, answer) != 0) {
        setQuitFlag(true);
        return;
    }
    if (answer.empty()) return;
    char encoded[PATH_MAX_LEN + 1];
    std::snprintf(encoded, sizeof encoded, "%s", encodeTyped(answer).c_str());
    encodeSpaces(encoded);
    size_t total = std::strlen(url) + 3 + std::strlen(encoded);
    if (total >= URL_MAX) return;
    std::string target = std::string(url) + "%09" + encoded;
    loadPage(target.c_str());
}

void handleSpartanPrompt(const char* url) {
    std::string target = url;
    cacheDelete(target);
    int choice = askChoice(getString(53), getString(54));
    if (choice == 1) {
        std::unique_ptr<NetBuffer> buffer = newNetBuffer(NETBUF_TEXT);
        if (!buffer) return;
        std::string answer;
        if (openInputWindow(getString(76), nullptr, 1023, answer) != 0) {
            setQuitFlag(true);
            return;
        }
        if (answer.empty()) return;
        buffer->data.assign(answer.begin(), answer.end());
        buffer->data.push_back('\0');
        buffer->length = static_cast<int32_t>(answer.size());
        loadPage(target.c_str(), std::move(buffer));
    } else {
        std::unique_ptr<NetBuffer> buffer = newNetBuffer(NETBUF_UPLOAD);
        if (!buffer) return;
        std::string path;
        if (!requestUploadFile(path)) return;
        int64_t size = fileSize(path);
        if (size <= 0 || size > INT32_MAX) return;
        buffer->data.assign(path.begin(), path.end());
        buffer->data.push_back('\0');
        buffer->length = static_cast<int32_t>(size);
        loadPage(target.c_str(), std::move(buffer));
    }
}

std::string defaultSaveName(const UrlRecord& address, bool textMode) {
    const char* slash = std::strrchr(address.path, '/');
    std::string name = slash ? slash + 1 : address.path;
    if (name.size() > 127) name.resize(127);
    if (!name.empty()) {
        if (textMode && name.size() >= 5) {
            size_t dot = name.find_last_of('.');
            if (dot != std::string::npos && dot >= name.size() - 5) {
                std::string ext = name.substr(dot + 1, 3);
                if (ext == "htm" || ext == "gmi") name = name.substr(0, dot + 1) + "txt";
            }
        }
        return name;
    }
    if (textMode || address.scheme == SCHEME_GOPHER || address.scheme == SCHEME_FINGER ||
        address.scheme == SCHEME_NEX)
        return "index.txt";
    if (address.scheme == SCHEME_HTTP || address.scheme == SCHEME_HTTPS) return "index.html";
    return "index.gmi";
}

std::string askSaveName(const UrlRecord& address, bool textMode) {
    std::string path;
    if (!requestSaveFile(defaultSaveName(address, textMode).c_str(), path)) return {};
    if ((isRegularFile(path) || isDirectoryPath(path)) && !askOkCancel(getString(84))) return {};
    return path;
}

void downloadHandOver() {
    if (!childDownloadPending()) return;
    setStatus(getString(77));
    UrlRecord request = fetchExchange().request;
    std::string path = askSaveName(request, false);
    bool accepted = !path.empty();
    PageRecord* page = currentPage();
    ViewState& view = viewState();
    if (page && page->lines && view.releasedLine >= 0 && view.releasedLine < page->lineCount &&
        sameAddress(page->address.url, view.releasedPageUrl)) {
        const PageLine& line = page->lines[view.releasedLine];
        if (accepted) {
            if (line.style == STYLE_LINK) setPageLineStyle(view.releasedLine, STYLE_VISITED);
        } else {
            // The row it is shown in now: the page may have scrolled since the click.
            int32_t row = view.releasedLine - view.topLine;
            if (row >= 0 && row < viewMetrics().rows) highlightLink(view.releasedLine, row, stylePens[line.style]);
        }
    }
    childAnswerDownload(path);
}

std::string aboutText() {
    return std::string("Farlander [OS4]\n\n0.11 - 18.02.2024\n\nWritten by the Farlander developers.");
}

int menuCommand(int code) {
    int menu = code & 31;
    int item = (code >> 5) & 63;
    int sub = (code >> 11) & 31;
    PageRecord* page = currentPage();
    switch (menu) {
        case MENU_PROJECT:
            if (item == 3) showInfo(aboutText().c_str());
            if (item == 5) setQuitFlag(true);
            // Save source/text and Help come with their own module.
            return 0;
        case MENU_EDIT:
            // The clipboard comes with its own module.
            return 0;
        case MENU_GO:
            switch (item) {
                case 0:
                    goBack();
                    break;
                case 1:
                    goForward();
                    break;
                case 2:
                    loadPage("HOME");
                    break;
                case 3:
                    if (page && page->address.url[0]) {
                        std::string url = page->address.url;
                        cacheDelete(url);
                        loadPage(url.c_str());
                    }
                    break;
                case 4:
                    sendChildBreak();
                    if (page) updateUrlGad(page->address);
                    break;
                case 6:
                    loadPage("HISTORY");
                    break;
                default:
                    break;
            }
            return 0;
        case MENU_BOOKMARKS:
            if (item == 0 && !builtinPage(page) && askOkCancel(getString(81))) {
                bookmarkAdd(page->address.url);
                cacheDelete("BOOKVIEW");
                cacheDelete("BOOKMAN");
            }
            if (item == 1) loadPage("BOOKVIEW");
            if (item == 2) loadPage("BOOKMAN");
            return 0;
        case MENU_SETTINGS:
            break;
        default:
            return 0;
    }
    switch (item) {
        case 0:
            return openScreenRequest() ? GUI_RESTART : 0;
        case 1:
            return openFontRequest(0) ? GUI_RESTART : 0;
        case 2:
            settings.borderBlank = settings.borderBlank ? 0 : 1;
            return GUI_RESTART;
        case 4: {
            if (sub > 1) return 0;
            uint8_t wanted = sub == 1 ? 1 : 0;
            if (wanted != settings.usePropFont) {
                settings.usePropFont = wanted;
                computeFontMetrics();
                resizeWindow();
            }
            return 0;
        }
        case 5:
            if (openFontRequest(1)) {
                computeFontMetrics();
                resizeWindow();
            }
            return 0;
        case 6:
            if (openFontRequest(2)) {
                computeFontMetrics();
                if (settings.usePropFont) resizeWindow();
            }
            return 0;
        case 7:
            return fontResetCommand();
        case 9:
            if (sub >= THEME_COUNT) return 0;
            settings.theme = sub;
            return GUI_RESTART;
        case 10:
            // The palette editor belongs to an own screen; on the desktop it is refused.
            if (!settings.useScreen) showInfo(getString(138));
            return 0;
        case 12:
            if (sub < OPENURL_COUNT) settings.useOpenUrl[sub] = settings.useOpenUrl[sub] ? 0 : 1;
            return 0;
        case 14:
            proxySwitch();
            return 0;
        case 16:
            if (askOkCancel(getString(83))) prefsSave();
            return 0;
        default:
            return 0;
    }
}
