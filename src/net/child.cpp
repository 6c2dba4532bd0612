#include "net/child.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "net/exchange.h"
#include "net/fetch.h"
#include "net/tls.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

// The network task's own bits. Its record is new when it allocates them, so these
// are always free; the GUI sends go only after ready, which follows the allocation.
constexpr int GO_BIT = 0;
constexpr int REPLY_BIT = 1;
constexpr uint32_t GO_MASK = uint32_t{1} << GO_BIT;
constexpr uint32_t REPLY_MASK = uint32_t{1} << REPLY_BIT;

// What the network task needs of the GUI: written before the task starts and only
// again after it has been joined.
struct GuiLink {
    TaskHandle gui;
    ChildSignals signals;
};
GuiLink guiLink;

// GUI-thread state.
struct GuiState {
    TaskHandle network;
    int readyBit = -1;
    int downloadBit = -1;
    int doneBit = -1;
    int exitBit = -1;
    ChildSignals signals;
    bool readySeen = false;
    bool fetchPending = false;
    uint32_t startedSerial = 0;   // serial of the pending (or last) fetch
    uint32_t answeredSerial = 0;  // the fetch whose hand-over was answered
    uint32_t breaksSent = 0;
};
GuiState gui;

uint32_t serialCounter = 0;                // GUI thread
std::atomic<uint32_t> requestSerial{0};    // the fetch the request belongs to (GUI writes before go)
std::atomic<uint32_t> completedSerial{0};  // the last fetch the network task finished
std::atomic<uint32_t> handOverSerial{0};   // the fetch waiting in a hand-over, 0 for none
std::atomic<bool> running{false};

// The network task's serial of the fetch it is running.
thread_local uint32_t runningSerial = 0;

uint32_t bitMask(int bit) {
    return bit >= 0 ? uint32_t{1} << bit : 0;
}

void freeGuiSignals() {
    for (int* bit : {&gui.readyBit, &gui.downloadBit, &gui.doneBit, &gui.exitBit}) {
        if (*bit >= 0) taskFreeSignal(*bit);
        *bit = -1;
    }
    gui.signals = ChildSignals{};
}

// Network side of the download hand-over: ask the GUI, wait for its answer. A break
// wakes the wait as well and counts as a declined download; the break stays pending
// so that a quit still ends the task after this fetch.
void handOverToGui(FetchExchange& exchange) {
    exchange.downloadAccepted = false;
    taskClearSignals(REPLY_MASK);
    handOverSerial.store(runningSerial, std::memory_order_release);
    taskSendSignal(guiLink.gui, guiLink.signals.download);
    uint32_t got = taskWaitSignals(REPLY_MASK | TASK_BREAK_MASK);
    handOverSerial.store(0, std::memory_order_release);
    if (got & TASK_BREAK_MASK) {
        exchange.downloadAccepted = false;
        taskSendSignal(taskCurrent(), TASK_BREAK_MASK);
    }
}

void copyProxySettings(ProxyRoute& route) {
    route.useGemProxy = settings.useGemProxy != 0;
    route.gemProxyAll = settings.gemProxyAll != 0;
    size_t length = strnlen(settings.gemProxyHost, sizeof settings.gemProxyHost);
    if (length >= sizeof route.gemProxyHost) length = sizeof route.gemProxyHost - 1;
    std::memcpy(route.gemProxyHost, settings.gemProxyHost, length);
    route.gemProxyHost[length] = '\0';
    route.gemProxyPort = settings.gemProxyPort;
}

}  // namespace

void childNetworkProcess() {
    FetchExchange& exchange = fetchExchange();
    int goBit = taskAllocSignal(GO_BIT);
    int replyBit = taskAllocSignal(REPLY_BIT);
    bool network = goBit == GO_BIT && replyBit == REPLY_BIT && netInit();
    exchange.networkAvailable.store(network, std::memory_order_release);
    if (network) {
        exchange.tlsAvailable.store(sslInit(), std::memory_order_release);
        taskSendSignal(guiLink.gui, guiLink.signals.ready);
        for (;;) {
            uint32_t got = taskWaitSignals(GO_MASK | TASK_BREAK_MASK);
            if (exchange.quitRequested.load(std::memory_order_acquire)) break;
            if (got & GO_MASK) {
                runningSerial = requestSerial.load(std::memory_order_acquire);
                int32_t status = FETCH_PAGE;
                netGetFile(exchange, status, handOverToGui);
                exchange.request.data.reset();
                if (exchange.stopRequested.load(std::memory_order_acquire)) taskClearSignals(TASK_BREAK_MASK);
                exchange.stopRequested.store(false, std::memory_order_release);
                completedSerial.store(runningSerial, std::memory_order_release);
            }
            taskSendSignal(guiLink.gui, guiLink.signals.done);
        }
    }
    sslCleanUp();
    netCleanUp();
    if (goBit >= 0) taskFreeSignal(goBit);
    if (replyBit >= 0) taskFreeSignal(replyBit);
    running.store(false, std::memory_order_release);
    taskSendSignal(guiLink.gui, guiLink.signals.exit);
}

bool childInit() {
    if (gui.network) return true;
    TaskHandle self = taskCurrent();
    if (!self) return false;
    gui.readyBit = taskAllocSignal();
    gui.downloadBit = taskAllocSignal();
    gui.doneBit = taskAllocSignal();
    gui.exitBit = taskAllocSignal();
    if (gui.readyBit < 0 || gui.downloadBit < 0 || gui.doneBit < 0 || gui.exitBit < 0) {
        freeGuiSignals();
        return false;
    }
    gui.signals = ChildSignals{bitMask(gui.readyBit), bitMask(gui.downloadBit), bitMask(gui.doneBit),
                               bitMask(gui.exitBit)};
    gui.readySeen = false;
    gui.fetchPending = false;
    gui.breaksSent = 0;
    FetchExchange& exchange = fetchExchange();
    exchange.quitRequested.store(false, std::memory_order_release);
    exchange.stopRequested.store(false, std::memory_order_release);
    exchange.networkAvailable.store(false, std::memory_order_release);
    exchange.tlsAvailable.store(false, std::memory_order_release);
    guiLink.gui = self;
    guiLink.signals = gui.signals;
    running.store(true, std::memory_order_release);
    gui.network = taskCreate(NETWORK_TASK_NAME, childNetworkProcess);
    if (!gui.network) {
        running.store(false, std::memory_order_release);
        guiLink = GuiLink{};
        freeGuiSignals();
        return false;
    }
    return true;
}

void childRequestQuit() {
    fetchExchange().quitRequested.store(true, std::memory_order_release);
    if (gui.network) taskSendSignal(gui.network, TASK_BREAK_MASK);
}

void childCleanUp() {
    FetchExchange& exchange = fetchExchange();
    childRequestQuit();
    if (gui.network) {
        taskJoin(gui.network);
        gui.network.reset();
    }
    if (gui.signals.all() != 0) taskClearSignals(gui.signals.all());
    freeGuiSignals();
    guiLink = GuiLink{};
    gui.readySeen = false;
    gui.fetchPending = false;
    handOverSerial.store(0, std::memory_order_release);
    exchange.request.data.reset();
}

ChildSignals childSignals() {
    return gui.signals;
}

bool childRunning() {
    return gui.network && running.load(std::memory_order_acquire);
}

uint32_t childWaitSignals(uint32_t extra) {
    uint32_t got = taskWaitSignals(gui.signals.all() | extra);
    if (got & gui.signals.ready) gui.readySeen = true;
    return got;
}

bool childWaitReady() {
    if (gui.readySeen) return true;
    if (!gui.network) return false;
    uint32_t got = taskWaitSignals(gui.signals.ready | gui.signals.exit);
    if (got & gui.signals.ready) gui.readySeen = true;
    if (got & gui.signals.exit) taskSendSignal(taskCurrent(), gui.signals.exit);
    return gui.readySeen;
}

bool childStartFetch(UrlRecord request, FetchOptions options) {
    if (!gui.network || gui.fetchPending) return false;
    if (!childWaitReady() || !running.load(std::memory_order_acquire)) return false;
    FetchExchange& exchange = fetchExchange();
    disableGuiBeforePageLoad();
    setStatus(messageText(MSG_STATUS_NET_INIT));
    exchange.request = std::move(request);
    exchange.options = options;
    copyProxySettings(exchange.proxy);
    exchange.stopRequested.store(false, std::memory_order_release);
    if (++serialCounter == 0) ++serialCounter;
    gui.startedSerial = serialCounter;
    requestSerial.store(gui.startedSerial, std::memory_order_release);
    gui.fetchPending = true;
    taskSendSignal(gui.network, GO_MASK);
    return true;
}

bool childFetchPending() {
    return gui.fetchPending;
}

bool childTakeDone() {
    if (!gui.fetchPending) return false;
    if (completedSerial.load(std::memory_order_acquire) != gui.startedSerial) return false;
    gui.fetchPending = false;
    return true;
}

bool childDownloadPending() {
    return gui.fetchPending && gui.answeredSerial != gui.startedSerial &&
           handOverSerial.load(std::memory_order_acquire) == gui.startedSerial;
}

bool childAnswerDownload(const std::string& path) {
    if (!childDownloadPending()) return false;
    FetchExchange& exchange = fetchExchange();
    try {
        exchange.downloadName = path;
        exchange.downloadAccepted = !path.empty();
    } catch (const std::bad_alloc&) {
        exchange.downloadName.clear();
        exchange.downloadAccepted = false;
    }
    gui.answeredSerial = gui.startedSerial;
    taskSendSignal(gui.network, REPLY_MASK);
    return true;
}

void sendChildBreak() {
    FetchExchange& exchange = fetchExchange();
    if (!gui.network || !running.load(std::memory_order_acquire)) return;
    if (exchange.stopRequested.load(std::memory_order_acquire)) return;
    if (gui.fetchPending) {
        exchange.stopRequested.store(true, std::memory_order_release);
        taskSendSignal(gui.network, TASK_BREAK_MASK);
        gui.breaksSent++;
        // A done signal may still be pending from an earlier wake-up: wait for the one
        // that ends this fetch.
        for (;;) {
            uint32_t got = taskWaitSignals(gui.signals.done | gui.signals.exit);
            if (got & gui.signals.exit) {
                taskSendSignal(taskCurrent(), gui.signals.exit);
                break;
            }
            if (completedSerial.load(std::memory_order_acquire) == gui.startedSerial) break;
        }
        gui.fetchPending = false;
        taskClearSignals(gui.signals.download);
    }
    enableGuiAfterPageLoad();
    setStatus(messageText(MSG_STATUS_STOPPED));
}

uint32_t childBreakCount() {
    return gui.breaksSent;
}
