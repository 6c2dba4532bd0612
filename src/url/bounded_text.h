// Building a text in a fixed buffer of the URL unit, cut silently at its capacity.
#pragma once

#include <cstring>

#include "url/url.h"

// Appends to a fixed buffer, silently cutting at its capacity; the text stays NUL-terminated.
struct BoundedText {
    char* text;
    int capacity;  // characters, not counting the NUL
    int length = 0;

    void append(const char* s, int count) {
        if (count > capacity - length) count = capacity - length;
        if (count <= 0) return;
        std::memcpy(text + length, s, static_cast<size_t>(count));
        length += count;
        text[length] = '\0';
    }
    void append(const char* s) { append(s, static_cast<int>(std::strlen(s))); }
    // ":port" unless the port is the default one.
    void appendPort(int port, int defaultPort) {
        if (port == defaultPort) return;
        int digits = 0;
        const char* number = decimalText(port, &digits);
        append(":", 1);
        append(number, digits);
    }
};
