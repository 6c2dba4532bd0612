// The modal dialogs. A break (guiWakeForBreak) rejects the one that is open; one
// pending in the task before or after the dialog counts as a cancel too, and its
// bit stays pending for the event loop.
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "platform/gui.h"
#include "platform/gui_internal.h"

namespace {

bool breakPending() {
    return (taskPendingSignals(taskCurrent()) & TASK_BREAK_MASK) != 0;
}

// Runs the dialog; false when a break cancelled it (or was pending already).
bool runDialog(QDialog& dialog, int& result) {
    GuiState& s = guiState();
    result = QDialog::Rejected;
    if (breakPending()) return false;
    s.broken = false;
    result = dialog.exec();
    // The keyboard goes back to the main window, also where no window manager
    // hands it back.
    if (s.window && s.window->isVisible()) s.window->activateWindow();
    bool broken = s.broken || breakPending();
    s.broken = false;
    return !broken;
}

// Escape and the close gadget close a requester without a button (-1).
class Requester : public QMessageBox {
  public:
    explicit Requester(QWidget* parent) : QMessageBox(parent) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Cancel)) return reject();
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { QDialog::closeEvent(event); }
};

double logicalDpi() {
    QScreen* screen = QGuiApplication::primaryScreen();
    double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

}  // namespace

bool guiRunDialog(QDialog& dialog, int& result) {
    return runDialog(dialog, result);
}

int guiRequester(int kind, const std::string& title, const std::string& body,
                 const std::vector<std::string>& buttons) {
    if (!guiState().ready) return -1;
    Requester box(guiDialogParent());
    box.setIcon(kind == DIALOG_ERROR      ? QMessageBox::Critical
                : kind == DIALOG_QUESTION ? QMessageBox::Question
                                          : QMessageBox::Information);
    box.setWindowTitle(QString::fromUtf8(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(body));
    std::vector<QPushButton*> pushButtons;
    for (const std::string& label : buttons) {
        QString text = QString::fromUtf8(label).replace(QLatin1Char('&'), QLatin1String("&&"));
        pushButtons.push_back(box.addButton(text, QMessageBox::ActionRole));
    }
    if (!pushButtons.empty()) box.setDefaultButton(pushButtons.front());
    int result = 0;
    if (!runDialog(box, result)) return -1;
    auto it = std::find(pushButtons.begin(), pushButtons.end(), box.clickedButton());
    return it == pushButtons.end() ? -1 : static_cast<int>(it - pushButtons.begin());
}

bool guiInput(const InputSpec& spec, std::string& text) {
    text.clear();
    if (!guiState().ready) return false;
    QDialog dialog(guiDialogParent());
    dialog.setWindowTitle(QString::fromUtf8(spec.title));
    auto* layout = new QVBoxLayout(&dialog);
    // The prompt in the window too: a window manager may cut a long title or show none.
    auto* prompt = new QLabel(QString::fromUtf8(spec.title), &dialog);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    auto* edit = new QLineEdit(&dialog);
    edit->setMaxLength(spec.maxChars > 0 ? spec.maxChars : 32767);
    edit->setText(QString::fromUtf8(spec.initialText));
    if (spec.masked) edit->setEchoMode(QLineEdit::Password);
    edit->setFixedWidth(guiInputFieldWidth(spec.title, spec.cancelLabel));
    prompt->setFixedWidth(edit->width());
    prompt->setVisible(!spec.title.empty());
    layout->addWidget(edit);
    auto* box = new QDialogButtonBox(&dialog);
    QPushButton* ok = spec.okLabel.empty()
                          ? box->addButton(QDialogButtonBox::Ok)
                          : box->addButton(QString::fromUtf8(spec.okLabel), QDialogButtonBox::AcceptRole);
    if (spec.cancelLabel.empty()) {
        box->addButton(QDialogButtonBox::Cancel);
    } else {
        box->addButton(QString::fromUtf8(spec.cancelLabel), QDialogButtonBox::RejectRole);
    }
    ok->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(box);
    dialog.adjustSize();
    if (QWidget* main = guiDialogParent()) {
        QRect frame = main->frameGeometry();
        dialog.move(frame.left() + (frame.width() - dialog.width()) / 2,
                    frame.top() + (frame.height() - dialog.height()) * 4 / 10);
    }
    int result = 0;
    if (!runDialog(dialog, result)) return true;
    if (result == QDialog::Accepted) text = edit->text().toStdString();
    return false;
}

int guiInputFieldWidth(const std::string& title, const std::string& cancelLabel) {
    if (!guiState().ready) return 1;
    QFontMetrics metrics(QApplication::font());
    int mw = metrics.horizontalAdvance(QLatin1Char('M'));
    int bw = metrics.horizontalAdvance(QString::fromUtf8(cancelLabel)) * 3 / 2;
    int w = std::max({metrics.horizontalAdvance(QString::fromUtf8(title)) - 2 * mw, 16 * mw, 2 * bw + mw});
    QScreen* screen = guiDialogParent() ? guiDialogParent()->screen() : QGuiApplication::primaryScreen();
    if (screen) w = std::min(w, screen->geometry().width() - 2 * mw);
    return std::max(1, w);
}

std::string guiFileRequest(bool save, const std::string& title, const std::string& drawer,
                           const std::string& initialName) {
    if (!guiState().ready) return {};
    QFileDialog dialog(guiDialogParent(), QString::fromUtf8(title), QFile::decodeName(drawer.c_str()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!initialName.empty()) dialog.selectFile(QFile::decodeName(initialName.c_str()));
    int result = 0;
    if (!runDialog(dialog, result) || result != QDialog::Accepted) return {};
    QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : QFile::encodeName(files.front()).toStdString();
}

bool guiFontRequest(int kind, const std::string& title, const std::string& confirm, std::string& family,
                    int& height) {
    if (!guiState().ready) return false;
    QFont initial(QString::fromUtf8(family));
    if (height > 0) initial.setPointSizeF(height * 72.0 / logicalDpi());
    QFontDialog dialog(initial, guiDialogParent());
    dialog.setWindowTitle(QString::fromUtf8(title));
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    if (kind == FONTS_FIXED) dialog.setOption(QFontDialog::MonospacedFonts);
    if (kind == FONTS_PROPORTIONAL) dialog.setOption(QFontDialog::ProportionalFonts);
    dialog.setCurrentFont(initial);
    double shownPoints = dialog.currentFont().pointSizeF();
    if (auto* box = dialog.findChild<QDialogButtonBox*>(); box && !confirm.empty()) {
        if (QPushButton* ok = box->button(QDialogButtonBox::Ok)) ok->setText(QString::fromUtf8(confirm));
    }
    int result = 0;
    if (!runDialog(dialog, result) || result != QDialog::Accepted) return false;
    QFont chosen = dialog.selectedFont();
    int pixels = chosen.pixelSize();
    // The dialog rounds sizes to whole points: an unchanged size keeps its pixels.
    if (pixels <= 0 && height > 0 && chosen.pointSizeF() == shownPoints) pixels = height;
    if (pixels <= 0) pixels = static_cast<int>(std::lround(chosen.pointSizeF() * logicalDpi() / 72.0));
    family = chosen.family().toStdString();
    height = std::max(1, pixels);
    return true;
}

int guiModeRequest(const std::string& title, const std::string& confirm,
                   const std::vector<std::string>& labels, int initial) {
    if (!guiState().ready) return -1;
    QDialog dialog(guiDialogParent());
    dialog.setWindowTitle(QString::fromUtf8(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    for (const std::string& label : labels)
        list->addItem(QString::fromUtf8(label));
    if (initial >= 0 && static_cast<size_t>(initial) < labels.size()) list->setCurrentRow(initial);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(list);
    auto* box = new QDialogButtonBox(&dialog);
    QPushButton* ok = box->addButton(confirm.empty() ? QStringLiteral("OK") : QString::fromUtf8(confirm),
                                     QDialogButtonBox::AcceptRole);
    box->addButton(QDialogButtonBox::Cancel);
    ok->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(box);
    int result = 0;
    if (!runDialog(dialog, result) || result != QDialog::Accepted) return -1;
    return list->currentRow();
}
