#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

namespace {

// The clipboard object when the calling thread may use it, else null.
QClipboard* usableClipboard() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread()) return nullptr;
    return QGuiApplication::clipboard();
}

ClipStatus readMode(QClipboard::Mode mode, std::string& utf8) {
    utf8.clear();
    QClipboard* clipboard = usableClipboard();
    if (!clipboard) return CLIP_UNAVAILABLE;
    if (mode == QClipboard::Selection && !clipboard->supportsSelection()) return CLIP_UNAVAILABLE;
    QString text = clipboard->text(mode);
    if (text.isEmpty()) return CLIP_EMPTY;
    utf8 = text.toStdString();
    return CLIP_OK;
}

}  // namespace

ClipStatus clipboardWriteText(const std::string& utf8, bool alsoSelection) {
    QClipboard* clipboard = usableClipboard();
    if (!clipboard) return CLIP_UNAVAILABLE;
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    if (text.isEmpty()) {
        clipboard->clear(QClipboard::Clipboard);
    } else {
        clipboard->setText(text, QClipboard::Clipboard);
    }
    if (alsoSelection && clipboard->supportsSelection()) {
        if (text.isEmpty()) {
            clipboard->clear(QClipboard::Selection);
        } else {
            clipboard->setText(text, QClipboard::Selection);
        }
    }
    return CLIP_OK;
}

ClipStatus clipboardWriteSelection(const std::string& utf8) {
    QClipboard* clipboard = usableClipboard();
    if (!clipboard || !clipboard->supportsSelection()) return CLIP_UNAVAILABLE;
    clipboard->setText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())),
                       QClipboard::Selection);
    return CLIP_OK;
}

ClipStatus clipboardReadText(std::string& utf8) {
    return readMode(QClipboard::Clipboard, utf8);
}

ClipStatus clipboardReadSelection(std::string& utf8) {
    return readMode(QClipboard::Selection, utf8);
}

bool clipboardHasSelection() {
    QClipboard* clipboard = usableClipboard();
    return clipboard && clipboard->supportsSelection();
}
