#include "settings/theme_editor.h"

#include <algorithm>
#include <string>

#include "platform/gui.h"
#include "platform/palette_window.h"
#include "settings/themes.h"
#include "text/locale.h"

const PenRole EDITOR_ROLES[PEN_ROLE_COUNT] = {
    PEN_BACKGROUND, PEN_TEXT,     PEN_HEADING, PEN_PREFORMAT, PEN_GEMLINK, PEN_WEBLINK,
    PEN_VISITED,    PEN_BOOKMARK, PEN_BADLINK, PEN_LINKDOWN,  PEN_WEBDOWN,
};

namespace {

// The labels of the role palettes, in EDITOR_ROLES order.
constexpr int ROLE_LABELS[PEN_ROLE_COUNT] = {
    MSG_ROLE_BACKGROUND, MSG_ROLE_TEXT,     MSG_ROLE_HEADING, MSG_ROLE_PREFORMAT,
    MSG_ROLE_LINK,       MSG_ROLE_WEBLINK,  MSG_ROLE_VISITED, MSG_ROLE_BOOKMARK,
    MSG_ROLE_BADLINK,    MSG_ROLE_LINKDOWN, MSG_ROLE_WEBDOWN,
};

// Role palettes up to Badlink change what the page shows now; the two pressed-link
// roles show only while a link is held.
constexpr int LAST_REDRAWN_ROLE = EDIT_GAD_FIRST_ROLE + 8;

// The frame a window manager puts around the editor, allowed for when it is placed:
// borders of 4 and a title bar of the gadget font's height and a little.
constexpr int FRAME_BORDER = 4;

struct Editor {
    uint8_t red[PALETTE_SIZE] = {}, green[PALETTE_SIZE] = {}, blue[PALETTE_SIZE] = {};
    uint8_t savedRed[PALETTE_SIZE] = {}, savedGreen[PALETTE_SIZE] = {}, savedBlue[PALETTE_SIZE] = {};
    int current = 0;
    std::function<void()> redraw;
};

uint32_t colourOf(const Editor& e, int i) {
    return uint32_t{e.red[i]} << 8 | uint32_t{e.green[i]} << 4 | e.blue[i];
}

void setColour(Editor& e, int i, uint32_t rgb) {
    e.red[i] = static_cast<uint8_t>((rgb >> 8) & 15);
    e.green[i] = static_cast<uint8_t>((rgb >> 4) & 15);
    e.blue[i] = static_cast<uint8_t>(rgb & 15);
    guiSetRegister(i, colourOf(e, i));
}

void redraw(const Editor& e) {
    if (e.redraw) e.redraw();
}

// Makes a palette index the current colour: the colour palette and the sliders follow.
void selectColour(Editor& e, int i) {
    e.current = std::clamp(i, 0, PALETTE_SIZE - 1);
    guiPaletteSetValue(EDIT_GAD_PALETTE, e.current);
    guiPaletteSetValue(EDIT_GAD_RED, e.red[e.current]);
    guiPaletteSetValue(EDIT_GAD_GREEN, e.green[e.current]);
    guiPaletteSetValue(EDIT_GAD_BLUE, e.blue[e.current]);
}

void showRolePens() {
    for (int k = 0; k < PEN_ROLE_COUNT; ++k)
        guiPaletteSetValue(EDIT_GAD_FIRST_ROLE + k, elementPens[EDITOR_ROLES[k]]);
}

// On the own screen a role's pen is its palette index.
void setPens(const int32_t* roles) {
    for (int r = 0; r < PEN_ROLE_COUNT; ++r)
        elementPens[r] = roles[r] >= 0 && roles[r] < PALETTE_SIZE ? roles[r] : 0;
    buildStylePens();
}

void copyTheme(Editor& e, int theme) {
    if (theme < 0 || theme >= THEME_COUNT) return;
    const uint32_t* colours = themeColours(theme);
    for (int i = 0; i < PALETTE_SIZE; ++i)
        setColour(e, i, colours[i]);
    // The page's background follows elementPens[PEN_BACKGROUND] whenever it is drawn.
    setPens(themeRolePens(theme));
    redraw(e);
    selectColour(e, e.current);
    showRolePens();
}

void pickRolePen(Editor& e, int gadget, int pen) {
    pen = std::clamp(pen, 0, PALETTE_SIZE - 1);
    elementPens[EDITOR_ROLES[gadget - EDIT_GAD_FIRST_ROLE]] = pen;
    buildStylePens();
    selectColour(e, pen);
    if (gadget <= LAST_REDRAWN_ROLE) redraw(e);
}

void keep(const Editor& e) {
    for (int i = 0; i < PALETTE_SIZE; ++i)
        settings.customColours[i] = uint32_t{e.red[i]} * 256 + uint32_t{e.green[i]} * 16 + e.blue[i];
    std::copy(std::begin(elementPens), std::end(elementPens), std::begin(settings.customPens));
}

void revert(Editor& e) {
    for (int i = 0; i < PALETTE_SIZE; ++i)
        setColour(e, i, uint32_t{e.savedRed[i]} << 8 | uint32_t{e.savedGreen[i]} << 4 | e.savedBlue[i]);
    setPens(themeRolePens(settings.theme));
    redraw(e);
}

// One event of the window; true when it closes the editor.
bool editorEvent(Editor& e, const PaletteEvent& event) {
    switch (event.kind) {
        case PEV_KEY:
        case PEV_CLOSE:
            revert(e);
            return true;
        case PEV_SLIDER: {
            if (event.gadget < EDIT_GAD_RED || event.gadget > EDIT_GAD_BLUE) return false;
            const auto level = static_cast<uint8_t>(std::clamp(event.value, 0, EDITOR_LEVEL_MAX));
            uint8_t* component = event.gadget == EDIT_GAD_RED     ? e.red
                                 : event.gadget == EDIT_GAD_GREEN ? e.green
                                                                  : e.blue;
            component[e.current] = level;
            guiSetRegister(e.current, colourOf(e, e.current));
            // The register recolours the screen at once; drawing the page again
            // mends what a register cannot: text edges blended with the old colour,
            // and pixels of another register that had the same colour.
            redraw(e);
            return false;
        }
        case PEV_GADGETUP:
            if (event.gadget == EDIT_GAD_PALETTE) {
                selectColour(e, event.value);
            } else if (event.gadget == EDIT_GAD_COPY) {
                copyTheme(e, event.value);
            } else if (event.gadget == EDIT_GAD_USE) {
                keep(e);
                return true;
            } else if (event.gadget == EDIT_GAD_CANCEL) {
                revert(e);
                return true;
            } else if (event.gadget >= EDIT_GAD_FIRST_ROLE && event.gadget < EDIT_GAD_COUNT) {
                pickRolePen(e, event.gadget, event.value);
            }
            return false;
        default:
            return false;
    }
}

// Keeps the gadgets inside the window along one axis when the room is smaller than
// the layout (or a gadget sticks out of it): every position shrinks by the same
// factor, so rows keep their order, and sizes stay (no larger than the window), so
// rows may overlap. The factor leaves room for the largest gadget at the far end.
void fitAxis(EditorBox (&boxes)[EDIT_GAD_COUNT], int32_t EditorBox::*position, int32_t EditorBox::*size,
             int32_t& natural, int32_t room) {
    int32_t extent = natural, largest = 0;
    for (const EditorBox& box : boxes) {
        extent = std::max(extent, box.*position + box.*size);
        largest = std::max(largest, box.*size);
    }
    const int32_t length = std::min(natural, room);
    natural = length;
    if (extent <= length) return;
    largest = std::min(largest, length);
    for (EditorBox& box : boxes) {
        box.*size = std::min(box.*size, length);
        const int64_t scaled =
            extent > largest ? int64_t{box.*position} * (length - largest) / (extent - largest) : 0;
        box.*position = std::clamp(static_cast<int32_t>(scaled), 0, length - box.*size);
    }
}

}  // namespace

EditorLayout editorLayout(const EditorMeasures& m) {
    const int32_t gh = std::max(1, m.gh), mw = std::max(1, m.mw);
    const int32_t h = gh * 3 / 2;
    const int32_t bw = std::max(1, m.cancelWidth * 3 / 2);
    const int32_t rs = gh / 2 + gh + 2;
    // The toolkit's frame holds the title bar and the borders: the gadgets start one
    // "M" in and one line down from the client area's corner.
    const int32_t x0 = mw, y0 = gh;
    EditorLayout l;
    l.width = 3 * mw + 300;
    l.height = 11 * rs + 2 * h + 3 * gh + gh / 2;
    l.gadgets[EDIT_GAD_COPY] = {x0 + mw / 2 + m.copyLabelWidth, y0, bw * 3 / 2, h};
    l.gadgets[EDIT_GAD_PALETTE] = {x0, y0 + h + gh, 100, 3 * gh};
    for (int k = 0; k < 3; ++k)
        l.gadgets[EDIT_GAD_RED + k] = {x0 + mw * 3 / 2, y0 + h + 5 * gh + k * (gh + 2 + gh), 60, gh + 2};
    for (int k = 0; k < PEN_ROLE_COUNT; ++k)
        l.gadgets[EDIT_GAD_FIRST_ROLE + k] = {x0 + 200 + mw, y0 + h + gh + k * rs, 100, gh + 2};
    const int32_t buttonTop = l.height - h - gh;
    l.gadgets[EDIT_GAD_USE] = {x0, buttonTop, bw, h};
    l.gadgets[EDIT_GAD_CANCEL] = {x0 + 300 + mw - bw, buttonTop, bw, h};

    fitAxis(l.gadgets, &EditorBox::left, &EditorBox::width, l.width, std::max(1, m.roomWidth));
    fitAxis(l.gadgets, &EditorBox::top, &EditorBox::height, l.height, std::max(1, m.roomHeight));
    return l;
}

int openPaletteWindow(const std::function<void()>& redrawWindow) {
    int screenLeft = 0, screenTop = 0, screenWidth = 0, screenHeight = 0;
    if (!guiWindowOpen() || !guiMainScreenGeometry(screenLeft, screenTop, screenWidth, screenHeight))
        return 0;

    const int font = guiFontOpen(settings.screenFont.name, settings.screenFont.height);
    EditorMeasures m;
    m.gh = guiFontHeight(font);
    m.mw = std::max(1, guiLabelWidth(font, "M"));
    m.copyLabelWidth = guiLabelWidth(font, messageText(MSG_THEME_COPY_FROM));
    m.cancelWidth = guiLabelWidth(font, messageText(MSG_BUTTON_CANCEL));
    const int frameWidth = 2 * FRAME_BORDER, frameHeight = m.gh + 2 + 2 * FRAME_BORDER;
    m.roomWidth = screenWidth - frameWidth;
    m.roomHeight = screenHeight - frameHeight;
    const EditorLayout layout = editorLayout(m);

    Editor e;
    e.redraw = redrawWindow;
    for (int i = 0; i < PALETTE_SIZE; ++i) {
        const uint32_t rgb = guiRegister(i);
        e.red[i] = e.savedRed[i] = static_cast<uint8_t>((rgb >> 8) & 15);
        e.green[i] = e.savedGreen[i] = static_cast<uint8_t>((rgb >> 4) & 15);
        e.blue[i] = e.savedBlue[i] = static_cast<uint8_t>(rgb & 15);
    }

    PaletteWindowSpec spec;
    spec.title = messageText(MSG_TITLE_THEME_EDITOR);
    spec.width = layout.width;
    spec.height = layout.height;
    // Over the main window, 8/10 of the way across the room it leaves and 7/10 down.
    spec.left = screenLeft + std::max(0, screenWidth - layout.width - frameWidth) * 8 / 10;
    spec.top = screenTop + std::max(0, screenHeight - layout.height - frameHeight) * 7 / 10;
    spec.font = font;
    spec.labelGap = std::max(1, m.mw / 2);
    auto add = [&](int id, int kind, std::string label, int value) {
        PaletteGadgetSpec g;
        const EditorBox& box = layout.gadgets[id];
        g.id = id;
        g.kind = kind;
        g.left = box.left;
        g.top = box.top;
        g.width = box.width;
        g.height = box.height;
        g.label = std::move(label);
        g.value = value;
        spec.gadgets.push_back(std::move(g));
        return &spec.gadgets.back();
    };
    PaletteGadgetSpec* copy = add(EDIT_GAD_COPY, PGAD_CYCLE, messageText(MSG_THEME_COPY_FROM), THEME_CUSTOM);
    copy->highlightLabel = true;
    for (const ThemeInfo& theme : THEME_INFO)
        copy->choices.emplace_back(theme.label);
    add(EDIT_GAD_PALETTE, PGAD_PALETTE, "", 0);
    const char* const sliderLabels[3] = {"R", "G", "B"};
    const uint8_t levels[3] = {e.red[0], e.green[0], e.blue[0]};
    for (int k = 0; k < 3; ++k)
        add(EDIT_GAD_RED + k, PGAD_SLIDER, sliderLabels[k], levels[k])->maxLevel = EDITOR_LEVEL_MAX;
    for (int k = 0; k < PEN_ROLE_COUNT; ++k)
        add(EDIT_GAD_FIRST_ROLE + k, PGAD_PALETTE, messageText(ROLE_LABELS[k]), elementPens[EDITOR_ROLES[k]]);
    add(EDIT_GAD_USE, PGAD_BUTTON, messageText(MSG_BUTTON_USE), 0);
    add(EDIT_GAD_CANCEL, PGAD_BUTTON, messageText(MSG_BUTTON_CANCEL), 0);

    const bool broken =
        guiRunPaletteWindow(spec, [&e](const PaletteEvent& event) { return editorEvent(e, event); });
    guiFontClose(font);
    return broken ? 1 : 0;
}
