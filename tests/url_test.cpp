#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "url/url.h"

namespace {

int decode(char* s) {
    decodeSelector(s);
    return -1;
}

const struct {
    const char* text;
    int32_t scheme;
    const char* host;
    int32_t port;
    const char* path;
    const char* url;
    char gopherType;
} PARSE_CASES[] = {
    {"gemini://HOST", SCHEME_GEMINI, "host", 1965, "/", "gemini://host/", 0},
    {"host:1966/a", SCHEME_GEMINI, "host", 1966, "/a", "gemini://host:1966/a", 0},
    {"gemini://host:1965/", SCHEME_GEMINI, "host", 1965, "/", "gemini://host:1965/", 0},
    {"gopher://host", SCHEME_GOPHER, "host", 70, "", "gopher://host", '1'},
    {"gopher://host/0/a%09b%41", SCHEME_GOPHER, "host", 70, "/a\tbA", "gopher://host/0/a%09b%41", '0'},
    // Every escape of a selector is decoded: typed UTF-8 reaches the server as its bytes.
    {"gopher://h/7/s%09w%c3%b6rld%25", SCHEME_GOPHER, "h", 70, "/s\tw\xC3\xB6rld%",
     "gopher://h/7/s%09w%c3%b6rld%25", '7'},
    {"finger://host/user", SCHEME_FINGER, "host", 79, "/user", "finger://host/user", 0},
    {"gemini://host/search?x y/z", SCHEME_GEMINI, "host", 1965, "/search?x%20y%2fz",
     "gemini://host/search?x%20y%2fz", 0},
    {"gemini://Me@Host:1966/x", SCHEME_GEMINI, "host", 1966, "/x", "gemini://Me@host:1966/x", 0},
    {"gemini://host/p?q#x", SCHEME_GEMINI, "host", 1965, "/p?q%23x", "gemini://host/p?q%23x", 0},
    {"gemini://host/a/b/../c/./d", SCHEME_GEMINI, "host", 1965, "/a/c/d", "gemini://host/a/c/d", 0},
    // A scheme in any case is the scheme, written in lower case.
    {"Gemini://host", SCHEME_GEMINI, "host", 1965, "/", "gemini://host/", 0},
    {"GOPHER://H/1/x", SCHEME_GOPHER, "h", 70, "/x", "gopher://h/1/x", '1'},
    {"MAILTO:me@h", SCHEME_MAILTO, "h", 25, "/", "mailto:me@h/", 0},
    {"spartan://me@host:301/x#frag", SCHEME_SPARTAN, "host", 301, "/x", "spartan://host:301/x", 0},
    {"nex://n/dir/", SCHEME_NEX, "n", 1900, "/dir/", "nex://n/dir/", 0},
    {"mailto:someone@example.com", SCHEME_MAILTO, "example.com", 25, "/", "mailto:someone@example.com/", 0},
    {"host:2147483647", SCHEME_GEMINI, "host", 2147483647, "/", "gemini://host:2147483647/", 0},
    {"host:2147483648", SCHEME_GEMINI, "host:2147483648", 1965, "/", "gemini://host:2147483648/", 0},
    {"host:99999999999999999999", SCHEME_GEMINI, "host:99999999999999999999", 1965, "/",
     "gemini://host:99999999999999999999/", 0},
    {"host:", SCHEME_GEMINI, "host:", 1965, "/", "gemini://host:/", 0},
    {"host:80abc", SCHEME_GEMINI, "host", 80, "/", "gemini://host:80/", 0},
    {"BOOK:add", SCHEME_INTERNAL, "", 0, "", "BOOK:add", 0},
};

TEST(UrlParse, CasesTable) {
    for (const auto& c : PARSE_CASES) {
        SCOPED_TRACE(c.text);
        UrlRecord record;
        ASSERT_EQ(parseUrl(c.text, record), 1);
        EXPECT_EQ(record.scheme, c.scheme);
        EXPECT_STREQ(record.host, c.host);
        EXPECT_EQ(record.port, c.port);
        EXPECT_STREQ(record.path, c.path);
        EXPECT_STREQ(record.url, c.url);
        EXPECT_EQ(record.gopherType, c.gopherType);
    }
}

TEST(UrlParse, BuiltinPageNames) {
    const struct {
        const char* text;
        bool builtin;
    } names[] = {{"HOME", true}, {"HOMEX", false}, {"home", false},         {"BOOK:del 3", true},
                 {"BOO", false}, {nullptr, false}, {"gemini://BOOK", false}};
    for (const auto& n : names)
        EXPECT_EQ(isBuiltinPageName(n.text), n.builtin) << (n.text ? n.text : "null");
}

TEST(UrlParse, SpartanQueryBecomesBody) {
    const struct {
        const char* text;
        const char* body;
        int length;
    } cases[] = {
        {"spartan://host/form?a%20b%2Fc", "a b/c", 5},
        {"spartan://host/f?x%41y#frag?no", "xAy", 3},
        {"spartan://host/f?%4", "%4", 2},
        {"spartan://host/f?", "", 0},
        {"spartan://host/f?%00z", "\0z", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UrlRecord record;
        ASSERT_EQ(parseUrl(c.text, record), 1);
        ASSERT_NE(record.data, nullptr);
        ASSERT_EQ(record.data->length, c.length);
        EXPECT_EQ(std::memcmp(record.data->data.data(), c.body, static_cast<size_t>(c.length)), 0);
    }
    UrlRecord record;
    ASSERT_EQ(parseUrl("spartan://host/form#a?b", record), 1);
    EXPECT_EQ(record.data, nullptr);  // the "?" is in the dropped fragment
}

TEST(UrlParse, LengthLimits) {
    UrlRecord record;
    const std::string longest = "host/" + std::string(URL_MAX - 5, 'a');
    EXPECT_EQ(parseUrl(longest.c_str(), record), 1);
    EXPECT_EQ(std::strlen(record.path), static_cast<size_t>(PATH_MAX_LEN));

    // A failed parse leaves the record all zero, its old body freed.
    ASSERT_EQ(parseUrl("spartan://h/?q", record), 1);
    EXPECT_EQ(parseUrl((longest + "a").c_str(), record), 0);
    EXPECT_EQ(record.scheme, SCHEME_NONE);
    EXPECT_EQ(record.data, nullptr);
    EXPECT_STREQ(record.url, "");
    EXPECT_EQ(parseUrl("", record), 0);
    EXPECT_EQ(parseUrl(nullptr, record), 0);

    ASSERT_EQ(parseUrl(("gemini://" + std::string(100, 'H') + "/p").c_str(), record), 1);
    EXPECT_EQ(std::string(record.host), std::string(HOST_MAX, 'h'));

    const std::string widest = "spartan://" + std::string(63, 'h') + "/" + std::string(300, 'p');
    ASSERT_EQ(parseUrl(widest.substr(0, URL_MAX).c_str(), record), 1);
    EXPECT_EQ(std::strlen(record.url), static_cast<size_t>(URL_MAX));

    const std::string spaces = "gemini://host/" + std::string(20, 'p') + "?" + std::string(200, ' ') + "end";
    ASSERT_EQ(parseUrl(spaces.c_str(), record), 1);
    EXPECT_LE(std::strlen(record.path), static_cast<size_t>(PATH_MAX_LEN));
    EXPECT_EQ(std::string(record.path).find(' '), std::string::npos);
    EXPECT_EQ(std::strlen(record.url), 13 + std::strlen(record.path));
}

TEST(UrlParse, HostileBytesStayInBounds) {
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const char* const starts[] = {"", "gemini://", "spartan://", "gopher://", "finger://", "BOOK"};
    for (int round = 0; round < 600; ++round) {
        std::string text = starts[round % 6];
        const size_t length = next() % 340;
        while (text.size() < length) {
            char c = static_cast<char>(next() & 0xFF);
            if (c == '\0' || next() % 4 == 0) c = "/?#:@.% "[next() % 8];
            text += c;
        }
        UrlRecord record;
        EXPECT_EQ(parseUrl(text.c_str(), record), text.empty() || text.size() > URL_MAX ? 0 : 1) << round;
        EXPECT_LE(strnlen(record.url, sizeof record.url), static_cast<size_t>(URL_MAX));
        EXPECT_LE(strnlen(record.host, sizeof record.host), static_cast<size_t>(HOST_MAX));
        EXPECT_LE(strnlen(record.path, sizeof record.path), static_cast<size_t>(PATH_MAX_LEN));
        if (record.data) {
            EXPECT_LE(record.data->length, URL_MAX);
        }
    }
}

TEST(UrlRecordOwnership, CopyCarriesNoBodyMoveHandsItOn) {
    UrlRecord original;
    ASSERT_EQ(parseUrl("spartan://host/form?a b", original), 1);
    NetBuffer* body = original.data.get();
    ASSERT_NE(body, nullptr);

    UrlRecord copy(original);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(original.data.get(), body);
    EXPECT_STREQ(copy.url, original.url);

    UrlRecord assigned;
    ASSERT_EQ(parseUrl("spartan://other/?x", assigned), 1);
    assigned = original;
    EXPECT_EQ(assigned.data, nullptr);  // the target's own body went with its old address
    const UrlRecord& alias = assigned;
    assigned = alias;
    EXPECT_STREQ(assigned.host, "host");

    UrlRecord moved;
    moved = std::move(original);
    EXPECT_EQ(moved.data.get(), body);
}

TEST(UrlHelpers, LowercaseAndHex) {
    char text[] = "AbC-Z@[`{\xC0\xE9";
    lowercaseInPlace(text);
    EXPECT_STREQ(text, "abc-z@[`{\xC0\xE9");
    lowercaseInPlace(nullptr);

    EXPECT_EQ(hexDigitValue('F'), 15);
    for (int c = -128; c < 128; ++c) {
        const int v = hexDigitValue(static_cast<char>(c));
        EXPECT_TRUE(v >= 0 && v <= 15) << c;
    }
}

TEST(UrlHelpers, DecimalTextBufferBelongsToTheThread) {
    int length = 0;
    const char* mine = decimalText(99999999999999, &length);
    EXPECT_EQ(length, 14);
    std::string theirs;
    std::thread other([&theirs] {
        int n = 0;
        theirs = decimalText(70, &n);
    });
    other.join();
    EXPECT_STREQ(mine, "99999999999999");
    EXPECT_EQ(theirs, "70");
}

TEST(UrlHelpers, TypedTextKeepsItsEscapes) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a%20b", "/a%20b"},          // an address as the field shows it
        {"100%", "100%25"},            // a lone "%"
        {"%zz %4", "%25zz %254"},      // not two hex digits
        {"%C3%a9", "%C3%a9"},          // either case of hex
        {"caf\xC3\xA9", "caf%c3%a9"},  // UTF-8 as typed
    };
    for (const auto& [typed, encoded] : cases)
        EXPECT_EQ(encodeTyped(typed), encoded) << typed;
}

TEST(UrlHelpers, InPlaceQueryAndSelectorCoders) {
    std::string spaces;
    for (int i = 0; i < 83; ++i)
        spaces += "%20";
    const std::string x250(250, 'x'), x253(253, 'x');
    const struct {
        int (*code)(char*);
        std::string in;
        std::string out;
    } cases[] = {
        {encodeQuery, "/p#x[y]", "/p#x[y]"},
        {encodeQuery, "/s?a b/c?d#e[f]", "/s?a%20b%2fc%3fd%23e%5bf%5d"},
        // A replacement that would reach 255 characters drops its character.
        {encodeQuery, "/?" + x250 + " y", "/?" + x250 + "y"},
        {encodeQuery, "/s?" + std::string(100, ' ') + x250.substr(0, 150), "/s?" + spaces + "xxx"},
        {encodeQuery, "/?" + x253, "/?" + x253},
        {decode, "/a%20b", "/a b"},
        {decode, "%%20", "% "},
        {decode, "a%2", "a%2"},
        {decode, "%41%2F", "A/"},
        {decode, "%zz%4", "%zz%4"},
        // Only 255 characters are read: a "%20" across that edge is not decoded.
        {decode, x253 + "%20%20tail", x253 + "%2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        char buffer[300] = {};
        std::memcpy(buffer, c.in.data(), c.in.size());
        const int length = c.code(buffer);
        EXPECT_EQ(std::string(buffer), c.out);
        if (c.code == encodeQuery) {
            EXPECT_EQ(length, static_cast<int>(c.out.size()));
        }
    }
}

}  // namespace
