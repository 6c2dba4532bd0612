// Reading the main window as assistive technology does, for tests: everything goes
// through the toolkit's accessibility interfaces, starting from the canvas's, never
// through what the text view was told.
#include <QAccessible>

#include <string>
#include <vector>

#include "platform/access_testing.h"
#include "platform/gui_internal.h"

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

std::string roleName(QAccessible::Role role) {
    switch (role) {
        case QAccessible::Document:
            return "document";
        case QAccessible::Link:
            return "link";
        case QAccessible::PushButton:
            return "button";
        case QAccessible::EditableText:
            return "text";
        case QAccessible::ScrollBar:
            return "scrollbar";
        case QAccessible::StaticText:
            return "label";
        case QAccessible::Client:
            return "client";
        default:
            return std::to_string(static_cast<int>(role));
    }
}

QAccessibleInterface* canvasFace() {
    GuiCanvas* canvas = guiState().canvas;
    return canvas ? QAccessible::queryAccessibleInterface(canvas) : nullptr;
}

bool isView(QAccessibleInterface* face) {
    return face && face->role() == QAccessible::Document && face->textInterface();
}

// The text view among the canvas's children, and its place there.
QAccessibleInterface* viewFace(int* index = nullptr) {
    QAccessibleInterface* canvas = canvasFace();
    if (!canvas) return nullptr;
    for (int i = 0; i < canvas->childCount(); ++i) {
        QAccessibleInterface* child = canvas->child(i);
        if (!isView(child)) continue;
        if (index) *index = i;
        return child;
    }
    return nullptr;
}

AccessNode nodeOf(QAccessibleInterface* face) {
    AccessNode node;
    node.role = roleName(face->role());
    node.name = utf8(face->text(QAccessible::Name));
    node.description = utf8(face->text(QAccessible::Description));
    if (QAccessibleActionInterface* actions = face->actionInterface())
        for (const QString& action : actions->actionNames())
            node.actions.push_back(utf8(action));
    const QRect area = face->rect();
    node.x = area.x();
    node.y = area.y();
    node.width = area.width();
    node.height = area.height();
    node.focused = face->state().focused;
    node.offscreen = face->state().offscreen;
    node.id = QAccessible::uniqueId(face);
    if (QAccessibleInterface* parent = face->parent()) node.index = parent->indexOfChild(face);
    return node;
}

// "link 2", "view", or role and name.
std::string describeTarget(QAccessibleInterface* face) {
    if (!face) return "gone";
    if (isView(face)) return "view";
    if (face->role() == QAccessible::Link) {
        QAccessibleInterface* parent = face->parent();
        return "link " + std::to_string(parent ? parent->indexOfChild(face) : -1);
    }
    return roleName(face->role()) + " " + utf8(face->text(QAccessible::Name));
}

std::string eventName(QAccessible::Event type) {
    switch (type) {
        case QAccessible::Focus:
            return "focus";
        case QAccessible::NameChanged:
            return "name";
        case QAccessible::TextUpdated:
            return "text";
        case QAccessible::ObjectCreated:
            return "created";
        case QAccessible::ObjectDestroyed:
            return "destroyed";
        case QAccessible::DocumentLoadComplete:
            return "loaded";
        default:
            return std::to_string(static_cast<int>(type));
    }
}

std::vector<std::string> recorded;

void recordEvent(QAccessibleEvent* event) {
    recorded.push_back(eventName(event->type()) + " " + describeTarget(event->accessibleInterface()));
}

}  // namespace

AccessSummary guiAccessDescribe() {
    AccessSummary summary;
    QAccessibleInterface* canvas = canvasFace();
    if (!canvas) return summary;
    summary.canvasX = canvas->rect().x();
    summary.canvasY = canvas->rect().y();
    summary.childCount = canvas->childCount();
    QAccessibleInterface* view = viewFace(&summary.viewIndex);
    if (!view) return summary;
    summary.found = true;
    summary.view = nodeOf(view);
    QAccessibleTextInterface* text = view->textInterface();
    summary.characterCount = text->characterCount();
    summary.text = utf8(text->text(0, summary.characterCount));
    summary.caret = text->cursorPosition();
    for (int i = 0; i < view->childCount(); ++i)
        if (QAccessibleInterface* link = view->child(i)) summary.links.push_back(nodeOf(link));
    QAccessibleInterface* focus = canvas->focusChild();
    if (focus == view) {
        summary.focus = -1;
    } else if (focus && focus->parent() == view) {
        summary.focus = view->indexOfChild(focus);
    }
    return summary;
}

std::vector<AccessNode> guiAccessGadgets() {
    std::vector<AccessNode> gadgets;
    QAccessibleInterface* canvas = canvasFace();
    for (int i = 0; canvas && i < canvas->childCount(); ++i) {
        QAccessibleInterface* child = canvas->child(i);
        if (child && !isView(child)) gadgets.push_back(nodeOf(child));
    }
    return gadgets;
}

bool guiAccessPress(int link) {
    QAccessibleInterface* view = viewFace();
    QAccessibleInterface* face = view && link >= 0 && link < view->childCount() ? view->child(link) : nullptr;
    QAccessibleActionInterface* actions = face ? face->actionInterface() : nullptr;
    if (!actions || !actions->actionNames().contains(QAccessibleActionInterface::pressAction())) return false;
    actions->doAction(QAccessibleActionInterface::pressAction());
    return true;
}

AccessTextPiece guiAccessTextAt(int offset, AccessBoundary boundary, int where) {
    AccessTextPiece piece;
    QAccessibleInterface* view = viewFace();
    if (!view) return piece;
    QAccessibleTextInterface* text = view->textInterface();
    const auto type = boundary == ACCESS_CHAR   ? QAccessible::CharBoundary
                      : boundary == ACCESS_WORD ? QAccessible::WordBoundary
                                                : QAccessible::LineBoundary;
    QString found = where < 0   ? text->textBeforeOffset(offset, type, &piece.start, &piece.end)
                    : where > 0 ? text->textAfterOffset(offset, type, &piece.start, &piece.end)
                                : text->textAtOffset(offset, type, &piece.start, &piece.end);
    piece.text = utf8(found);
    return piece;
}

std::string guiAccessHit(int x, int y) {
    QAccessibleInterface* canvas = canvasFace();
    if (!canvas) return "";
    const QPoint at = canvas->rect().topLeft() + QPoint(x, y);
    QAccessibleInterface* child = canvas->childAt(at.x(), at.y());
    if (!child) return "";
    if (isView(child))
        if (QAccessibleInterface* link = child->childAt(at.x(), at.y())) return describeTarget(link);
    return describeTarget(child);
}

bool guiAccessAlive(uint32_t id) {
    return QAccessible::accessibleInterface(id) != nullptr;
}

void guiAccessRecord(bool on, bool listening) {
    recorded.clear();
    guiAccessObserve(on ? recordEvent : nullptr, listening);
}

std::vector<std::string> guiAccessTakeEvents() {
    guiProcessEvents();
    std::vector<std::string> events;
    events.swap(recorded);
    return events;
}
