// The window system, as the shell and the text view see it: one main window whose
// client area (below the menu strip) is a raster of pixels, nine gadgets placed on
// it at pixel positions, a menu strip, pens, fonts, pointers, a queue of window
// messages and the modal dialogs. Nothing here hands out a toolkit type.
//
// Everything runs on the GUI thread (the thread that called guiInit), except
// guiSetStatusText and guiWakeForBreak, which any thread may call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/task.h"

// ---- application ----

// Creates the application object. False (and nothing created) when no display can be
// reached: no platform plugin chosen and neither an X nor a Wayland display, or the
// display named in the environment does not answer. Should the toolkit still give up
// while it starts (it would abort), notice is printed and the process ends with 20.
bool guiInit(const std::string& notice = {});
// Destroys the application object (closing the window first). Safe without guiInit.
void guiCleanUp();
bool guiReady();
// Runs pending window-system events once, without blocking.
void guiProcessEvents();
// Installs the calling task's wait pump over the toolkit's event loop: a wait runs the
// loop and returns as soon as another thread signals the task.
void guiInstallWaitPump();
// Any thread: makes a modal dialog that is open now close as cancelled (a break).
void guiWakeForBreak();

// ---- monitors ----

struct MonitorInfo {
    std::string name;
    uint32_t id = 0;  // displayIdForScreenName(name)
    int width = 0;    // full geometry
    int height = 0;
    int depth = 0;
    bool primary = false;
};
std::vector<MonitorInfo> guiMonitors();

// ---- fonts ----

// A font opened at a pixel size. Handles start at 1; 0 is "no font".
int guiFontOpen(const char* family, int pixelSize);
void guiFontClose(int font);
// The font's line height (never below 1).
int guiFontHeight(int font);
// The pixel width of text (display bytes, ISO-8859-1) in the font.
int guiTextLength(int font, const char* text, size_t length);
// The same for UTF-8 text.
int guiTextUtf8Length(int font, const char* text, size_t length);
// Font requester kinds: any font, fixed-width only, proportional only.
enum FontListKind { FONTS_ALL = 0, FONTS_FIXED = 1, FONTS_PROPORTIONAL = 2 };

// ---- pens ----

// Own screen: pens 0-7 are colour registers; setting one repaints what uses it.
// Colours are 12-bit 0xRGB.
void guiSetRegister(int pen, uint32_t rgb12);
// The colour register pen 0-7 holds now (0xRGB; 0 for other pens).
uint32_t guiRegister(int pen);
// Desktop: obtains the pen whose colour best matches (shared and counted: obtaining a
// colour twice gives the same pen twice). Pens obtained this way are 8 and above.
int guiObtainPen(uint32_t rgb12);
// Gives back one count of a pen obtained with guiObtainPen; other pens are ignored.
void guiReleasePen(int pen);
// How many counts the pens obtained with guiObtainPen hold in all (tests).
int guiObtainedPenCount();
// The window's own background (the desktop's window colour, or register 0 on an own
// screen), usable wherever a pen is.
inline constexpr int PEN_WINDOW_BACKGROUND = -1;
// The 24-bit colour a pen stands for now (0xRRGGBB).
uint32_t guiPenColour(int pen);
// The window's interface colours on an own screen: registers 0-3 as background,
// text, light and highlight. Desktop mode keeps the desktop's look.
void guiUseRegistersForInterface(bool on);

// ---- the main window ----

struct WindowSpec {
    bool ownScreen = false;  // frameless, full screen on monitor
    uint32_t monitorId = 0;  // own screen: the monitor's id (the primary one when none matches)
    int left = 0, top = 0;   // desktop: the window's position
    int width = 0;           // the client area's size (below the menu strip)
    int height = 0;
    int minWidth = 0, minHeight = 0;
    std::string title = "Farlander";
};
// Opens the main window (closing an open one first). False when it cannot be shown.
bool guiOpenWindow(const WindowSpec& spec);
void guiCloseWindow();
bool guiWindowOpen();
// The client area's size now (the raster's size).
int guiWindowWidth();
int guiWindowHeight();
// Resizes the client area (desktop window), as if the user had dragged it.
void guiResizeWindow(int width, int height);
// Where the desktop window is now: its position on the screen (the frame's top-left)
// and the client area's size. False when no window is open.
bool guiWindowGeometry(int& left, int& top, int& width, int& height);

// ---- the raster ----
// The raster exists from guiRasterResize (guiOpenWindow makes it the client area's
// size) and keeps its pixels across window size changes where they fit.
void guiRasterResize(int width, int height);
int guiRasterWidth();
int guiRasterHeight();
// Fills the rectangle (corners inclusive) with the pen's colour.
void guiFill(int pen, int x0, int y0, int x1, int y1);
// Moves the pixels of the rectangle (corners inclusive) up by dy (down when dy is
// negative); the uncovered strip is filled with the background pen.
void guiScroll(int dy, int x0, int y0, int x1, int y1, int backgroundPen);
// Draws text foreground only with its cell's top-left at (x, y): display text
// (ISO-8859-1), or UTF-8 (a glyph the font lacks comes from another installed font).
void guiText(int x, int y, const char* text, size_t length, int font, int pen);
void guiTextUtf8(int x, int y, const char* text, size_t length, int font, int pen);
// The colour of one pixel (0xRRGGBB), 0 outside.
uint32_t guiPixel(int x, int y);
// Writes the window (menu strip and gadgets included when it is open, else the
// raster) to a PNG file.
bool guiGrab(const char* path);
// Counts of the drawing calls since the last reset (tests and benchmarks).
struct RasterCounts {
    long fills = 0;
    long scrolls = 0;
    long texts = 0;
};
RasterCounts guiRasterCounts();
void guiResetRasterCounts();

// ---- gadgets ----
enum GadgetId {
    GAD_BACK = 0,
    GAD_FORWARD = 1,
    GAD_RELOAD = 2,
    GAD_HOME = 3,
    GAD_BOOK = 4,
    GAD_STOP = 5,
    GAD_URL = 6,
    GAD_SCROLLER = 7,
    GAD_STATUS = 8,
    GAD_COUNT = 9,
};
struct GadgetSpec {
    int left = 0, top = 0, width = 0, height = 0;
    std::string label;  // buttons (UTF-8); any gadget: its name to assistive technology
                        // (the URL field, scroller and status line have English ones)
    bool disabled = false;
    int maxChars = 0;  // URL field
};
// Replaces the gadgets of the open window with these nine (in GadgetId order), drawn
// in the font (a guiFontOpen handle; 0: the desktop font); the URL field keeps its
// text and the status line its text.
void guiCreateGadgets(const std::vector<GadgetSpec>& gadgets, int font);
void guiFreeGadgets();
void guiGadgetEnable(int id, bool enabled);
bool guiGadgetEnabled(int id);
// The label or text of a gadget (buttons, URL field, status line).
std::string guiGadgetText(int id);
// The geometry a gadget has now (all 0 when it does not exist).
GadgetSpec guiGadgetGeometry(int id);
void guiUrlFieldSetText(const std::string& text);
// The URL field takes the keyboard focus with its whole text selected (Ctrl+L and F6
// do this too).
void guiUrlFieldActivate();
// Places a gadget anew (the status line makes room for the find bar).
void guiGadgetMove(int id, int left, int top, int width, int height);
// The text view takes the keyboard focus (from the URL field, say).
void guiFocusPage();
// Whether the text view has the keyboard focus.
bool guiPageHasFocus();
// The line height of the font a gadget is drawn in (0 when it does not exist).
int guiGadgetFontHeight(int id);
void guiScrollerSet(int top, int visible, int total);
void guiScrollerGet(int& top, int& visible, int& total);
// Any thread: shows the text in the status line (the GUI thread does it soon after).
void guiSetStatusText(const std::string& text);

// ---- the menu strip ----
struct MenuEntry {
    int menu = 0;
    int item = -1;      // -1: the menu's title
    int sub = -1;       // -1: no sub-item
    std::string label;  // UTF-8; empty with separator
    bool separator = false;
    char key = 0;  // shortcut with Ctrl, 0 for none
    bool checkable = false;
    int radioGroup = 0;  // entries with the same non-zero group exclude each other
    bool checked = false;
    bool disabled = false;
    std::string keys = {};  // a further shortcut in the portable form ("Ctrl+Shift+C", "F3")
};
// The code a pick reports: menu + item * 32 + sub * 2048, sub 31 without a sub-item.
inline constexpr int menuCode(int menu, int item, int sub = -1) {
    return menu + item * 32 + (sub < 0 ? 31 : sub) * 2048;
}
void guiSetMenu(const std::vector<MenuEntry>& entries);
void guiClearMenu();
void guiMenuCheck(int code, bool checked);
void guiMenuEnable(int code, bool enabled);
bool guiMenuChecked(int code);
bool guiMenuEnabled(int code);
// The entries as the menu strip holds them now (labels, keys, states).
std::vector<MenuEntry> guiMenuEntries();

// ---- pointers ----
enum PointerShape { POINTER_NORMAL = 0, POINTER_LINK = 1, POINTER_BUSY = 2 };
void guiSetPointer(int shape);
int guiPointer();

// ---- window messages ----
enum WindowMessageKind {
    WMSG_NEWSIZE = 1,   // the client area changed size
    WMSG_REFRESH,       // damage only (the raster repaints itself)
    WMSG_MOUSEBUTTONS,  // code SELECTDOWN / SELECTUP, x, y
    WMSG_MOUSEMOVE,     // x, y; from the scroller: gadget 7 and value = its top
    WMSG_GADGETUP,      // gadget id
    WMSG_MENUPICK,      // code = menu code
    WMSG_CLOSEWINDOW,
    WMSG_RAWKEY,      // code: KEY_UP 76, KEY_DOWN 77, KEY_RIGHT 78, KEY_LEFT 79; qualifier
    WMSG_VANILLAKEY,  // code: 8 Backspace, 32 Space; qualifier
    WMSG_WHEEL,       // value: vertical movement, > 0 toward the end of the page
    WMSG_FOCUS,       // code 1: the text view took the keyboard, 0: it lost it
    WMSG_FIND,        // the find bar: code FIND_CHANGED, FIND_NEXT, FIND_PREVIOUS or FIND_CLOSE
    WMSG_LINKPRESS,   // value: the index of a link pressed by assistive technology (platform/access.h)
};
inline constexpr int SELECTDOWN = 0x68;
inline constexpr int SELECTUP = 0xE8;
inline constexpr int SELECTDOUBLE = 0x69;  // the second press of a double click
// Raw keys on the text view. From the URL field: KEY_ESCAPE with gadget GAD_URL.
inline constexpr int KEY_TAB = 0x42;
inline constexpr int KEY_RETURN = 0x44;
inline constexpr int KEY_ESCAPE = 0x45;
inline constexpr int KEY_PAGEUP = 0x48;
inline constexpr int KEY_PAGEDOWN = 0x49;
inline constexpr int KEY_UP = 76;
inline constexpr int KEY_DOWN = 77;
inline constexpr int KEY_RIGHT = 78;
inline constexpr int KEY_LEFT = 79;
inline constexpr int KEY_HOME = 0x70;
inline constexpr int KEY_END = 0x71;
inline constexpr int QUAL_SHIFT = 1;
inline constexpr int QUAL_ALT = 2;
inline constexpr int QUAL_CTRL = 4;
enum FindAction { FIND_CHANGED = 1, FIND_NEXT, FIND_PREVIOUS, FIND_CLOSE };

struct WindowMessage {
    int kind = 0;
    int code = 0;
    int qualifier = 0;
    int x = 0, y = 0;
    int gadget = -1;
    int value = 0;
};
// The task and signal mask raised whenever a message is queued.
void guiSetMessageSignal(const TaskHandle& task, uint32_t mask);
// Takes the oldest queued message; false when there is none.
bool guiGetMessage(WindowMessage& message);
// Queues a message as the window would (tests).
void guiPostMessage(const WindowMessage& message);
void guiDiscardMessages();

// ---- the find bar: a label and a one-line field, at a place the shell gives ----
// Shows it (or moves it) with the label (UTF-8) in the font (a guiFontOpen handle; 0:
// the desktop's) and gives it the keyboard with its text selected; the text stays
// from one showing to the next. Its keys queue WMSG_FIND: FIND_CHANGED as the text is
// edited, FIND_NEXT on Return, FIND_PREVIOUS on Shift+Return, FIND_CLOSE on Escape.
void guiFindBarShow(int left, int top, int width, int height, const std::string& label, int font);
void guiFindBarHide();
bool guiFindBarShown();
std::string guiFindBarText();

// ---- dialogs (modal; a break closes them as cancelled) ----
enum DialogKind { DIALOG_INFO = 0, DIALOG_ERROR = 1, DIALOG_QUESTION = 2 };
// Returns the index of the pressed button (0 = first), -1 when closed otherwise.
int guiRequester(int kind, const std::string& title, const std::string& body,
                 const std::vector<std::string>& buttons);
struct InputSpec {
    std::string title;
    std::string initialText;
    int maxChars = 0;
    std::string okLabel, cancelLabel;
    bool masked = false;  // what is typed shows as dots (a password)
};
// One-line input; text receives the answer (empty when cancelled). True on a break.
// The window is centred over the main window, 4/10 down its free height.
bool guiInput(const InputSpec& spec, std::string& text);
// The input field's width for a title, in the dialog's font with "M" width mw and
// the cancel button's width bw = 3/2 of its label: the largest of the title's width
// less 2 mw, 16 mw and 2 bw + mw, but at most the screen's width less 2 mw.
int guiInputFieldWidth(const std::string& title, const std::string& cancelLabel);
// A file requester; the chosen path, or empty.
std::string guiFileRequest(bool save, const std::string& title, const std::string& drawer,
                           const std::string& initialName);
// A font requester listing the kind's families; true when confirmed (family, height set).
bool guiFontRequest(int kind, const std::string& title, const std::string& confirm, std::string& family,
                    int& height);
// A list requester of display modes; returns the chosen entry's index, -1 when cancelled.
int guiModeRequest(const std::string& title, const std::string& confirm,
                   const std::vector<std::string>& labels, int initial);

// ---- simulated input (tests): real toolkit events sent to the open window ----
// Mouse: kind WMSG_MOUSEBUTTONS (code SELECTDOWN / SELECTUP / SELECTDOUBLE, the second
// press of a double click) or WMSG_MOUSEMOVE (with the button held when held is set), at
// client-area coordinates on the raster.
void guiSimulateMouse(int kind, int code, int x, int y, bool held = false);
// Keys to the raster (not the URL field): the KEY_ raw keys, or 8 / 32 as Backspace /
// Space; qualifier QUAL_SHIFT / QUAL_ALT / QUAL_CTRL.
void guiSimulateKey(int code, int qualifier);
// Key presses in the portable form ("Ctrl+L", "F10", "Shift+F3", "/", "Down, Return";
// commas separate presses) to the widget with the keyboard focus, shortcuts included,
// as the window system would deliver them.
void guiSimulateKeys(const std::string& keys);
// Types text (UTF-8) into the widget with the keyboard focus.
void guiSimulateTyping(const std::string& text);
// The widget with the keyboard focus: a GadgetId, GAD_COUNT for the text view,
// GAD_COUNT + 1 for the find bar, GAD_COUNT + 2 for the menu strip, -1 for none.
int guiFocusedGadget();
// The label of the menu the menu strip has open or highlighted ("" when none).
std::string guiActiveMenu();
// A wheel turn of delta eighths of a degree (120 = one notch; > 0 away from the user).
void guiSimulateWheel(int delta);
// Clicks a button gadget (0-5).
void guiSimulateButton(int id);
// Runs action once inside the next modal dialog, as soon as it shows (to read it
// and to answer it).
void guiAtNextDialog(std::function<void()> action);
// The texts the open modal dialog shows: its title, then every label and button.
std::vector<std::string> guiDialogTexts();
// Types text (ASCII) key by key into the open modal dialog's text field; returns what
// the field shows then ("" when there is none).
std::string guiDialogType(const std::string& text);
// Presses Escape (cancel) or Return (accept) in the open modal dialog.
void guiDialogKey(bool escape);
// Gives the URL field the focus, replaces its text by typing text (UTF-8) key by key
// (the field's maximum length applies) and, when enter is set, presses Return.
void guiSimulateUrlTyping(const std::string& text, bool enter);
// Triggers the menu item with this code as a pick would.
void guiSimulateMenu(int code);
// Moves the scroller's knob to top as a drag would.
void guiSimulateScrollerDrag(int top);
// Asks the window to close as its close gadget would.
void guiSimulateClose();
