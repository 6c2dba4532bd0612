#include "browser/loop.h"

#include <cstdio>
#include <cstring>

#include "browser/commands.h"
#include "browser/keyboard.h"
#include "browser/load.h"
#include "browser/screenreader.h"
#include "browser/services.h"
#include "net/child.h"
#include "net/exchange.h"
#include "platform/gui.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "shell/window.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

// One window message; returns GUI_RESTART when the window must be reopened, GUI_BREAK
// when a break ended a modal window.
int handleMessage(const WindowMessage& msg) {
    const ViewMetrics& m = viewMetrics();
    switch (msg.kind) {
        case WMSG_NEWSIZE:
            relayoutWindow();
            break;
        case WMSG_MOUSEBUTTONS:
            pageMouse(msg.x, msg.y, msg.code);
            break;
        case WMSG_MOUSEMOVE:
            if (msg.gadget == GAD_SCROLLER) {
                int32_t top = viewState().topLine;
                if (msg.value > top) {
                    scrollPageDown(msg.value - top, false);
                } else {
                    scrollPageUp(top - msg.value, false);
                }
            } else {
                pageMouse(msg.x, msg.y, 0);
            }
            break;
        case WMSG_GADGETUP:
            if (msg.gadget == GAD_URL) {
                loadTypedAddress(guiGadgetText(GAD_URL));
            } else if (Command command = gadgetCommand(msg.gadget); command != CMD_NONE) {
                return runCommand(command);
            }
            break;
        case WMSG_MENUPICK:
            return menuCommand(msg.code);
        case WMSG_CLOSEWINDOW:
            setQuitFlag(true);
            break;
        case WMSG_RAWKEY:
            if (pageKey(msg)) break;
            if (msg.code == KEY_UP) scrollPageUp(1, true);
            if (msg.code == KEY_DOWN) scrollPageDown(1, true);
            if (msg.code == KEY_RIGHT && (msg.qualifier & QUAL_ALT)) goForward();
            if (msg.code == KEY_LEFT && (msg.qualifier & QUAL_ALT)) goBack();
            break;
        case WMSG_FOCUS:
            viewSetFocus(msg.code != 0);
            break;
        case WMSG_FIND:
            findBarMessage(msg.code);
            break;
        case WMSG_LINKPRESS:
            readerLinkPressed(msg.value);
            break;
        case WMSG_VANILLAKEY:
            if (pageKey(msg)) break;
            if (msg.code == 8) {
                if (settings.useBackNav) {
                    goBack();
                } else {
                    scrollPageUp(m.rows - 1, true);
                }
            } else if (msg.code == 32) {
                if (msg.qualifier & QUAL_SHIFT) {
                    scrollPageUp(m.rows - 1, true);
                } else {
                    scrollPageDown(m.rows - 1, true);
                }
            }
            break;
        case WMSG_WHEEL:
            if (msg.value < 1) {
                scrollPageUp(1, true);
            } else {
                scrollPageDown(1, true);
            }
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

bool runGUIStep(int timeoutMs, int& result) {
    const ChildSignals sig = childSignals();
    FetchExchange& exchange = fetchExchange();
    const uint32_t help = guideSignalMask();
    const uint32_t mask = sig.all() | windowSignalMask() | help | TASK_BREAK_MASK;
    uint32_t got = timeoutMs < 0 ? taskWaitSignals(mask) : taskWaitSignalsFor(mask, timeoutMs);
    if (got & TASK_BREAK_MASK) {
        setQuitFlag(true);
        result = GUI_BREAK;
    }
    if (got & sig.exit) {
        if (!exchange.networkAvailable.load()) {
            char text[32];
            std::snprintf(text, sizeof text, "%s: TCP/IP", messageText(MSG_ERR_COULD_NOT_OPEN));
            showError(text);
        }
        setQuitFlag(true);
        result = GUI_BREAK;
    }
    if (!quitFlag() && (got & sig.done) && childTakeDone()) processPage();
    if (!quitFlag() && help != 0 && (got & help)) handleGuideSignal();
    if (!quitFlag() && (got & sig.download)) downloadHandOver();
    WindowMessage msg;
    bool any = got != 0;
    while (!quitFlag() && guiGetMessage(msg)) {
        any = true;
        const int asked = handleMessage(msg);
        if (asked == GUI_RESTART || asked == GUI_BREAK) result = asked;
    }
    return any;
}

int runGUI() {
    PageRecord* page = currentPage();
    if (page && builtinPageOf(page->address.url) == PAGE_HOME) guiUrlFieldActivate();
    if (quitFlag()) return GUI_QUIT;
    int result = GUI_QUIT;
    while (!quitFlag() && result != GUI_RESTART)
        runGUIStep(-1, result);
    // A break that closed a dialog (which then set the quit flag) still ends the
    // program as a break.
    if (taskClearSignals(TASK_BREAK_MASK) & TASK_BREAK_MASK) result = GUI_BREAK;
    return result;
}
