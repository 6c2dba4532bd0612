// The page cache: what it keeps, what it drops, and that a page on show outlives
// its cache entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "store/cache.h"

namespace {

class CacheTest : public testing::Test {
  protected:
    void SetUp() override { cacheInit(); }
    void TearDown() override { cacheCleanUp(); }
};

PageText page(const std::string& body) {
    return std::make_shared<const std::string>("20 text/gemini\r\n" + body);
}

std::string key(int n) {
    return "gemini://host/" + std::to_string(n);
}

TEST_F(CacheTest, EvictsTheLeastRecentlyUsedBeyondTwentyFive) {
    struct Case {
        const char* what;
        int puts;                  // key(0) .. key(puts-1), in order
        int revisit;               // key read back after the 25th put, -1 for none
        std::vector<int> gone;     // keys that must be missing afterwards
        std::vector<int> present;  // keys that must still be cached
    } cases[] = {
        {"exactly full", 25, -1, {}, {0, 1, 24}},
        {"26th drops the first", 26, -1, {0}, {1, 25}},
        {"27th drops the second", 27, -1, {0, 1}, {2, 26}},
        {"a revisit keeps the first", 26, 0, {1}, {0, 2, 25}},
        {"a revisited middle page", 27, 5, {0, 1}, {5, 2, 26}},
    };
    for (const Case& c : cases) {
        cacheInit();
        for (int n = 0; n < c.puts; ++n) {
            ASSERT_TRUE(cachePut(key(n), page(std::to_string(n))));
            if (n == 24 && c.revisit >= 0) {
                ASSERT_NE(cacheGet(key(c.revisit)), nullptr) << c.what;
            }
        }
        EXPECT_EQ(cacheCount(), std::min(c.puts, CACHE_CAPACITY)) << c.what;
        for (int n : c.gone) {
            EXPECT_EQ(cacheGet(key(n)), nullptr) << c.what << " " << n;
        }
        for (int n : c.present) {
            PageText text = cacheGet(key(n));
            ASSERT_NE(text, nullptr) << c.what << " " << n;
            EXPECT_EQ(*text, "20 text/gemini\r\n" + std::to_string(n)) << c.what;
        }
    }
}

TEST_F(CacheTest, PutOfAnExistingKeyKeepsTheCachedText) {
    PageText first = page("first");
    PageText second = page("second");
    ASSERT_TRUE(cachePut("HOME", first));
    EXPECT_FALSE(cachePut("HOME", second));
    EXPECT_EQ(cacheGet("HOME"), first);
    EXPECT_EQ(cacheCount(), 1);
    // The refused text is still the offerer's, untouched.
    EXPECT_EQ(second.use_count(), 1);
    EXPECT_EQ(*second, "20 text/gemini\r\nsecond");
}

TEST_F(CacheTest, KeysAreExactStrings) {
    ASSERT_TRUE(cachePut("gemini://Host/a", page("upper")));
    struct Case {
        const char* url;
        bool hit;
    } cases[] = {
        {"gemini://Host/a", true},
        {"gemini://host/a", false},
        {"gemini://Host/a/", false},
        {"gemini://Host/", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cacheGet(c.url) != nullptr, c.hit) << c.url;
}

TEST_F(CacheTest, MissingKeyOrTextIsNotStored) {
    EXPECT_FALSE(cachePut("", page("x")));
    EXPECT_FALSE(cachePut("HOME", nullptr));
    EXPECT_EQ(cacheCount(), 0);
    EXPECT_EQ(cacheGet("HOME"), nullptr);
}

TEST_F(CacheTest, DeleteOfAnUnknownKeyChangesNothing) {
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(cachePut(key(n), page("p")));
    cacheDelete("gemini://host/none");
    cacheDelete("");
    EXPECT_EQ(cacheCount(), 3);
    cacheDelete(key(1));
    cacheDelete(key(1));
    EXPECT_EQ(cacheCount(), 2);
    EXPECT_EQ(cacheGet(key(1)), nullptr);
    EXPECT_NE(cacheGet(key(0)), nullptr);
    EXPECT_NE(cacheGet(key(2)), nullptr);
}

// The page on show shares its text with the cache: Reload deletes the entry before
// the new fetch arrives, and the old text must still be intact for the screen.
TEST_F(CacheTest, PageOnShowOutlivesItsEntry) {
    const std::string body = std::string("line\0with nul\n", 14) + std::string(5000, 'x') + "\n";
    enum How { DELETE, EVICT, CLEAN_UP, INIT };
    for (How how : {DELETE, EVICT, CLEAN_UP, INIT}) {
        cacheInit();
        ASSERT_TRUE(cachePut("gemini://shown/", page(body)));
        PageText shown = cacheGet("gemini://shown/");
        ASSERT_NE(shown, nullptr);
        const char* bytes = shown->c_str();
        switch (how) {
            case DELETE:
                cacheDelete("gemini://shown/");
                break;
            case EVICT:
                for (int n = 0; n < CACHE_CAPACITY; ++n)
                    cachePut(key(n), page("other"));
                break;
            case CLEAN_UP:
                cacheCleanUp();
                break;
            case INIT:
                cacheInit();
                break;
        }
        EXPECT_EQ(cacheGet("gemini://shown/"), nullptr) << how;
        EXPECT_EQ(shown.use_count(), 1) << how;
        // Same storage, same bytes, still NUL-terminated.
        EXPECT_EQ(shown->c_str(), bytes) << how;
        EXPECT_EQ(*shown, "20 text/gemini\r\n" + body) << how;
        EXPECT_EQ(bytes[shown->size()], '\0') << how;
    }
}

}  // namespace
