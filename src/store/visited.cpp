// The visited list: an ordered vector for the order, a count per address beside it
// for the lookups that every link on a page makes.
#include "store/visited.h"

#include <algorithm>
#include <new>
#include <unordered_map>

namespace {

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

struct VisitedList {
    std::vector<std::string> entries;  // most recent first
    // How often each address occurs in entries (visitedInsert may add an address twice).
    std::unordered_map<std::string, int, TextHash, std::equal_to<>> counts;
};

VisitedList& visitedList() {
    static VisitedList list;
    return list;
}

// Counts url once more; on failure nothing has changed.
void countEntry(VisitedList& list, std::string_view url) {
    auto found = list.counts.find(url);
    if (found != list.counts.end()) {
        ++found->second;
    } else {
        list.counts.emplace(std::string(url), 1);
    }
}

}  // namespace

bool visitedAdd(std::string_view url) {
    VisitedList& list = visitedList();
    if (list.counts.find(url) != list.counts.end()) {
        auto entry = std::find(list.entries.begin(), list.entries.end(), url);
        if (entry != list.entries.end()) {
            std::rotate(list.entries.begin(), entry, entry + 1);
            return true;
        }
    }
    return visitedInsert(url, false);
}

bool visitedInsert(std::string_view url, bool atBack) {
    VisitedList& list = visitedList();
    try {
        std::string copy(url);
        if (list.entries.size() == list.entries.capacity()) {
            list.entries.reserve(list.entries.size() * 2 + 16);
        }
        countEntry(list, url);
        // Neither step below can throw now: the room is reserved and strings move without allocating.
        list.entries.push_back(std::move(copy));
        if (!atBack) std::rotate(list.entries.begin(), list.entries.end() - 1, list.entries.end());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool isVisited(std::string_view url) {
    const VisitedList& list = visitedList();
    return !list.counts.empty() && list.counts.find(url) != list.counts.end();
}

const std::vector<std::string>& visitedEntries() {
    return visitedList().entries;
}

void visitedForEach(const std::function<void(const std::string&)>& visit) {
    for (const std::string& entry : visitedList().entries)
        visit(entry);
}

size_t visitedCount() {
    return visitedList().entries.size();
}

void visitedClear() {
    VisitedList& list = visitedList();
    list.entries.clear();
    list.entries.shrink_to_fit();
    list.counts.clear();
}
