#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <set>

#include "page/linestyle.h"
#include "page/parser.h"
#include "url/url.h"

namespace {

class UrlResolve : public ::testing::Test {
  protected:
    // Resolves link against base (a Gopher item when type is set); returns the kind and fills text.
    static int resolve(const char* base, const std::string& link, std::string& text, char type = 0,
                       const char* host = nullptr, int port = 0) {
        UrlRecord record;
        EXPECT_EQ(parseUrl(base, record), 1) << base;
        char dest[URL_MAX + 1];
        std::memset(dest, 'Z', sizeof dest);
        int length = -1;
        const int kind =
            resolveLink(dest, &length, link.data(), static_cast<int>(link.size()), record, type, host, port);
        EXPECT_EQ(length, static_cast<int>(strnlen(dest, sizeof dest)));
        text.assign(dest, static_cast<size_t>(length));
        return kind;
    }
    static int resolveGopher(char type, const char* host, int port, const std::string& selector,
                             std::string& text) {
        return resolve("gopher://menu/1/", selector, text, type, host, port);
    }
};

const struct {
    const char* base;
    const char* link;
    const char* result;
    int kind;
} RESOLVE_CASES[] = {
    {"gemini://host/a/b/c", "d", "gemini://host/a/b/d", LINK_FETCH},
    {"gemini://host/a/b/c", "//other/y", "gemini://other/y", LINK_FETCH},
    {"gemini://host/a/b/c", "?q", "gemini://host/a/b/?q", LINK_FETCH},
    {"gemini://host/a/b/c", "../../../../x", "gemini://host/x", LINK_FETCH},
    {"gemini://host/a/b/c", "c", "gemini://host/a/b/c", LINK_FETCH},  // the page itself
    {"gemini://host/a?x/y", "z", "gemini://host/z", LINK_FETCH},      // the query's "/" is encoded
    {"gemini://host:1966/a", "b", "gemini://host:1966/b", LINK_FETCH},
    {"gemini://host:1965/a", "b", "gemini://host/b", LINK_FETCH},
    {"spartan://host:300/", "p", "spartan://host/p", LINK_FETCH},
    {"spartan://host:301/", "//o", "spartan://o/", LINK_FETCH},
    {"nex://n:1901/dir/", "/f", "nex://n:1901/f", LINK_FETCH},
    {"gemini://host/", "gemini://other", "gemini://other/", LINK_FETCH},
    {"gemini://host/", "gemini://other?q", "gemini://other?q/", LINK_FETCH},
    {"gemini://host/", "gopher://h", "gopher://h", LINK_FETCH},
    {"gemini://host/", "https://w", "https://w/", LINK_WEB},
    {"gemini://host/", "ftp://f", "ftp://f", LINK_FTP},
    {"gemini://host/", "mailto:someone", "mailto:someone", LINK_MAILTO},
    {"gemini://host/", "BOOK:add", "BOOK:add", LINK_BOOK},
    {"gemini://host/", "GEMINI://x", "GEMINI://x", LINK_UNSUPPORTED},
    {"gemini://host/", "", "", LINK_UNSUPPORTED},
    {"gemini://host/", "\xC0\xFF\xBF", "gemini://host/%c3%80%c3%bf\xBF", LINK_FETCH},
    {"gemini://host/", "xyz:\xE9", "xyz:%c3%a9", LINK_UNSUPPORTED},
    {"HOME", "gemini://g", "gemini://g/", LINK_FETCH},
};

TEST_F(UrlResolve, CasesTable) {
    for (const auto& c : RESOLVE_CASES) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.link);
        std::string text;
        EXPECT_EQ(resolve(c.base, c.link, text), c.kind);
        EXPECT_EQ(text, c.result);
    }
}

TEST_F(UrlResolve, GopherItems) {
    const struct {
        char type;
        int port;
        const char* selector;
        const char* result;
        int kind;
    } cases[] = {
        {'1', 7070, "/dir x", "gopher://h:7070/1/dir%20x", LINK_FETCH},
        {'7', 70, "/search", "gopher://h/7/search", LINK_SEARCH},
        {'+', 70, "/x", "gopher://h/+/x", LINK_UNSUPPORTED},
        {'h', 70, "URL:http://w", "gopher://h/hURL:http://w", LINK_WEB},
        {'i', 70, "", "gopher://h", LINK_FETCH},  // no type part for an empty selector
        {'1', 70, "//x/y", "gopher://x/y", LINK_FETCH},
        {'1', 70, "gemini://g", "gemini://g/", LINK_FETCH},
        // "%" as "%25", so that decoding the address gives the selector back.
        {'0', 70, "/100% sure", "gopher://h/0/100%25%20sure", LINK_FETCH},
        {'1', 70, "mailto:m", "gopher://h/1mailto:m", LINK_FETCH},
        {'\0', 70, "/raw x", "gopher://h/raw x", LINK_UNSUPPORTED},
    };
    std::string text;
    for (const auto& c : cases) {
        EXPECT_EQ(resolveGopher(c.type, "h", c.port, c.selector, text), c.kind) << c.selector;
        EXPECT_EQ(text, c.result);
    }
    for (char type : std::string("0134569IPXdgiprs"))
        EXPECT_EQ(resolveGopher(type, "h", 70, "/s", text), LINK_FETCH) << type;
}

TEST(LinkStyle, KindsVisitedAndThePageItself) {
    const std::set<std::string> visited{"gemini://host/a/b/v", "gopher://h/7/search", "https://w/"};
    const VisitedCheck isVisited = [&](std::string_view url) { return visited.count(std::string(url)) > 0; };
    UrlRecord base;
    ASSERT_EQ(parseUrl("gemini://host/a/b/c", base), 1);
    const struct {
        LinkKind kind;
        const char* url;
        int style;
    } cases[] = {
        {LINK_FETCH, "gemini://host/a/b/v", STYLE_VISITED},
        {LINK_FETCH, "gemini://host/a/b/V", STYLE_LINK},
        {LINK_FETCH, "gemini://host/a/b/c", STYLE_VISITED},  // the page itself
        {LINK_SEARCH, "gopher://h/7/search", STYLE_SEARCH_VISITED},
        {LINK_SEARCH, "gopher://h/7/other", STYLE_SEARCH},
        {LINK_WEB, "https://w/", STYLE_WEB},  // web links never count as visited
        {LINK_BOOK, "BOOK:x", STYLE_BOOK},
        {LINK_FTP, "ftp://f", STYLE_FTP},
        {LINK_MAILTO, "mailto:m", STYLE_MAILTO},
        {LINK_UNSUPPORTED, "x:y", STYLE_UNSUPPORTED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(linkStyle(c.kind, c.url, base, isVisited), c.style) << c.url;
    // Without a visited list only the page itself counts as visited.
    EXPECT_EQ(linkStyle(LINK_FETCH, "gemini://host/a/b/v", base, {}), STYLE_LINK);
    EXPECT_EQ(linkStyle(LINK_SEARCH, "gopher://h/7/search", base, {}), STYLE_SEARCH);
    EXPECT_EQ(linkStyle(LINK_FETCH, "gemini://host/a/b/c", base, {}), STYLE_VISITED);
}

TEST_F(UrlResolve, ResultsStopAt328Characters) {
    const std::string base = "gemini://" + std::string(63, 'h') + "/" + std::string(200, 'd') + "/";
    const std::string a1000(1000, 'a');
    for (const std::string& link : {a1000, "/" + a1000, "//" + a1000, "gemini://" + a1000, "https://" + a1000,
                                    "xyz:" + a1000, std::string(1000, '\xE9')}) {
        std::string text;
        resolve(base.c_str(), link, text);
        EXPECT_EQ(text.size(), static_cast<size_t>(URL_MAX)) << link.substr(0, 12);
    }

    // The "/" that completes a bare host is left out where it would make 329 characters.
    std::string text;
    const std::string full = "gemini://" + std::string(URL_MAX - 9, 'h');
    EXPECT_EQ(resolve("gemini://host/", full, text), LINK_FETCH);
    EXPECT_EQ(text, full);
    resolve("gemini://host/", full.substr(0, URL_MAX - 1), text);
    EXPECT_EQ(text, full.substr(0, URL_MAX - 1) + "/");
}

TEST_F(UrlResolve, GopherLimits) {
    std::string text;
    const std::string longHost(100, 'g');
    EXPECT_EQ(resolveGopher('1', longHost.c_str(), 70, "/" + std::string(300, ' '), text), LINK_FETCH);
    EXPECT_LE(text.size(), static_cast<size_t>(URL_MAX));
    EXPECT_EQ(text.find(' '), std::string::npos);
    // The selector goes through the space encoder, which keeps 255 characters.
    EXPECT_EQ(resolveGopher('0', "h", 99999, std::string(1000, 'x'), text), LINK_FETCH);
    EXPECT_EQ(text, "gopher://h:99999/0" + std::string(PATH_MAX_LEN, 'x'));
}

TEST_F(UrlResolve, CountedLinkAndOddArguments) {
    UrlRecord base;
    ASSERT_EQ(parseUrl("gemini://host/dir/", base), 1);
    char dest[URL_MAX + 1];
    int length = 0;
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(resolveLink(dest, &length, unterminated, 2, base, 0, nullptr, 0), LINK_FETCH);
    EXPECT_STREQ(dest, "gemini://host/dir/ab");
    EXPECT_EQ(length, 20);
    // A NUL inside the counted bytes ends the reference.
    EXPECT_EQ(resolveLink(dest, &length, "a\0b", 3, base, 0, nullptr, 0), LINK_FETCH);
    EXPECT_STREQ(dest, "gemini://host/dir/a");
    EXPECT_EQ(resolveLink(dest, &length, nullptr, 5, base, 0, nullptr, 0), LINK_UNSUPPORTED);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(resolveLink(dest, nullptr, "x", -1, base, 0, nullptr, 0), LINK_UNSUPPORTED);
}

TEST_F(UrlResolve, HostileReferencesStayInBounds) {
    uint32_t seed = 99;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const char* const bases[] = {"gemini://host/a/b/c", "spartan://s:7/x?q", "nex://n/", "HOME",
                                 "finger://f"};
    for (int round = 0; round < 600; ++round) {
        std::string link = round % 7 == 0 ? "../" : "";
        const size_t length = next() % 1100;
        while (link.size() < length)
            link += next() % 3 == 0 ? "/.:?# %"[next() % 7] : static_cast<char>(next() & 0xFF);
        std::string text;
        const int kind = round % 5 == 0 ? resolveGopher(static_cast<char>(next() & 0xFF), "h",
                                                        static_cast<int>(next()), link, text)
                                        : resolve(bases[round % 5], link, text);
        EXPECT_LE(text.size(), static_cast<size_t>(URL_MAX));
        EXPECT_TRUE(kind >= LINK_FETCH && kind <= LINK_UNSUPPORTED) << kind;
    }
}

int dotSegments(char* s, int) {
    return removeDotSegments(s);
}
int spaces(char* s, int) {
    return encodeSpaces(s);
}

TEST(UrlEncoders, InPlaceTransforms) {
    std::string many;
    for (int i = 0; i < 84; ++i)
        many += "%20";
    const std::string a322(322, 'a');
    const struct {
        int (*transform)(char*, int);
        std::string in;
        std::string out;
    } cases[] = {
        {dotSegments, "/a/..b", "/a/..b"},
        {dotSegments, "/a/b/c/./../../g", "/a/g"},
        {dotSegments, "/a/b/..", "/a/"},
        {dotSegments, "/../../x", "/x"},
        {dotSegments, "..", ""},
        {dotSegments, "/a//b/../c", "/a//c"},
        {dotSegments, "/a/b/...", "/a/b/..."},
        {spaces, std::string(254, 'x') + " ", std::string(254, 'x')},
        // Plain characters after many spaces stop at 255 in all.
        {spaces, std::string(100, ' ') + std::string(155, 'x'), many + "xxx"},
        {spaces, std::string(300, 'x'), std::string(255, 'x')},  // at most 255 characters are read
        {encodeLatin1, "a\xC0z\xFF", "a%c3%80z%c3%bf"},
        {encodeLatin1, "\x80\xBF", "\x80\xBF"},
        {encodeLatin1, a322 + "\xE9", a322 + "%c3%a9"},
        {encodeLatin1, a322 + "a\xE9", a322 + "a\xE9"},  // would be 329
    };
    for (const auto& c : cases) {
        char buffer[400] = {};
        std::memcpy(buffer, c.in.data(), c.in.size());
        EXPECT_EQ(c.transform(buffer, static_cast<int>(c.in.size())), static_cast<int>(c.out.size())) << c.in;
        EXPECT_EQ(std::string(buffer), c.out);
    }
}

}  // namespace
