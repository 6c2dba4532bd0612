// The text view told to assistive technology. To the toolkit the canvas is one
// picture with the gadgets on it; here it gets an accessible interface whose
// children are the gadgets' own interfaces and, after the URL field, one made-up
// child for the text view.
//
// The text view is a read-only document (role Document, a "document frame" to
// AT-SPI): Orca speaks its name (the page's address) when it takes the focus, reads
// its text line by line from the caret in say-all and flat review, and lists its
// children, the links, as links it can press. A read-only text field would suit the
// reading as well, but a screen reader expects a field to move its own caret with the
// arrow keys, which in the view move between links.
//
// Lifetimes: the toolkit's accessibility cache owns every interface once it is
// registered (the factory's result included) and deletes the canvas's when the canvas
// goes. The canvas's interface deletes the text view's, and the text view's deletes
// its links' whenever the links change, so no object of an old page or an old window
// stays reachable through its id.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QMetaObject>
#include <QWindow>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/access.h"
#include "platform/gui.h"
#include "platform/gui_internal.h"

namespace {

class ViewAccessible;

// What the view tells now; its text as assistive technology reads it is made on first
// demand, so a program nobody listens to never builds it.
struct AccessState {
    AccessView view;
    int focus = -1;
    bool textBuilt = false;
    QString text;                          // the lines joined by "\n"
    std::vector<int> lineStarts;           // where each line starts in text
    ViewAccessible* live = nullptr;        // the text view's interface while the canvas has one
    GuiAccessObserver observer = nullptr;  // tests: hears what is told instead of the toolkit
    bool observerListens = false;          // tests: tell as if a screen reader listened
    bool factoryInstalled = false;
};

AccessState& accessState() {
    static AccessState state;
    return state;
}

bool telling() {
    const AccessState& a = accessState();
    return (a.observer && a.observerListens) || QAccessible::isActive();
}

void tell(QAccessibleEvent& event) {
    if (GuiAccessObserver observer = accessState().observer) return observer(&event);
    QAccessible::updateAccessibility(&event);
}

const QString& viewText() {
    AccessState& a = accessState();
    if (a.textBuilt) return a.text;
    a.text.clear();
    a.lineStarts.clear();
    a.lineStarts.reserve(a.view.lines.size());
    for (size_t i = 0; i < a.view.lines.size(); ++i) {
        if (i > 0) a.text += QLatin1Char('\n');
        a.lineStarts.push_back(static_cast<int>(a.text.size()));
        QString line = QString::fromUtf8(a.view.lines[i]);
        // A line break inside a line would shift every line after it.
        line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        a.text += line;
    }
    a.textBuilt = true;
    return a.text;
}

// The line that holds offset (0 <= offset <= the text's length) and where it starts.
size_t lineAt(int offset) {
    const std::vector<int>& starts = accessState().lineStarts;
    auto after = std::upper_bound(starts.begin(), starts.end(), offset);
    return after == starts.begin() ? 0 : static_cast<size_t>(after - starts.begin() - 1);
}

const AccessLink* linkAt(int index) {
    const std::vector<AccessLink>& links = accessState().view.links;
    return index >= 0 && static_cast<size_t>(index) < links.size() ? &links[static_cast<size_t>(index)]
                                                                   : nullptr;
}

bool sameLinks(const std::vector<AccessLink>& a, const std::vector<AccessLink>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const AccessLink& x, const AccessLink& y) {
        return x.text == y.text && x.address == y.address;
    });
}

// Presses waiting in the queue name links by index: they go with their page.
void dropQueuedPresses() {
    GuiState& s = guiState();
    std::lock_guard lock(s.queueMutex);
    std::erase_if(s.queue, [](const WindowMessage& m) { return m.kind == WMSG_LINKPRESS; });
}

class CanvasAccessible;

// One link of the text view.
class LinkAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    LinkAccessible(ViewAccessible* view, int index) : view_(view), index_(index) {}

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Link; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    const ViewAccessible* view() const { return view_; }
    int index() const { return index_; }

  private:
    ViewAccessible* view_;
    int index_;
};

// The text view: the display lines as one read-only text, the links as children.
class ViewAccessible : public QAccessibleInterface, public QAccessibleTextInterface {
  public:
    explicit ViewAccessible(CanvasAccessible* canvas) : canvas_(canvas) { accessState().live = this; }
    ~ViewAccessible() override {
        dropLinks(false);
        if (accessState().live == this) accessState().live = nullptr;
    }

    // Deletes the links' interfaces (telling first that they go, when asked); the next
    // request makes them anew.
    void dropLinks(bool announce) {
        for (QAccessible::Id id : linkIds_) {
            QAccessibleInterface* link = id ? QAccessible::accessibleInterface(id) : nullptr;
            if (!link) continue;
            if (announce) {
                QAccessibleEvent event(link, QAccessible::ObjectDestroyed);
                tell(event);
            }
            QAccessible::deleteAccessibleInterface(id);
        }
        linkIds_.clear();
    }
    // Where the keyboard is: the focused link's interface, or the view's.
    QAccessibleInterface* focusTarget() {
        return accessState().focus >= 0 ? child(accessState().focus) : this;
    }
    bool hasKeyboard() const;
    // A rectangle of the raster on the screen (empty stays empty).
    QRect onScreen(int x, int y, int width, int height) const;

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* focusChild() const override {
        return hasKeyboard() && accessState().focus >= 0 ? child(accessState().focus) : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const std::vector<AccessLink>& links = accessState().view.links;
        for (size_t i = 0; i < links.size(); ++i) {
            const AccessLink& l = links[i];
            if (onScreen(l.x, l.y, l.width, l.height).contains(x, y)) return child(static_cast<int>(i));
        }
        return nullptr;
    }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override {
        if (!linkAt(index)) return nullptr;
        const size_t i = static_cast<size_t>(index);
        if (linkIds_.size() < accessState().view.links.size())
            linkIds_.resize(accessState().view.links.size());
        if (QAccessibleInterface* known =
                linkIds_[i] ? QAccessible::accessibleInterface(linkIds_[i]) : nullptr)
            return known;
        // Owned by the toolkit's cache from here; dropLinks deletes it.
        auto* link = new LinkAccessible(const_cast<ViewAccessible*>(this), index);
        linkIds_[i] = QAccessible::registerAccessibleInterface(link);
        return link;
    }
    int childCount() const override { return static_cast<int>(accessState().view.links.size()); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        // Links of an old page are deleted with it: one of this view is one of its links.
        auto* link = dynamic_cast<const LinkAccessible*>(child);
        return link && link->view() == this ? link->index() : -1;
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? QString::fromUtf8(accessState().view.name) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Document; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.focusable = true;
        s.focused = hasKeyboard() && accessState().focus < 0;
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this) : nullptr;
    }

    // Text: nothing can be selected, and the caret sits where the keyboard is, at the
    // start of the focused link's line.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override {
        const AccessLink* link = linkAt(accessState().focus);
        viewText();
        const std::vector<int>& starts = accessState().lineStarts;
        if (!link || link->line < 0 || static_cast<size_t>(link->line) >= starts.size()) return 0;
        return starts[static_cast<size_t>(link->line)];
    }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString& all = viewText();
        const int size = static_cast<int>(all.size());
        start = std::clamp(start, 0, size);
        end = end < 0 ? size : std::clamp(end, start, size);
        return all.mid(start, end - start);
    }
    // Lines are known already: the toolkit's own way would search the whole text
    // for line breaks on every call, and reading a page line by line asks once a line.
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                             int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textBeforeOffset(offset, boundary, start, end);
        return lineText(offset, -1, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                            int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAfterOffset(offset, boundary, start, end);
        return lineText(offset, 1, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                         int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAtOffset(offset, boundary, start, end);
        return lineText(offset, 0, start, end);
    }
    int characterCount() const override { return static_cast<int>(viewText().size()); }
    // Where characters are drawn is the view's business; only links have places here.
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint& point) const override {
        viewText();
        const std::vector<AccessLink>& links = accessState().view.links;
        const std::vector<int>& starts = accessState().lineStarts;
        for (const AccessLink& l : links) {
            if (onScreen(l.x, l.y, l.width, l.height).contains(point) && l.line >= 0 &&
                static_cast<size_t>(l.line) < starts.size())
                return starts[static_cast<size_t>(l.line)];
        }
        return -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

  private:
    // The line at offset (which 0), the one before it (-1) or after it (1), with its
    // line break; nothing (and the offsets left as they are) when there is none.
    QString lineText(int offset, int which, int* start, int* end) const {
        const QString& all = viewText();
        const int size = static_cast<int>(all.size());
        const std::vector<int>& starts = accessState().lineStarts;
        if (offset == -1) offset = size;
        if (offset < 0 || offset > size) return {};
        if (starts.empty()) {
            if (which == 0) *start = *end = 0;
            return {};
        }
        const size_t at = lineAt(offset);
        if ((which < 0 && at == 0) || (which > 0 && at + 1 >= starts.size())) return {};
        const size_t line = which < 0 ? at - 1 : which > 0 ? at + 1 : at;
        *start = starts[line];
        *end = line + 1 < starts.size() ? starts[line + 1] : size;
        return all.mid(*start, *end - *start);
    }

    CanvasAccessible* canvas_;
    mutable std::vector<QAccessible::Id> linkIds_;  // by link index; 0 until asked for
};

// The canvas: the gadgets' interfaces and the text view's, after the URL field.
class CanvasAccessible : public QAccessibleWidget {
  public:
    explicit CanvasAccessible(QWidget* canvas) : QAccessibleWidget(canvas, QAccessible::Client) {
        // Owned by the toolkit's cache from here; deleted below.
        auto* view = new ViewAccessible(this);
        viewId_ = QAccessible::registerAccessibleInterface(view);
    }
    ~CanvasAccessible() override { QAccessible::deleteAccessibleInterface(viewId_); }

    ViewAccessible* view() const {
        return static_cast<ViewAccessible*>(QAccessible::accessibleInterface(viewId_));
    }
    QWidget* canvas() const { return widget(); }

    QAccessibleInterface* focusChild() const override {
        if (isValid() && widget()->hasFocus())
            if (ViewAccessible* v = view()) return v->focusTarget();
        return QAccessibleWidget::focusChild();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        if (!isValid()) return nullptr;
        for (QWidget* gadget : gadgets()) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(gadget);
            if (face && gadget->isVisible() && face->rect().contains(x, y)) return face;
        }
        ViewAccessible* v = view();
        return v && v->rect().contains(x, y) ? v : nullptr;
    }
    int childCount() const override { return isValid() ? static_cast<int>(gadgets().size()) + 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        if (!isValid()) return nullptr;
        const std::vector<QWidget*> all = gadgets();
        const int viewAt = viewIndex(all);
        if (index == viewAt) return view();
        if (index > viewAt) --index;
        if (index < 0 || static_cast<size_t>(index) >= all.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(all[static_cast<size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!isValid() || !child) return -1;
        const std::vector<QWidget*> all = gadgets();
        const int viewAt = viewIndex(all);
        if (child == view()) return viewAt;
        auto at = std::find(all.begin(), all.end(), child->object());
        if (at == all.end()) return -1;
        const int index = static_cast<int>(at - all.begin());
        return index >= viewAt ? index + 1 : index;
    }

  private:
    // The child widgets, as the toolkit lists a widget's children.
    std::vector<QWidget*> gadgets() const {
        std::vector<QWidget*> all;
        for (QObject* object : widget()->children()) {
            QWidget* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow()) all.push_back(child);
        }
        return all;
    }
    // The view follows the URL field, as on the screen; without one it comes last.
    static int viewIndex(const std::vector<QWidget*>& all) {
        QWidget* field = guiGadgetAs<QWidget>(GAD_URL);
        auto at = std::find(all.begin(), all.end(), field);
        return field && at != all.end() ? static_cast<int>(at - all.begin()) + 1
                                        : static_cast<int>(all.size());
    }

    QAccessible::Id viewId_ = 0;
};

bool LinkAccessible::isValid() const {
    return view_->isValid() && linkAt(index_);
}

QWindow* LinkAccessible::window() const {
    return view_->window();
}

QAccessibleInterface* LinkAccessible::parent() const {
    return view_;
}

QString LinkAccessible::text(QAccessible::Text t) const {
    const AccessLink* link = linkAt(index_);
    if (!link) return {};
    if (t == QAccessible::Name) return QString::fromUtf8(link->text);
    if (t == QAccessible::Description) return QString::fromUtf8(link->address);
    return {};
}

QRect LinkAccessible::rect() const {
    const AccessLink* link = linkAt(index_);
    return link ? view_->onScreen(link->x, link->y, link->width, link->height) : QRect();
}

QAccessible::State LinkAccessible::state() const {
    QAccessible::State s;
    const AccessLink* link = linkAt(index_);
    s.focusable = true;
    s.linked = true;
    s.focused = view_->hasKeyboard() && accessState().focus == index_;
    s.offscreen = !link || link->width <= 0 || link->height <= 0;
    return s;
}

void LinkAccessible::doAction(const QString& name) {
    if (name != pressAction() || !isValid()) return;
    WindowMessage message;
    message.kind = WMSG_LINKPRESS;
    message.value = index_;
    guiQueueMessage(message);
}

bool ViewAccessible::isValid() const {
    return canvas_->isValid();
}

QWindow* ViewAccessible::window() const {
    return canvas_->window();
}

QAccessibleInterface* ViewAccessible::parent() const {
    return canvas_;
}

bool ViewAccessible::hasKeyboard() const {
    return isValid() && canvas_->canvas()->hasFocus();
}

QRect ViewAccessible::onScreen(int x, int y, int width, int height) const {
    if (!isValid() || width <= 0 || height <= 0) return {};
    return QRect(canvas_->canvas()->mapToGlobal(QPoint(x, y)), QSize(width, height));
}

QRect ViewAccessible::rect() const {
    const AccessView& v = accessState().view;
    if (v.width > 0 && v.height > 0) return onScreen(v.x, v.y, v.width, v.height);
    return isValid() ? canvas_->rect() : QRect();
}

// GuiCanvas has no meta-object of its own: the toolkit asks for it as a QWidget.
QAccessibleInterface* canvasFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QWidget")) return nullptr;
    auto* canvas = dynamic_cast<GuiCanvas*>(object);
    // Owned by the toolkit's cache, which deletes it when the canvas goes.
    return canvas ? new CanvasAccessible(canvas) : nullptr;
}

// The text view's interface of the open window, made when there is none yet.
ViewAccessible* currentView() {
    GuiCanvas* canvas = guiState().canvas;
    if (!canvas) return nullptr;
    auto* face = dynamic_cast<CanvasAccessible*>(QAccessible::queryAccessibleInterface(canvas));
    return face ? face->view() : nullptr;
}

void tellFocus(ViewAccessible* view) {
    QAccessibleInterface* target = view && view->hasKeyboard() ? view->focusTarget() : nullptr;
    if (!target) return;
    QAccessibleEvent event(target, QAccessible::Focus);
    tell(event);
}

void replacePage(AccessView next, bool loaded) {
    AccessState& a = accessState();
    const bool keepLinks = !loaded && sameLinks(a.view.links, next.links);
    ViewAccessible* view = telling() ? currentView() : nullptr;
    if (!keepLinks) {
        dropQueuedPresses();
        // Links handed out are told gone while they still read as themselves.
        if (a.live) a.live->dropLinks(view != nullptr);
    }
    const bool renamed = a.view.name != next.name;
    const bool rewritten = a.view.lines != next.lines;
    QString oldText = view && rewritten ? viewText() : QString();

    a.view = std::move(next);
    a.textBuilt = false;
    const bool linkLost = a.focus >= 0 && (!keepLinks || !linkAt(a.focus));
    if (loaded || linkLost) a.focus = -1;
    if (!view) return;

    if (renamed) {
        QAccessibleEvent event(view, QAccessible::NameChanged);
        tell(event);
    }
    if (rewritten) {
        QAccessibleTextUpdateEvent event(view, 0, oldText, viewText());
        tell(event);
    }
    // One by one: the toolkit's news of reordered children has a signature AT-SPI
    // clients reject (Qt 6.4).
    for (int i = 0; !keepLinks && i < view->childCount(); ++i) {
        if (QAccessibleInterface* link = view->child(i)) {
            QAccessibleEvent event(link, QAccessible::ObjectCreated);
            tell(event);
        }
    }
    if (loaded) {
        QAccessibleEvent event(view, QAccessible::DocumentLoadComplete);
        tell(event);
    }
    // The focused link is gone, or a page came: the keyboard is at the view.
    if (loaded || linkLost) tellFocus(view);
}

}  // namespace

void guiAccessSetPage(AccessView view) {
    replacePage(std::move(view), true);
}

void guiAccessUpdatePage(AccessView view) {
    replacePage(std::move(view), false);
}

void guiAccessSetFocus(int link) {
    AccessState& a = accessState();
    const int focus = linkAt(link) ? link : -1;
    if (focus == a.focus) return;
    a.focus = focus;
    if (telling()) tellFocus(currentView());
}

void guiAccessAttach(GuiCanvas* canvas) {
    AccessState& a = accessState();
    if (!a.factoryInstalled) {
        QAccessible::installFactory(canvasFactory);
        a.factoryInstalled = true;
    }
    // The toolkit may have asked for the canvas's interface while the canvas was still
    // being made, and then kept the plain widget's: that one goes.
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(canvas);
    if (face && !dynamic_cast<CanvasAccessible*>(face)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(face));
        QAccessible::queryAccessibleInterface(canvas);
    }
}

void guiAccessFocusIn() {
    GuiCanvas* canvas = guiState().canvas;
    if (!canvas || !telling()) return;
    // The toolkit tells that the canvas took the focus after this returns; the view's
    // own news has to come after it to be the last word.
    QMetaObject::invokeMethod(
        canvas, [] { tellFocus(currentView()); }, Qt::QueuedConnection);
}

bool guiAccessListening() {
    return telling();
}

void guiAccessObserve(GuiAccessObserver observer, bool listening) {
    accessState().observer = observer;
    accessState().observerListens = observer && listening;
}
