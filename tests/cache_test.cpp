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
    const struct {
        int puts;                  // key(0) .. key(puts-1), in order
        int revisit;               // key read back after the 25th put, -1 for none
        std::vector<int> gone;     // keys that must be missing afterwards
        std::vector<int> present;  // keys that must still be cached
    } cases[] = {
        {25, -1, {}, {0, 24}},
        {26, -1, {0}, {1, 25}},
        {26, 0, {1}, {0, 2, 25}},
        {27, 5, {0, 1}, {5, 2, 26}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.puts * 100 + c.revisit);
        cacheInit();
        for (int n = 0; n < c.puts; ++n) {
            ASSERT_TRUE(cachePut(key(n), page(std::to_string(n))));
            if (n == 24 && c.revisit >= 0) {
                ASSERT_NE(cacheGet(key(c.revisit)), nullptr);
            }
        }
        EXPECT_EQ(cacheCount(), std::min(c.puts, CACHE_CAPACITY));
        for (int n : c.gone)
            EXPECT_EQ(cacheGet(key(n)), nullptr) << n;
        for (int n : c.present) {
            PageText text = cacheGet(key(n));
            ASSERT_NE(text, nullptr) << n;
            EXPECT_EQ(*text, "20 text/gemini\r\n" + std::to_string(n));
        }
    }
}

TEST_F(CacheTest, PutKeepsTheCachedTextAndIgnoresEmptyKeysAndTexts) {
    PageText first = page("first");
    PageText second = page("second");
    ASSERT_TRUE(cachePut("gemini://Host/a", first));
    EXPECT_FALSE(cachePut("gemini://Host/a", second));
    EXPECT_EQ(cacheGet("gemini://Host/a"), first);
    EXPECT_EQ(second.use_count(), 1);  // the refused text is still only the offerer's
    EXPECT_FALSE(cachePut("", page("x")));
    EXPECT_FALSE(cachePut("HOME", nullptr));
    EXPECT_EQ(cacheCount(), 1);
    EXPECT_EQ(cacheGet("gemini://host/a"), nullptr);  // keys are exact strings
    cacheDelete("gemini://host/a");
    EXPECT_EQ(cacheCount(), 1);
}

// Reload deletes the entry before the new fetch arrives; the page on show shares
// the text and must still have it intact.
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
        EXPECT_EQ(shown->c_str(), bytes) << how;
        EXPECT_EQ(*shown, "20 text/gemini\r\n" + body) << how;
    }
}

}  // namespace
