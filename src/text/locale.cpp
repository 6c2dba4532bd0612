#include "text/locale.h"

#include <array>
#include <atomic>
#include <cstddef>

#include "platform/catalog.h"

namespace {

struct Message {
    int id;
    const char* group;
    const char* text;
};

constexpr Message MESSAGES[] = {
#define FARLANDER_MESSAGE(id, name, group, text) {id, group, text},
#include "text/messages.inc"
#undef FARLANDER_MESSAGE
};

static_assert(std::size(MESSAGES) == MESSAGE_COUNT, "one text per message id");

constexpr bool idsInOrder() {
    for (std::size_t i = 0; i < std::size(MESSAGES); ++i) {
        if (MESSAGES[i].id != static_cast<int>(i)) return false;
    }
    return true;
}
static_assert(idsInOrder(), "message ids run 0, 1, 2, ... in order");
static_assert(MESSAGE_COUNT <= 1000, "contexts have three digits");

using TextTable = std::array<const char*, MESSAGE_COUNT>;

constexpr TextTable makeDefaults() {
    TextTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = MESSAGES[i].text;
    return table;
}

constexpr TextTable DEFAULT_TEXTS = makeDefaults();

// The catalog's texts, resolved once by localeInit; the lookup itself then never
// touches gettext, so any thread may read.
constinit TextTable catalogTexts{};
constinit std::atomic<const TextTable*> activeTexts{&DEFAULT_TEXTS};

// "msg-000", "msg-001", ...: the context that keeps each id's translation apart.
std::array<char, 8> contextFor(int id) {
    return {'m',
            's',
            'g',
            '-',
            static_cast<char>('0' + id / 100),
            static_cast<char>('0' + id / 10 % 10),
            static_cast<char>('0' + id % 10),
            '\0'};
}

}  // namespace

void localeInit() {
    catalogOpen();
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        const auto context = contextFor(id);
        catalogTexts[static_cast<std::size_t>(id)] =
            catalogText(context.data(), DEFAULT_TEXTS[static_cast<std::size_t>(id)]);
    }
    activeTexts.store(&catalogTexts, std::memory_order_release);
}

const char* getString(int id) {
    if (id < 0 || id >= MESSAGE_COUNT) return nullptr;
    return (*activeTexts.load(std::memory_order_acquire))[static_cast<std::size_t>(id)];
}

const char* messageText(int id) {
    const char* text = getString(id);
    return text != nullptr ? text : "";
}

void localeCleanup() {
    activeTexts.store(&DEFAULT_TEXTS, std::memory_order_release);
    catalogClose();
}
