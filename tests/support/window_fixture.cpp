#include "support/window_fixture.h"

#include <chrono>

#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "page/parser.h"
#include "platform/gui.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "shell/window.h"
#include "store/bookmarks.h"
#include "store/cache.h"
#include "store/history.h"
#include "text/locale.h"

void WindowTest::SetUpTestSuite() {
    ASSERT_TRUE(guiInit());
}

void WindowTest::SetUp() {
    privateHome = std::make_unique<PrivateHome>("window");
    home = privateHome->path;
    headlessReset();
    settings = Settings{};
    loadedPrefs = LoadedPrefs{};
    setQuitFlag(false);
    localeInit();
    cacheInit();
    historyInit();
    bookmarkInit();
    backDisabled = 1;
    forwardDisabled = 1;
    ASSERT_TRUE(winInit(0));
    settings.useScreen = 0;
    setUrlHandlerAvailableForTesting(1);
    ASSERT_TRUE(winStart());
    ASSERT_TRUE(pageOpen());
}

void WindowTest::TearDown() {
    if (network) childCleanUp();
    network = false;
    pageClose();
    winCleanUp();
    guiDiscardMessages();
    freeIdentities();
    bookmarkCleanup();
    historyCleanup();
    cacheCleanUp();
    setQuitFlag(false);
    setUrlHandlerAvailableForTesting(-1);
    headlessReset();
    privateHome.reset();
}

void WindowTest::startNetwork() {
    ASSERT_TRUE(childInit());
    network = true;
    ASSERT_TRUE(childWaitReady());
}

bool WindowTest::runUntil(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = 0;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        runGUIStep(20, result);
    }
    return true;
}

bool WindowTest::settle(int timeoutMs) {
    // A message handled may start a fetch (a typed address, a menu pick): settled is
    // no fetch under way after a turn with nothing to handle.
    for (int turns = 0; turns < 1000; ++turns) {
        if (!runUntil([] { return !childFetchPending(); }, timeoutMs)) return false;
        bool any = false;
        int result = 0;
        while (runGUIStep(0, result))
            any = true;
        if (!any && !childFetchPending()) return true;
    }
    return false;
}

void WindowTest::restartWindow() {
    std::string address = currentPage() ? currentPage()->address.url : "";
    pageClose();
    winStop();
    ASSERT_TRUE(winStart());
    ASSERT_TRUE(pageOpen());
    if (!address.empty()) loadPage(address.c_str());
}

int lineStyle(int i) {
    const PageRecord* page = currentPage();
    if (!page || i < 0 || i >= page->model.lineCount) return -1;
    return page->model.lines[i].style;
}

int findLine(const std::string& text) {
    const PageRecord* page = currentPage();
    if (!page) return -1;
    for (int i = 0; i < page->model.lineCount; ++i)
        if (std::string(page->model.lines[i].text).find(text) != std::string::npos) return i;
    return -1;
}
