#include "browser/keyboard.h"

#include <initializer_list>
#include <string>
#include <vector>

#include "browser/load.h"
#include "browser/screenreader.h"
#include "browser/services.h"
#include "page/find.h"
#include "platform/clipboard.h"
#include "shell/window.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace {

// The text the matches on show were found for ("": none on show).
std::string foundText;
std::string primaryText;

PageModel* shownModel() {
    PageRecord* page = currentPage();
    return page ? &page->model : nullptr;
}

// A text with its "%ld"s replaced by the numbers in turn (a translation's text is
// never a format string).
std::string withNumbers(const std::string& pattern, std::initializer_list<long> numbers) {
    std::string out;
    auto next = numbers.begin();
    for (size_t at = 0; at < pattern.size();) {
        const size_t mark = pattern.find("%ld", at);
        if (mark == std::string::npos || next == numbers.end()) {
            out.append(pattern, at, std::string::npos);
            break;
        }
        out.append(pattern, at, mark - at);
        out += std::to_string(*next++);
        at = mark + 3;
    }
    return out;
}

// Scrolls so that display lines first to last are in view (the first when they do
// not fit), through the page's own scrolling so the reading position is kept.
void bringIntoView(int32_t first, int32_t last) {
    const ViewMetrics& m = viewMetrics();
    const int32_t top = viewState().topLine;
    if (first < top) {
        scrollPageUp(top - first, true);
    } else if (last >= top + m.rows) {
        scrollPageDown(std::min(last - (top + m.rows - 1), first - top), true);
    }
}

void moveCursor(bool forward) {
    PageModel* page = shownModel();
    if (!page) return;
    const int32_t target = linkCursorTarget(*page, forward);
    if (target < 0) return;
    int32_t first = 0, last = 0;
    linkSpan(*page, target, first, last);
    bringIntoView(first, last);
    setLinkCursor(*page, target);
    readerCursorMoved();
}

void followCursor() {
    PageRecord* page = currentPage();
    if (!page) return;
    followPageLink(cursorClick(page->model));
}

// Looks for the text again and shows the match nearest the view in the direction.
void search(const std::string& text, bool forward, bool step) {
    PageModel* page = shownModel();
    if (!page) return;
    ViewState& view = viewState();
    std::vector<FindMatch> matches = findInPage(*page, text);
    int32_t current = -1;
    if (!matches.empty()) {
        const auto count = static_cast<int32_t>(matches.size());
        const int32_t was = foundText == text ? view.currentMatch : -1;
        if (was >= 0 && was < count) {
            current = step ? (was + (forward ? 1 : count - 1)) % count : was;
        } else {
            // The first match from the top of the view on (or the last before its end).
            const int32_t top = view.topLine;
            const int32_t bottom = top + viewMetrics().rows - 1;
            current = forward ? 0 : count - 1;
            for (int32_t i = 0; i < count; ++i) {
                const int32_t k = forward ? i : count - 1 - i;
                if (forward ? matches[static_cast<size_t>(k)].line >= top
                            : matches[static_cast<size_t>(k)].line <= bottom) {
                    current = k;
                    break;
                }
            }
        }
        const int32_t line = matches[static_cast<size_t>(current)].line;
        bringIntoView(line, line);
    }
    foundText = text;
    const bool any = !matches.empty();
    const auto total = static_cast<long>(matches.size());
    setFindMatches(*page, std::move(matches), current);
    if (text.empty()) {
        setStatus("");
    } else if (!any) {
        setStatus(getString(MSG_STATUS_NO_MATCH));
    } else {
        setStatus(withNumbers(getString(MSG_STATUS_MATCH), {static_cast<long>(current) + 1, total}).c_str());
    }
}

void clearFound() {
    foundText.clear();
    if (PageModel* page = shownModel()) setFindMatches(*page, {}, -1);
}

// Shift with the cursor keys, Home and End: the selection grows or shrinks.
bool selectFromKeyboard(int key) {
    PageModel* page = shownModel();
    if (!page) return false;
    SelectStep step;
    switch (key) {
        case KEY_LEFT:
            step = SELECT_BACK;
            break;
        case KEY_RIGHT:
            step = SELECT_FORWARD;
            break;
        case KEY_UP:
            step = SELECT_UP;
            break;
        case KEY_DOWN:
            step = SELECT_DOWN;
            break;
        case KEY_HOME:
            step = SELECT_LINE_START;
            break;
        case KEY_END:
            step = SELECT_LINE_END;
            break;
        default:
            return false;
    }
    if (!extendSelection(*page, step)) return false;
    const ViewState& view = viewState();
    TextSpot end = view.selectFrom < view.selectTo ? view.selectTo : view.selectFrom;
    bringIntoView(end.line, end.line);
    selectionMade();
    return true;
}

}  // namespace

bool pageKey(const WindowMessage& msg) {
    const ViewMetrics& m = viewMetrics();
    if (msg.kind == WMSG_VANILLAKEY && msg.code == '/') {
        findCommand();
        return true;
    }
    if (msg.kind != WMSG_RAWKEY) return false;
    if ((msg.qualifier & QUAL_SHIFT) && selectFromKeyboard(msg.code)) return true;
    const int32_t top = viewState().topLine;
    switch (msg.code) {
        case KEY_PAGEUP:
            scrollPageUp(m.rows - 1, true);
            return true;
        case KEY_PAGEDOWN:
            scrollPageDown(m.rows - 1, true);
            return true;
        case KEY_HOME:
            scrollPageUp(top, true);
            return true;
        case KEY_END:
            if (PageModel* page = shownModel()) scrollPageDown(page->lineCount, true);
            return true;
        case KEY_TAB:
            moveCursor(!(msg.qualifier & QUAL_SHIFT));
            return true;
        case KEY_RETURN:
            followCursor();
            return true;
        case KEY_ESCAPE:
            if (msg.gadget == GAD_URL) {
                // The field shows the page's address again.
                if (PageRecord* page = currentPage()) updateUrlGad(page->address);
            } else if (findBarOpen()) {
                findBarMessage(FIND_CLOSE);
            } else if (PageModel* page = shownModel()) {
                setSelection(*page, TextSpot{}, TextSpot{});
            }
            return true;
        default:
            return false;
    }
}

void findCommand() {
    placeFindBar(true);
    const std::string text = guiFindBarText();
    if (!text.empty() && text != foundText) search(text, true, false);
}

void findAgain(bool forward) {
    const std::string text = guiFindBarText();
    if (text.empty()) {
        findCommand();
        return;
    }
    search(text, forward, true);
}

void findBarMessage(int action) {
    switch (action) {
        case FIND_CHANGED:
            search(guiFindBarText(), true, false);
            break;
        case FIND_NEXT:
        case FIND_PREVIOUS:
            search(guiFindBarText(), action == FIND_NEXT, foundText == guiFindBarText());
            break;
        case FIND_CLOSE:
            placeFindBar(false);
            // The match on show stays selected, ready to copy or to grow.
            if (PageModel* page = shownModel(); page && selectCurrentMatch(*page)) selectionMade();
            clearFound();
            setStatus("");
            guiFocusPage();
            break;
        default:
            break;
    }
}

void findRefresh() {
    if (!findBarOpen() || foundText.empty()) {
        foundText.clear();
        return;
    }
    const std::string text = foundText;
    foundText.clear();
    search(text, true, false);
}

void copyTextCommand() {
    PageModel* page = shownModel();
    const std::string text = page ? selectedText(*page) : std::string();
    if (text.empty()) {
        setStatus(getString(MSG_STATUS_NOTHING_SELECTED));
        return;
    }
    clipWrite(text);
}

void selectionMade() {
    PageModel* page = shownModel();
    if (!page) return;
    primaryText = selectedText(*page);
    if (!primaryText.empty()) clipboardWriteSelection(primaryText);
}

const std::string& lastPrimaryText() {
    return primaryText;
}
