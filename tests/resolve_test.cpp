#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "page/linestyle.h"
#include "store/visited.h"
#include "url/url.h"

namespace {

class UrlResolve : public ::testing::Test {
  protected:
    void SetUp() override { visitedClear(); }
    void TearDown() override { visitedClear(); }

    // Resolves link against base; returns the style and fills text.
    static int resolve(const char* base, const std::string& link, std::string& text, bool listPage = false) {
        UrlRecord record;
        EXPECT_EQ(parseUrl(base, record), 1) << base;
        char dest[URL_MAX + 1];
        std::memset(dest, 'Z', sizeof dest);
        int length = -1;
        const int style = resolveLink(dest, &length, link.data(), static_cast<int>(link.size()), record,
                                      listPage, 0, nullptr, 0);
        EXPECT_EQ(length, static_cast<int>(strnlen(dest, sizeof dest)));
        text.assign(dest, static_cast<size_t>(length));
        return style;
    }

    static int resolveGopher(char type, const char* host, int port, const std::string& selector,
                             std::string& text) {
        UrlRecord base;
        EXPECT_EQ(parseUrl("gopher://menu/1/", base), 1);
        char dest[URL_MAX + 1];
        int length = -1;
        const int style = resolveLink(dest, &length, selector.data(), static_cast<int>(selector.size()), base,
                                      false, type, host, port);
        EXPECT_EQ(length, static_cast<int>(strnlen(dest, sizeof dest)));
        text.assign(dest, static_cast<size_t>(length));
        return style;
    }
};

struct ResolveCase {
    const char* base;
    const char* link;
    const char* result;
    int style;
};

const ResolveCase RESOLVE_CASES[] = {
    {"gemini://host/a/b/c", "d", "gemini://host/a/b/d", STYLE_LINK},
    {"gemini://host/a/b/c", "../d", "gemini://host/a/d", STYLE_LINK},
    {"gemini://host/a/b/c", "./d", "gemini://host/a/b/d", STYLE_LINK},
    {"gemini://host/a/b/c", "/x", "gemini://host/x", STYLE_LINK},
    {"gemini://host/a/b/c", "//other/y", "gemini://other/y", STYLE_LINK},
    {"gemini://host/a/b/c", "?q", "gemini://host/a/b/?q", STYLE_LINK},
    {"gemini://host/a/b/c", "../../../../x", "gemini://host/x", STYLE_LINK},
    {"gemini://host/a/b/c", "d/./e/../f", "gemini://host/a/b/d/f", STYLE_LINK},
    {"gemini://host/a/b/c", "..", "gemini://host/a/", STYLE_LINK},
    {"gemini://host/a/b/c", "c", "gemini://host/a/b/c", STYLE_VISITED},  // the page itself
    {"gemini://host/a?x/y", "z", "gemini://host/z", STYLE_LINK},         // the query's "/" is encoded
    {"gemini://host:1966/a", "b", "gemini://host:1966/b", STYLE_LINK},
    {"gemini://host:1966/a", "/b", "gemini://host:1966/b", STYLE_LINK},
    {"gemini://host:1965/a", "b", "gemini://host/b", STYLE_LINK},
    {"spartan://host/", "p", "spartan://host/p", STYLE_LINK},
    {"spartan://host:300/", "p", "spartan://host/p", STYLE_LINK},
    {"spartan://host:301/", "//o", "spartan://o/", STYLE_LINK},
    {"nex://n/dir/", "f", "nex://n/dir/f", STYLE_LINK},
    {"nex://n:1901/dir/", "/f", "nex://n:1901/f", STYLE_LINK},
    {"gemini://host/", "gemini://other", "gemini://other/", STYLE_LINK},
    {"gemini://host/", "gemini://other?q", "gemini://other?q/", STYLE_LINK},
    {"gemini://host/", "spartan://s", "spartan://s/", STYLE_LINK},
    {"gemini://host/", "nex://n", "nex://n/", STYLE_LINK},
    {"gemini://host/", "gopher://h", "gopher://h", STYLE_LINK},
    {"gemini://host/", "finger://f", "finger://f", STYLE_LINK},
    {"gemini://host/", "https://w", "https://w/", STYLE_WEB},
    {"gemini://host/", "http://w/x", "http://w/x", STYLE_WEB},
    {"gemini://host/", "ftp://f", "ftp://f", STYLE_FTP},
    {"gemini://host/", "mailto:someone", "mailto:someone", STYLE_MAILTO},
    {"gemini://host/", "BOOK:add", "BOOK:add", STYLE_BOOK},
    {"gemini://host/", "xyz:foo", "xyz:foo", STYLE_UNSUPPORTED},
    {"gemini://host/", "GEMINI://x", "GEMINI://x", STYLE_UNSUPPORTED},
    {"gemini://host/", "", "", STYLE_UNSUPPORTED},
    {"gemini://host/", "caf\xE9", "gemini://host/caf%c3%a9", STYLE_LINK},
    {"gemini://host/", "\xC0\xFF\xBF", "gemini://host/%c3%80%c3%bf\xBF", STYLE_LINK},
    {"gemini://host/", "xyz:\xE9", "xyz:%c3%a9", STYLE_UNSUPPORTED},
    {"gemini://host/", "/.well-known/x", "gemini://host/.well-known/x", STYLE_LINK},
    // Scheme 10 pages have no host or path.
    {"HOME", "gemini://g", "gemini://g/", STYLE_LINK},
};

TEST_F(UrlResolve, CasesTable) {
    for (const ResolveCase& c : RESOLVE_CASES) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.link);
        std::string text;
        EXPECT_EQ(resolve(c.base, c.link, text), c.style);
        EXPECT_EQ(text, c.result);
        // A list page marks every link visited and resolves it the same.
        std::string listed;
        EXPECT_EQ(resolve(c.base, c.link, listed, true), STYLE_VISITED);
        EXPECT_EQ(listed, c.result);
    }
}

TEST_F(UrlResolve, GopherItems) {
    const struct {
        char type;
        int port;
        const char* selector;
        const char* result;
        int style;
    } cases[] = {
        {'1', 70, "/dir x", "gopher://h/1/dir%20x", STYLE_LINK},
        {'1', 7070, "/dir x", "gopher://h:7070/1/dir%20x", STYLE_LINK},
        {'0', 70, "a b c", "gopher://h/0a%20b%20c", STYLE_LINK},
        {'7', 70, "/search", "gopher://h/7/search", STYLE_SEARCH},
        {'+', 70, "/x", "gopher://h/+/x", STYLE_UNSUPPORTED},
        {'h', 70, "URL:http://w", "gopher://h/hURL:http://w", STYLE_WEB},
        {'i', 70, "", "gopher://h", STYLE_LINK},  // no type part for an empty selector
        {'1', 70, "//x/y", "gopher://x/y", STYLE_LINK},
        {'1', 70, "gemini://g", "gemini://g/", STYLE_LINK},
        {'1', 70, "mailto:m", "gopher://h/1mailto:m", STYLE_LINK},
        {'\0', 70, "/raw x", "gopher://h/raw x", STYLE_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        std::string text;
        EXPECT_EQ(resolveGopher(c.type, "h", c.port, c.selector, text), c.style);
        EXPECT_EQ(text, c.result);
    }
    for (char type : std::string("0134569IPXdgiprs")) {
        std::string text;
        EXPECT_EQ(resolveGopher(type, "h", 70, "/s", text), STYLE_LINK) << type;
    }
}

TEST_F(UrlResolve, VisitedListColoursLinks) {
    ASSERT_TRUE(visitedAdd("gemini://host/a/b/v"));
    ASSERT_TRUE(visitedAdd("gopher://h/7/search"));
    ASSERT_TRUE(visitedAdd("https://w/"));
    std::string text;
    EXPECT_EQ(resolve("gemini://host/a/b/c", "v", text), STYLE_VISITED);
    EXPECT_EQ(resolve("gemini://host/a/b/c", "V", text), STYLE_LINK);
    EXPECT_EQ(resolve("gemini://host/a/b/c", "https://w", text), STYLE_WEB);  // web links never count
    EXPECT_EQ(resolveGopher('7', "h", 70, "/search", text), STYLE_SEARCH_VISITED);
    EXPECT_EQ(resolveGopher('1', "h", 70, "/search", text), STYLE_LINK);
}

TEST_F(UrlResolve, ResultsStopAt328Characters) {
    const std::string base = "gemini://" + std::string(63, 'h') + "/" + std::string(200, 'd') + "/";
    const std::string links[] = {
        std::string(1000, 'a'),
        "/" + std::string(1000, 'a'),
        "//" + std::string(1000, 'a'),
        "gemini://" + std::string(1000, 'a'),
        "https://" + std::string(1000, 'a'),
        "xyz:" + std::string(1000, 'a'),
        std::string(1000, '\xE9'),
    };
    for (const std::string& link : links) {
        SCOPED_TRACE(link.substr(0, 12));
        std::string text;
        resolve(base.c_str(), link, text);
        EXPECT_EQ(text.size(), static_cast<size_t>(URL_MAX));
    }

    // The "/" that completes a bare host is left out where it would make 329 characters.
    std::string text;
    const std::string full = "gemini://" + std::string(URL_MAX - 9, 'h');
    EXPECT_EQ(resolve("gemini://host/", full, text), STYLE_LINK);
    EXPECT_EQ(text, full);
    const std::string almost = "gemini://" + std::string(URL_MAX - 10, 'h');
    resolve("gemini://host/", almost, text);
    EXPECT_EQ(text, almost + "/");

    // Latin-1 letters that would not fit leave the text as it was.
    const std::string wide = std::string(300, 'a') + "\xE9\xE9\xE9\xE9\xE9\xE9";
    resolve("gemini://h/", "xyz:" + wide, text);
    EXPECT_EQ(text, "xyz:" + wide);
}

TEST_F(UrlResolve, GopherLimits) {
    std::string text;
    const std::string longHost(100, 'g');
    EXPECT_EQ(resolveGopher('1', longHost.c_str(), 70, "/" + std::string(300, ' '), text), STYLE_LINK);
    EXPECT_LE(text.size(), static_cast<size_t>(URL_MAX));
    EXPECT_EQ(text.find(' '), std::string::npos);
    // The selector goes through the space encoder, which keeps 255 characters.
    EXPECT_EQ(resolveGopher('0', "h", 99999, std::string(1000, 'x'), text), STYLE_LINK);
    EXPECT_EQ(text, "gopher://h:99999/0" + std::string(PATH_MAX_LEN, 'x'));
    EXPECT_EQ(resolveGopher('0', "h", -5, "/x", text), STYLE_LINK);
    EXPECT_EQ(text, "gopher://h:-5/0/x");
}

TEST_F(UrlResolve, CountedLinkAndOddArguments) {
    UrlRecord base;
    ASSERT_EQ(parseUrl("gemini://host/dir/", base), 1);
    char dest[URL_MAX + 1];
    int length = 0;
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(resolveLink(dest, &length, unterminated, 2, base, false, 0, nullptr, 0), STYLE_LINK);
    EXPECT_STREQ(dest, "gemini://host/dir/ab");
    EXPECT_EQ(length, 20);
    // A NUL inside the counted bytes ends the reference.
    EXPECT_EQ(resolveLink(dest, &length, "a\0b", 3, base, false, 0, nullptr, 0), STYLE_LINK);
    EXPECT_STREQ(dest, "gemini://host/dir/a");
    EXPECT_EQ(resolveLink(dest, &length, nullptr, 5, base, false, 0, nullptr, 0), STYLE_UNSUPPORTED);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(resolveLink(dest, nullptr, "x", -1, base, false, 0, nullptr, 0), STYLE_UNSUPPORTED);
}

TEST_F(UrlResolve, HostileReferencesStayInBounds) {
    uint32_t seed = 99;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    const char* const bases[] = {"gemini://host/a/b/c", "spartan://s:7/x?q", "nex://n/", "HOME",
                                 "finger://f"};
    for (int round = 0; round < 3000; ++round) {
        std::string link;
        const size_t length = next() % 1100;
        while (link.size() < length) {
            char c = static_cast<char>(next() & 0xFF);
            if (next() % 3 == 0) c = "/.:?# %"[next() % 7];
            link += c;
        }
        if (round % 7 == 0) link.insert(0, "../");
        std::string text;
        const bool gopher = round % 5 == 0;
        int style;
        if (gopher) {
            style =
                resolveGopher(static_cast<char>(next() & 0xFF), "h", static_cast<int>(next()), link, text);
        } else {
            style = resolve(bases[round % 5], link, text);
        }
        EXPECT_LE(text.size(), static_cast<size_t>(URL_MAX));
        EXPECT_TRUE(style >= STYLE_LINK && style <= STYLE_UNSUPPORTED && style != STYLE_PROMPT &&
                    style != STYLE_PROMPT_VISITED)
            << style;
    }
}

TEST(UrlDotSegments, RemoveDotSegments) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/.well-known/x", "/.well-known/x"},
        {"/a/..b", "/a/..b"},
        {"/a/b/c/./../../g", "/a/g"},
        {"mid/content=5/../6", "mid/6"},
        {"/a/b/..", "/a/"},
        {"/a/./b", "/a/b"},
        {"/..", "/"},
        {"/.", "/"},
        {"/../../x", "/x"},
        {"../x", "x"},
        {"./x", "x"},
        {".", ""},
        {"..", ""},
        {"/a//b/../c", "/a//c"},
        {"/a/b/...", "/a/b/..."},
        {"/a/b/../c?q=1", "/a/c?q=1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char buffer[URL_MAX + 1] = {};
        std::strcpy(buffer, c.in);
        EXPECT_EQ(removeDotSegments(buffer), static_cast<int>(std::strlen(c.out))) << c.in;
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
}

TEST(UrlEncoders, EncodeSpaces) {
    std::string many;
    for (int i = 0; i < 84; ++i)
        many += "%20";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a b", "a%20b"},
        {"  ", "%20%20"},
        {"none", "none"},
        {std::string(254, 'x') + " ", std::string(254, 'x')},
        // Plain characters after many spaces stop at 255 in all.
        {std::string(100, ' ') + std::string(155, 'x'), many + "xxx"},
        // At most 255 characters are read.
        {std::string(300, 'x'), std::string(255, 'x')},
    };
    for (const auto& c : cases) {
        char buffer[400] = {};
        std::memcpy(buffer, c.in.data(), c.in.size());
        EXPECT_EQ(encodeSpaces(buffer), static_cast<int>(c.out.size())) << c.in;
        EXPECT_EQ(std::string(buffer), c.out);
    }
}

TEST(UrlEncoders, EncodeLatin1) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"\xE9", "%c3%a9"},
        {"a\xC0z\xFF", "a%c3%80z%c3%bf"},
        {"\x80\xBF", "\x80\xBF"},
        {std::string(322, 'a') + "\xE9", std::string(322, 'a') + "%c3%a9"},
        {std::string(323, 'a') + "\xE9", std::string(323, 'a') + "\xE9"},  // would be 329
    };
    for (const auto& c : cases) {
        char buffer[URL_MAX + 1] = {};
        std::memcpy(buffer, c.in.data(), c.in.size());
        EXPECT_EQ(encodeLatin1(buffer, static_cast<int>(c.in.size())), static_cast<int>(c.out.size()));
        EXPECT_EQ(std::string(buffer), c.out);
    }
}

}  // namespace
