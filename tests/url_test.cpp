#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "url/url.h"

namespace {

struct ParseCase {
    const char* text;
    int32_t scheme;
    const char* host;
    int32_t port;
    const char* path;
    const char* url;
    char gopherType;
};

const ParseCase PARSE_CASES[] = {
    {"gemini://HOST", SCHEME_GEMINI, "host", 1965, "/", "gemini://host/", 0},
    {"host:1966/a", SCHEME_GEMINI, "host", 1966, "/a", "gemini://host:1966/a", 0},
    {"gemini://host:1965/", SCHEME_GEMINI, "host", 1965, "/", "gemini://host:1965/", 0},
    {"gopher://host", SCHEME_GOPHER, "host", 70, "", "gopher://host", '1'},
    {"gopher://host/", SCHEME_GOPHER, "host", 70, "", "gopher://host", '1'},
    {"gopher://host/7/search", SCHEME_GOPHER, "host", 70, "/search", "gopher://host/7/search", '7'},
    {"gopher://host/0/a%20b", SCHEME_GOPHER, "host", 70, "/a b", "gopher://host/0/a%20b", '0'},
    {"gopher://host/0/a%09b%41", SCHEME_GOPHER, "host", 70, "/a\tb%41", "gopher://host/0/a%09b%41", '0'},
    {"gopher://host/1", SCHEME_GOPHER, "host", 70, "", "gopher://host/1", '1'},
    {"finger://host/user", SCHEME_FINGER, "host", 79, "/user", "finger://host/user", 0},
    {"finger://host", SCHEME_FINGER, "host", 79, "", "finger://host", 0},
    {"gemini://host/search?x y/z", SCHEME_GEMINI, "host", 1965, "/search?x%20y%2fz",
     "gemini://host/search?x%20y%2fz", 0},
    {"gemini://user@host/", SCHEME_GEMINI, "host", 1965, "/", "gemini://user@host/", 0},
    {"gemini://Me@Host:1966/x", SCHEME_GEMINI, "host", 1966, "/x", "gemini://Me@host:1966/x", 0},
    {"gemini://host/p#x", SCHEME_GEMINI, "host", 1965, "/p#x", "gemini://host/p#x", 0},
    {"gemini://host/p?q#x", SCHEME_GEMINI, "host", 1965, "/p?q%23x", "gemini://host/p?q%23x", 0},
    {"gemini://host/a/b/../c/./d", SCHEME_GEMINI, "host", 1965, "/a/c/d", "gemini://host/a/c/d", 0},
    {"gemini://host/.well-known/x", SCHEME_GEMINI, "host", 1965, "/.well-known/x",
     "gemini://host/.well-known/x", 0},
    {"history", SCHEME_GEMINI, "history", 1965, "/", "gemini://history/", 0},
    // An unknown or capitalised scheme is the host of a Gemini address.
    {"Gemini://host", SCHEME_GEMINI, "gemini:", 1965, "//host", "gemini://gemini://host", 0},
    {"spartan://host/form?a b", SCHEME_SPARTAN, "host", 300, "/form?a%20b", "spartan://host/form?a%20b", 0},
    {"spartan://me@host:301/x#frag", SCHEME_SPARTAN, "host", 301, "/x", "spartan://host:301/x", 0},
    {"http://Example.COM:8080/x", SCHEME_HTTP, "example.com", 8080, "/x", "http://example.com:8080/x", 0},
    {"https://w", SCHEME_HTTPS, "w", 443, "/", "https://w/", 0},
    {"ftp://f/pub", SCHEME_FTP, "f", 21, "/pub", "ftp://f/pub", 0},
    {"nex://n/dir/", SCHEME_NEX, "n", 1900, "/dir/", "nex://n/dir/", 0},
    {"mailto:someone@example.com", SCHEME_MAILTO, "example.com", 25, "/", "mailto:someone@example.com/", 0},
    // Ports: digits right after the first ":", fitting 32 bits; anything else is part of the host.
    {"host:0080/x", SCHEME_GEMINI, "host", 80, "/x", "gemini://host:80/x", 0},
    {"host:2147483647", SCHEME_GEMINI, "host", 2147483647, "/", "gemini://host:2147483647/", 0},
    {"host:2147483648", SCHEME_GEMINI, "host:2147483648", 1965, "/", "gemini://host:2147483648/", 0},
    {"host:99999999999999999999", SCHEME_GEMINI, "host:99999999999999999999", 1965, "/",
     "gemini://host:99999999999999999999/", 0},
    {"host:", SCHEME_GEMINI, "host:", 1965, "/", "gemini://host:/", 0},
    {"host:abc", SCHEME_GEMINI, "host:abc", 1965, "/", "gemini://host:abc/", 0},
    {"host:-5", SCHEME_GEMINI, "host:-5", 1965, "/", "gemini://host:-5/", 0},
    {":80", SCHEME_GEMINI, ":80", 1965, "/", "gemini://:80/", 0},
    {"host:80abc", SCHEME_GEMINI, "host", 80, "/", "gemini://host:80/", 0},
};

TEST(UrlParse, CasesTable) {
    for (const ParseCase& c : PARSE_CASES) {
        SCOPED_TRACE(c.text);
        UrlRecord record;
        ASSERT_EQ(parseUrl(c.text, record), 1);
        EXPECT_EQ(record.scheme, c.scheme);
        EXPECT_STREQ(record.host, c.host);
        EXPECT_EQ(record.port, c.port);
        EXPECT_STREQ(record.path, c.path);
        EXPECT_STREQ(record.url, c.url);
        EXPECT_EQ(record.gopherType, c.gopherType);
        if (c.scheme != SCHEME_SPARTAN) {
            EXPECT_EQ(record.data, nullptr);
        }
    }
}

TEST(UrlParse, BuiltinPagesKeepTheirName) {
    for (const char* name : {"HOME", "HISTORY", "TEST", "BOOK", "BOOKVIEW", "BOOKMAN", "BOOK:add"}) {
        SCOPED_TRACE(name);
        UrlRecord record;
        ASSERT_EQ(parseUrl(name, record), 1);
        EXPECT_EQ(record.scheme, SCHEME_INTERNAL);
        EXPECT_STREQ(record.url, name);
        EXPECT_STREQ(record.host, "");
        EXPECT_STREQ(record.path, "");
        EXPECT_EQ(record.port, 0);
    }
    struct {
        const char* text;
        bool builtin;
    } const names[] = {{"HOME", true}, {"HOMEX", false}, {"home", false},  {"HISTORY", true},
                       {"TEST", true}, {"TESTS", false}, {"BOOK", true},   {"BOOK:del 3", true},
                       {"BOO", false}, {"", false},      {nullptr, false}, {"gemini://BOOK", false}};
    for (const auto& n : names)
        EXPECT_EQ(isBuiltinPageName(n.text), n.builtin) << (n.text ? n.text : "null");
}

TEST(UrlParse, SpartanQueryBecomesBody) {
    struct {
        const char* text;
        const char* body;
        int length;
    } const cases[] = {
        {"spartan://host/form?a b", "a b", 3},
        {"spartan://host/form?a%20b%2Fc", "a b/c", 5},
        {"spartan://host/f?x%41y#frag?no", "xAy", 3},
        {"spartan://host/f?%4", "%4", 2},  // a "%" without two more characters stays
        {"spartan://host/f?", "", 0},
        {"spartan://host/f?%00z", "\0z", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UrlRecord record;
        ASSERT_EQ(parseUrl(c.text, record), 1);
        ASSERT_NE(record.data, nullptr);
        EXPECT_EQ(record.data->type, NETBUF_TEXT);
        ASSERT_EQ(record.data->length, c.length);
        EXPECT_EQ(std::memcmp(record.data->data.data(), c.body, static_cast<size_t>(c.length)), 0);
    }
    UrlRecord record;
    ASSERT_EQ(parseUrl("spartan://host/form#a?b", record), 1);
    EXPECT_EQ(record.data, nullptr);  // the "?" is in the dropped fragment
    EXPECT_STREQ(record.url, "spartan://host/form");
}

TEST(UrlParse, LengthLimits) {
    UrlRecord record;
    const std::string longest = "host/" + std::string(URL_MAX - 5, 'a');
    ASSERT_EQ(longest.size(), 328u);
    EXPECT_EQ(parseUrl(longest.c_str(), record), 1);
    EXPECT_EQ(std::strlen(record.path), static_cast<size_t>(PATH_MAX_LEN));

    // A failed parse leaves the record all zero, its old body freed.
    ASSERT_EQ(parseUrl("spartan://h/?q", record), 1);
    ASSERT_NE(record.data, nullptr);
    const std::string tooLong = longest + "a";
    EXPECT_EQ(parseUrl(tooLong.c_str(), record), 0);
    EXPECT_EQ(record.scheme, SCHEME_NONE);
    EXPECT_EQ(record.data, nullptr);
    EXPECT_STREQ(record.url, "");
    EXPECT_EQ(record.port, 0);
    EXPECT_EQ(parseUrl("", record), 0);
    EXPECT_EQ(parseUrl(nullptr, record), 0);
    EXPECT_EQ(parseUrl(std::string(1000, 'x').c_str(), record), 0);

    // Host part cut to 63 characters; a 100-character host too.
    ASSERT_EQ(parseUrl(("gemini://" + std::string(100, 'H') + "/p").c_str(), record), 1);
    EXPECT_EQ(std::string(record.host), std::string(HOST_MAX, 'h'));
    EXPECT_STREQ(record.path, "/p");

    // The longest possible composition: Spartan prefix, 63-character host, 255-character path.
    const std::string widest = "spartan://" + std::string(63, 'h') + "/" + std::string(300, 'p');
    ASSERT_EQ(parseUrl(widest.substr(0, URL_MAX).c_str(), record), 1);
    EXPECT_EQ(std::strlen(record.url), static_cast<size_t>(URL_MAX));
}

TEST(UrlParse, LongQueryFullOfSpaces) {
    UrlRecord record;
    const std::string text = "gemini://host/" + std::string(20, 'p') + "?" + std::string(200, ' ') + "end";
    ASSERT_EQ(parseUrl(text.c_str(), record), 1);
    const size_t pathLength = std::strlen(record.path);
    EXPECT_LE(pathLength, static_cast<size_t>(PATH_MAX_LEN));
    EXPECT_EQ(std::string(record.path).find(' '), std::string::npos);
    EXPECT_EQ(std::strlen(record.url), 13 + pathLength);
}

TEST(UrlParse, HostileBytesStayInBounds) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    const char* const starts[] = {"", "gemini://", "spartan://", "gopher://", "finger://", "BOOK"};
    for (int round = 0; round < 3000; ++round) {
        std::string text = starts[round % 6];
        const size_t length = next() % 340;
        while (text.size() < length) {
            char c = static_cast<char>(next() & 0xFF);
            if (c == '\0') c = '/';
            if (next() % 4 == 0) c = "/?#:@.% "[next() % 8];
            text += c;
        }
        UrlRecord record;
        const int ok = parseUrl(text.c_str(), record);
        EXPECT_EQ(ok, text.empty() || text.size() > URL_MAX ? 0 : 1) << round;
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
    ASSERT_NE(original.data, nullptr);
    NetBuffer* body = original.data.get();

    UrlRecord copy(original);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(original.data.get(), body);
    EXPECT_STREQ(copy.url, original.url);
    EXPECT_STREQ(copy.path, original.path);
    EXPECT_EQ(copy.port, 300);

    UrlRecord assigned;
    ASSERT_EQ(parseUrl("spartan://other/?x", assigned), 1);
    ASSERT_NE(assigned.data, nullptr);
    assigned = original;
    EXPECT_EQ(assigned.data, nullptr);  // the target's own body went with its old address
    EXPECT_STREQ(assigned.host, "host");
    const UrlRecord& alias = assigned;
    assigned = alias;
    EXPECT_STREQ(assigned.host, "host");

    UrlRecord gopher;
    ASSERT_EQ(parseUrl("gopher://g/7/s", gopher), 1);
    UrlRecord gopherCopy;
    gopherCopy = gopher;
    EXPECT_EQ(gopherCopy.gopherType, '7');

    UrlRecord moved(std::move(original));
    EXPECT_EQ(moved.data.get(), body);
    UrlRecord moveAssigned;
    moveAssigned = std::move(moved);
    EXPECT_EQ(moveAssigned.data.get(), body);
}

TEST(UrlNetBuffer, SizesAndRelease) {
    auto text = newNetBuffer(NETBUF_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->type, NETBUF_TEXT);
    EXPECT_EQ(text->data.size(), 1024u);
    EXPECT_EQ(text->length, 0);
    auto upload = newNetBuffer(NETBUF_UPLOAD);
    ASSERT_NE(upload, nullptr);
    EXPECT_EQ(upload->data.size(), 128u);
    freeNetBuffer(text);
    EXPECT_EQ(text, nullptr);
    freeNetBuffer(text);  // null is fine
}

TEST(UrlHelpers, LowercaseHexAndDecimal) {
    char text[] = "AbC-Z@[`{\xC0\xE9";
    lowercaseInPlace(text);
    EXPECT_STREQ(text, "abc-z@[`{\xC0\xE9");
    char empty[] = "";
    lowercaseInPlace(empty);
    lowercaseInPlace(nullptr);

    const struct {
        char c;
        int value;
    } hex[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15}};
    for (const auto& h : hex)
        EXPECT_EQ(hexDigitValue(h.c), h.value) << h.c;
    for (int c = -128; c < 128; ++c) {
        const int v = hexDigitValue(static_cast<char>(c));
        EXPECT_TRUE(v >= 0 && v <= 15) << c;
    }

    const struct {
        int64_t value;
        const char* text;
    } numbers[] = {{0, "0"}, {7, "7"}, {1965, "1965"}, {99999999999999, "99999999999999"}};
    for (const auto& n : numbers) {
        int length = -1;
        EXPECT_STREQ(decimalText(n.value, &length), n.text);
        EXPECT_EQ(length, static_cast<int>(std::strlen(n.text)));
    }
}

TEST(UrlHelpers, DecimalTextBufferBelongsToTheThread) {
    int length = 0;
    const char* mine = decimalText(1965, &length);
    std::string theirs;
    std::thread other([&theirs] {
        int n = 0;
        theirs = decimalText(70, &n);
    });
    other.join();
    EXPECT_STREQ(mine, "1965");
    EXPECT_EQ(theirs, "70");
}

TEST(UrlHelpers, EncodeQuery) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"/plain/path", "/plain/path"},
        {"/p#x[y]", "/p#x[y]"},
        {"/s?a b/c?d#e[f]", "/s?a%20b%2fc%3fd%23e%5bf%5d"},
        {"?", "?"},
        // A replacement that would reach 255 characters drops its character.
        {"/?" + std::string(250, 'x') + " y", "/?" + std::string(250, 'x') + "y"},
        // Plain characters after many replacements stop at 255 in all.
        {"/s?" + std::string(100, ' ') + std::string(150, 'x'), "/s?" +
                                                                    [] {
                                                                        std::string s;
                                                                        for (int i = 0; i < 83; ++i)
                                                                            s += "%20";
                                                                        return s;
                                                                    }() +
                                                                    "xxx"},
        {"/?" + std::string(253, 'x'), "/?" + std::string(253, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        char buffer[PATH_MAX_LEN + 1] = {};
        ASSERT_LE(c.in.size(), static_cast<size_t>(PATH_MAX_LEN));
        std::memcpy(buffer, c.in.data(), c.in.size());
        EXPECT_EQ(encodeQuery(buffer), static_cast<int>(c.out.size()));
        EXPECT_EQ(std::string(buffer), c.out);
    }
}

TEST(UrlHelpers, DecodeSelector) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/a%20b", "/a b"}, {"%09x", "\tx"},      {"%%20", "% "}, {"%2", "%2"},
        {"a%2", "a%2"},     {"%41%2F", "%41%2F"}, {"", ""},       {"%20%20", "  "},
    };
    for (const auto& c : cases) {
        char buffer[PATH_MAX_LEN + 1] = {};
        std::strcpy(buffer, c.in);
        decodeSelector(buffer);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
    // Only 255 characters are read: a "%20" across that edge is not decoded.
    char edge[300] = {};
    std::memset(edge, 'x', 253);
    std::memcpy(edge + 253, "%20%20tail", 10);
    decodeSelector(edge);
    EXPECT_EQ(std::strlen(edge), 255u);
    EXPECT_EQ(std::string(edge + 253), "%2");
}

}  // namespace
