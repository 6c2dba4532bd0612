// The editor window of palette_window.h: a modal dialog of plain gadgets at the
// positions its caller gives, reporting picks, drags and keys as events.
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <deque>
#include <map>

#include "platform/gui.h"
#include "platform/gui_internal.h"
#include "platform/palette_window.h"

namespace {

QColor registerColour(int pen) {
    return QColor::fromRgb(0xFF000000u | guiPenColour(pen));
}

// The eight registers as cells in a grid of 8, 4, 2 or 1 columns, whichever gives
// the squarest cells; the selected cell is framed.
class PaletteCells : public QWidget {
  public:
    PaletteCells(QWidget* parent, std::function<void(int)> picked)
        : QWidget(parent), picked_(std::move(picked)) {
        setFocusPolicy(Qt::NoFocus);
    }

    int selected() const { return selected_; }
    void select(int pen) {
        if (pen < 0 || pen > 7 || pen == selected_) return;
        selected_ = pen;
        update();
    }

    // Cells fill the gadget inside a one-pixel outline.
    QRect cell(int pen) const {
        const int columns = this->columns();
        const int rows = 8 / columns;
        const int column = pen % columns, row = pen / columns;
        const int w = std::max(1, width() - 2), h = std::max(1, height() - 2);
        const int x0 = column * w / columns, x1 = (column + 1) * w / columns;
        const int y0 = row * h / rows, y1 = (row + 1) * h / rows;
        return QRect(1 + x0, 1 + y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // The outline in the text colour: a cell of the window's own colour still shows.
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        for (int pen = 0; pen < 8; ++pen)
            painter.fillRect(cell(pen), registerColour(pen));
        // The selection: a frame in the text colour around one in the background's,
        // so that it shows on any cell.
        QRect chosen = cell(selected_);
        painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(chosen.adjusted(1, 1, -1, -1));
        painter.setPen(QPen(palette().color(QPalette::Window), 1));
        painter.drawRect(chosen.adjusted(3, 3, -4, -4));
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return event->ignore();
        const QPoint at = event->position().toPoint();
        for (int pen = 0; pen < 8; ++pen) {
            if (cell(pen).contains(at)) {
                select(pen);
                picked_(pen);
                return;
            }
        }
    }

  private:
    int columns() const {
        int best = 8, bestSide = -1;
        for (int columns : {8, 4, 2, 1}) {
            const int side = std::min((width() - 2) / columns, (height() - 2) / (8 / columns));
            if (side > bestSide) {
                best = columns;
                bestSide = side;
            }
        }
        return best;
    }

    std::function<void(int)> picked_;
    int selected_ = 0;
};

class PaletteDialog : public QDialog {
  public:
    PaletteDialog(QWidget* parent, std::function<bool(const PaletteEvent&)> handler)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
          handler_(std::move(handler)) {}

    // Hands events to the handler one at a time, in order.
    void deliver(const PaletteEvent& event) {
        if (closing_) return;
        pending_.push_back(event);
        if (delivering_) return;
        delivering_ = true;
        while (!pending_.empty() && !closing_) {
            PaletteEvent next = pending_.front();
            pending_.pop_front();
            if (handler_(next)) {
                closing_ = true;
                done(QDialog::Accepted);
            }
        }
        pending_.clear();
        delivering_ = false;
    }

    // The top-left asked for, kept on the screen once the frame is known.
    QPoint wanted;
    std::map<int, QWidget*> gadgets;
    std::map<int, QLabel*> levels;  // the level shown beside each slider

    QLabel* level(int id) const {
        auto it = levels.find(id);
        return it == levels.end() ? nullptr : it->second;
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        int character = 0;
        if (event->key() == Qt::Key_Escape) {
            character = 27;
        } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            character = 13;
        } else if (!text.isEmpty()) {
            character = text.at(0).unicode();
        }
        // Shift, Ctrl, cursor and function keys type nothing.
        if (character == 0) return event->ignore();
        deliver(PaletteEvent{PEV_KEY, -1, character});
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        deliver(PaletteEvent{PEV_CLOSE, -1, 0});
    }
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        QScreen* screen = this->screen();
        if (!screen) return;
        const QRect room = screen->geometry();
        const QSize frame = frameGeometry().size();
        const int left =
            std::clamp(wanted.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width()));
        const int top =
            std::clamp(wanted.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height()));
        move(left, top);
    }

  private:
    std::function<bool(const PaletteEvent&)> handler_;
    std::deque<PaletteEvent> pending_;
    bool delivering_ = false;
    bool closing_ = false;
};

// The editor window while it runs (it lives on guiRunPaletteWindow's stack).
PaletteDialog* openDialog = nullptr;

QString levelText(int level) {
    return QString::number(level, 16);
}

// A label right-aligned against the left edge of its gadget, as high as the gadget.
void addLabel(PaletteDialog& dialog, const PaletteGadgetSpec& spec, int gap) {
    if (spec.label.empty()) return;
    auto* label = new QLabel(QString::fromUtf8(spec.label), &dialog);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (spec.highlightLabel) label->setForegroundRole(QPalette::Highlight);
    const int width = label->sizeHint().width();
    label->setGeometry(spec.left - gap - width, spec.top, width, std::max(1, spec.height));
}

QWidget* makeGadget(PaletteDialog& dialog, const PaletteGadgetSpec& spec, int gap) {
    const int id = spec.id;
    PaletteDialog* owner = &dialog;
    switch (spec.kind) {
        case PGAD_CYCLE: {
            addLabel(dialog, spec, gap);
            auto* cycle = new QComboBox(&dialog);
            cycle->setFocusPolicy(Qt::NoFocus);
            for (const std::string& choice : spec.choices)
                cycle->addItem(QString::fromUtf8(choice));
            cycle->setCurrentIndex(std::clamp(spec.value, 0, std::max(0, cycle->count() - 1)));
            QObject::connect(cycle, &QComboBox::activated, cycle, [owner, id](int index) {
                owner->deliver(PaletteEvent{PEV_GADGETUP, id, index});
            });
            return cycle;
        }
        case PGAD_PALETTE: {
            addLabel(dialog, spec, gap);
            auto* cells = new PaletteCells(&dialog, [owner, id](int pen) {
                owner->deliver(PaletteEvent{PEV_GADGETUP, id, pen});
            });
            cells->select(std::clamp(spec.value, 0, 7));
            return cells;
        }
        case PGAD_SLIDER: {
            addLabel(dialog, spec, gap);
            auto* slider = new QSlider(Qt::Horizontal, &dialog);
            slider->setFocusPolicy(Qt::NoFocus);
            slider->setRange(0, std::max(1, spec.maxLevel));
            slider->setPageStep(1);
            slider->setValue(std::clamp(spec.value, 0, slider->maximum()));
            auto* level = new QLabel(levelText(slider->value()), &dialog);
            level->setTextFormat(Qt::PlainText);
            level->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            const int digits = static_cast<int>(levelText(slider->maximum()).size()) + 1;
            level->setGeometry(
                spec.left + spec.width + gap, spec.top,
                QFontMetrics(dialog.font()).horizontalAdvance(QString(digits, QLatin1Char('M'))),
                std::max(1, spec.height));
            dialog.levels[id] = level;
            QObject::connect(slider, &QSlider::valueChanged, slider, [owner, id, level](int value) {
                level->setText(levelText(value));
                owner->deliver(PaletteEvent{PEV_SLIDER, id, value});
            });
            return slider;
        }
        default: {
            auto* button = new QPushButton(
                QString::fromUtf8(spec.label).replace(QLatin1Char('&'), QLatin1String("&&")), &dialog);
            button->setFocusPolicy(Qt::NoFocus);
            button->setAutoDefault(false);
            QObject::connect(button, &QPushButton::clicked, button, [owner, id] {
                owner->deliver(PaletteEvent{PEV_GADGETUP, id, 0});
            });
            return button;
        }
    }
}

QFont fontFor(int handle) {
    const auto& fonts = guiState().fonts;
    if (handle >= 1 && static_cast<size_t>(handle) <= fonts.size() && fonts[static_cast<size_t>(handle) - 1])
        return *fonts[static_cast<size_t>(handle) - 1];
    return QApplication::font();
}

}  // namespace

bool guiRunPaletteWindow(const PaletteWindowSpec& spec,
                         const std::function<bool(const PaletteEvent&)>& handler) {
    GuiState& s = guiState();
    if (!s.ready || openDialog) return false;
    PaletteDialog dialog(guiDialogParent(), handler);
    // The own screen's colours reach the editor as they reach the main window.
    dialog.setAttribute(Qt::WA_WindowPropagation);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(QString::fromUtf8(spec.title));
    dialog.setFont(fontFor(spec.font));
    dialog.setFixedSize(std::max(1, spec.width), std::max(1, spec.height));
    dialog.wanted = QPoint(spec.left, spec.top);
    dialog.move(dialog.wanted);
    for (const PaletteGadgetSpec& gadget : spec.gadgets) {
        QWidget* widget = makeGadget(dialog, gadget, spec.labelGap);
        widget->setGeometry(gadget.left, gadget.top, std::max(1, gadget.width), std::max(1, gadget.height));
        dialog.gadgets[gadget.id] = widget;
    }
    openDialog = &dialog;
    int result = 0;
    const bool completed = guiRunDialog(dialog, result);
    openDialog = nullptr;
    return !completed;
}

bool guiPaletteWindowOpen() {
    PaletteDialog* dialog = openDialog;
    return dialog && dialog->isVisible();
}

QWidget* guiPaletteDialog() {
    return openDialog;
}

QWidget* guiPaletteGadget(int id) {
    PaletteDialog* dialog = openDialog;
    if (!dialog) return nullptr;
    auto it = dialog->gadgets.find(id);
    return it == dialog->gadgets.end() ? nullptr : it->second;
}

QRect guiPaletteCellRect(int id, int pen) {
    auto* cells = dynamic_cast<PaletteCells*>(guiPaletteGadget(id));
    return cells && pen >= 0 && pen < 8 ? cells->cell(pen) : QRect();
}

void guiPaletteRegistersChanged() {
    if (!openDialog) return;
    for (PaletteCells* cells : openDialog->findChildren<PaletteCells*>())
        cells->update();
}

void guiPaletteSetValue(int id, int value) {
    QWidget* gadget = guiPaletteGadget(id);
    if (auto* cells = dynamic_cast<PaletteCells*>(gadget)) {
        cells->select(value);
    } else if (auto* slider = dynamic_cast<QSlider*>(gadget)) {
        QSignalBlocker blocker(slider);
        slider->setValue(value);
        if (QLabel* level = openDialog ? openDialog->level(id) : nullptr)
            level->setText(levelText(slider->value()));
    } else if (auto* cycle = dynamic_cast<QComboBox*>(gadget)) {
        QSignalBlocker blocker(cycle);
        if (value >= 0 && value < cycle->count()) cycle->setCurrentIndex(value);
    }
}

int guiPaletteValue(int id) {
    QWidget* gadget = guiPaletteGadget(id);
    if (auto* cells = dynamic_cast<PaletteCells*>(gadget)) return cells->selected();
    if (auto* slider = dynamic_cast<QSlider*>(gadget)) return slider->value();
    if (auto* cycle = dynamic_cast<QComboBox*>(gadget)) return cycle->currentIndex();
    return gadget ? 0 : -1;
}

std::string guiPaletteLevelText(int id) {
    PaletteDialog* dialog = openDialog;
    QLabel* level = dialog ? dialog->level(id) : nullptr;
    return level ? level->text().toStdString() : std::string();
}

bool guiPaletteWindowFrame(int& left, int& top, int& width, int& height) {
    PaletteDialog* dialog = openDialog;
    if (!dialog || !dialog->isVisible()) return false;
    const QRect frame = dialog->frameGeometry();
    left = frame.left();
    top = frame.top();
    width = frame.width();
    height = frame.height();
    return true;
}

bool guiMainScreenGeometry(int& left, int& top, int& width, int& height) {
    GuiState& s = guiState();
    if (!s.window) return false;
    QScreen* screen = s.window->screen();
    if (!screen) return false;
    const QRect area = screen->geometry();
    left = area.left();
    top = area.top();
    width = area.width();
    height = area.height();
    return true;
}

int guiLabelWidth(int font, const std::string& text) {
    if (!guiState().ready || text.empty()) return 0;
    return QFontMetrics(fontFor(font)).horizontalAdvance(QString::fromUtf8(text));
}

bool guiGrabScreen(const char* path) {
    GuiState& s = guiState();
    if (!path || !s.ready || !s.window) return false;
    QPixmap shot = s.window->grab();
    if (PaletteDialog* dialog = openDialog) {
        QPainter painter(&shot);
        const QPoint at = dialog->geometry().topLeft() - s.window->geometry().topLeft();
        painter.drawPixmap(at, dialog->grab());
    }
    return shot.save(QString::fromUtf8(path), "PNG");
}
