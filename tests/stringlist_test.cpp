#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "page/stringlist.h"

namespace {

TEST(StringList, AppendFillsHeadThenTailAndJoinCuts) {
    auto list = listNew();
    ASSERT_TRUE(list);
    std::string joined;
    const char* parts[] = {"20 text/gemini\r\n", "", "body", "\0x"};
    size_t lengths[] = {16, 0, 4, 2};  // the last one carries an embedded NUL
    StringNode* first = nullptr;
    for (int i = 0; i < 4; ++i) {
        StringNode* node = listAppend(*list, parts[i], lengths[i]);
        ASSERT_TRUE(node);
        if (i == 0) first = node;
        EXPECT_EQ(node->length, static_cast<int32_t>(lengths[i]));
        EXPECT_EQ(node->text[lengths[i]], '\0');
        joined.append(parts[i], lengths[i]);
    }
    EXPECT_EQ(first, list->head.get());  // the empty head took the first string
    EXPECT_EQ(list->count, 4);

    struct Case {
        size_t maximum;
        size_t expect;
    } cases[] = {{1000, 22}, {22, 22}, {21, 21}, {16, 16}, {5, 5}, {0, 0}};
    for (const auto& c : cases) {
        size_t length = 99;
        auto text = listJoin(*list, c.maximum, &length);
        ASSERT_TRUE(text);
        EXPECT_EQ(length, c.expect) << c.maximum;
        EXPECT_EQ(std::string(text.get(), length), joined.substr(0, c.expect));
        EXPECT_EQ(text[length], '\0');
    }
}

TEST(StringList, EmptyAndFreedListsJoinToEmptyText) {
    auto list = listNew();
    size_t length = 7;
    auto text = listJoin(*list, 100, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(text.get(), "");
    listAppend(*list, "abc", 3);
    listFree(*list);
    EXPECT_EQ(list->count, 0);
    EXPECT_FALSE(list->head);
    // A freed list takes strings again.
    ASSERT_TRUE(listAppend(*list, "de", 2));
    EXPECT_STREQ(listJoin(*list, 100).get(), "de");
    listFree(list);
    EXPECT_FALSE(list);
}

TEST(StringList, LongListsFreeWithoutDeepRecursion) {
    auto list = listNew();
    for (int i = 0; i < 1000000; ++i)
        ASSERT_TRUE(listAppend(*list, "x", 1));
    EXPECT_EQ(list->totalLength, 1000000u);
    list.reset();  // the destructor must not recurse a million frames deep
}

}  // namespace
