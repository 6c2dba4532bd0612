// A singly linked list of counted strings. The network joins received chunks with
// it; the page parser keeps its display lines and links in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct StringNode {
    std::unique_ptr<char[]> text;  // NUL-terminated copy
    int32_t length = 0;
    int32_t user1 = 0;  // parser: source line or line index
    int32_t user2 = 0;  // parser: style
    std::unique_ptr<StringNode> next;
};

struct StringList {
    std::unique_ptr<StringNode> head;  // allocated empty by listNew
    StringNode* tail = nullptr;
    int32_t count = 0;       // nodes holding a string
    size_t totalLength = 0;  // sum of the strings' lengths

    StringList() = default;
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
    ~StringList();
};

// A list with its empty head node; null when out of memory.
std::unique_ptr<StringList> listNew();

// Copies exactly length bytes (plus a NUL) into the empty head or a new tail node.
// Returns that node, or null when out of memory (the list is unchanged then).
StringNode* listAppend(StringList& list, const char* text, size_t length);

// Frees every string and node; the list is empty afterwards (no head node).
void listFree(StringList& list);
void listFree(std::unique_ptr<StringList>& list);

// One new NUL-terminated string of the nodes' strings in order, cut at maximum
// bytes. length receives its length. Null when out of memory.
std::unique_ptr<char[]> listJoin(const StringList& list, size_t maximum, size_t* length = nullptr);
