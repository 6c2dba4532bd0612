#include "shell/window.h"

#include <algorithm>
#include <cstring>

#include "platform/desktop.h"
#include "platform/spawn.h"
#include "platform/task.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/menu.h"
#include "text/limits.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

int32_t backDisabled = 1;
int32_t forwardDisabled = 1;

namespace {

struct ShellState {
    bool initialised = false;
    bool open = false;
    bool ownScreen = false;
    ShellLayout layout;
    std::vector<std::string> buttonLabels;
    int fixedFont = 0, propFont = 0, gadgetFont = 0, systemFont = 0;
    int urlHandler = -1;  // -1 = not looked up yet
    uint32_t signalMask = 0;
    // Where the user left the desktop window, for the next window of this run.
    bool placed = false;
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool findBar = false;  // the find bar is open
};

ShellState shell;

const char* text(int id) {
    return messageText(id);
}

// The toolbar buttons a page load locks (Stop is the one it unlocks).
constexpr int NAVIGATION_GADGETS[] = {GAD_BACK, GAD_FORWARD, GAD_RELOAD, GAD_HOME, GAD_BOOK};

void closeFonts() {
    for (int* font : {&shell.fixedFont, &shell.propFont, &shell.gadgetFont, &shell.systemFont}) {
        if (*font) guiFontClose(*font);
        *font = 0;
    }
}

void openFonts() {
    closeFonts();
    shell.fixedFont = guiFontOpen(settings.fixedFont.name, settings.fixedFont.height);
    shell.propFont = guiFontOpen(settings.propFont.name, settings.propFont.height);
    const FontSpec& gadget = settings.useScreen ? settings.screenFont : settings.workbenchFont;
    shell.gadgetFont = guiFontOpen(gadget.name, gadget.height);
    shell.systemFont = guiFontOpen(settings.systemFont.name, settings.systemFont.height);
    viewSetFonts(shell.fixedFont, shell.propFont);
}

int width(int font, const std::string& s) {
    return guiTextLength(font, s.data(), s.size());
}

LayoutInput layoutInput(bool ownScreen, int32_t screenWidth, int32_t screenHeight) {
    LayoutInput in;
    in.ownScreen = ownScreen;
    in.screenWidth = screenWidth;
    in.screenHeight = screenHeight;
    in.cw = std::max(1, width(shell.systemFont, "M"));
    in.ch = std::max(1, guiFontHeight(shell.systemFont));
    in.gh = std::max(1, guiFontHeight(shell.gadgetFont));
    in.mWidth = std::max(1, width(shell.gadgetFont, "M"));
    in.textCharWidth = viewMetrics().charWidth;
    for (int i = 0; i < 6 && i < static_cast<int>(shell.buttonLabels.size()); ++i)
        in.buttonTextWidth[i] = width(shell.gadgetFont, shell.buttonLabels[i]);
    return in;
}

void setFrame(const ShellLayout& layout) {
    ViewMetrics& m = viewMetrics();
    m.marginX = layout.marginX;
    m.marginY = layout.marginY;
    m.textLeft = layout.leftMargin + layout.marginX;
    m.textTop = layout.rowHeight + 2 * layout.gadgetHeight + layout.marginY;
    ViewFrame& f = viewFrame();
    // The margins beside the text area count as the window's borders, so the text
    // area, the scroller and the right margin always fit the window.
    f.leftBorder = layout.leftMargin;
    f.rightBorder = layout.rightMargin;
    f.bottomBorder = 0;
    f.scrollerWidth = layout.scrollerWidth;
    f.scrollerGap = 2;
    f.statusHeight = layout.statusRowHeight;
}

// Whether a navigation command is available when no page loads.
bool idleEnabled(Command command) {
    if (command == CMD_BACK) return !backDisabled;
    if (command == CMD_FORWARD) return !forwardDisabled;
    return true;
}

// Locks or unlocks the navigation controls around a page load.
void lockControls(bool lock) {
    if (!shell.open) return;
    if (lock) {
        backDisabled = guiGadgetEnabled(GAD_BACK) ? 0 : 1;
        forwardDisabled = guiGadgetEnabled(GAD_FORWARD) ? 0 : 1;
    }
    for (int id : NAVIGATION_GADGETS)
        guiGadgetEnable(id, !lock && idleEnabled(gadgetCommand(id)));
    guiGadgetEnable(GAD_STOP, lock);
    for (const MenuCommand& entry : menuCommands()) {
        const int code = menuCode(entry.menu, entry.item);
        if (entry.flags & MENU_IDLE_ONLY) guiMenuEnable(code, !lock && idleEnabled(entry.command));
        if (entry.flags & MENU_BUSY_ONLY) guiMenuEnable(code, lock);
    }
    guiSetPointer(lock ? POINTER_BUSY : POINTER_NORMAL);
}

// The shell's seam: the status line and the controls while the window is open, and
// the window system's dialogs for the program (tests keep the scripted answers).
void installBackend(bool window, bool dialogs) {
    ShellBackend b;
    if (window) {
        b.showStatus = [](const std::string& s) { guiSetStatusText(s); };
        b.lockControls = lockControls;
    }
    if (dialogs) {
        b.requester = [](int kind, const std::string& title, const std::string& body,
                         const std::vector<std::string>& buttons) {
            return guiRequester(kind, title, body, buttons);
        };
        b.input = [](const std::string& title, const std::string& initial, int maxChars, bool masked,
                     std::string& out) {
            InputSpec spec{title, initial, maxChars, text(MSG_BUTTONS_OK), text(MSG_BUTTON_CANCEL), masked};
            return guiInput(spec, out);
        };
        b.file = [](bool save, const std::string& title, const std::string& drawer, const std::string& name) {
            return guiFileRequest(save, title, drawer, name);
        };
        b.font = [](int kind, const std::string& title, std::string& family, int& height) {
            return guiFontRequest(kind, title, text(MSG_BUTTON_USE), family, height);
        };
        b.mode = [](const std::vector<std::string>& labels, int initial) {
            return guiModeRequest("Farlander", text(MSG_BUTTON_USE), labels, initial);
        };
    }
    shellInstallBackend(std::move(b));
}

bool windowDialogs = false;

}  // namespace

std::vector<MenuEntry> menuTable() {
    std::vector<MenuEntry> m;
    auto entry = [](int menu, int item, int sub, const std::string& label) {
        MenuEntry e;
        e.menu = menu;
        e.item = item;
        e.sub = sub;
        e.label = label;
        return e;
    };
    auto sub = [&](const MenuCommand& c, int s, const std::string& label, int group, bool checked) {
        MenuEntry e = entry(c.menu, c.item, s, label);
        e.checkable = true;
        e.radioGroup = group;
        e.checked = checked;
        m.push_back(e);
    };
    int menu = -1;
    for (const MenuCommand& c : menuCommands()) {
        if (c.menu != menu) {
            menu = c.menu;
            m.push_back(entry(menu, -1, -1, text(menuTitle(menu))));
        }
        MenuEntry e = entry(c.menu, c.item, -1, c.label >= 0 ? text(c.label) : "");
        e.separator = c.command == CMD_NONE;
        e.key = c.key;
        if (c.keys) e.keys = c.keys;
        e.checkable = (c.flags & MENU_CHECKABLE) != 0;
        e.disabled = (c.flags & MENU_START_DISABLED) != 0;
        if (c.command == CMD_BLANK_BORDER) e.checked = settings.borderBlank != 0;
        if (c.command == CMD_USE_PROXY) e.checked = settings.useGemProxy != 0;
        if (c.command == CMD_UNICODE_TEXT) e.checked = settings.unicodeText != 0;
        if (c.command == CMD_EDIT_THEME) e.disabled = settings.theme != THEME_CUSTOM;
        m.push_back(e);
        if (c.command == CMD_TEXT_FONTS) {
            sub(c, 0, text(MSG_ITEM_FIXED_ONLY), 1, settings.usePropFont == 0);
            sub(c, 1, text(MSG_ITEM_FIXED_AND_PROPORTIONAL), 1, settings.usePropFont == 1);
        } else if (c.command == CMD_THEME) {
            for (int t = 0; t < THEME_COUNT; ++t)
                sub(c, t, THEME_INFO[t].label, 2, settings.theme == t);
        } else if (c.command == CMD_OPENURL) {
            static const char* const handlers[OPENURL_COUNT] = {"FTP", "Gopher", "HTTP", "HTTPS", "Mailto"};
            for (int i = 0; i < OPENURL_COUNT; ++i)
                sub(c, i, handlers[i], 0, settings.useOpenUrl[i] != 0);
        }
    }
    return m;
}

ShellLayout computeLayout(const LayoutInput& in) {
    ShellLayout l;
    l.leftMargin = in.cw * 3 / 4;
    l.rightMargin = in.cw * 3 / 4;
    l.buttonGap = in.cw;
    l.marginX = in.cw;
    l.marginY = in.ch;
    l.gadgetHeight = in.gh;
    l.buttonHeight = in.gh + 4;
    l.rowHeight = 2 * in.gh - (2 * in.gh - l.buttonHeight) / 2;
    l.buttonTop = l.rowHeight - l.buttonHeight;
    int32_t buttons = 0;
    for (int i = 0; i < 6; ++i) {
        l.buttonWidth[i] = in.buttonTextWidth[i] + in.mWidth;
        buttons += l.buttonWidth[i];
    }
    l.urlTop = l.rowHeight + (2 * in.gh - l.buttonHeight) / 2;
    l.scrollerWidth = in.cw * 2;
    l.statusRowHeight = 2 * in.gh;
    // A screen narrower than 85 columns of the page's text halves the margins.
    if (in.ownScreen && in.screenWidth < 85 * std::max(1, in.textCharWidth)) {
        l.leftMargin /= 2;
        l.rightMargin /= 2;
        l.marginX /= 2;
        l.marginY /= 2;
    }
    l.minWidth = l.leftMargin + l.rightMargin + buttons + 4 * l.buttonGap;
    l.minHeight = 20 * in.ch;
    return l;
}

std::vector<GadgetSpec> gadgetSpecs(const ShellLayout& l, const std::vector<std::string>& labels) {
    const ViewMetrics& m = viewMetrics();
    std::vector<GadgetSpec> g(GAD_COUNT);
    int32_t x = l.leftMargin;
    for (int i = 0; i < 6; ++i) {
        g[i] = GadgetSpec{x,
                          l.buttonTop,
                          l.buttonWidth[i],
                          l.buttonHeight,
                          i < static_cast<int>(labels.size()) ? labels[i] : std::string(),
                          false,
                          0};
        x += l.buttonWidth[i] + l.buttonGap;
    }
    g[GAD_BACK].disabled = backDisabled != 0;
    g[GAD_FORWARD].disabled = forwardDisabled != 0;
    g[GAD_STOP].disabled = true;
    int32_t wide = m.textWidth + 2 * m.marginX + 2 + l.scrollerWidth;
    // The three gadgets without a caption are named for screen readers.
    g[GAD_URL] = GadgetSpec{l.leftMargin,           l.urlTop, wide,         l.buttonHeight,
                            text(MSG_NAME_ADDRESS), false,    URL_FIELD_MAX};
    g[GAD_SCROLLER] = GadgetSpec{l.leftMargin + 2 * m.marginX + m.textWidth + 2,
                                 m.textTop - m.marginY,
                                 l.scrollerWidth,
                                 m.textHeight + 2 * m.marginY,
                                 text(MSG_NAME_PAGE_POSITION),
                                 false,
                                 0};
    int32_t gh = l.gadgetHeight;
    g[GAD_STATUS] = GadgetSpec{l.leftMargin,
                               m.textTop + m.textHeight + m.marginY + (2 * gh - l.buttonHeight) / 2,
                               wide,
                               l.buttonHeight,
                               text(MSG_NAME_STATUS),
                               false,
                               0};
    return g;
}

void desktopWindowSize(const LayoutInput& in, int32_t& w, int32_t& h) {
    ShellLayout l = computeLayout(in);
    ViewMetrics& m = viewMetrics();
    m.columns = 80;
    m.rows = 25;
    m.textWidth = 80 * m.charWidth;
    m.textHeight = 25 * m.lineHeight;
    auto size = [&] {
        w = l.leftMargin + m.textWidth + 2 * l.marginX + 2 + l.scrollerWidth + l.rightMargin;
        h = m.textTop + m.textHeight + l.marginY + l.statusRowHeight;
    };
    size();
    if (w > in.screenWidth || h > in.screenHeight) {
        if (w > in.screenWidth) computeTextWidth(in.screenWidth);
        if (h > in.screenHeight) computeTextHeight(in.screenHeight);
        size();
    }
}

bool winInit(int32_t screenChoice) {
    if (!guiReady() && !guiInit(std::string(text(MSG_ERR_COULD_NOT_OPEN)) + ": display")) return false;
    prefsMerge(screenChoice);
    if (!shell.signalMask) {
        int bit = taskAllocSignal();
        if (bit >= 0) shell.signalMask = uint32_t{1} << bit;
    }
    guiSetMessageSignal(taskCurrent(), shell.signalMask);
    guiInstallWaitPump();
    return true;
}

uint32_t windowSignalMask() {
    return shell.signalMask;
}

bool winIsOpen() {
    return shell.open;
}

const ShellLayout& shellLayout() {
    return shell.layout;
}

void shellReopenFonts() {
    openFonts();
}

bool urlHandlerAvailable() {
    if (shell.urlHandler < 0) {
        shell.urlHandler = programOnPath("xdg-open") ? 1 : 0;
    }
    return shell.urlHandler == 1;
}

void setUrlHandlerAvailableForTesting(int available) {
    shell.urlHandler = available;
}

bool winStart() {
    if (!guiReady()) return false;
    shell.buttonLabels.clear();
    for (int id : {MSG_BUTTON_BACK, MSG_BUTTON_FORWARD, MSG_BUTTON_RELOAD, MSG_BUTTON_HOME, MSG_BUTTON_BOOK,
                   MSG_BUTTON_STOP})
        shell.buttonLabels.emplace_back(text(id));
    openFonts();
    computeFontMetrics();
    shell.ownScreen = settings.useScreen != 0;
    themePensSetUp(shell.ownScreen);

    WindowSpec spec;
    spec.ownScreen = shell.ownScreen;
    spec.monitorId = settings.displayId;
    int32_t screenW = settings.screenWidth, screenH = settings.screenHeight;
    if (!shell.ownScreen) {
        DesktopFacts desktop = desktopFacts();
        screenW = desktop.width;
        screenH = desktop.height;
    }
    LayoutInput in = layoutInput(shell.ownScreen, screenW, screenH);
    shell.layout = computeLayout(in);
    setFrame(shell.layout);
    if (shell.ownScreen) {
        spec.width = std::max(1, screenW);
        spec.height = std::max(1, screenH);
    } else {
        int32_t w = 0, h = 0;
        desktopWindowSize(in, w, h);
        // Half and one and a half times the height of a title bar, as a window
        // manager would place it; a window reopened in the same run (a new theme,
        // font or mode) comes back where the user left it, at the size they gave it.
        spec.left = in.gh / 2;
        spec.top = in.gh * 3 / 2;
        if (shell.placed) {
            w = shell.width;
            h = shell.height;
            spec.left = shell.left;
            spec.top = shell.top;
        }
        spec.width = std::max(1, std::min(w, std::max(1, screenW)));
        spec.height = std::max(1, std::min(h, std::max(1, screenH)));
        spec.minWidth = shell.layout.minWidth;
        spec.minHeight = shell.layout.minHeight;
    }
    if (!guiOpenWindow(spec)) return false;
    shell.open = true;

    // The menu strip first: on an own screen it takes its height from the client area.
    std::vector<MenuEntry> menu = menuTable();
    bool handler = urlHandlerAvailable();
    if (!handler) std::fill(std::begin(settings.useOpenUrl), std::end(settings.useOpenUrl), 0);
    for (MenuEntry& e : menu) {
        int sub = -1;
        const Command command = e.item >= 0 ? commandOfCode(menuCode(e.menu, e.item), sub) : CMD_NONE;
        if (command == CMD_SCREEN_FONT && e.sub < 0) e.disabled = !shell.ownScreen;
        // No display system here has a border to blank.
        if (command == CMD_BLANK_BORDER && e.sub < 0) e.disabled = true;
        if (command == CMD_OPENURL) {
            e.disabled = !handler;
            if (e.sub >= 0) e.checked = handler && settings.useOpenUrl[e.sub] != 0;
        }
    }
    guiSetMenu(menu);

    computeTextWidth(guiWindowWidth());
    computeTextHeight(guiWindowHeight());
    guiFill(PEN_WINDOW_BACKGROUND, 0, 0, guiWindowWidth() - 1, guiWindowHeight() - 1);
    createGadgets();
    installBackend(true, windowDialogs);
    viewReset();
    return true;
}

void createGadgets() {
    if (!shell.open) return;
    std::vector<GadgetSpec> specs = gadgetSpecs(shell.layout, shell.buttonLabels);
    guiCreateGadgets(specs, shell.gadgetFont);
    guiScrollerSet(0, viewMetrics().rows, 0);
    if (shell.findBar) placeFindBar(true);
}

void placeFindBar(bool open) {
    shell.findBar = open;
    if (!shell.open) return;
    const GadgetSpec status = gadgetSpecs(shell.layout, shell.buttonLabels)[GAD_STATUS];
    if (!open) {
        guiFindBarHide();
        guiGadgetMove(GAD_STATUS, status.left, status.top, status.width, status.height);
        return;
    }
    // The bar takes the left part of the status row, so it covers no text, and the
    // status line keeps the rest for what the find reports.
    const int32_t bar = findBarWidth(status.width);
    const int32_t gap = shell.layout.buttonGap;
    guiFindBarShow(status.left, status.top, bar, status.height, text(MSG_FIND_LABEL), shell.gadgetFont);
    guiGadgetMove(GAD_STATUS, status.left + bar + gap, status.top, status.width - bar - gap, status.height);
}

bool findBarOpen() {
    return shell.findBar;
}

int32_t findBarWidth(int32_t statusWidth) {
    return std::max(0, std::min(statusWidth / 2, 24 * std::max(1, width(shell.gadgetFont, "M"))));
}

void resizeWindow() {
    guiFill(PEN_WINDOW_BACKGROUND, 0, 0, guiWindowWidth() - 1, guiWindowHeight() - 1);
    computeTextWidth(guiWindowWidth());
    computeTextHeight(guiWindowHeight());
    // The new buttons keep the states the old ones had, loading or not.
    bool enabled[GAD_URL];
    for (int id = 0; id < GAD_URL; ++id)
        enabled[id] = guiGadgetEnabled(id);
    createGadgets();
    for (int id = 0; id < GAD_URL; ++id)
        guiGadgetEnable(id, enabled[id]);
}

void winSetNavState(bool backEnabled, bool forwardEnabled) {
    backDisabled = backEnabled ? 0 : 1;
    forwardDisabled = forwardEnabled ? 0 : 1;
    if (!shell.open || guiLocked()) return;
    guiGadgetEnable(GAD_BACK, backEnabled);
    guiMenuEnable(commandCode(CMD_BACK), backEnabled);
    guiGadgetEnable(GAD_FORWARD, forwardEnabled);
    guiMenuEnable(commandCode(CMD_FORWARD), forwardEnabled);
}

void winStop() {
    if (!shell.open) {
        themePensRelease();
        return;
    }
    if (!shell.ownScreen) shell.placed = guiWindowGeometry(shell.left, shell.top, shell.width, shell.height);
    // Nothing may draw into a window that is gone.
    installBackend(false, windowDialogs);
    guiClearMenu();
    themePensRelease();
    guiFreeGadgets();
    guiCloseWindow();
    shell.open = false;
}

void winCleanUp() {
    winStop();
    shell.placed = false;
    closeFonts();
    viewSetFonts(0, 0);
    if (shell.signalMask) {
        guiSetMessageSignal(nullptr, 0);
        for (int bit = 0; bit < 32; ++bit)
            if (shell.signalMask == (uint32_t{1} << bit)) taskFreeSignal(bit);
        shell.signalMask = 0;
    }
    taskSetWaitPump(WaitPump{});
}

void clearProxyCheck() {
    guiMenuCheck(commandCode(CMD_USE_PROXY), false);
}

void shellUseWindowDialogs() {
    windowDialogs = true;
    installBackend(shell.open, true);
}

int openScreenRequest() {
    std::vector<MonitorInfo> monitors = guiMonitors();
    std::vector<std::string> labels{text(MSG_MODE_DESKTOP_WINDOW), text(MSG_MODE_CLONE_DESKTOP)};
    std::vector<uint32_t> ids{0xFFFFFFFFu, 0xFFFFFFFEu};
    for (const MonitorInfo& m : monitors) {
        labels.push_back(m.name + " " + std::to_string(m.width) + "x" + std::to_string(m.height));
        ids.push_back(m.id);
    }
    uint32_t initial = 0xFFFFFFFFu;
    if (settings.useScreen)
        initial = settings.displayId == settings.workbenchDisplayId ? 0xFFFFFFFEu : settings.displayId;
    int initialIndex = 0;
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == initial) initialIndex = static_cast<int>(i);
    int chosen = requestMode(labels, initialIndex);
    if (chosen < 0) return 0;
    uint32_t id = ids[static_cast<size_t>(chosen)];
    bool wasScreen = settings.useScreen != 0;
    if (id == 0xFFFFFFFFu) {
        if (!wasScreen) return 0;
        settings.useScreen = 0;
        return 1;
    }
    uint32_t before = settings.displayId;
    if (id == 0xFFFFFFFEu) {
        DesktopFacts desktop = desktopFacts();
        settings.displayId = settings.workbenchDisplayId;
        settings.screenWidth = desktop.width;
        settings.screenHeight = desktop.height;
    } else {
        const MonitorInfo& m = monitors[static_cast<size_t>(chosen) - 2];
        settings.displayId = m.id;
        settings.screenWidth = m.width;
        settings.screenHeight = m.height;
    }
    settings.useScreen = 1;
    return !wasScreen || settings.displayId != before ? 1 : 0;
}

int openFontRequest(int kind) {
    static const int titles[3] = {MSG_TITLE_SCREEN_FONT, MSG_TITLE_FIXED_FONT, MSG_TITLE_PROPORTIONAL_FONT};
    if (kind < 0 || kind > 2) return 0;
    FontSpec& font = kind == 0 ? settings.screenFont : kind == 1 ? settings.fixedFont : settings.propFont;
    std::string family = font.name;
    int height = font.height;
    if (!requestFont(kind, text(titles[kind]), family, height)) return 0;
    if (height < 1) height = 1;
    if (height > 0xFFFF) height = 0xFFFF;
    if (family.compare(0, FONT_NAME_MAX, font.name,
                       std::min<size_t>(std::strlen(font.name), FONT_NAME_MAX)) == 0 &&
        std::min<size_t>(family.size(), FONT_NAME_MAX) ==
            std::min<size_t>(std::strlen(font.name), FONT_NAME_MAX) &&
        height == font.height)
        return 0;
    fontSet(font, family.c_str(), static_cast<uint16_t>(height));
    if (shell.open) openFonts();
    return 1;
}
