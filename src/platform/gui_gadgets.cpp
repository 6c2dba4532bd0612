// The nine gadgets on the canvas, the status line and the menu strip.
#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "platform/gui.h"
#include "platform/gui_internal.h"

namespace {

// Labels are plain text: a "&" must not turn into a keyboard mnemonic.
QString plainLabel(const std::string& label) {
    return QString::fromUtf8(label).replace(QLatin1Char('&'), QLatin1String("&&"));
}

WindowMessage gadgetMessage(int kind, int gadget, int value = 0) {
    WindowMessage message;
    message.kind = kind;
    message.gadget = gadget;
    message.code = gadget;
    message.value = value;
    return message;
}

void applyScroller() {
    GuiState& s = guiState();
    QScrollBar* bar = guiGadgetAs<QScrollBar>(GAD_SCROLLER);
    if (!bar) return;
    QSignalBlocker blocker(bar);
    bar->setRange(0, std::max(0, s.scrollerTotal - s.scrollerVisible));
    bar->setPageStep(std::max(1, s.scrollerVisible));
    bar->setSingleStep(1);
    bar->setValue(s.scrollerTop);
}

void showStatusText() {
    GuiState& s = guiState();
    std::string text;
    {
        std::lock_guard lock(s.crossMutex);
        text = s.statusText;
    }
    if (QLabel* label = guiGadgetAs<QLabel>(GAD_STATUS)) {
        // The line's name is fixed; what it says is its description.
        label->setText(QString::fromUtf8(text));
        label->setAccessibleDescription(label->text());
    }
}

// The name assistive technology gives a gadget: its label, or for the gadgets that
// show none, a word of their own.
QString accessibleNameOf(int id, const GadgetSpec& spec) {
    if (!spec.label.empty()) return QString::fromUtf8(spec.label);
    switch (id) {
        case GAD_URL:
            return QStringLiteral("URL");
        case GAD_SCROLLER:
            return QStringLiteral("Page position");
        case GAD_STATUS:
            return QStringLiteral("Status");
        default:
            return {};
    }
}

std::unique_ptr<QWidget> makeGadget(int id, const GadgetSpec& spec, QWidget* canvas) {
    GuiState& s = guiState();
    if (id <= GAD_STOP) {
        auto button = std::make_unique<QPushButton>(plainLabel(spec.label), canvas);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        QObject::connect(button.get(), &QPushButton::clicked, button.get(),
                         [id] { guiQueueMessage(gadgetMessage(WMSG_GADGETUP, id)); });
        return button;
    }
    if (id == GAD_URL) {
        auto field = std::make_unique<GuiUrlField>(canvas);
        field->setMaxLength(spec.maxChars > 0 ? spec.maxChars : 32767);
        field->setText(QString::fromUtf8(s.urlText));
        QObject::connect(field.get(), &QLineEdit::returnPressed, field.get(),
                         [] { guiQueueMessage(gadgetMessage(WMSG_GADGETUP, GAD_URL)); });
        return field;
    }
    if (id == GAD_SCROLLER) {
        auto bar = std::make_unique<QScrollBar>(Qt::Vertical, canvas);
        bar->setFocusPolicy(Qt::NoFocus);
        QScrollBar* raw = bar.get();
        // The position has moved already when an action is reported (arrow, page, drag).
        QObject::connect(raw, &QAbstractSlider::actionTriggered, raw, [raw](int) {
            GuiState& state = guiState();
            int top = raw->sliderPosition();
            if (top == state.scrollerTop) return;
            state.scrollerTop = top;
            guiQueueMessage(gadgetMessage(WMSG_MOUSEMOVE, GAD_SCROLLER, top));
        });
        return bar;
    }
    auto label = std::make_unique<QLabel>(canvas);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setAutoFillBackground(true);
    label->setIndent(3);
    return label;
}

MenuEntry* entryByCode(int code) {
    for (MenuEntry& entry : guiState().menuEntries) {
        if (!entry.separator && menuCode(entry.menu, entry.item, entry.sub) == code) return &entry;
    }
    return nullptr;
}

QAction* actionByCode(int code) {
    auto& actions = guiState().menuActions;
    auto it = actions.find(code);
    return it == actions.end() ? nullptr : it->second;
}

QList<QKeySequence> shortcutsFor(char key, const std::string& more) {
    QList<QKeySequence> keys;
    if (key) {
        int code = std::toupper(static_cast<unsigned char>(key));
        keys << QKeySequence(QKeyCombination(Qt::ControlModifier, static_cast<Qt::Key>(code)));
        if (key == '?') keys << QKeySequence(Qt::Key_F1);
    }
    if (!more.empty())
        keys << QKeySequence::fromString(QString::fromStdString(more), QKeySequence::PortableText);
    return keys;
}

QAction* addMenuAction(QMenu* menu, const MenuEntry& entry, size_t index,
                       std::map<std::tuple<int, int, int>, QActionGroup*>& groups) {
    int code = menuCode(entry.menu, entry.item, entry.sub);
    QAction* action = menu->addAction(plainLabel(entry.label));
    action->setShortcuts(shortcutsFor(entry.key, entry.keys));
    action->setShortcutContext(Qt::WindowShortcut);
    if (entry.checkable || entry.radioGroup) {
        action->setCheckable(true);
        action->setChecked(entry.checked);
    }
    if (entry.radioGroup) {
        auto key = std::make_tuple(entry.menu, entry.sub >= 0 ? entry.item : -1, entry.radioGroup);
        QActionGroup*& group = groups[key];
        if (!group) group = new QActionGroup(menu);
        group->addAction(action);
    }
    action->setEnabled(!entry.disabled);
    QObject::connect(action, &QAction::toggled, action,
                     [index](bool on) { guiState().menuEntries[index].checked = on; });
    QObject::connect(action, &QAction::triggered, action, [code] {
        WindowMessage message;
        message.kind = WMSG_MENUPICK;
        message.code = code;
        guiQueueMessage(message);
    });
    return action;
}

}  // namespace

// ---- gadgets ----

void guiDestroyGadgets() {
    GuiState& s = guiState();
    if (GuiUrlField* field = guiGadgetAs<GuiUrlField>(GAD_URL)) s.urlText = field->text().toStdString();
    guiFindBarHide();
    for (auto& gadget : s.gadgets)
        gadget.reset();
}

void guiGadgetMove(int id, int left, int top, int width, int height) {
    if (QWidget* gadget = guiGadgetAs<QWidget>(id)) {
        gadget->setGeometry(left, top, std::max(0, width), std::max(0, height));
        GadgetSpec& spec = guiState().gadgetSpecs[static_cast<size_t>(id)];
        spec.left = left;
        spec.top = top;
        spec.width = width;
        spec.height = height;
    }
}

// ---- the find bar ----

void guiFindBarShow(int left, int top, int width, int height, const std::string& label, int fontHandle) {
    GuiState& s = guiState();
    if (!s.canvas) return;
    if (!s.findBar) {
        auto bar = std::make_unique<QWidget>(s.canvas);
        auto* layout = new QHBoxLayout(bar.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        auto* caption = new QLabel(bar.get());
        caption->setObjectName(QStringLiteral("findLabel"));
        auto* field = new GuiFindField(bar.get());
        field->setText(QString::fromUtf8(s.findText));
        caption->setBuddy(field);
        field->setAccessibleName(QString::fromUtf8(label));
        QObject::connect(field, &QLineEdit::textEdited, field, [] {
            WindowMessage message;
            message.kind = WMSG_FIND;
            message.code = FIND_CHANGED;
            guiQueueMessage(message);
        });
        layout->addWidget(caption);
        layout->addWidget(field, 1);
        s.findField = field;
        s.findBar = std::move(bar);
    }
    const bool known = fontHandle > 0 && static_cast<size_t>(fontHandle) <= s.fonts.size() &&
                       s.fonts[static_cast<size_t>(fontHandle) - 1];
    s.findBar->setFont(known ? *s.fonts[static_cast<size_t>(fontHandle) - 1] : QApplication::font());
    if (auto* caption = s.findBar->findChild<QLabel*>(QStringLiteral("findLabel")))
        caption->setText(plainLabel(label));
    s.findBar->setGeometry(left, top, std::max(0, width), std::max(0, height));
    s.findBar->show();
    s.findField->setFocus(Qt::OtherFocusReason);
    s.findField->selectAll();
}

void guiFindBarHide() {
    GuiState& s = guiState();
    if (!s.findBar) return;
    s.findText = s.findField->text().toStdString();
    const bool hadFocus = s.findBar->isAncestorOf(QApplication::focusWidget());
    s.findField = nullptr;
    s.findBar.reset();
    if (hadFocus && s.canvas) s.canvas->setFocus(Qt::OtherFocusReason);
}

bool guiFindBarShown() {
    return guiState().findBar != nullptr;
}

std::string guiFindBarText() {
    GuiState& s = guiState();
    return s.findField ? s.findField->text().toStdString() : s.findText;
}

void guiCreateGadgets(const std::vector<GadgetSpec>& gadgets, int fontHandle) {
    GuiState& s = guiState();
    guiDestroyGadgets();
    if (!s.canvas) return;
    const bool known = fontHandle > 0 && static_cast<size_t>(fontHandle) <= s.fonts.size() &&
                       s.fonts[static_cast<size_t>(fontHandle) - 1];
    const QFont font = known ? *s.fonts[static_cast<size_t>(fontHandle) - 1] : QApplication::font();
    for (size_t i = 0; i < gadgets.size() && i < GAD_COUNT; ++i) {
        const GadgetSpec& spec = gadgets[i];
        std::unique_ptr<QWidget> widget = makeGadget(static_cast<int>(i), spec, s.canvas);
        widget->setFont(font);
        widget->setGeometry(spec.left, spec.top, std::max(0, spec.width), std::max(0, spec.height));
        widget->setEnabled(!spec.disabled);
        widget->setAccessibleName(accessibleNameOf(static_cast<int>(i), spec));
        widget->show();
        s.gadgetSpecs[i] = spec;
        s.gadgets[i] = std::move(widget);
    }
    applyScroller();
    showStatusText();
}

void guiFreeGadgets() {
    guiDestroyGadgets();
}

int guiGadgetFontHeight(int id) {
    QWidget* gadget = guiGadgetAs<QWidget>(id);
    return gadget ? QFontMetrics(gadget->font()).height() : 0;
}

void guiGadgetEnable(int id, bool enabled) {
    if (QWidget* gadget = guiGadgetAs<QWidget>(id)) gadget->setEnabled(enabled);
}

bool guiGadgetEnabled(int id) {
    QWidget* gadget = guiGadgetAs<QWidget>(id);
    return gadget && gadget->isEnabled();
}

std::string guiGadgetText(int id) {
    GuiState& s = guiState();
    if (id >= GAD_BACK && id <= GAD_STOP)
        return guiGadgetAs<QWidget>(id) ? s.gadgetSpecs[static_cast<size_t>(id)].label : "";
    if (id == GAD_URL) {
        GuiUrlField* field = guiGadgetAs<GuiUrlField>(GAD_URL);
        return field ? field->text().toStdString() : s.urlText;
    }
    if (id == GAD_STATUS) {
        if (QLabel* label = guiGadgetAs<QLabel>(GAD_STATUS)) return label->text().toStdString();
        std::lock_guard lock(s.crossMutex);
        return s.statusText;
    }
    return {};
}

GadgetSpec guiGadgetGeometry(int id) {
    QWidget* gadget = guiGadgetAs<QWidget>(id);
    if (!gadget) return GadgetSpec{};
    GadgetSpec spec = guiState().gadgetSpecs[static_cast<size_t>(id)];
    QRect area = gadget->geometry();
    spec.left = area.left();
    spec.top = area.top();
    spec.width = area.width();
    spec.height = area.height();
    spec.disabled = !gadget->isEnabled();
    return spec;
}

void guiUrlFieldSetText(const std::string& text) {
    GuiState& s = guiState();
    s.urlText = text;
    if (GuiUrlField* field = guiGadgetAs<GuiUrlField>(GAD_URL)) field->setText(QString::fromUtf8(text));
}

void guiUrlFieldActivate() {
    if (GuiUrlField* field = guiGadgetAs<GuiUrlField>(GAD_URL)) {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
        if (QWidget* window = field->window()) window->activateWindow();
    }
}

void guiFocusPage() {
    if (QWidget* canvas = guiState().canvas) canvas->setFocus(Qt::OtherFocusReason);
}

bool guiPageHasFocus() {
    QWidget* canvas = guiState().canvas;
    return canvas && canvas->hasFocus();
}

void guiScrollerSet(int top, int visible, int total) {
    GuiState& s = guiState();
    s.scrollerTop = top;
    s.scrollerVisible = visible;
    s.scrollerTotal = total;
    applyScroller();
}

void guiScrollerGet(int& top, int& visible, int& total) {
    GuiState& s = guiState();
    top = s.scrollerTop;
    visible = s.scrollerVisible;
    total = s.scrollerTotal;
}

void guiSetStatusText(const std::string& text) {
    GuiState& s = guiState();
    bool here = false;
    {
        std::lock_guard lock(s.crossMutex);
        s.statusText = text;
        if (!s.alive) return;
        QCoreApplication* app = QCoreApplication::instance();
        here = QThread::currentThread() == app->thread();
        if (!here)
            QMetaObject::invokeMethod(
                app, [] { showStatusText(); }, Qt::QueuedConnection);
    }
    if (here) showStatusText();
}

// ---- the menu strip ----

void guiDestroyMenus() {
    GuiState& s = guiState();
    s.menuActions.clear();
    s.menus.clear();
}

void guiBuildMenus() {
    GuiState& s = guiState();
    guiDestroyMenus();
    if (!s.window) return;
    QSize clientArea = s.canvas->size();
    QMenuBar* bar = s.window->menuBar();
    const std::vector<MenuEntry>& entries = s.menuEntries;
    std::map<std::tuple<int, int, int>, QActionGroup*> groups;
    QMenu* menu = nullptr;
    QMenu* submenu = nullptr;
    for (size_t i = 0; i < entries.size(); ++i) {
        const MenuEntry& entry = entries[i];
        int code = menuCode(entry.menu, entry.item, entry.sub);
        if (entry.item < 0) {
            auto owned = std::make_unique<QMenu>(plainLabel(entry.label), s.window.get());
            menu = owned.get();
            menu->setAttribute(Qt::WA_WindowPropagation);
            bar->addMenu(menu);
            menu->menuAction()->setEnabled(!entry.disabled);
            s.menuActions[code] = menu->menuAction();
            s.menus.push_back(std::move(owned));
            submenu = nullptr;
            continue;
        }
        if (!menu) continue;
        if (entry.sub < 0) submenu = nullptr;
        QMenu* target = entry.sub >= 0 ? submenu : menu;
        if (!target) continue;
        if (entry.separator) {
            target->addSeparator();
            continue;
        }
        bool hasSubItems = entry.sub < 0 && i + 1 < entries.size() && entries[i + 1].menu == entry.menu &&
                           entries[i + 1].item == entry.item && entries[i + 1].sub >= 0;
        if (hasSubItems) {
            submenu = menu->addMenu(plainLabel(entry.label));
            submenu->menuAction()->setEnabled(!entry.disabled);
            s.menuActions[code] = submenu->menuAction();
            continue;
        }
        s.menuActions[code] = addMenuAction(target, entry, i, groups);
    }
    guiApplyInterfacePalette();
    guiKeepClientArea(clientArea);
}

void guiSetMenu(const std::vector<MenuEntry>& entries) {
    guiDestroyMenus();
    guiState().menuEntries = entries;
    guiBuildMenus();
}

void guiClearMenu() {
    GuiState& s = guiState();
    QSize clientArea = s.canvas ? s.canvas->size() : QSize();
    guiDestroyMenus();
    s.menuEntries.clear();
    guiKeepClientArea(clientArea);
}

void guiMenuCheck(int code, bool checked) {
    if (MenuEntry* entry = entryByCode(code)) entry->checked = checked;
    if (QAction* action = actionByCode(code); action && action->isCheckable()) action->setChecked(checked);
}

void guiMenuEnable(int code, bool enabled) {
    if (MenuEntry* entry = entryByCode(code)) entry->disabled = !enabled;
    if (QAction* action = actionByCode(code)) action->setEnabled(enabled);
}

bool guiMenuChecked(int code) {
    MenuEntry* entry = entryByCode(code);
    return entry && entry->checked;
}

bool guiMenuEnabled(int code) {
    MenuEntry* entry = entryByCode(code);
    return entry && !entry->disabled;
}

std::vector<MenuEntry> guiMenuEntries() {
    return guiState().menuEntries;
}

QAction* guiMenuAction(int code) {
    return actionByCode(code);
}
