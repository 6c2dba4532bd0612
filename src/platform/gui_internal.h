// What the gui_*.cpp files share: the one state record that holds every toolkit
// object, the widget classes of the main window and the message queue. Only the
// platform layer includes this.
#pragma once

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QWidget>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui.h"

class QAbstractEventDispatcher;
class QAccessibleEvent;
class QAction;
class QDialog;
class QTimer;

// The client area: paints the raster and turns input into window messages.
class GuiCanvas : public QWidget {
  public:
    explicit GuiCanvas(QWidget* parent);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    int wheelRest_ = 0;
};

// The main window: a close request becomes a message, the window stays.
class GuiWindow : public QMainWindow {
  public:
    GuiWindow() = default;

  protected:
    void closeEvent(QCloseEvent* event) override;
};

// The URL field keeps every key it is given, so none reaches the canvas; Escape gives
// the keyboard back to the page.
class GuiUrlField : public QLineEdit {
  public:
    explicit GuiUrlField(QWidget* parent) : QLineEdit(parent) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The find bar's field: Return, Shift+Return and Escape become find messages.
class GuiFindField : public QLineEdit {
  public:
    explicit GuiFindField(QWidget* parent) : QLineEdit(parent) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

struct ObtainedPen {
    uint32_t colour = 0;  // 0xRRGGBB
    int count = 0;
};

struct GuiState {
    // Application: app is null when the application object was made by someone else.
    std::unique_ptr<QApplication> app;
    bool ready = false;
    TaskHandle pumpTask;                // the task whose wait pump runs the event loop
    std::unique_ptr<QTimer> pumpTimer;  // ends a timed turn of the loop

    // Guards the fields other threads read: alive, dispatcher, statusText.
    std::mutex crossMutex;
    bool alive = false;
    QAbstractEventDispatcher* dispatcher = nullptr;
    std::string statusText;

    // Window. Gadgets and menus are children of the window, owned here and always
    // destroyed before it.
    std::unique_ptr<GuiWindow> window;
    GuiCanvas* canvas = nullptr;
    bool ownScreen = false;
    bool broken = false;   // a break closed the dialog that is open
    bool opening = false;  // size changes while the window opens report nothing
    std::array<std::unique_ptr<QWidget>, GAD_COUNT> gadgets;
    std::array<GadgetSpec, GAD_COUNT> gadgetSpecs;
    std::string urlText;
    // The find bar (a child of the canvas) and what it held when it went.
    std::unique_ptr<QWidget> findBar;
    GuiFindField* findField = nullptr;
    std::string findText;
    int scrollerTop = 0, scrollerVisible = 0, scrollerTotal = 0;
    int pointer = POINTER_NORMAL;

    // Menu strip: the entries (always current) and, while a window is open, the menus.
    std::vector<MenuEntry> menuEntries;
    std::vector<std::unique_ptr<QMenu>> menus;
    std::map<int, QAction*> menuActions;  // by menu code

    // Raster, pens, fonts.
    QImage raster;
    RasterCounts counts;
    std::array<uint32_t, 8> registers{0x999, 0x000, 0xFFF, 0x68B, 0x3A3, 0xFF9, 0x358, 0xBBB};
    std::map<int, ObtainedPen> obtained;
    bool registersForInterface = false;
    std::vector<std::optional<QFont>> fonts;

    // Window messages (any thread may queue).
    std::mutex queueMutex;
    std::deque<WindowMessage> queue;
    TaskHandle signalTask;
    uint32_t signalMask = 0;
};

GuiState& guiState();

// The gadget widget of an id as the given class (null when there is none).
template <typename Widget>
Widget* guiGadgetAs(int id) {
    if (id < 0 || id >= GAD_COUNT) return nullptr;
    return dynamic_cast<Widget*>(guiState().gadgets[static_cast<size_t>(id)].get());
}

// Queues a message and raises the message signal.
void guiQueueMessage(const WindowMessage& message);
// The interface palette from registers 0-3 (own screen) or the desktop's.
void guiApplyInterfacePalette();
// Gives the client area this size again after the menu strip changed (desktop), or
// reports the size that is left (own screen).
void guiKeepClientArea(QSize size);
// Menus of the open window from the entries (old ones go first); none without a window.
void guiBuildMenus();
void guiDestroyMenus();
// The action behind a menu code (null when there is none).
QAction* guiMenuAction(int code);
// Destroys the gadget widgets, keeping what the URL field holds.
void guiDestroyGadgets();
// The parent for a dialog: the main window when it is open.
QWidget* guiDialogParent();

// Assistive technology (gui_access.cpp). A new canvas gets its accessible interface,
// the text view among its children; the canvas tells when it took the focus.
void guiAccessAttach(GuiCanvas* canvas);
void guiAccessFocusIn();
// Tests: what would be told to assistive technology goes to the observer instead (null:
// to the toolkit again); listening, it is told as if a screen reader listened.
using GuiAccessObserver = void (*)(QAccessibleEvent* event);
void guiAccessObserve(GuiAccessObserver observer, bool listening);

// Display bytes (ISO-8859-1) as text: 0x80 a full block, 0x81-0x9F a middle dot.
QString guiDisplayText(const char* text, size_t length);

// Runs a modal dialog; false when a break cancelled it (or was pending already), and
// the break's bit stays pending for the event loop.
bool guiRunDialog(QDialog& dialog, int& result);

// The editor window of palette_window.h: its gadgets (null when there is none) and
// where the cell of a pen lies in a palette gadget.
QWidget* guiPaletteDialog();
QWidget* guiPaletteGadget(int id);
QRect guiPaletteCellRect(int id, int pen);
// A colour register changed: the open editor's palettes show it.
void guiPaletteRegistersChanged();
