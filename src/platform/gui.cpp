// The application object, the event loop, the main window, the raster, pens,
// fonts, pointers and the message queue. Gadgets and menus are in gui_gadgets.cpp,
// dialogs in gui_dialogs.cpp, simulated input in gui_simulate.cpp.
#include "platform/gui.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QWheelEvent>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/desktop.h"
#include "platform/gui_internal.h"
#include "platform/help.h"
#include "platform/paths.h"

#include <QTimer>

namespace {

// Never destroyed: a QApplication must not be torn down by static destructors after
// Qt's own globals are gone. guiCleanUp ends everything in order when it is called.
union StateHolder {
    GuiState state;
    StateHolder() : state() {}
    ~StateHolder() {}
};

uint32_t colour24(uint32_t rgb12) {
    uint32_t r = (rgb12 >> 8) & 0xF, g = (rgb12 >> 4) & 0xF, b = rgb12 & 0xF;
    return (r * 17) << 16 | (g * 17) << 8 | (b * 17);
}

QRgb argb(uint32_t colour) {
    return 0xFF000000u | colour;
}

uint32_t* rasterRow(int y) {
    return reinterpret_cast<uint32_t*>(guiState().raster.scanLine(y));
}

void damage(const QRect& area) {
    if (GuiCanvas* canvas = guiState().canvas) canvas->update(area);
}

void fillArea(QRect area, QRgb colour) {
    area = area.intersected(guiState().raster.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::fill_n(rasterRow(y) + area.left(), area.width(), colour);
}

QFont fontOf(int font) {
    const auto& fonts = guiState().fonts;
    if (font >= 1 && static_cast<size_t>(font) <= fonts.size() && fonts[static_cast<size_t>(font) - 1])
        return *fonts[static_cast<size_t>(font) - 1];
    return QApplication::font();
}

WindowMessage messageOf(int kind, int code = 0, int qualifier = 0, int x = 0, int y = 0) {
    WindowMessage message;
    message.kind = kind;
    message.code = code;
    message.qualifier = qualifier;
    message.x = x;
    message.y = y;
    return message;
}

int qualifierOf(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ShiftModifier ? QUAL_SHIFT : 0) | (modifiers & Qt::AltModifier ? QUAL_ALT : 0) |
           (modifiers & Qt::ControlModifier ? QUAL_CTRL : 0);
}

QtMessageHandler previousMessageHandler = nullptr;

// The offscreen platform warns whenever a window's size limits change; nothing is
// wrong then, and the warning would bury everything else a test prints.
// ---- reaching the display ----

// A shared library's function, looked up at run time (the toolkit loads these
// libraries itself; the program does not link them).
template <typename Function>
Function libraryFunction(void* library, const char* name) {
    return library ? reinterpret_cast<Function>(::dlsym(library, name)) : nullptr;
}

struct LibraryCloser {
    void operator()(void* library) const noexcept { ::dlclose(library); }
};
using Library = std::unique_ptr<void, LibraryCloser>;

// 1 when an X server answers at $DISPLAY, 0 when none does, -1 when it cannot be told.
int x11Reachable() {
    Library xcb(::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL));
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = libraryFunction<Connect>(xcb.get(), "xcb_connect");
    auto hasError = libraryFunction<HasError>(xcb.get(), "xcb_connection_has_error");
    auto disconnect = libraryFunction<Disconnect>(xcb.get(), "xcb_disconnect");
    if (!connect || !hasError || !disconnect) return -1;
    void* connection = connect(nullptr, nullptr);
    const bool ok = connection && hasError(connection) == 0;
    if (connection) disconnect(connection);
    return ok ? 1 : 0;
}

// The same for a Wayland compositor at $WAYLAND_DISPLAY.
int waylandReachable() {
    Library wayland(::dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL));
    using Connect = void* (*)(const char*);
    using Disconnect = void (*)(void*);
    auto connect = libraryFunction<Connect>(wayland.get(), "wl_display_connect");
    auto disconnect = libraryFunction<Disconnect>(wayland.get(), "wl_display_disconnect");
    if (!connect || !disconnect) return -1;
    void* display = connect(nullptr);
    if (display) disconnect(display);
    return display ? 1 : 0;
}

bool hasVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Whether the toolkit can reach a display at all. The toolkit itself aborts the
// process when it cannot, so the program asks first: a display named in the
// environment must answer. Offscreen and other platforms chosen by name need none.
bool displayReachable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string chosen = platform ? platform : "";
    const bool x11 = chosen.empty() || chosen.rfind("xcb", 0) == 0;
    const bool wayland = chosen.empty() || chosen.rfind("wayland", 0) == 0;
    if (!x11 && !wayland) return true;
    bool reachable = false, unknown = false;
    if (x11 && hasVariable("DISPLAY")) {
        const int answer = x11Reachable();
        reachable = reachable || answer == 1;
        unknown = unknown || answer < 0;
    }
    if (wayland && hasVariable("WAYLAND_DISPLAY")) {
        const int answer = waylandReachable();
        reachable = reachable || answer == 1;
        unknown = unknown || answer < 0;
    }
    return reachable || unknown;
}

// What to say, and that the program ends with 20, when the toolkit gives up while it
// starts anyway (a platform plugin that will not load, say): it would abort.
std::string unreachableNotice;
QtMessageHandler startupPreviousHandler = nullptr;

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", unreachableNotice.c_str());
        std::fflush(stderr);
        std::_Exit(20);
    }
    // The toolkit's own complaint about the display is the same news; one is enough.
    if (type == QtWarningMsg || type == QtCriticalMsg) return;
    if (startupPreviousHandler) startupPreviousHandler(type, context, text);
}

void filterToolkitMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support propagateSizeHints"))) return;
    if (previousMessageHandler) previousMessageHandler(type, context, text);
}

// The program icon when the icon theme has none: the installed one (under the prefix
// the program was built for, or the one its executable sits in), else the source tree's.
QString programIconFile() {
    const std::string exeDir = executableDirectory();
    for (const std::string& share :
         {std::string(FARLANDER_DATADIR) + "/..", exeDir + "/../share", exeDir + "/../data"}) {
        std::error_code error;
        std::filesystem::path file =
            std::filesystem::path(share) / "icons/hicolor/256x256/apps/farlander.png";
        if (std::filesystem::is_regular_file(file, error)) return QString::fromStdString(file.string());
    }
    return {};
}

const Qt::CursorShape cursorShapes[] = {Qt::ArrowCursor, Qt::PointingHandCursor, Qt::BusyCursor};

void destroyWindow() {
    GuiState& s = guiState();
    guiDestroyGadgets();
    guiDestroyMenus();
    s.canvas = nullptr;
    s.window.reset();
}

// Sizes the window so that its client area becomes width x height.
void fitClientArea(int width, int height) {
    GuiState& s = guiState();
    if (QLayout* layout = s.window->layout()) layout->activate();
    QSize extra = s.window->size() - s.canvas->size();
    s.window->resize(std::max(1, width) + extra.width(), std::max(1, height) + extra.height());
}

QScreen* screenFor(uint32_t monitorId) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (displayIdForScreenName(screen->name().toStdString()) == monitorId) return screen;
    }
    return QGuiApplication::primaryScreen();
}

}  // namespace

GuiState& guiState() {
    static StateHolder holder;
    return holder.state;
}

QString guiDisplayText(const char* text, size_t length) {
    QString result = QString::fromLatin1(text, static_cast<qsizetype>(length));
    for (QChar& c : result) {
        if (c.unicode() == 0x80) {
            c = QChar(0x2588);
        } else if (c.unicode() > 0x80 && c.unicode() < 0xA0) {
            c = QChar(0x00B7);
        }
    }
    return result;
}

QWidget* guiDialogParent() {
    GuiState& s = guiState();
    return s.window && s.window->isVisible() ? s.window.get() : nullptr;
}

// ---- application ----

bool guiInit(const std::string& notice) {
    GuiState& s = guiState();
    if (s.ready) return true;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (QCoreApplication::instance()) return false;  // a non-GUI application exists
        if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            return false;
        if (!displayReachable()) return false;
        static int argc = 1;
        static char name[] = "farlander";
        static char* argv[] = {name, nullptr};
        unreachableNotice = notice.empty() ? std::string("Could not open: display") : notice;
        startupPreviousHandler = qInstallMessageHandler(startupMessages);
        s.app = std::make_unique<QApplication>(argc, argv);
        qInstallMessageHandler(startupPreviousHandler);
        std::setlocale(LC_NUMERIC, "C");
        if (QGuiApplication::platformName() == QLatin1String("offscreen") && !previousMessageHandler)
            previousMessageHandler = qInstallMessageHandler(filterToolkitMessages);
    }
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("farlander"), QIcon(programIconFile())));
    QApplication::setQuitOnLastWindowClosed(false);
    s.ready = true;
    std::lock_guard lock(s.crossMutex);
    s.alive = true;
    s.dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    return true;
}

void guiCleanUp() {
    GuiState& s = guiState();
    if (!s.ready) return;
    helpClose();  // the help window goes before the application, like every window
    destroyWindow();
    {
        std::lock_guard lock(s.crossMutex);
        s.alive = false;
        s.dispatcher = nullptr;
    }
    if (s.pumpTask && s.pumpTask == taskCurrent()) taskSetWaitPump(WaitPump{});
    s.pumpTask.reset();
    s.pumpTimer.reset();
    s.fonts.clear();
    s.ready = false;
    s.app.reset();
}

bool guiReady() {
    return guiState().ready;
}

void guiProcessEvents() {
    if (!guiState().ready) return;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void guiInstallWaitPump() {
    GuiState& s = guiState();
    if (!s.ready) return;
    s.pumpTask = taskCurrent();
    WaitPump pump;
    pump.runOnce = [] {
        if (!guiState().ready) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    // A timed wait: a precise one-shot timer makes the blocking turn return in time
    // (a coarse one may fire early; the caller checks its deadline again anyway).
    pump.runFor = [](int timeoutMs) {
        GuiState& state = guiState();
        if (!state.ready) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 10)));
            return;
        }
        if (!state.pumpTimer) {
            state.pumpTimer = std::make_unique<QTimer>();
            state.pumpTimer->setSingleShot(true);
            state.pumpTimer->setTimerType(Qt::PreciseTimer);
        }
        state.pumpTimer->start(timeoutMs);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.pumpTimer->stop();
    };
    pump.wake = [] {
        GuiState& state = guiState();
        std::lock_guard lock(state.crossMutex);
        if (state.alive && state.dispatcher) state.dispatcher->wakeUp();
    };
    taskSetWaitPump(std::move(pump));
}

void guiWakeForBreak() {
    GuiState& s = guiState();
    std::lock_guard lock(s.crossMutex);
    if (!s.alive) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            guiState().broken = true;
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            } else if (modal) {
                modal->close();
            }
        },
        Qt::QueuedConnection);
}

// ---- monitors ----

std::vector<MonitorInfo> guiMonitors() {
    std::vector<MonitorInfo> monitors;
    if (!guiState().ready) return monitors;
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        MonitorInfo info;
        info.name = screen->name().toStdString();
        info.id = displayIdForScreenName(info.name);
        info.width = screen->geometry().width();
        info.height = screen->geometry().height();
        info.depth = screen->depth();
        info.primary = screen == primary;
        monitors.push_back(std::move(info));
    }
    return monitors;
}

// ---- fonts ----

int guiFontOpen(const char* family, int pixelSize) {
    GuiState& s = guiState();
    if (!s.ready || !family) return 0;
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(std::max(1, pixelSize));
    for (size_t i = 0; i < s.fonts.size(); ++i) {
        if (!s.fonts[i]) {
            s.fonts[i] = font;
            return static_cast<int>(i) + 1;
        }
    }
    s.fonts.emplace_back(font);
    return static_cast<int>(s.fonts.size());
}

void guiFontClose(int font) {
    auto& fonts = guiState().fonts;
    if (font >= 1 && static_cast<size_t>(font) <= fonts.size()) fonts[static_cast<size_t>(font) - 1].reset();
}

int guiFontHeight(int font) {
    if (!guiState().ready) return 1;
    return std::max(1, QFontMetrics(fontOf(font)).height());
}

int guiTextUtf8Length(int font, const char* text, size_t length) {
    if (!guiState().ready || !text || length == 0) return 0;
    return QFontMetrics(fontOf(font))
        .horizontalAdvance(QString::fromUtf8(text, static_cast<qsizetype>(length)));
}

int guiTextLength(int font, const char* text, size_t length) {
    if (!guiState().ready || !text || length == 0) return 0;
    return QFontMetrics(fontOf(font)).horizontalAdvance(guiDisplayText(text, length));
}

// ---- pens ----

void guiSetRegister(int pen, uint32_t rgb12) {
    GuiState& s = guiState();
    if (pen < 0 || pen > 7) return;
    uint32_t before = colour24(s.registers[static_cast<size_t>(pen)]);
    s.registers[static_cast<size_t>(pen)] = rgb12 & 0xFFF;
    uint32_t after = colour24(rgb12);
    if (before == after) return;
    QRgb from = argb(before), to = argb(after);
    for (int y = 0; y < s.raster.height(); ++y) {
        uint32_t* row = rasterRow(y);
        std::replace(row, row + s.raster.width(), from, to);
    }
    damage(s.raster.rect());
    if (s.registersForInterface) guiApplyInterfacePalette();
    guiPaletteRegistersChanged();
}

uint32_t guiRegister(int pen) {
    return pen >= 0 && pen < 8 ? guiState().registers[static_cast<size_t>(pen)] : 0;
}

int guiObtainPen(uint32_t rgb12) {
    GuiState& s = guiState();
    uint32_t colour = colour24(rgb12);
    for (auto& [pen, entry] : s.obtained) {
        if (entry.colour == colour) {
            ++entry.count;
            return pen;
        }
    }
    int pen = 8;
    while (s.obtained.count(pen))
        ++pen;
    s.obtained[pen] = ObtainedPen{colour, 1};
    return pen;
}

void guiReleasePen(int pen) {
    GuiState& s = guiState();
    auto it = s.obtained.find(pen);
    if (it == s.obtained.end()) return;
    if (--it->second.count <= 0) s.obtained.erase(it);
}

int guiObtainedPenCount() {
    int total = 0;
    for (const auto& [pen, entry] : guiState().obtained)
        total += entry.count;
    return total;
}

uint32_t guiPenColour(int pen) {
    GuiState& s = guiState();
    if (pen == PEN_WINDOW_BACKGROUND) {
        if (s.registersForInterface) return colour24(s.registers[0]);
        QWidget* widget = s.window ? static_cast<QWidget*>(s.window.get()) : nullptr;
        QPalette palette = widget ? widget->palette() : QApplication::palette();
        return palette.color(QPalette::Window).rgb() & 0xFFFFFFu;
    }
    if (pen >= 0 && pen < 8) return colour24(s.registers[static_cast<size_t>(pen)]);
    auto it = s.obtained.find(pen);
    return it == s.obtained.end() ? 0 : it->second.colour;
}

void guiUseRegistersForInterface(bool on) {
    guiState().registersForInterface = on;
    guiApplyInterfacePalette();
}

void guiApplyInterfacePalette() {
    GuiState& s = guiState();
    if (!s.window) return;
    QPalette palette;  // empty: the desktop's look
    if (s.registersForInterface) {
        palette = QApplication::palette();
        auto colour = [&](int pen) { return QColor::fromRgb(argb(guiPenColour(pen))); };
        palette.setColor(QPalette::Window, colour(0));
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, colour(1));
        palette.setColor(QPalette::Light, colour(2));
        palette.setColor(QPalette::Button, colour(2));
        palette.setColor(QPalette::Highlight, colour(3));
        // Disabled controls: their text halfway between background and text.
        QColor back = colour(0), front = colour(1);
        QColor dim((back.red() + front.red()) / 2, (back.green() + front.green()) / 2,
                   (back.blue() + front.blue()) / 2);
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Disabled, role, dim);
    }
    s.window->setPalette(palette);
    for (const auto& menu : s.menus)
        menu->setPalette(palette);
}

// ---- the main window ----

GuiCanvas::GuiCanvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void GuiCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QImage& raster = guiState().raster;
    QRect area = event->rect();
    painter.fillRect(area, Qt::black);
    QRect shown = area.intersected(raster.rect());
    if (!shown.isEmpty()) painter.drawImage(shown.topLeft(), raster, shown);
}

void GuiCanvas::resizeEvent(QResizeEvent* event) {
    GuiState& s = guiState();
    if (s.opening || event->size() == s.raster.size()) return;
    guiRasterResize(event->size().width(), event->size().height());
    guiQueueMessage(messageOf(WMSG_NEWSIZE));
}

void GuiCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    QPoint at = event->position().toPoint();
    guiQueueMessage(
        messageOf(WMSG_MOUSEBUTTONS, SELECTDOWN, qualifierOf(event->modifiers()), at.x(), at.y()));
}

void GuiCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    QPoint at = event->position().toPoint();
    guiQueueMessage(messageOf(WMSG_MOUSEBUTTONS, SELECTUP, qualifierOf(event->modifiers()), at.x(), at.y()));
}

void GuiCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    QPoint at = event->position().toPoint();
    guiQueueMessage(
        messageOf(WMSG_MOUSEBUTTONS, SELECTDOUBLE, qualifierOf(event->modifiers()), at.x(), at.y()));
}

void GuiCanvas::mouseMoveEvent(QMouseEvent* event) {
    QPoint at = event->position().toPoint();
    guiQueueMessage(messageOf(WMSG_MOUSEMOVE, 0, qualifierOf(event->modifiers()), at.x(), at.y()));
}

void GuiCanvas::wheelEvent(QWheelEvent* event) {
    int delta = event->angleDelta().y();
    if (delta == 0) return event->ignore();
    if ((delta > 0) != (wheelRest_ > 0)) wheelRest_ = 0;  // a turn the other way starts afresh
    wheelRest_ += delta;
    for (; wheelRest_ >= 120; wheelRest_ -= 120) {
        WindowMessage message = messageOf(WMSG_WHEEL);
        message.value = -1;
        guiQueueMessage(message);
    }
    for (; wheelRest_ <= -120; wheelRest_ += 120) {
        WindowMessage message = messageOf(WMSG_WHEEL);
        message.value = 1;
        guiQueueMessage(message);
    }
}

bool GuiCanvas::event(QEvent* event) {
    // Tab and Shift+Tab on the page move its link cursor; from the URL field and the
    // find bar they still move the focus.
    if (event->type() == QEvent::KeyPress && hasFocus()) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            guiQueueMessage(messageOf(WMSG_RAWKEY, KEY_TAB, back ? QUAL_SHIFT : 0));
            return true;
        }
    }
    return QWidget::event(event);
}

void GuiCanvas::keyPressEvent(QKeyEvent* event) {
    int qualifier = qualifierOf(event->modifiers());
    int raw = 0;
    switch (event->key()) {
        case Qt::Key_Up:
            raw = KEY_UP;
            break;
        case Qt::Key_Down:
            raw = KEY_DOWN;
            break;
        case Qt::Key_Left:
            raw = KEY_LEFT;
            break;
        case Qt::Key_Right:
            raw = KEY_RIGHT;
            break;
        case Qt::Key_PageUp:
            raw = KEY_PAGEUP;
            break;
        case Qt::Key_PageDown:
            raw = KEY_PAGEDOWN;
            break;
        case Qt::Key_Home:
            raw = KEY_HOME;
            break;
        case Qt::Key_End:
            raw = KEY_END;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            raw = KEY_RETURN;
            break;
        case Qt::Key_Escape:
            raw = KEY_ESCAPE;
            break;
        case Qt::Key_Backspace:
            return guiQueueMessage(messageOf(WMSG_VANILLAKEY, 8, qualifier));
        case Qt::Key_Space:
            return guiQueueMessage(messageOf(WMSG_VANILLAKEY, 32, qualifier));
        case Qt::Key_Slash:
            if (qualifier & (QUAL_CTRL | QUAL_ALT)) return event->ignore();
            return guiQueueMessage(messageOf(WMSG_VANILLAKEY, '/', qualifier));
        default:
            return event->ignore();
    }
    guiQueueMessage(messageOf(WMSG_RAWKEY, raw, qualifier));
}

void GuiCanvas::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    guiQueueMessage(messageOf(WMSG_FOCUS, 1));
    guiAccessFocusIn();
}

void GuiCanvas::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    guiQueueMessage(messageOf(WMSG_FOCUS, 0));
}

void GuiWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    guiQueueMessage(messageOf(WMSG_CLOSEWINDOW));
}

void GuiUrlField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (QWidget* canvas = guiState().canvas) canvas->setFocus(Qt::OtherFocusReason);
        WindowMessage message = messageOf(WMSG_RAWKEY, KEY_ESCAPE);
        message.gadget = GAD_URL;
        guiQueueMessage(message);
        return event->accept();
    }
    QLineEdit::keyPressEvent(event);
    event->accept();
}

void GuiFindField::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    int action = 0;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
        action = event->modifiers() & Qt::ShiftModifier ? FIND_PREVIOUS : FIND_NEXT;
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) action = FIND_CLOSE;
    if (action == 0) {
        QLineEdit::keyPressEvent(event);
        return event->accept();
    }
    guiQueueMessage(messageOf(WMSG_FIND, action));
    event->accept();
}

bool guiOpenWindow(const WindowSpec& spec) {
    GuiState& s = guiState();
    if (!s.ready) return false;
    destroyWindow();
    s.opening = true;
    s.ownScreen = spec.ownScreen;
    s.window = std::make_unique<GuiWindow>();
    GuiWindow* window = s.window.get();
    window->setWindowTitle(QString::fromUtf8(spec.title));
    s.canvas = new GuiCanvas(window);
    guiAccessAttach(s.canvas);
    s.canvas->setCursor(cursorShapes[s.pointer]);
    window->setCentralWidget(s.canvas);
    window->menuBar();
    guiBuildMenus();
    // Keys that reach the address and the menus from anywhere in the window.
    for (const auto& key : {QKeySequence(Qt::CTRL | Qt::Key_L), QKeySequence(Qt::Key_F6)}) {
        auto* shortcut = new QShortcut(key, window);
        QObject::connect(shortcut, &QShortcut::activated, shortcut, [] { guiUrlFieldActivate(); });
    }
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(menuKey, &QShortcut::activated, menuKey, [window] {
        QMenuBar* bar = window->menuBar();
        const QList<QAction*> titles = bar->actions();
        if (!titles.isEmpty()) bar->setActiveAction(titles.first());
    });
    guiApplyInterfacePalette();
    if (spec.ownScreen) {
        QScreen* screen = screenFor(spec.monitorId);
        window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        if (screen) {
            window->setScreen(screen);
            window->setGeometry(screen->geometry());
        }
        window->showFullScreen();
    } else {
        s.canvas->setMinimumSize(std::max(0, spec.minWidth), std::max(0, spec.minHeight));
        window->move(spec.left, spec.top);
        fitClientArea(spec.width, spec.height);
        window->show();
    }
    QCoreApplication::processEvents();
    if (!spec.ownScreen && s.canvas->size() != QSize(spec.width, spec.height)) {
        fitClientArea(spec.width, spec.height);
        QCoreApplication::processEvents();
    }
    s.opening = false;
    guiRasterResize(s.canvas->width(), s.canvas->height());
    s.canvas->setFocus();
    window->activateWindow();
    if (window->isVisible()) return true;
    destroyWindow();
    return false;
}

void guiKeepClientArea(QSize size) {
    GuiState& s = guiState();
    if (!s.window || !s.canvas || !s.window->isVisible()) return;
    bool wasOpening = s.opening;
    s.opening = true;
    if (s.ownScreen) {
        if (QLayout* layout = s.window->layout()) layout->activate();
    } else {
        fitClientArea(size.width(), size.height());
    }
    s.opening = wasOpening;
    if (!s.opening && s.canvas->size() != s.raster.size()) {
        guiRasterResize(s.canvas->width(), s.canvas->height());
        guiQueueMessage(messageOf(WMSG_NEWSIZE));
    }
}

void guiCloseWindow() {
    destroyWindow();
}

bool guiWindowOpen() {
    return guiState().window != nullptr;
}

int guiWindowWidth() {
    return guiState().raster.width();
}

int guiWindowHeight() {
    return guiState().raster.height();
}

void guiResizeWindow(int width, int height) {
    GuiState& s = guiState();
    if (!s.window || s.ownScreen) return;
    fitClientArea(width, height);
}

bool guiWindowGeometry(int& left, int& top, int& width, int& height) {
    GuiState& s = guiState();
    if (!s.window || !s.canvas) return false;
    const QPoint position = s.window->pos();
    left = position.x();
    top = position.y();
    width = s.canvas->width();
    height = s.canvas->height();
    return true;
}

// ---- the raster ----

void guiRasterResize(int width, int height) {
    GuiState& s = guiState();
    width = std::max(0, width);
    height = std::max(0, height);
    if (s.raster.width() == width && s.raster.height() == height && !s.raster.isNull()) return;
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(Qt::black);
    int keepWidth = std::min(width, s.raster.width()), keepHeight = std::min(height, s.raster.height());
    for (int y = 0; y < keepHeight; ++y) {
        const uint32_t* from = rasterRow(y);
        std::copy_n(from, keepWidth, reinterpret_cast<uint32_t*>(next.scanLine(y)));
    }
    s.raster = std::move(next);
    damage(s.raster.rect());
}

int guiRasterWidth() {
    return guiState().raster.width();
}

int guiRasterHeight() {
    return guiState().raster.height();
}

void guiFill(int pen, int x0, int y0, int x1, int y1) {
    ++guiState().counts.fills;
    QRect area = QRect(QPoint(x0, y0), QPoint(x1, y1)).intersected(guiState().raster.rect());
    if (area.isEmpty()) return;
    fillArea(area, argb(guiPenColour(pen)));
    damage(area);
}

void guiScroll(int dy, int x0, int y0, int x1, int y1, int backgroundPen) {
    GuiState& s = guiState();
    ++s.counts.scrolls;
    QRect area = QRect(QPoint(x0, y0), QPoint(x1, y1)).intersected(s.raster.rect());
    if (area.isEmpty() || dy == 0) return;
    QRgb background = argb(guiPenColour(backgroundPen));
    int distance = std::abs(dy);
    if (distance >= area.height()) {
        fillArea(area, background);
    } else if (dy > 0) {
        for (int y = area.top(); y + dy <= area.bottom(); ++y)
            std::copy_n(rasterRow(y + dy) + area.left(), area.width(), rasterRow(y) + area.left());
        fillArea(QRect(area.left(), area.bottom() - dy + 1, area.width(), dy), background);
    } else {
        for (int y = area.bottom(); y - distance >= area.top(); --y)
            std::copy_n(rasterRow(y - distance) + area.left(), area.width(), rasterRow(y) + area.left());
        fillArea(QRect(area.left(), area.top(), area.width(), distance), background);
    }
    damage(area);
}

namespace {

void drawTextLine(int x, int y, const QString& line, int font, int pen) {
    GuiState& s = guiState();
    QFont face = fontOf(font);
    QFontMetrics metrics(face);
    {
        QPainter painter(&s.raster);
        painter.setFont(face);
        painter.setPen(QColor::fromRgb(argb(guiPenColour(pen))));
        painter.drawText(x, y + metrics.ascent(), line);
    }
    damage(QRect(x, y, metrics.horizontalAdvance(line) + metrics.maxWidth(), metrics.height()));
}

}  // namespace

void guiText(int x, int y, const char* text, size_t length, int font, int pen) {
    GuiState& s = guiState();
    ++s.counts.texts;
    if (!s.ready || !text || length == 0 || s.raster.isNull()) return;
    drawTextLine(x, y, guiDisplayText(text, length), font, pen);
}

void guiTextUtf8(int x, int y, const char* text, size_t length, int font, int pen) {
    GuiState& s = guiState();
    ++s.counts.texts;
    if (!s.ready || !text || length == 0 || s.raster.isNull()) return;
    drawTextLine(x, y, QString::fromUtf8(text, static_cast<qsizetype>(length)), font, pen);
}

uint32_t guiPixel(int x, int y) {
    const QImage& raster = guiState().raster;
    if (!raster.valid(x, y)) return 0;
    return raster.pixel(x, y) & 0xFFFFFFu;
}

bool guiGrab(const char* path) {
    GuiState& s = guiState();
    if (!path || !s.ready) return false;
    QString file = QString::fromUtf8(path);
    if (s.window) return s.window->grab().save(file, "PNG");
    return !s.raster.isNull() && s.raster.save(file, "PNG");
}

RasterCounts guiRasterCounts() {
    return guiState().counts;
}

void guiResetRasterCounts() {
    guiState().counts = RasterCounts{};
}

// ---- pointers ----

void guiSetPointer(int shape) {
    GuiState& s = guiState();
    if (shape < POINTER_NORMAL || shape > POINTER_BUSY) shape = POINTER_NORMAL;
    s.pointer = shape;
    if (s.canvas) s.canvas->setCursor(cursorShapes[shape]);
}

int guiPointer() {
    return guiState().pointer;
}

// ---- window messages ----

void guiQueueMessage(const WindowMessage& message) {
    GuiState& s = guiState();
    TaskHandle task;
    uint32_t mask = 0;
    {
        std::lock_guard lock(s.queueMutex);
        // Moves pile up while the shell is busy: only the latest position matters.
        // A size change waiting already reads the size when it is handled: one is enough.
        bool sizePending = message.kind == WMSG_NEWSIZE &&
                           std::any_of(s.queue.begin(), s.queue.end(),
                                       [](const WindowMessage& m) { return m.kind == WMSG_NEWSIZE; });
        if (message.kind == WMSG_MOUSEMOVE && !s.queue.empty() && s.queue.back().kind == WMSG_MOUSEMOVE &&
            s.queue.back().gadget == message.gadget) {
            s.queue.back() = message;
        } else if (!sizePending) {
            s.queue.push_back(message);
        }
        task = s.signalTask;
        mask = s.signalMask;
    }
    if (task && mask) taskSendSignal(task, mask);
}

void guiSetMessageSignal(const TaskHandle& task, uint32_t mask) {
    GuiState& s = guiState();
    std::lock_guard lock(s.queueMutex);
    s.signalTask = task;
    s.signalMask = mask;
}

bool guiGetMessage(WindowMessage& message) {
    GuiState& s = guiState();
    std::lock_guard lock(s.queueMutex);
    if (s.queue.empty()) return false;
    message = s.queue.front();
    s.queue.pop_front();
    return true;
}

void guiPostMessage(const WindowMessage& message) {
    guiQueueMessage(message);
}

void guiDiscardMessages() {
    GuiState& s = guiState();
    std::lock_guard lock(s.queueMutex);
    s.queue.clear();
}
