// The help viewer window. The Markdown document is read and turned into a rich-text
// document once, when the viewer opens: every heading gets an anchor named after its
// title (lower case, spaces as "-", other punctuation dropped; repeated names get
// "-1", "-2" ...), which the contents list and "#..." links in the document use. The
// browser then shows that document under the file's URL, so its own history covers
// every jump within it.
#include "platform/help.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QWindow>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/gui_internal.h"
#include "platform/paths.h"

#ifndef FARLANDER_DATADIR
#define FARLANDER_DATADIR "/usr/local/share/farlander"
#endif

namespace {

HelpLabels& helpLabels() {
    static HelpLabels labels;
    return labels;
}

QString label(const std::string& text) {
    return QString::fromUtf8(text);
}

// The document as the browser shows it.
struct HelpDocument {
    QUrl url;  // the file's URL, without fragment
    QString html;
    std::vector<HelpSection> sections;
};

// Serves the prepared document for its own URL, so that history steps and jumps
// never read the file again, and keeps the document's type whatever its name says.
class HelpBrowser : public QTextBrowser {
  public:
    HelpBrowser(QWidget* parent, const HelpDocument& document) : QTextBrowser(parent), document_(document) {}

    QVariant loadResource(int type, const QUrl& name) override {
        if (name.adjusted(QUrl::RemoveFragment) == document_.url) return document_.html;
        return QTextBrowser::loadResource(type, name);
    }

  protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override {
        if (name.adjusted(QUrl::RemoveFragment) == document_.url) type = QTextDocument::HtmlResource;
        QTextBrowser::doSetSource(name, type);
    }

  private:
    const HelpDocument& document_;
};

class HelpWindow : public QMainWindow {
  public:
    explicit HelpWindow(HelpDocument document);

    HelpBrowser* browser() const { return browser_; }
    QListWidget* contents() const { return contents_; }
    const HelpDocument& document() const { return document_; }
    bool closedByUser() const { return closedByUser_; }
    void showMain();
    void jumpTo(const std::string& anchor);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void openLink(const QUrl& url);

    HelpDocument document_;
    HelpBrowser* browser_ = nullptr;
    QListWidget* contents_ = nullptr;
    bool closedByUser_ = false;
};

struct HelpState {
    std::unique_ptr<HelpWindow> window;
    std::mutex queueMutex;
    std::deque<HelpEvent> queue;
    TaskHandle task;
    uint32_t mask = 0;
};

// Never destroyed, like the GUI's own state: the window must go before the
// application does (guiCleanUp sees to it), never in a static destructor after it.
union HelpStateHolder {
    HelpState state;
    HelpStateHolder() : state() {}
    ~HelpStateHolder() {}
};

HelpState& helpState() {
    static HelpStateHolder holder;
    return holder.state;
}

void queueEvent(int kind, int code = 0, std::string text = {}) {
    HelpState& s = helpState();
    TaskHandle task;
    uint32_t mask = 0;
    {
        std::lock_guard lock(s.queueMutex);
        s.queue.push_back(HelpEvent{kind, code, std::move(text)});
        task = s.task;
        mask = s.mask;
    }
    if (task && mask) taskSendSignal(task, mask);
}

// A heading's anchor name: letters and digits in lower case, spaces and "-" as "-",
// "_" kept, everything else dropped.
QString anchorFor(const QString& title) {
    QString name;
    for (QChar c : title.trimmed()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')) {
            name += c.toLower();
        } else if (c.isSpace()) {
            name += QLatin1Char('-');
        }
    }
    return name;
}

// The rich-text form of the Markdown text, with its headings' anchors.
void prepareDocument(const QString& markdown, const QFont& font, HelpDocument& document) {
    QTextDocument rich;
    rich.setDefaultFont(font);
    rich.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    QSet<QString> used;
    for (QTextBlock block = rich.begin(); block.isValid(); block = block.next()) {
        int level = block.blockFormat().headingLevel();
        if (level <= 0 || block.text().trimmed().isEmpty()) continue;
        QString base = anchorFor(block.text());
        QString anchor = base;
        for (int n = 1; used.contains(anchor); ++n)
            anchor = base + QLatin1Char('-') + QString::number(n);
        used.insert(anchor);
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setAnchor(true);
        format.setAnchorNames({anchor});
        cursor.mergeCharFormat(format);
        document.sections.push_back(
            HelpSection{level, block.text().trimmed().toStdString(), anchor.toStdString()});
    }
    document.html = rich.toHtml();
}

QScreen* screenFor(const HelpPlacement& placement) {
    if (placement.ownScreen) {
        for (QScreen* screen : QGuiApplication::screens()) {
            if (displayIdForScreenName(screen->name().toStdString()) == placement.monitorId) return screen;
        }
    }
    return QGuiApplication::primaryScreen();
}

HelpWindow::HelpWindow(HelpDocument document) : document_(std::move(document)) {
    setWindowTitle(label(helpLabels().title));
    auto* splitter = new QSplitter(this);
    contents_ = new QListWidget(splitter);
    browser_ = new HelpBrowser(splitter, document_);
    browser_->setOpenLinks(false);
    splitter->addWidget(contents_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    for (const HelpSection& section : document_.sections) {
        QString indent(2 * std::max(0, section.level - 1), QLatin1Char(' '));
        auto* item = new QListWidgetItem(indent + QString::fromStdString(section.title), contents_);
        item->setData(Qt::UserRole, QString::fromStdString(section.anchor));
    }
    contents_->setMaximumWidth(std::max(160, contents_->sizeHintForColumn(0) + 24));
    QObject::connect(contents_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        jumpTo(item->data(Qt::UserRole).toString().toStdString());
    });
    QObject::connect(contents_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        jumpTo(item->data(Qt::UserRole).toString().toStdString());
    });

    QToolBar* toolbar = addToolBar(label(helpLabels().navigation));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), label(helpLabels().back));
    back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    back->setEnabled(false);
    QObject::connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
    QObject::connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QAction* forward = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), label(helpLabels().forward));
    forward->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    forward->setEnabled(false);
    QObject::connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
    QObject::connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    QAction* home = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), label(helpLabels().mainPage));
    home->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Home), QKeySequence(Qt::ALT | Qt::Key_Up)});
    QObject::connect(home, &QAction::triggered, this, [this] { showMain(); });
    auto* closing = new QAction(this);
    closing->setShortcuts({QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)});
    QObject::connect(closing, &QAction::triggered, this, &QWidget::close);
    addAction(closing);

    QObject::connect(browser_, &QTextBrowser::anchorClicked, this,
                     [this](const QUrl& url) { openLink(url); });
    browser_->setSource(document_.url, QTextDocument::HtmlResource);
}

void HelpWindow::showMain() {
    browser_->setSource(document_.url, QTextDocument::HtmlResource);
    browser_->verticalScrollBar()->setValue(0);
}

void HelpWindow::jumpTo(const std::string& anchor) {
    QUrl target = document_.url;
    target.setFragment(QString::fromStdString(anchor));
    browser_->setSource(target, QTextDocument::HtmlResource);
}

void HelpWindow::openLink(const QUrl& url) {
    if (url.adjusted(QUrl::RemoveFragment) == document_.url) {
        browser_->setSource(url, QTextDocument::HtmlResource);
    } else if (!url.isRelative() && !url.isLocalFile() && url.scheme() != QLatin1String("qrc")) {
        openDesktopUrl(url.toString().toStdString());
    }
    // Other files: the manual is one document; they are not shown.
}

void HelpWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (closedByUser_) return;
    closedByUser_ = true;
    queueEvent(HELP_EVENT_SHUTDOWN);
}

HelpWindow* openWindow() {
    HelpWindow* window = helpState().window.get();
    return window && window->isVisible() && !window->closedByUser() ? window : nullptr;
}

// Reads the document; on failure the code and text of the event to report.
bool readDocument(const std::string& path, QString& markdown, int& code, std::string& text) {
    long long size = path.empty() ? -1 : fileSize(path);
    std::string bytes;
    if (size > HELP_DOCUMENT_LIMIT) {
        code = HELP_ERROR_TOO_LARGE;
        text =
            path + ": the help document is larger than " + std::to_string(HELP_DOCUMENT_LIMIT >> 20) + " MiB";
        return false;
    }
    if (size < 0 || !readWholeFile(path, bytes, static_cast<size_t>(HELP_DOCUMENT_LIMIT))) {
        code = HELP_ERROR_NOT_FOUND;
        text = path.empty() ? std::string("no help document was found")
                            : path + ": the help document is missing or cannot be read";
        return false;
    }
    markdown = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return true;
}

void placeWindow(HelpWindow& window, const HelpPlacement& placement) {
    QScreen* screen = screenFor(placement);
    if (!screen) return;
    QRect free = screen->availableGeometry();
    int width = std::min(free.width(), std::max(480, free.width() * 3 / 5));
    int height = std::min(free.height(), std::max(360, free.height() * 4 / 5));
    window.setScreen(screen);
    window.resize(width, height);
    window.move(free.left() + (free.width() - width) / 2, free.top() + (free.height() - height) / 2);
    // Over a full-screen window of the program's own, the viewer stays in front of it.
    GuiWindow* mainWindow = guiState().window.get();
    if (placement.ownScreen && mainWindow && mainWindow->windowHandle()) {
        window.winId();
        if (QWindow* handle = window.windowHandle()) handle->setTransientParent(mainWindow->windowHandle());
    }
}

}  // namespace

bool helpOpen(const std::string& path, const HelpPlacement& placement, const TaskHandle& task,
              uint32_t mask) {
    if (!guiReady()) return false;
    helpClose();
    HelpState& s = helpState();
    {
        std::lock_guard lock(s.queueMutex);
        s.task = task;
        s.mask = mask;
    }
    QString markdown;
    int code = 0;
    std::string text;
    if (!readDocument(path, markdown, code, text)) {
        queueEvent(HELP_EVENT_FAILED, code, std::move(text));
        return true;
    }
    HelpDocument document;
    document.url = QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absoluteFilePath());
    prepareDocument(markdown, QApplication::font(), document);
    s.window = std::make_unique<HelpWindow>(std::move(document));
    placeWindow(*s.window, placement);
    s.window->show();
    s.window->activateWindow();
    if (!s.window->isVisible()) {
        s.window.reset();
        queueEvent(HELP_EVENT_FAILED, HELP_ERROR_NO_WINDOW, "the help window could not be opened");
        return true;
    }
    queueEvent(HELP_EVENT_ACTIVE);
    return true;
}

void helpSetLabels(const HelpLabels& labels) {
    helpLabels() = labels;
}

bool helpGetEvent(HelpEvent& event) {
    HelpState& s = helpState();
    std::lock_guard lock(s.queueMutex);
    if (s.queue.empty()) return false;
    event = std::move(s.queue.front());
    s.queue.pop_front();
    return true;
}

void helpShowMain() {
    HelpWindow* window = openWindow();
    if (!window) return;
    window->showMain();
    if (!window->isActiveWindow()) {
        window->raise();
        window->activateWindow();
    }
}

void helpClose() {
    HelpState& s = helpState();
    s.window.reset();
    std::lock_guard lock(s.queueMutex);
    s.queue.clear();
    s.task.reset();
    s.mask = 0;
}

bool helpIsOpen() {
    return openWindow() != nullptr;
}

// ---- finding the manual ----

std::vector<std::string> helpSearchFolders() {
    std::vector<std::string> folders;
    folders.push_back(QDir::currentPath().toStdString());
    std::string exe = executableDirectory();
    if (!exe.empty()) {
        folders.push_back(exe + "/data");
        folders.push_back(QDir::cleanPath(QString::fromStdString(exe + "/../data")).toStdString());
    }
    folders.push_back(FARLANDER_DATADIR);
    return folders;
}

std::string helpFindDocumentIn(const std::string& name, const std::vector<std::string>& folders) {
    if (name.empty()) return {};
    for (const std::string& folder : folders) {
        std::string path = folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
        if (isRegularFile(path)) return path;
    }
    return {};
}

std::string helpFindDocument(const std::string& name) {
    return helpFindDocumentIn(name, helpSearchFolders());
}

// ---- what the window shows ----

std::string helpWindowTitle() {
    HelpWindow* window = helpState().window.get();
    return window ? window->windowTitle().toStdString() : std::string();
}

std::vector<HelpSection> helpContents() {
    HelpWindow* window = openWindow();
    std::vector<HelpSection> sections;
    if (!window) return sections;
    QListWidget* list = window->contents();
    const auto& known = window->document().sections;
    for (int row = 0; row < list->count(); ++row) {
        std::string anchor = list->item(row)->data(Qt::UserRole).toString().toStdString();
        auto it = std::find_if(known.begin(), known.end(),
                               [&](const HelpSection& s) { return s.anchor == anchor; });
        if (it != known.end()) sections.push_back(*it);
    }
    return sections;
}

int helpScrollPosition() {
    HelpWindow* window = openWindow();
    return window ? window->browser()->verticalScrollBar()->value() : -1;
}

std::string helpSectionAtTop() {
    HelpWindow* window = openWindow();
    if (!window) return {};
    QTextDocument* document = window->browser()->document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    int top = window->browser()->verticalScrollBar()->value();
    std::string title;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() <= 0) continue;
        if (layout->blockBoundingRect(block).top() > top + 1) break;
        title = block.text().trimmed().toStdString();
    }
    return title;
}

void helpScrollTo(int position) {
    if (HelpWindow* window = openWindow()) window->browser()->verticalScrollBar()->setValue(position);
}

// ---- simulated input ----

bool helpSimulateContentsClick(int index) {
    HelpWindow* window = openWindow();
    if (!window) return false;
    QListWidget* list = window->contents();
    QListWidgetItem* item = list->item(index);
    if (!item) return false;
    list->scrollToItem(item);
    QPointF at = QRectF(list->visualItemRect(item)).center();
    QWidget* target = list->viewport();
    QPointF global = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
    return true;
}

void helpSimulateKey(int code, int qualifier) {
    HelpWindow* window = openWindow();
    if (!window) return;
    int key = code == KEY_LEFT    ? Qt::Key_Left
              : code == KEY_RIGHT ? Qt::Key_Right
              : code == KEY_UP    ? Qt::Key_Up
              : code == KEY_DOWN  ? Qt::Key_Down
                                  : Qt::Key_unknown;
    if (key == Qt::Key_unknown) return;
    Qt::KeyboardModifiers modifiers;
    if (qualifier & QUAL_ALT) modifiers |= Qt::AltModifier;
    if (qualifier & QUAL_SHIFT) modifiers |= Qt::ShiftModifier;
    QWidget* target = window->browser();
    target->setFocus(Qt::OtherFocusReason);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(target, &release);
}

bool helpSimulateLinkClick(const std::string& href) {
    HelpWindow* window = openWindow();
    if (!window) return false;
    HelpBrowser* browser = window->browser();
    QString wanted = QString::fromStdString(href);
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isAnchor() || fragment.charFormat().anchorHref() != wanted) continue;
            QTextCursor cursor(browser->document());
            cursor.setPosition(fragment.position() + std::min(1, fragment.length() - 1));
            browser->setTextCursor(cursor);
            browser->ensureCursorVisible();
            QPointF at = QRectF(browser->cursorRect(cursor)).center();
            QWidget* target = browser->viewport();
            QPointF global = target->mapToGlobal(at);
            QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(target, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(target, &release);
            return true;
        }
    }
    return false;
}

void helpSimulateClose() {
    if (HelpWindow* window = openWindow()) window->close();
}
