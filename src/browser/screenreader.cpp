#include "browser/screenreader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "browser/load.h"
#include "platform/access.h"
#include "text/charset.h"
#include "view/view.h"

namespace {

// The first display line of each link last told, by index.
std::vector<int32_t> toldLinks;
std::string toldAddress;

std::string utf8Of(const PageModel& page, const char* text) {
    if (text == nullptr) return {};
    return page.unicode ? std::string(text) : displayToUtf8(text);
}

// A link's words without the marks and the indent that introduce it on the screen.
std::string linkWords(const std::string& shown) {
    size_t at = shown.find_first_not_of(' ');
    if (at == std::string::npos) return {};
    if (shown.compare(at, 2, "=>") == 0 || shown.compare(at, 2, "=:") == 0) at += 2;
    at = shown.find_first_not_of(' ', at);
    return at == std::string::npos ? std::string() : shown.substr(at);
}

AccessView describe(const PageRecord& record) {
    const PageModel& page = record.model;
    const ViewMetrics& m = viewMetrics();
    const int32_t top = viewState().topLine;
    const int32_t bottom = std::min(page.lineCount, top + m.rows) - 1;
    AccessView view;
    view.name = displayToUtf8(record.address.url);
    view.x = m.textLeft;
    view.y = m.textTop;
    view.width = m.textWidth;
    view.height = m.textHeight;
    view.lines.reserve(static_cast<size_t>(page.lineCount));
    for (int32_t i = 0; i < page.lineCount; ++i)
        view.lines.push_back(utf8Of(page, page.lines[static_cast<size_t>(i)].text));
    toldLinks.clear();
    for (int32_t i = 0; i < page.lineCount; ++i) {
        const PageLine& line = page.lines[static_cast<size_t>(i)];
        if (line.linkUrl == nullptr || line.style >= STYLE_UNSUPPORTED) continue;
        int32_t first = 0, last = 0;
        linkSpan(page, i, first, last);
        if (first != i) continue;
        AccessLink link;
        for (int32_t k = first; k <= last; ++k) {
            const std::string words = linkWords(view.lines[static_cast<size_t>(k)]);
            if (!link.text.empty() && !words.empty()) link.text += ' ';
            link.text += words;
        }
        link.address = utf8Of(page, line.linkUrl);
        link.line = first;
        // Where it is on the screen, while some of it is.
        const int32_t from = std::max(first, top), to = std::min(last, bottom);
        if (from <= to) {
            link.x = m.textLeft;
            link.y = m.textTop + (from - top) * m.lineHeight;
            for (int32_t k = from; k <= to; ++k)
                link.width = std::max(
                    link.width,
                    offsetX(page, k,
                            static_cast<int32_t>(std::strlen(page.lines[static_cast<size_t>(k)].text))) -
                        m.textLeft);
            link.height = (to - from + 1) * m.lineHeight;
        }
        view.links.push_back(std::move(link));
        toldLinks.push_back(first);
    }
    return view;
}

int32_t cursorIndex() {
    const int32_t cursor = viewState().cursorLine;
    const auto it = std::find(toldLinks.begin(), toldLinks.end(), cursor);
    return cursor >= 0 && it != toldLinks.end() ? static_cast<int32_t>(it - toldLinks.begin()) : -1;
}

}  // namespace

void readerPageShown() {
    const PageRecord* page = currentPage();
    if (!page || !guiAccessListening()) {
        toldLinks.clear();
        toldAddress.clear();
        return;
    }
    const bool same = toldAddress == page->address.url;
    toldAddress = page->address.url;
    if (same) {
        guiAccessUpdatePage(describe(*page));
        guiAccessSetFocus(cursorIndex());
    } else {
        guiAccessSetPage(describe(*page));
    }
}

void readerViewMoved() {
    const PageRecord* page = currentPage();
    if (!page || !guiAccessListening()) return;
    guiAccessUpdatePage(describe(*page));
}

void readerCursorMoved() {
    if (!currentPage() || !guiAccessListening()) return;
    guiAccessSetFocus(cursorIndex());
}

void readerLinkPressed(int32_t index) {
    const PageRecord* page = currentPage();
    if (!page || index < 0 || index >= static_cast<int32_t>(toldLinks.size())) return;
    followPageLink(lineClick(page->model, toldLinks[static_cast<size_t>(index)]));
}
