#include "settings/settings.h"

#include <cstring>

Settings settings;

bool fontEqual(const FontSpec& a, const FontSpec& b) {
    return a.height == b.height && std::strncmp(a.name, b.name, FONT_NAME_MAX) == 0;
}

void fontSet(FontSpec& font, const char* name, uint16_t height) {
    size_t n = name ? std::strlen(name) : 0;
    if (n > FONT_NAME_MAX) n = FONT_NAME_MAX;
    if (n) std::memcpy(font.name, name, n);
    font.name[n] = '\0';
    font.height = height;
}
