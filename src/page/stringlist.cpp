#include "page/stringlist.h"

#include <cstring>
#include <new>

StringList::~StringList() {
    listFree(*this);
}

std::unique_ptr<StringList> listNew() {
    try {
        auto list = std::make_unique<StringList>();
        list->head = std::make_unique<StringNode>();
        list->tail = list->head.get();
        return list;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

StringNode* listAppend(StringList& list, const char* text, size_t length) {
    try {
        auto copy = std::make_unique_for_overwrite<char[]>(length + 1);
        if (length > 0) std::memcpy(copy.get(), text, length);
        copy[length] = '\0';
        StringNode* node;
        if (!list.head) {
            list.head = std::make_unique<StringNode>();
            list.tail = list.head.get();
            node = list.tail;
        } else if (list.count == 0) {
            node = list.head.get();
        } else {
            list.tail->next = std::make_unique<StringNode>();
            list.tail = list.tail->next.get();
            node = list.tail;
        }
        node->text = std::move(copy);
        node->length = static_cast<int32_t>(length);
        list.count++;
        list.totalLength += length;
        return node;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void listFree(StringList& list) {
    // Unlink node by node: a recursive destruction of a long list would exhaust the stack.
    std::unique_ptr<StringNode> node = std::move(list.head);
    while (node)
        node = std::move(node->next);
    list.tail = nullptr;
    list.count = 0;
    list.totalLength = 0;
}

void listFree(std::unique_ptr<StringList>& list) {
    if (list) listFree(*list);
    list.reset();
}

std::unique_ptr<char[]> listJoin(const StringList& list, size_t maximum, size_t* length) {
    size_t total = list.totalLength < maximum ? list.totalLength : maximum;
    std::unique_ptr<char[]> out;
    try {
        out = std::make_unique_for_overwrite<char[]>(total + 1);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    size_t at = 0;
    for (const StringNode* node = list.count ? list.head.get() : nullptr; node && at < total;
         node = node->next.get()) {
        size_t n = static_cast<size_t>(node->length);
        if (n > total - at) n = total - at;
        std::memcpy(out.get() + at, node->text.get(), n);
        at += n;
    }
    out[at] = '\0';
    if (length) *length = at;
    return out;
}
