// Bookmarks: a vector in the user's order; every change rewrites the file whole.
#include "store/bookmarks.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/files.h"
#include "platform/paths.h"
#include "store/listview.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

constexpr std::string_view COMMAND_PREFIX = BOOK_COMMAND_PREFIX;

enum BookmarkCommand { COMMAND_UP, COMMAND_DOWN, COMMAND_DEL };

std::vector<std::string>& bookmarks() {
    static std::vector<std::string> list;
    return list;
}

// Appends one bookmark; out of memory loses that one entry only.
bool appendBookmark(std::string_view url) {
    try {
        bookmarks().emplace_back(url);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The position of the first bookmark equal to url, or -1.
std::ptrdiff_t findBookmark(std::string_view url) {
    const std::vector<std::string>& list = bookmarks();
    auto found = std::find(list.begin(), list.end(), url);
    return found == list.end() ? -1 : found - list.begin();
}

}  // namespace

std::string bookmarkFilePath() {
    return prefsDirectory() + "/bookmarks.txt";
}

const std::vector<std::string>& bookmarkList() {
    return bookmarks();
}

void bookmarkInit() {
    bookmarkCleanup();
    bookmarkRead();
}

void bookmarkCleanup() {
    std::vector<std::string> none;
    bookmarks().swap(none);
}

void bookmarkRead() {
    std::string content;
    if (!readWholeFile(bookmarkFilePath(), content)) return;
    size_t at = 0;
    while (at < content.size()) {
        // One read takes a line up to and including its line feed, but at most 328 bytes.
        std::string_view line(content.data() + at, std::min(content.size() - at, BOOKMARK_MAX_LENGTH));
        size_t feed = line.find('\n');
        if (feed != std::string_view::npos) line = line.substr(0, feed + 1);
        at += line.size();
        // A line of exactly 328 characters owns the feed that follows it: taken as a
        // line of its own, it would add an empty bookmark on every start.
        if (line.size() == BOOKMARK_MAX_LENGTH && line.back() != '\n' && at < content.size() &&
            content[at] == '\n') {
            ++at;
        }
        line = line.substr(0, line.find('\0'));
        if (line.empty()) continue;
        if (line.back() == '\n') line.remove_suffix(1);
        appendBookmark(line);
    }
}

bool bookmarkWrite() {
    const std::vector<std::string>& list = bookmarks();
    std::string path = bookmarkFilePath();
    if (list.empty()) return removeFile(path);
    if (!ensurePrefsDirectory()) return false;
    std::string text;
    try {
        size_t length = 0;
        for (const std::string& url : list)
            length += url.size() + 1;
        text.reserve(length);
        for (const std::string& url : list) {
            text += url;
            text += '\n';
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return writeFileAtomic(path, text);
}

bool bookmarkAdd(std::string_view url) {
    url = url.substr(0, BOOKMARK_MAX_LENGTH);
    if (findBookmark(url) >= 0) return false;
    if (!appendBookmark(url)) return false;
    bookmarkWrite();
    return true;
}

PageText bookmarkView() {
    return listView(messageText(MSG_TITLE_BOOKMARKS), bookmarks());
}

PageText bookmarkManage() {
    const std::vector<std::string>& list = bookmarks();
    std::string_view title = messageText(MSG_TITLE_BOOKMARKS), up = messageText(MSG_LIST_MOVE_UP),
                     down = messageText(MSG_LIST_MOVE_DOWN), del = messageText(MSG_LIST_DELETE);
    return listPageBuild([&](const ListPagePut& put) {
        put({LIST_PAGE_HEADER, "# ", title, "\n\n"});
        for (const std::string& url : list) {
            put({"=> BOOK:up:", url, " ", up, "\n"});
            put({"=> BOOK:del:", url, " ", del, " ", url, "\n"});
            put({"=> BOOK:down:", url, " ", down, "\n\n"});
        }
    });
}

bool bookmarkEdit(std::string_view address) {
    // A command is a link address, and those end at their 328th character.
    address = address.substr(0, BOOKMARK_MAX_LENGTH);
    if (!address.starts_with(COMMAND_PREFIX)) return false;
    address.remove_prefix(COMMAND_PREFIX.size());
    static constexpr std::pair<std::string_view, BookmarkCommand> commands[] = {
        {"up:", COMMAND_UP},
        {"down:", COMMAND_DOWN},
        {"del:", COMMAND_DEL},
    };
    const std::pair<std::string_view, BookmarkCommand>* command = nullptr;
    for (const auto& candidate : commands) {
        if (address.starts_with(candidate.first)) command = &candidate;
    }
    if (!command) return false;
    address.remove_prefix(command->first.size());
    std::ptrdiff_t index = findBookmark(address);
    if (index < 0) return false;

    std::vector<std::string>& list = bookmarks();
    auto node = list.begin() + index;
    switch (command->second) {
        case COMMAND_UP:
            if (index == 0) return false;
            std::swap(*node, *(node - 1));
            break;
        case COMMAND_DOWN:
            if (node + 1 != list.end()) std::swap(*node, *(node + 1));
            break;
        case COMMAND_DEL:
            if (!askOkCancel(getString(MSG_ASK_DELETE_BOOKMARK))) return false;
            list.erase(node);
            break;
    }
    bookmarkWrite();
    return true;
}
