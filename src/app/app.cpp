#include "app/app.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/dump.h"
#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "browser/services.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/known_hosts.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/task.h"
#include "settings/prefs.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/cache.h"
#include "store/history.h"
#include "text/locale.h"
#include "text/version.h"
#include "ui/ui.h"
#include "view/view.h"

const char* const VERSION_TAG = "$VER: Farlander " FARLANDER_VERSION " [Linux] (" FARLANDER_RELEASE_DATE ")";

int32_t startupScreenChoice = -1;

namespace {

const char* const USAGE_LINE = "Valid Args: WINDOW/S, SCREEN/S, URL/K\n";

const char* const HELP_TEXT =
    "Usage: farlander [WINDOW] [SCREEN] [URL=address | URL address | address]\n"
    "A browser for Gemini, Spartan, Gopher, Finger and Nex.\n"
    "\n"
    "  WINDOW, --window       open a window on the desktop\n"
    "  SCREEN, --screen       open full screen (wins over WINDOW)\n"
    "  URL=address, --url=address\n"
    "                         start at this address instead of the home page\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "Keywords may be written in any case. Without SCREEN or WINDOW the preferences decide.\n";

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "URL=value" (keyword in any case): the value, else null.
const char* keywordValue(const char* arg, std::string_view keyword) {
    size_t n = keyword.size();
    if (std::strlen(arg) > n && arg[n] == '=' && equalsNoCase(std::string_view(arg, n), keyword))
        return arg + n + 1;
    return nullptr;
}

bool started = false;  // something was opened that cleanUp must close

// What a write cut short by a crash or a power cut left behind goes, and the folder
// of the private keys is the owner's only, whoever made it.
void tidyPrefsFolders() {
    removeLeftoverTemporaries(prefsDirectory());
    removeLeftoverTemporaries(identityDirectory());
    makeFolderPrivate(identityDirectory());
}

std::string& restartAddress() {
    static std::string address;
    return address;
}

}  // namespace

std::string& startAddress() {
    static std::string address = pageName(PAGE_HOME);
    return address;
}

const char* versionText() {
    static const std::string text = [] {
        std::string tag = VERSION_TAG + 6;  // after "$VER: "
        size_t open = tag.find(" [");
        size_t close = tag.find("] ");
        if (open != std::string::npos && close != std::string::npos && close > open)
            tag.erase(open, close - open + 1);
        return tag;
    }();
    return text.c_str();
}

int readCliArgs(int argc, const char* const* argv) {
    bool window = false, screen = false;
    const char* url = nullptr;
    bool failed = false;
    for (int i = 1; i < argc && !failed; ++i) {
        const char* arg = argv[i];
        std::string_view word(arg);
        const char* value = nullptr;
        if (word == "--help" || word == "-h") {
            std::fputs(HELP_TEXT, stdout);
            std::fputs(DUMP_HELP, stdout);
            return RETURN_OK;
        } else if (word == "--version") {
            std::printf("%s\n", versionText());
            return RETURN_OK;
        } else if (equalsNoCase(word, "WINDOW") || word == "--window") {
            window = true;
        } else if (equalsNoCase(word, "SCREEN") || word == "--screen") {
            screen = true;
        } else if (equalsNoCase(word, "URL") || word == "--url") {
            if (i + 1 >= argc) {
                failed = true;
            } else {
                value = argv[++i];
            }
        } else if ((value = keywordValue(arg, "URL")) || (value = keywordValue(arg, "--url"))) {
        } else if (!word.empty() && word[0] == '-') {
            failed = true;
        } else {
            value = arg;  // one bare address, as a desktop launcher passes it
        }
        if (value) {
            if (url || *value == '\0') failed = true;
            url = value;
        }
    }
    if (failed) {
        std::fputs(USAGE_LINE, stdout);
        std::fflush(stdout);
        return RETURN_FAIL;
    }
    if (window) startupScreenChoice = 0;
    if (screen) startupScreenChoice = 1;
    if (url) startAddress().assign(url, strnlen(url, URL_MAX));
    return ARGS_CONTINUE;
}

void cleanUp() {
    fetchExchange().quitRequested = true;
    if (!started) return;
    // The page on show goes the way a window restart takes it.
    if (currentPage()) {
        if (winIsOpen()) disableGuiBeforePageLoad();
        pageClose();
    }
    winCleanUp();
    bookmarkCleanup();
    historyCleanup();
    localeCleanup();
    guideCleanUp();
    clipCleanUp();
    freeIdentities();
    childCleanUp();
    knownHostsClose();
    cacheCleanUp();
    stopBreakWatcher();
    guiCleanUp();
    started = false;
}

int fatalError(const char* what) {
    std::fprintf(stderr, "%s: %s\n", messageText(MSG_ERR_COULD_NOT_OPEN), what ? what : "");
    std::fflush(stderr);
    cleanUp();
    return RETURN_FAIL;
}

namespace {

bool screenshotTaken = false;

// FARLANDER_SCREENSHOT=file: once the first page is drawn, the window goes to file
// (for the documentation and the program's own tests).
void takeScreenshot(const char* path) {
    int ignored = 0;
    while (!quitFlag() && (childFetchPending() || !currentPage() || !currentPage()->source))
        runGUIStep(50, ignored);
    for (int i = 0; i < 5; ++i)
        guiProcessEvents();
    // Whoever waits for the file sees it whole.
    std::string part = std::string(path) + ".part";
    if (guiGrab(part.c_str())) std::rename(part.c_str(), path);
}

// The window restart loop: open the window, show the address, run the event loop,
// close the window; again while the loop asks for a restart.
int windowLoop() {
    static bool firstPass = true;
    int result = RETURN_OK;
    do {
        if (!winStart()) {
            return fatalError("window");
        }
        // Controls left locked by the last window come back; a fetch still under way
        // locks the new ones again, so Stop works there too.
        enableGuiAfterPageLoad();
        if (childFetchPending()) disableGuiBeforePageLoad();
        if (!pageOpen()) {
            showError(getString(MSG_ERR_MEMORY_PAGE));
            setQuitFlag(true);
        }
        if (childRunning() && !quitFlag()) {
            std::string address = firstPass ? startAddress() : restartAddress();
            if (firstPass) {
                firstPass = false;
                if (builtinPageOf(address) == PAGE_HOME) {
                    loadPage(address.c_str());
                    childWaitReady();
                } else {
                    clearTerm();
                    childWaitReady();
                    loadPage(address.c_str());
                }
            } else {
                loadPage(address.c_str());
            }
        }
        if (const char* shot = std::getenv("FARLANDER_SCREENSHOT"); shot && *shot && !screenshotTaken) {
            screenshotTaken = true;
            takeScreenshot(shot);
        }
        result = runGUI();
        if (currentPage()) {
            disableGuiBeforePageLoad();
            // The address is shown again after the restart.
            restartAddress() = currentPage()->address.url;
            pageClose();
        }
        winStop();
    } while (result == GUI_RESTART);
    return result;
}

}  // namespace

int appMain(int argc, const char* const* argv) {
    if (dumpRequested(argc, argv)) {
        DumpOptions options;
        int parsed = dumpParseArgs(argc, argv, options);
        if (parsed == 0) return readCliArgs(2, std::array<const char*, 2>{argv[0], "--help"}.data());
        return parsed == DUMP_USAGE ? DUMP_USAGE : dumpRun(options);
    }
    startAddress() = pageName(PAGE_HOME);
    int args = readCliArgs(argc, argv);
    if (args != ARGS_CONTINUE) return args;

    started = true;
    tidyPrefsFolders();
    prefsLoad();
    knownHostsOpen(knownHostsPath(), true);
    cacheInit();
    historyInit();
    if (!childInit()) return fatalError("child process");
    bookmarkInit();
    loadIdentities();
    clipInit();
    guideInit();
    localeInit();
    if (!winInit(startupScreenChoice)) return fatalError("display");
    shellUseWindowDialogs();
    // Ctrl-C, SIGTERM and SIGHUP: the GUI task's break, which also closes an open dialog.
    TaskHandle gui = taskCurrent();
    startBreakWatcher([gui] {
        taskSendSignal(gui, TASK_BREAK_MASK);
        guiWakeForBreak();
    });

    int result = windowLoop();
    cleanUp();
    return result;
}
