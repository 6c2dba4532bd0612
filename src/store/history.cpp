#include "store/history.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <list>
#include <new>

#include "platform/files.h"
#include "platform/paths.h"
#include "store/listview.h"
#include "store/visited.h"
#include "text/locale.h"
#include "url/url.h"

namespace {

// A line of the visited file is read into a buffer of URL_MAX + 1 bytes.
constexpr size_t READ_BUFFER_SIZE = URL_MAX + 1;

struct History {
    std::list<HistoryEntry> entries;  // oldest first
    std::list<HistoryEntry>::iterator current = entries.end();
};

History& history() {
    static History h;
    return h;
}

void historyClear() {
    History& h = history();
    h.entries.clear();
    h.current = h.entries.end();
}

}  // namespace

void historyInit() {
    historyClear();
    visitedClear();
    visitedRead();
}

void historyCleanup() {
    if (visitedCount() > 0) visitedWrite();
    historyClear();
    visitedClear();
}

HistoryEntry* historyAdd(std::string_view url) {
    History& h = history();
    std::list<HistoryEntry> added;
    try {
        added.push_back(HistoryEntry{std::string(url), 0});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const std::string& copy = added.front().url;
    if (!isBuiltinPageName(copy.c_str())) visitedAdd(copy);
    if (h.current != h.entries.end()) h.entries.erase(std::next(h.current), h.entries.end());
    h.entries.splice(h.entries.end(), added);
    h.current = std::prev(h.entries.end());
    return &*h.current;
}

HistoryEntry* historyPrevious() {
    History& h = history();
    if (h.current == h.entries.end() || h.current == h.entries.begin()) return nullptr;
    return &*std::prev(h.current);
}

HistoryEntry* historyNext() {
    History& h = history();
    if (h.current == h.entries.end()) return nullptr;
    auto next = std::next(h.current);
    return next != h.entries.end() ? &*next : nullptr;
}

HistoryEntry* currentEntry() {
    History& h = history();
    return h.current != h.entries.end() ? &*h.current : nullptr;
}

void historySetCurrent(HistoryEntry* entry) {
    History& h = history();
    if (entry == nullptr) {
        h.current = h.entries.end();
        return;
    }
    // Back and Forward step to a neighbour: look there first.
    if (h.current != h.entries.end()) {
        if (h.current != h.entries.begin() && &*std::prev(h.current) == entry) {
            --h.current;
            return;
        }
        auto next = std::next(h.current);
        if (next != h.entries.end() && &*next == entry) {
            h.current = next;
            return;
        }
    }
    for (auto at = h.entries.begin(); at != h.entries.end(); ++at) {
        if (&*at == entry) {
            h.current = at;
            return;
        }
    }
}

size_t historyCount() {
    return history().entries.size();
}

std::string visitedFilePath() {
    return prefsDirectory() + "/visited.txt";
}

void visitedRead() {
    std::string data;
    try {
        if (!readWholeFile(visitedFilePath(), data)) return;
    } catch (const std::bad_alloc&) {
        return;
    }
    // Piece by piece as a line reader with a fixed buffer delivers them: up to and
    // including a line feed, at most READ_BUFFER_SIZE - 1 bytes. A NUL ends the
    // text a piece stands for.
    size_t at = 0;
    while (at < data.size()) {
        const size_t limit = std::min(data.size() - at, READ_BUFFER_SIZE - 1);
        const void* feed = std::memchr(data.data() + at, '\n', limit);
        const size_t pieceLength =
            feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - (data.data() + at)) + 1
                            : limit;
        std::string_view piece(data.data() + at, pieceLength);
        at += pieceLength;
        piece = piece.substr(0, piece.find('\0'));
        if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
        if (!piece.empty()) visitedInsert(piece, true);
    }
}

bool visitedWrite() {
    const std::vector<std::string>& entries = visitedEntries();
    if (entries.empty()) return false;
    if (!ensurePrefsDirectory()) return false;
    try {
        std::string data;
        size_t count = 0;
        for (const std::string& url : entries) {
            if (count++ == VISITED_FILE_MAX) break;
            data.append(url);
            data.push_back('\n');
        }
        return writeFileAtomic(visitedFilePath(), data);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

PageText historyView() {
    return listView(messageText(MSG_TITLE_HISTORY), visitedEntries());
}
