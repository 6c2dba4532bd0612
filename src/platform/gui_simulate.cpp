// Simulated input for tests: real toolkit events, delivered as the window system
// would deliver them to the widget under the pointer or with the focus.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimerEvent>
#include <QWheelEvent>

#include "platform/gui.h"
#include "platform/gui_internal.h"
#include "platform/palette_window.h"

#include <functional>
#include <memory>

namespace {

Qt::KeyboardModifiers modifiersOf(int qualifier) {
    Qt::KeyboardModifiers modifiers;
    if (qualifier & QUAL_SHIFT) modifiers |= Qt::ShiftModifier;
    if (qualifier & QUAL_ALT) modifiers |= Qt::AltModifier;
    if (qualifier & QUAL_CTRL) modifiers |= Qt::ControlModifier;
    return modifiers;
}

// Where keys go: the focus widget of the active window (a popup menu when one is open).
QWidget* keyTarget() {
    if (QWidget* popup = QApplication::activePopupWidget()) return popup;
    if (QWidget* focus = QApplication::focusWidget()) return focus;
    GuiState& s = guiState();
    return s.canvas;
}

void sendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &release);
}

// A left click (press and release) at a point of a widget.
void click(QWidget* target, QPoint at) {
    const QPointF local(at);
    const QPointF global = target->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

}  // namespace

void guiSimulateMouse(int kind, int code, int x, int y, bool held) {
    QWidget* canvas = guiState().canvas;
    if (!canvas) return;
    QPointF at(x, y);
    QPointF global = canvas->mapToGlobal(at);
    QEvent::Type type = QEvent::MouseMove;
    Qt::MouseButton button = Qt::NoButton;
    Qt::MouseButtons buttons = Qt::NoButton;
    if (kind == WMSG_MOUSEBUTTONS && (code == SELECTDOWN || code == SELECTDOUBLE)) {
        type = code == SELECTDOWN ? QEvent::MouseButtonPress : QEvent::MouseButtonDblClick;
        button = Qt::LeftButton;
        buttons = Qt::LeftButton;
    } else if (kind != WMSG_MOUSEBUTTONS && held) {
        buttons = Qt::LeftButton;
    } else if (kind == WMSG_MOUSEBUTTONS) {
        type = QEvent::MouseButtonRelease;
        button = Qt::LeftButton;
    }
    QMouseEvent event(type, at, global, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(canvas, &event);
}

void guiSimulateKey(int code, int qualifier) {
    QWidget* canvas = guiState().canvas;
    if (!canvas) return;
    int key = Qt::Key_unknown;
    QString text;
    switch (code) {
        case KEY_UP:
            key = Qt::Key_Up;
            break;
        case KEY_DOWN:
            key = Qt::Key_Down;
            break;
        case KEY_LEFT:
            key = Qt::Key_Left;
            break;
        case KEY_RIGHT:
            key = Qt::Key_Right;
            break;
        case 8:
            key = Qt::Key_Backspace;
            text = QStringLiteral("\b");
            break;
        case 32:
            key = Qt::Key_Space;
            text = QStringLiteral(" ");
            break;
        case KEY_PAGEUP:
            key = Qt::Key_PageUp;
            break;
        case KEY_PAGEDOWN:
            key = Qt::Key_PageDown;
            break;
        case KEY_HOME:
            key = Qt::Key_Home;
            break;
        case KEY_END:
            key = Qt::Key_End;
            break;
        case KEY_RETURN:
            key = Qt::Key_Return;
            text = QStringLiteral("\r");
            break;
        case KEY_ESCAPE:
            key = Qt::Key_Escape;
            break;
        case KEY_TAB:
            key = qualifier & QUAL_SHIFT ? Qt::Key_Backtab : Qt::Key_Tab;
            break;
        default:
            return;
    }
    canvas->setFocus(Qt::OtherFocusReason);
    // Through the widget's event handler, as Tab is seen before the key handler.
    QKeyEvent press(QEvent::KeyPress, key, modifiersOf(qualifier), text);
    QCoreApplication::sendEvent(canvas, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiersOf(qualifier), text);
    QCoreApplication::sendEvent(canvas, &release);
}

void guiSimulateKeys(const std::string& keys) {
    const QKeySequence sequence =
        QKeySequence::fromString(QString::fromStdString(keys), QKeySequence::PortableText);
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        QWidget* target = keyTarget();
        if (!target) return;
        // QTest delivers the key as the window system would: shortcuts first.
        QTest::keyClick(target, combination.key(), combination.keyboardModifiers());
        QCoreApplication::processEvents();
    }
}

void guiSimulateTyping(const std::string& text) {
    QWidget* target = keyTarget();
    if (!target) return;
    const QString typed = QString::fromUtf8(text);
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const qsizetype length = typed.at(i).isHighSurrogate() && i + 1 < typed.size() ? 2 : 1;
        sendKey(target, Qt::Key_unknown, Qt::NoModifier, typed.mid(i, length));
        i += length - 1;
    }
}

std::string guiActiveMenu() {
    GuiState& s = guiState();
    if (!s.window) return {};
    QAction* active = s.window->menuBar()->activeAction();
    return active ? active->text().toStdString() : std::string();
}

int guiFocusedGadget() {
    GuiState& s = guiState();
    if (QApplication::activePopupWidget() || (s.window && s.window->menuBar()->activeAction()))
        return GAD_COUNT + 2;
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return -1;
    if (focus == s.canvas) return GAD_COUNT;
    if (s.findBar && s.findBar->isAncestorOf(focus)) return GAD_COUNT + 1;
    for (int id = 0; id < GAD_COUNT; ++id)
        if (s.gadgets[static_cast<size_t>(id)].get() == focus) return id;
    return -1;
}

void guiSimulateWheel(int delta) {
    QWidget* canvas = guiState().canvas;
    if (!canvas) return;
    QPointF at(canvas->width() / 2, canvas->height() / 2);
    QWheelEvent event(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(canvas, &event);
}

void guiSimulateButton(int id) {
    if (id < GAD_BACK || id > GAD_STOP) return;
    if (auto* button = guiGadgetAs<QAbstractButton>(id)) button->click();
}

void guiSimulateUrlTyping(const std::string& text, bool enter) {
    auto* field = guiGadgetAs<GuiUrlField>(GAD_URL);
    if (!field) return;
    field->setFocus(Qt::OtherFocusReason);
    field->clear();
    QString typed = QString::fromUtf8(text);
    for (qsizetype i = 0; i < typed.size(); ++i) {
        qsizetype length = typed.at(i).isHighSurrogate() && i + 1 < typed.size() ? 2 : 1;
        QString character = typed.mid(i, length);
        i += length - 1;
        char16_t c = character.at(0).unicode();
        int key = Qt::Key_unknown;
        if (c >= 'a' && c <= 'z') {
            key = c - 'a' + 'A';
        } else if (c >= 0x20 && c < 0x7F) {
            key = c;
        }
        sendKey(field, key, Qt::NoModifier, character);
    }
    if (enter) sendKey(field, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
}

void guiSimulateMenu(int code) {
    if (QAction* action = guiMenuAction(code)) action->trigger();
}

void guiSimulateScrollerDrag(int top) {
    auto* bar = guiGadgetAs<QScrollBar>(GAD_SCROLLER);
    if (!bar) return;
    bar->setSliderDown(true);
    bar->setSliderPosition(top);
    bar->setSliderDown(false);
}

void guiSimulateClose() {
    if (GuiWindow* window = guiState().window.get()) window->close();
}

namespace {

// Polls for the next modal dialog and runs the action in it once.
class DialogWatcher : public QObject {
  public:
    explicit DialogWatcher(std::function<void()> action) : action_(std::move(action)) {
        timer_ = startTimer(5);
    }

  protected:
    void timerEvent(QTimerEvent*) override {
        if (!QApplication::activeModalWidget()) return;
        killTimer(timer_);
        std::function<void()> action = std::move(action_);
        deleteLater();
        if (action) action();
    }

  private:
    std::function<void()> action_;
    int timer_ = 0;
};

}  // namespace

void guiAtNextDialog(std::function<void()> action) {
    // Owned by the application; it deletes itself once it has run.
    auto watcher = std::make_unique<DialogWatcher>(std::move(action));
    watcher.release()->setParent(QCoreApplication::instance());
}

std::vector<std::string> guiDialogTexts() {
    std::vector<std::string> texts;
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) return texts;
    texts.push_back(dialog->windowTitle().toStdString());
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->isVisible() && !label->text().isEmpty()) texts.push_back(label->text().toStdString());
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        if (button->isVisible()) texts.push_back(button->text().toStdString());
    return texts;
}

std::string guiDialogType(const std::string& text) {
    QWidget* dialog = QApplication::activeModalWidget();
    QLineEdit* field = dialog ? dialog->findChild<QLineEdit*>() : nullptr;
    if (!field) return {};
    field->setFocus(Qt::OtherFocusReason);
    const QString typed = QString::fromUtf8(text);
    for (QChar c : typed)
        sendKey(field, c.isLetter() ? c.toUpper().unicode() : c.unicode(), Qt::NoModifier, QString(c));
    return field->displayText().toStdString();
}

void guiDialogKey(bool escape) {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) return;
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    sendKey(target, escape ? Qt::Key_Escape : Qt::Key_Return, Qt::NoModifier,
            escape ? QString() : QString("\r"));
}

// ---- the editor window ----

void guiSimulatePalettePick(int id, int pen) {
    QWidget* cells = guiPaletteGadget(id);
    const QRect cell = guiPaletteCellRect(id, pen);
    if (cells && cell.isValid()) click(cells, cell.center());
}

void guiSimulateSliderDrag(int id, int level) {
    auto* slider = dynamic_cast<QSlider*>(guiPaletteGadget(id));
    if (!slider) return;
    slider->setSliderDown(true);
    slider->setSliderPosition(level);
    slider->setSliderDown(false);
}

void guiSimulateCyclePick(int id, int entry) {
    auto* cycle = dynamic_cast<QComboBox*>(guiPaletteGadget(id));
    if (!cycle || entry < 0 || entry >= cycle->count()) return;
    cycle->showPopup();
    QAbstractItemView* list = cycle->view();
    const QModelIndex index = list->model()->index(entry, cycle->modelColumn(), list->rootIndex());
    list->scrollTo(index);
    click(list->viewport(), list->visualRect(index).center());
    if (list->isVisible()) cycle->hidePopup();
}

void guiSimulatePaletteButton(int id) {
    if (auto* button = dynamic_cast<QAbstractButton*>(guiPaletteGadget(id))) button->click();
}

void guiSimulatePaletteKey(int character) {
    QWidget* dialog = guiPaletteDialog();
    if (!dialog) return;
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    switch (character) {
        case 0:
            return sendKey(target, Qt::Key_Shift, Qt::ShiftModifier, QString());
        case 27:
            return sendKey(target, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
        case 13:
            return sendKey(target, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        default: {
            const QString text(QChar(static_cast<char16_t>(character)));
            const int key = character >= 'a' && character <= 'z' ? character - 'a' + 'A' : character;
            sendKey(target, character < 0x7F ? key : Qt::Key_unknown, Qt::NoModifier, text);
        }
    }
}
