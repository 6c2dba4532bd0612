// Simulated input for tests: real toolkit events, delivered as the window system
// would deliver them to the widget under the pointer or with the focus.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <QWheelEvent>

#include "platform/gui.h"
#include "platform/gui_internal.h"

#include <functional>
#include <memory>

namespace {

Qt::KeyboardModifiers modifiersOf(int qualifier) {
    Qt::KeyboardModifiers modifiers;
    if (qualifier & QUAL_SHIFT) modifiers |= Qt::ShiftModifier;
    if (qualifier & QUAL_ALT) modifiers |= Qt::AltModifier;
    return modifiers;
}

void sendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &release);
}

}  // namespace

void guiSimulateMouse(int kind, int code, int x, int y) {
    QWidget* canvas = guiState().canvas;
    if (!canvas) return;
    QPointF at(x, y);
    QPointF global = canvas->mapToGlobal(at);
    QEvent::Type type = QEvent::MouseMove;
    Qt::MouseButton button = Qt::NoButton;
    Qt::MouseButtons buttons = Qt::NoButton;
    if (kind == WMSG_MOUSEBUTTONS && code == SELECTDOWN) {
        type = QEvent::MouseButtonPress;
        button = Qt::LeftButton;
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
        default:
            return;
    }
    canvas->setFocus(Qt::OtherFocusReason);
    sendKey(canvas, key, modifiersOf(qualifier), text);
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
