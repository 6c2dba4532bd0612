#include "browser/services.h"

#include <algorithm>

#include "browser/commands.h"
#include "browser/load.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/help.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "text/charset.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

// The help window: its signal, whether the main page is still to be shown once it is
// up, and the screen it was opened on (0: the desktop).
struct Guide {
    int signalBit = -1;
    uint32_t signalMask = 0;
    bool mainPending = false;
    bool open = false;
    uint32_t screen = 0;
};
Guide guide;

std::string& manualName() {
    static std::string name = "farlander-help.md";
    return name;
}

// The screen the program uses now: its display id on an own screen, 0 on the desktop.
uint32_t currentScreen() {
    return settings.useScreen ? (settings.displayId != 0 ? settings.displayId : 1u) : 0u;
}

bool writeWhole(const std::string& path, const std::string& text) {
    PendingFile file;
    return pendingFileOpen(file, path) && pendingFileWrite(file, text.data(), text.size()) &&
           pendingFileCommit(file);
}

}  // namespace

// ---- saving ----

std::string saveText(bool textMode) {
    const PageRecord* page = currentPage();
    if (!page) return {};
    std::string out;
    if (textMode) {
        for (const PageLine& line : page->model.lines) {
            if (page->model.unicode) {
                out += line.text ? line.text : "";
            } else {
                appendDisplayAsUtf8(out, line.text ? line.text : "");
            }
            out += '\n';
        }
        return out;
    }
    if (!page->source) return {};
    const std::string& source = *page->source;
    const int32_t scheme = page->address.scheme;
    if (scheme == SCHEME_GOPHER || scheme == SCHEME_FINGER || scheme == SCHEME_NEX) return source;
    const size_t feed = source.find('\n');
    return feed == std::string::npos ? std::string() : source.substr(feed + 1);
}

void saveFile(bool textMode) {
    setStatus(getString(MSG_STATUS_SAVING));
    const PageRecord* page = currentPage();
    const std::string path = page ? askSaveName(page->address, textMode) : std::string();
    if (path.empty()) {
        setStatus("");
        return;
    }
    // A page without lines saves as an empty file, which is no failure.
    if (writeWhole(path, saveText(textMode))) {
        setStatus(getString(MSG_STATUS_SAVED));
    } else {
        showError(getString(MSG_ERR_WRITE_FILE));
    }
}

// ---- clipboard ----

void clipInit() {}

void clipCleanUp() {}

void clipWrite(const std::string& text) {
    if (clipboardWriteText(text, true) == CLIP_UNAVAILABLE) showError(getString(MSG_ERR_CLIPBOARD_OPEN));
}

bool clipRead(std::string& text) {
    text.clear();
    std::string read;
    const ClipStatus status = clipboardReadText(read);
    if (status == CLIP_UNAVAILABLE) {
        showError(getString(MSG_ERR_CLIPBOARD_OPEN));
        return false;
    }
    if (status == CLIP_OK) text = read.substr(0, CLIP_BUFFER_SIZE - 1);
    return true;
}

void copyUrlCommand() {
    const PageRecord* page = currentPage();
    if (!page || page->address.scheme == SCHEME_INTERNAL) return;
    // The address as a person reads it: display text as UTF-8.
    clipWrite(displayToUtf8(page->address.url));
}

void pasteUrlCommand() {
    std::string text;
    if (!clipRead(text)) return;
    // An address copied from elsewhere often comes with a line break or spaces around it.
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return;
    const size_t last = text.find_last_not_of(" \t\r\n");
    loadPage(encodeTyped(text.substr(first, last - first + 1)).c_str(), nullptr, true);
}

// ---- help ----

void guideInit() {
    guide = Guide{};
}

void showHelp() {
    // The window's texts in the user's language (the catalog is open by now).
    HelpLabels labels;
    labels.title = messageText(MSG_HELP_TITLE);
    labels.navigation = messageText(MSG_HELP_NAVIGATION);
    labels.back = messageText(MSG_ITEM_BACK);
    labels.forward = messageText(MSG_ITEM_FORWARD);
    labels.mainPage = messageText(MSG_HELP_MAIN_PAGE);
    helpSetLabels(labels);

    // On the desktop every Help opens the manual anew; on an own screen only a change
    // of screen does.
    if (guide.open && (guide.screen == 0 || guide.screen != currentScreen())) {
        helpClose();
        guide.open = false;
    }
    if (guide.open && helpIsOpen()) {
        helpShowMain();
        return;
    }
    if (guide.signalBit < 0) {
        guide.signalBit = taskAllocSignal();
        guide.signalMask = guide.signalBit >= 0 ? uint32_t{1} << guide.signalBit : 0;
    }
    HelpPlacement placement;
    placement.ownScreen = settings.useScreen != 0;
    placement.monitorId = settings.displayId;
    // A manual that is not found is reported by the window as an event, as any failure
    // to show it.
    if (!helpOpen(helpFindDocument(manualName()), placement, taskCurrent(), guide.signalMask)) {
        showError(getString(MSG_ERR_HELP_VIEWER));
        return;
    }
    guide.open = true;
    guide.mainPending = true;
    guide.screen = currentScreen();
}

uint32_t guideSignalMask() {
    return guide.signalMask;
}

void handleGuideSignal() {
    bool cleanUp = false;
    HelpEvent event;
    while (helpGetEvent(event)) {
        switch (event.kind) {
            case HELP_EVENT_SHUTDOWN:
                cleanUp = true;
                break;
            case HELP_EVENT_ACTIVE:
                if (guide.mainPending) helpShowMain();
                guide.mainPending = false;
                break;
            case HELP_EVENT_FAILED:
                if (event.code == HELP_ERROR_NOT_FOUND) {
                    showError(getString(MSG_ERR_HELP_NOT_FOUND));
                    cleanUp = true;
                } else {
                    showError(event.text.c_str());
                }
                guide.mainPending = false;
                break;
            default:
                break;
        }
    }
    if (cleanUp) guideCleanUp();
}

void guideCleanUp() {
    helpClose();
    if (guide.signalBit >= 0) taskFreeSignal(guide.signalBit);
    guide = Guide{};
}

void guideSetDocumentForTesting(const std::string& name) {
    manualName() = name.empty() ? "farlander-help.md" : name;
}
