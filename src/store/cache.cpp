// The page cache: a list ordered by use, most recent first, searched linearly (it
// never holds more than CACHE_CAPACITY entries).
#include "store/cache.h"

#include <list>
#include <new>
#include <utility>

namespace {

struct CacheEntry {
    std::string url;
    PageText text;
};

struct Cache {
    std::list<CacheEntry> entries;  // most recently used first
    int count = 0;
};

Cache& cache() {
    static Cache instance;
    return instance;
}

std::list<CacheEntry>::iterator findEntry(Cache& c, std::string_view url) {
    for (auto entry = c.entries.begin(); entry != c.entries.end(); ++entry) {
        if (entry->url == url) return entry;
    }
    return c.entries.end();
}

}  // namespace

void cacheInit() {
    cacheCleanUp();
}

PageText cacheGet(std::string_view url) {
    Cache& c = cache();
    auto entry = findEntry(c, url);
    if (entry == c.entries.end()) return nullptr;
    c.entries.splice(c.entries.begin(), c.entries, entry);
    return entry->text;
}

bool cachePut(std::string_view url, PageText text) {
    if (url.empty() || !text) return false;
    Cache& c = cache();
    if (findEntry(c, url) != c.entries.end()) return false;
    try {
        c.entries.push_front(CacheEntry{std::string(url), std::move(text)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (++c.count > CACHE_CAPACITY) {
        c.entries.pop_back();
        --c.count;
    }
    return true;
}

void cacheDelete(std::string_view url) {
    Cache& c = cache();
    auto entry = findEntry(c, url);
    if (entry == c.entries.end()) return;
    c.entries.erase(entry);
    --c.count;
}

void cacheCleanUp() {
    Cache& c = cache();
    c.entries.clear();
    c.count = 0;
}

int cacheCount() {
    return cache().count;
}
