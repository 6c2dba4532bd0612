#include <cstdio>
#include <cstring>

#include "app/locale.h"
#include "browser/commands.h"
#include "browser/page.h"
#include "net/child.h"
#include "net/exchange.h"
#include "platform/gui.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/window.h"
#include "view/view.h"

namespace {

void stopCommand() {
    sendChildBreak();
    if (PageRecord* page = currentPage()) updateUrlGad(page->address);
}

// One window message; returns GUI_RESTART when the window must be reopened.
int handleMessage(const WindowMessage& msg) {
    const ViewMetrics& m = viewMetrics();
    switch (msg.kind) {
        case WMSG_NEWSIZE:
            resizeWindow();
            break;
        case WMSG_MOUSEBUTTONS:
            handleTextMouse(msg.x, msg.y, msg.code);
            break;
        case WMSG_MOUSEMOVE:
            if (msg.gadget == GAD_SCROLLER) {
                int32_t top = viewState().topLine;
                if (msg.value > top) {
                    scrollDown(msg.value - top, false);
                } else {
                    scrollUp(top - msg.value, false);
                }
            } else {
                handleTextMouse(msg.x, msg.y, 0);
            }
            break;
        case WMSG_GADGETUP:
            switch (msg.gadget) {
                case GAD_BACK:
                    goBack();
                    break;
                case GAD_FORWARD:
                    goForward();
                    break;
                case GAD_RELOAD:
                    return menuCommand(menuCode(MENU_GO, 3));
                case GAD_HOME:
                    loadPage("HOME");
                    break;
                case GAD_BOOK:
                    loadPage("BOOKVIEW");
                    break;
                case GAD_STOP:
                    stopCommand();
                    break;
                case GAD_URL:
                    loadPage(encodeTyped(guiGadgetText(GAD_URL)).c_str());
                    break;
                default:
                    break;
            }
            break;
        case WMSG_MENUPICK:
            return menuCommand(msg.code);
        case WMSG_CLOSEWINDOW:
            setQuitFlag(true);
            break;
        case WMSG_RAWKEY:
            if (msg.code == KEY_UP) scrollUp(1, true);
            if (msg.code == KEY_DOWN) scrollDown(1, true);
            if (msg.code == KEY_RIGHT && (msg.qualifier & QUAL_ALT)) goForward();
            if (msg.code == KEY_LEFT && (msg.qualifier & QUAL_ALT)) goBack();
            break;
        case WMSG_VANILLAKEY:
            if (msg.code == 8) {
                if (settings.useBackNav) {
                    goBack();
                } else {
                    scrollUp(m.rows - 1, true);
                }
            } else if (msg.code == 32) {
                if (msg.qualifier & QUAL_SHIFT) {
                    scrollUp(m.rows - 1, true);
                } else {
                    scrollDown(m.rows - 1, true);
                }
            }
            break;
        case WMSG_WHEEL:
            if (msg.value < 1) {
                scrollUp(1, true);
            } else {
                scrollDown(1, true);
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
    const uint32_t mask = sig.all() | windowSignalMask() | TASK_BREAK_MASK;
    uint32_t got = timeoutMs < 0 ? taskWaitSignals(mask) : taskWaitSignalsFor(mask, timeoutMs);
    if (got & TASK_BREAK_MASK) {
        setQuitFlag(true);
        result = GUI_BREAK;
    }
    if (got & sig.exit) {
        if (!exchange.networkAvailable.load()) {
            char text[32];
            std::snprintf(text, sizeof text, "%s: TCP/IP", getString(102));
            showError(text);
        }
        setQuitFlag(true);
        result = GUI_BREAK;
    }
    if (!quitFlag() && (got & sig.done) && childTakeDone()) processPage();
    if (!quitFlag() && (got & sig.download)) downloadHandOver();
    WindowMessage msg;
    bool any = got != 0;
    while (!quitFlag() && guiGetMessage(msg)) {
        any = true;
        if (handleMessage(msg) == GUI_RESTART) result = GUI_RESTART;
    }
    return any;
}

int runGUI() {
    PageRecord* page = currentPage();
    if (page && std::strcmp(page->address.url, "HOME") == 0) guiUrlFieldActivate();
    if (quitFlag()) return GUI_QUIT;
    int result = GUI_QUIT;
    while (!quitFlag() && result != GUI_RESTART) runGUIStep(-1, result);
    // A break that closed a dialog (which then set the quit flag) still ends the
    // program as a break.
    if (taskClearSignals(TASK_BREAK_MASK) & TASK_BREAK_MASK) result = GUI_BREAK;
    return result;
}
