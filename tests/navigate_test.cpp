// The window-free decisions of the page pipeline: routes and redirects.
#include <gtest/gtest.h>

#include <string>

#include "browser/navigate.h"

namespace {

TEST(Navigate, RoutesByScheme) {
    struct Case {
        const char* address;
        bool tls, proxy, handlerHttp, desktop;
        AddressRoute route;
    } cases[] = {
        {"gemini://h/", true, false, false, true, ROUTE_FETCH},
        {"gemini://h/", false, false, false, true, ROUTE_NEEDS_TLS},
        {"gemini://h/", false, true, false, true, ROUTE_FETCH},  // the proxy does the TLS
        {"https://w/", false, false, false, true, ROUTE_NEEDS_TLS},
        {"http://w/", false, false, false, true, ROUTE_FETCH},  // a download
        {"http://w/", false, false, true, true, ROUTE_DESKTOP},
        {"http://w/", false, false, true, false, ROUTE_FETCH},  // the dump hands nothing on
        {"ftp://f/", true, false, false, true, ROUTE_NOT_HERE},
        {"mailto:m", true, false, false, true, ROUTE_NOT_HERE},
        {"HOME", false, false, false, true, ROUTE_BUILTIN},
        {"BOOKX", false, false, false, true, ROUTE_BUILTIN},
        {"BOOK:del:gemini://h/", false, false, false, true, ROUTE_BOOK_COMMAND},
        {"nex://n/", false, false, false, true, ROUTE_FETCH},
    };
    for (const auto& c : cases) {
        UrlRecord address;
        ASSERT_EQ(parseUrl(c.address, address), 1);
        Settings live;
        live.useGemProxy = c.proxy ? 1 : 0;
        live.useOpenUrl[OPENURL_HTTP] = c.handlerHttp ? 1 : 0;
        EXPECT_EQ(routeAddress(address, live, c.tls, c.desktop), c.route) << c.address;
    }
}

TEST(Redirects, TwoInARowAreFollowedThenRefused) {
    struct Case {
        const char* target;
        RedirectAction first;
    } cases[] = {
        {"gemini://h/", REDIRECT_FOLLOW},      {"spartan://h/", REDIRECT_FOLLOW},
        {"https://w/", REDIRECT_FOLLOW},       {"http://w/", REDIRECT_FOLLOW},
        {"gopher://h/", REDIRECT_UNSUPPORTED}, {"GEMINI://h/", REDIRECT_UNSUPPORTED},
        {"/relative", REDIRECT_UNSUPPORTED},   {"", REDIRECT_UNSUPPORTED},
        {nullptr, REDIRECT_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        int32_t count = 0;
        EXPECT_EQ(redirectDecide(count, c.target), c.first) << (c.target ? c.target : "null");
        EXPECT_EQ(redirectDecide(count, c.target), c.first);
        EXPECT_EQ(redirectDecide(count, c.target), REDIRECT_TOO_MANY);
        EXPECT_EQ(count, 3);
    }
}

}  // namespace
