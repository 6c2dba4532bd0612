#include "browser/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "browser/keyboard.h"
#include "browser/load.h"
#include "browser/navigate.h"
#include "browser/services.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/tls.h"
#include "page/parser.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "settings/theme_editor.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/cache.h"
#include "store/history.h"
#include "store/visited.h"
#include "text/limits.h"
#include "text/locale.h"
#include "text/version.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

bool builtinPage(const PageRecord* page) {
    return !page || page->address.scheme == SCHEME_INTERNAL;
}

int fontResetCommand() {
    if (!askOkCancel(getString(MSG_ASK_RESET_FONTS))) return 0;
    if (settings.useScreen && !fontEqual(settings.screenFont, settings.workbenchFont)) {
        resetFonts();
        return GUI_RESTART;
    }
    if (!resetFonts()) return 0;
    guiMenuCheck(commandCode(CMD_TEXT_FONTS, 0), true);
    guiMenuCheck(commandCode(CMD_TEXT_FONTS, 1), false);
    shellReopenFonts();
    computeFontMetrics();
    relayoutWindow();
    return 0;
}

// The whole window drawn again in the pens and colours as they are now: the
// background around the gadgets and the page from its top line.
void repaintWindow() {
    guiFill(PEN_WINDOW_BACKGROUND, 0, 0, guiWindowWidth() - 1, guiWindowHeight() - 1);
    if (const PageRecord* page = currentPage()) {
        drawPage(page->model, viewState().topLine);
    } else {
        clearTerm();
    }
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
        ok = askOkCancel(getString(MSG_NOTICE_PROXY));
    }
    if (ok) {
        settings.useGemProxy = 1;
    } else {
        clearProxyCheck();
    }
}

}  // namespace

void goBack() {
    HistoryEntry* entry = historyPrevious();
    if (!entry) return;
    historySetCurrent(entry);
    winSetNavState(historyPrevious() != nullptr, true);
    std::string url = entry->url;
    loadPage(url.c_str());
}

void goForward() {
    HistoryEntry* entry = historyNext();
    if (!entry) return;
    historySetCurrent(entry);
    winSetNavState(true, historyNext() != nullptr);
    std::string url = entry->url;
    loadPage(url.c_str());
}

void handleGopherSearch(const char* url) {
    visitedAdd(url);
    std::string answer;
    if (openInputWindow(getString(MSG_STATUS_SEARCH), nullptr, INPUT_MAX, answer) != 0) {
        setQuitFlag(true);
        return;
    }
    if (answer.empty()) return;
    // The search text joins the selector after a tab, encoded; an answer that does not
    // fit the selector or the address once encoded is not sent cut short.
    const std::string typed = encodeTyped(answer);
    const size_t spaces = static_cast<size_t>(std::count(typed.begin(), typed.end(), ' '));
    if (typed.size() + 2 * spaces > static_cast<size_t>(PATH_MAX_LEN) ||
        std::strlen(url) + 3 + typed.size() + 2 * spaces >= static_cast<size_t>(URL_MAX)) {
        setStatus(getString(MSG_STATUS_ANSWER_TOO_LONG));
        return;
    }
    char encoded[PATH_MAX_LEN + 1];
    std::snprintf(encoded, sizeof encoded, "%s", typed.c_str());
    encodeSpaces(encoded);
    std::string target = std::string(url) + "%09" + encoded;
    loadPage(target.c_str());
}

void handleSpartanPrompt(const char* url) {
    std::string target = url;
    cacheDelete(target);
    // Escape or closing the requester answers neither.
    int choice = askChoiceOrDismiss(getString(MSG_TITLE_SPARTAN_PROMPT), getString(MSG_BUTTONS_SPARTAN));
    if (choice < 0) return;
    if (choice == 1) {
        std::unique_ptr<NetBuffer> buffer = newNetBuffer(NETBUF_TEXT);
        if (!buffer) return;
        std::string answer;
        if (openInputWindow(getString(MSG_STATUS_ENTER_TEXT), nullptr, SPARTAN_INPUT_MAX, answer) != 0) {
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
    if ((isRegularFile(path) || isDirectoryPath(path)) && !askOkCancel(getString(MSG_ASK_OVERWRITE)))
        return {};
    return path;
}

void downloadHandOver() {
    if (!childDownloadPending()) return;
    setStatus(getString(MSG_STATUS_SAVING));
    // A sensitive answer does not become part of a file name.
    UrlRecord request = storedAddress(fetchExchange().request, fetchExchange().options.sensitiveQuery);
    std::string path = askSaveName(request, false);
    markClickedLink(!path.empty());
    childAnswerDownload(path);
}

std::string aboutText() {
    return std::string("Farlander for Linux\n\n") + VERSION_NUMBER + " - " + RELEASE_DATE +
           "\n\nWritten by the Farlander developers.";
}

void stopCommand() {
    sendChildBreak();
    // A chain of redirects ends with the stop: the next one starts counting anew.
    redirectCount() = 0;
    if (PageRecord* page = currentPage()) updateUrlGad(page->address);
}

int menuCommand(int code) {
    int sub = -1;
    Command command = commandOfCode(code, sub);
    return runCommand(command, sub);
}

int runCommand(Command command, int sub) {
    PageRecord* page = currentPage();
    switch (command) {
        case CMD_ABOUT:
            showInfo(aboutText().c_str());
            return 0;
        case CMD_QUIT:
            setQuitFlag(true);
            return 0;
        case CMD_SAVE_SOURCE:
            saveFile(false);
            return 0;
        case CMD_SAVE_TEXT:
            saveFile(true);
            return 0;
        case CMD_HELP:
            showHelp();
            return 0;
        case CMD_COPY_URL:
            copyUrlCommand();
            return 0;
        case CMD_PASTE_URL:
            pasteUrlCommand();
            return 0;
        case CMD_BACK:
            goBack();
            return 0;
        case CMD_FORWARD:
            goForward();
            return 0;
        case CMD_HOME:
            loadPage(pageName(PAGE_HOME));
            return 0;
        case CMD_RELOAD:
            if (page && page->address.url[0]) {
                std::string url = page->address.url;
                cacheDelete(url);
                loadPage(url.c_str());
            }
            return 0;
        case CMD_STOP:
            stopCommand();
            return 0;
        case CMD_HISTORY:
            loadPage(pageName(PAGE_HISTORY));
            return 0;
        case CMD_ADD_BOOKMARK:
            if (!builtinPage(page) && askOkCancel(getString(MSG_ASK_ADD_BOOKMARK))) {
                bookmarkAdd(page->address.url);
                cacheDelete(pageName(PAGE_BOOKVIEW));
                cacheDelete(pageName(PAGE_BOOKMAN));
            }
            return 0;
        case CMD_VIEW_BOOKMARKS:
            loadPage(pageName(PAGE_BOOKVIEW));
            return 0;
        case CMD_MANAGE_BOOKMARKS:
            loadPage(pageName(PAGE_BOOKMAN));
            return 0;
        case CMD_MANAGE_IDENTITIES:
            loadPage(pageName(PAGE_IDENTITIES));
            return 0;
        case CMD_SCREEN_MODE:
            return openScreenRequest() ? GUI_RESTART : 0;
        case CMD_SCREEN_FONT:
            return openFontRequest(0) ? GUI_RESTART : 0;
        case CMD_BLANK_BORDER:
            settings.borderBlank = settings.borderBlank ? 0 : 1;
            return GUI_RESTART;
        case CMD_TEXT_FONTS: {
            if (sub < 0 || sub > 1) return 0;
            uint8_t wanted = sub == 1 ? 1 : 0;
            if (wanted != settings.usePropFont) {
                settings.usePropFont = wanted;
                computeFontMetrics();
                relayoutWindow();
            }
            return 0;
        }
        case CMD_FIXED_FONT:
            if (openFontRequest(1)) {
                computeFontMetrics();
                relayoutWindow();
            }
            return 0;
        case CMD_PROPORTIONAL_FONT:
            if (openFontRequest(2)) {
                computeFontMetrics();
                if (settings.usePropFont) relayoutWindow();
            }
            return 0;
        case CMD_RESET_FONTS:
            return fontResetCommand();
        case CMD_UNICODE_TEXT:
            // The page on show is parsed again from its text: nothing is fetched.
            settings.unicodeText = settings.unicodeText ? 0 : 1;
            guiMenuCheck(commandCode(CMD_UNICODE_TEXT), settings.unicodeText != 0);
            redrawPage();
            return 0;
        case CMD_THEME:
            if (sub < 0 || sub >= THEME_COUNT) return 0;
            settings.theme = sub;
            return GUI_RESTART;
        case CMD_EDIT_THEME:
            // The palette editor changes the own screen's colours; on the desktop it is refused.
            if (!settings.useScreen) {
                showInfo(getString(MSG_NOTICE_EDITOR_NEEDS_SCREEN));
                return 0;
            }
            // Only the Custom theme is kept by the editor (the menu offers it for no other).
            if (settings.theme != THEME_CUSTOM) return 0;
            if (openPaletteWindow(repaintWindow) != 0) {
                setQuitFlag(true);
                return GUI_BREAK;
            }
            return 0;
        case CMD_OPENURL:
            if (sub >= 0 && sub < OPENURL_COUNT) settings.useOpenUrl[sub] = settings.useOpenUrl[sub] ? 0 : 1;
            return 0;
        case CMD_USE_PROXY:
            proxySwitch();
            return 0;
        case CMD_SAVE_SETTINGS:
            if (askOkCancel(getString(MSG_ASK_SAVE_SETTINGS))) prefsSave();
            return 0;
        case CMD_COPY_TEXT:
            copyTextCommand();
            break;
        case CMD_FIND:
            findCommand();
            break;
        case CMD_FIND_NEXT:
        case CMD_FIND_PREVIOUS:
            findAgain(command == CMD_FIND_NEXT);
            break;
        case CMD_NONE:
            return 0;
    }
    return 0;
}
