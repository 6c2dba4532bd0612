// Request texts and response decisions of the small-internet protocols and HTTP.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/exchange.h"
#include "net/protocol.h"

namespace {

UrlRecord makeRecord(int scheme, const std::string& host, int port, const std::string& path,
                     char gopherType = 0, const char* body = nullptr) {
    UrlRecord r;
    r.scheme = scheme;
    r.port = port;
    r.gopherType = gopherType;
    std::snprintf(r.host, sizeof r.host, "%s", host.c_str());
    std::snprintf(r.path, sizeof r.path, "%s", path.c_str());
    if (body != nullptr) {
        r.data = std::make_unique<NetBuffer>();
        r.data->data.assign(body, body + std::strlen(body));
        r.data->length = static_cast<int32_t>(std::strlen(body));
    }
    return r;
}

// ---- requests ----

constexpr int GEM = SCHEME_GEMINI, SPA = SCHEME_SPARTAN, HTP = SCHEME_HTTP, HTS = SCHEME_HTTPS;
constexpr int GOP = SCHEME_GOPHER, FIN = SCHEME_FINGER, NEX = SCHEME_NEX;

struct RequestCase {
    int scheme;
    std::string host;
    int port;
    std::string path;
    const char* body;
    bool viaProxy;
    std::string full;  // the request before any cut
    size_t blockSize;
};

const std::string kHost63(63, 'h');
const std::string kPath255 = "/" + std::string(254, 'p');
const char* const kHttpTail = " HTTP/1.1\r\nConnection: close\r\n\r\n";

// Block sizes: gemini 331, spartan 340, gopher direct 258 and proxied 328, finger
// proxied 336, nex proxied 333, http 363 direct and 369 proxied.
const RequestCase kRequests[] = {
    // clang-format off
    {GEM, "host", 1965, "/dir/page", 0, false, "gemini://host/dir/page\r\n", 331},
    {GEM, "host", 1965, "/dir/page", 0, true, "gemini://host/dir/page\r\n", 331},
    {GEM, "host", 1966, "/a", 0, false, "gemini://host:1966/a\r\n", 331},
    {SPA, "host", 300, "/form?a%20b", "a b", false, "host /form?a%20b 3\r\n", 340},
    {SPA, "host", 300, "/form?a%20b", "a b", true, "host /form?a%20b 3\r\n", 340},
    {SPA, "host", 3000, "/form?a%20b", "a b", true, "host:3000 /form?a%20b 3\r\n", 340},
    {SPA, "host", 3000, "/", 0, false, "host / 0\r\n", 340},
    {GOP, "host", 70, "/dir x", 0, false, "/dir x\r\n", 258},
    {GOP, "host", 70, "/dir x", 0, true, "host\t70\t/dir x\r\n", 328},
    {FIN, "host", 79, "/user", 0, false, "user\r\n", 258}, {FIN, "host", 79, "", 0, false, "\r\n", 258},
    {FIN, "host", 79, "/user", 0, true, "finger://host:79/user\r\n", 336},
    {NEX, "host", 1900, "/dir/", 0, false, "/dir/\r\n", 258},
    {NEX, "host", 1900, "/dir/", 0, true, "nex://host:1900/dir/\r\n", 333},
    {HTP, "w", 80, "/x", 0, false, "GET /x HTTP/1.1\r\nHost: w\r\nConnection: close\r\n\r\n", 363},
    {HTP, "w", 80, "/x", 0, true, std::string("GET http://w:80/x") + kHttpTail, 369},
    {HTS, "w", 443, "/x", 0, true, std::string("GET https://w:443/x") + kHttpTail, 369},
    {SCHEME_FTP, "w", 21, "/x", 0, true, std::string("GET http://w:21/x") + kHttpTail, 369},
    // Longest fields: every row holds them whole...
    {GEM, kHost63, 1965, kPath255, 0, false, "gemini://" + kHost63 + kPath255 + "\r\n", 331},
    {GOP, kHost63, 65535, kPath255, 0, true, kHost63 + "\t65535\t" + kPath255 + "\r\n", 328},
    {GOP, kHost63, 70, kPath255, 0, false, kPath255 + "\r\n", 258},
    {FIN, kHost63, 65535, kPath255, 0, true, "finger://" + kHost63 + ":65535" + kPath255 + "\r\n", 336},
    {NEX, kHost63, 65535, kPath255, 0, true, "nex://" + kHost63 + ":65535" + kPath255 + "\r\n", 333},
    {HTS, kHost63, 65535, kPath255, 0, true, "GET https://" + kHost63 + ":65535" + kPath255 + kHttpTail, 369},
    {HTP, kHost63, 80, kPath255, 0, false,
     "GET " + kPath255 + " HTTP/1.1\r\nHost: " + kHost63 + "\r\nConnection: close\r\n\r\n", 363},
    // ...but a port past five digits pushes them over their block.
    {GEM, kHost63, 65535, kPath255, 0, false, "gemini://" + kHost63 + ":65535" + kPath255 + "\r\n", 331},
    {SPA, kHost63, -2147483647 - 1, kPath255, 0, true, kHost63 + ":-2147483648 " + kPath255 + " 0\r\n", 340},
    {GOP, kHost63, 100000, kPath255, 0, true, kHost63 + "\t100000\t" + kPath255 + "\r\n", 328},
    {FIN, kHost63, 100000, kPath255, 0, true, "finger://" + kHost63 + ":100000" + kPath255 + "\r\n", 336},
    {NEX, kHost63, 100000, kPath255, 0, true, "nex://" + kHost63 + ":100000" + kPath255 + "\r\n", 333},
    {HTS, kHost63, 100000, kPath255, 0, true, "GET https://" + kHost63 + ":100000" + kPath255 + kHttpTail,
     369},
    // clang-format on
};

TEST(ProtocolRequestTest, TextsAndCuts) {
    for (const RequestCase& c : kRequests) {
        SCOPED_TRACE(c.full);
        const UrlRecord r = makeRecord(c.scheme, c.host, c.port, c.path, 0, c.body);
        const std::string request = buildRequest(r, c.viaProxy);
        EXPECT_EQ(request, c.full.substr(0, c.blockSize - 1));
        EXPECT_LE(request.size(), c.blockSize - 1);
    }
}

TEST(ProtocolRequestTest, SpartanAnnouncesTheBodyLength) {
    UrlRecord r = makeRecord(SCHEME_SPARTAN, "host", 300, "/upload");
    r.data = std::make_unique<NetBuffer>();
    r.data->type = NETBUF_UPLOAD;
    r.data->length = 20000;
    EXPECT_EQ(buildRequest(r, false), "host /upload 20000\r\n");
}

TEST(ProtocolRequestTest, UnterminatedFieldsStayInsideTheRecord) {
    UrlRecord r = makeRecord(SCHEME_NEX, "", 1900, "");
    std::memset(r.host, 'h', sizeof r.host);
    std::memset(r.path, 'p', sizeof r.path);
    const std::string request = buildRequest(r, true);
    EXPECT_EQ(request,
              ("nex://" + std::string(64, 'h') + ":1900" + std::string(256, 'p') + "\r\n").substr(0, 332));
}

// ---- responses ----

struct Outcome {
    int status = FETCH_SERVER_ERROR;
    size_t headerLength = 0;
    int64_t contentLength = 0;
    std::unique_ptr<FetchExchange> exchange = std::make_unique<FetchExchange>();
};

// Classifies exactly `response.size()` bytes held in a block of that size, so that
// any read past the total is caught by the address sanitizer.
Outcome classify(const UrlRecord& request, const std::string& response) {
    Outcome out;
    auto block = std::make_unique<char[]>(response.size());
    if (!response.empty()) std::memcpy(block.get(), response.data(), response.size());
    out.status = classifyResponse(*out.exchange, block.get(), response.size(), request, out.headerLength,
                                  out.contentLength);
    return out;
}

struct ResponseCase {
    int scheme;
    std::string path;
    char gopherType;
    std::string response;
    int status;
    size_t headerLength;
    int64_t contentLength;
    std::string error;  // expected error text; empty: no error recorded
    std::string text;   // the prompt or redirect target, checked when not empty
};

UrlRecord recordFor(const ResponseCase& c) {
    const int ports[] = {0, 1965, 300, 80, 443, 21, 70, 79, 1900};  // by scheme
    const bool http = c.scheme == HTP || c.scheme == HTS;
    return makeRecord(c.scheme, http ? "w" : "host", ports[c.scheme], c.path, c.gopherType);
}

const std::string kGeminiBad = "Server error: server did not send valid Gemini header";
const std::string kSpartanBad = "Server error: server did not send valid Spartan header";
const std::string kHttpBad = "Server error: did not understand HTTP header from server";

std::string padded(const std::string& head, size_t lineFeedAt) {
    return head + std::string(lineFeedAt - head.size() - 1, 'a') + "\r\n";
}

std::string http200(const std::string& fields) {
    return "HTTP/1.1 200 OK\r\n" + fields + "\r\n";
}

const std::string kLongStatus = "404 " + std::string(2000, 's');

constexpr int PAGE = FETCH_PAGE, DOWN = FETCH_DOWNLOAD, REDIR = FETCH_REDIRECT, FAIL = FETCH_SERVER_ERROR;

const ResponseCase kResponses[] = {
    // clang-format off
    {GEM, "/dir/page", 0, "20 text/gemini\r\n", PAGE, 16, 0, "", ""},
    {GEM, "/", 0, "20 text/plain\r\nhello\n", PAGE, 15, 0, "", ""},
    {GEM, "/", 0, "20\ttext/gemini\r\n", PAGE, 16, 0, "", ""},
    {GEM, "/", 0, "20 image/png\r\n", DOWN, 14, 0, "", ""},
    {GEM, "/", 0, "20 x\r\n", FAIL, 6, 0, "Server error: 20 x", ""},
    {GEM, "/", 0, "20 text/gemini\n", FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, "20 \r\n", FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, "2x text/gemini\r\n", FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, "20text/gemini\r\n", FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, std::string("20 text/\0gemini\r\n", 17), FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, padded("20 text/", 1028), PAGE, 1029, 0, "", ""},
    {GEM, "/", 0, padded("20 text/", 1029), FAIL, 0, 0, kGeminiBad, ""},
    {GEM, "/", 0, "10 Your name?\r\n", FETCH_INPUT, 15, 0, "", "Your name?"},
    {GEM, "/", 0, "11 Password\r\n", FETCH_INPUT, 13, 0, "", "Password"},
    {GEM, "/", 0, "10 " + std::string(300, 'q') + "\r\n", FETCH_INPUT, 305, 0, "", std::string(127, 'q')},
    {GEM, "/dir/page", 0, "30 other\r\n", REDIR, 10, 0, "", "gemini://host/dir/other"},
    {GEM, "/dir/page", 0, "31 gemini://else/x\r\n", REDIR, 20, 0, "", "gemini://else/x"},
    {GEM, "/", 0, "60 Identity please\r\n", FETCH_CERTIFICATE, 20, 0, "", ""},
    {GEM, "/", 0, "61 Not authorised\r\n", FAIL, 19, 0, "Server error: 61 Not authorised", ""},
    {SPA, "/", 0, "2 text/gemini\r\n", PAGE, 15, 0, "", ""},
    {SPA, "/", 0, "2 text/gemini\n", PAGE, 14, 0, "", ""},
    {SPA, "/", 0, "4 Not found\r\n", FAIL, 13, 0, "Server error: 4 Not found", ""},
    {SPA, "/dir/page", 0, "3 /x\r\n", REDIR, 6, 0, "", "spartan://host/x"},
    {SPA, "/", 0, "2text/gemini\r\n", FAIL, 0, 0, kSpartanBad, ""},
    {SPA, "/", 0, "2 \r\n", FAIL, 0, 0, kSpartanBad, ""},
    {SPA, "/", 0, "20 text/gemini\r\n", FAIL, 0, 0, kSpartanBad, ""},
    {SPA, "/", 0, padded("2 text/", 321), PAGE, 322, 0, "", ""},
    {SPA, "/", 0, padded("2 text/", 322), FAIL, 0, 0, kSpartanBad, ""},
    {HTS, "/", 0, http200("Content-Length: 5000\r\n") + "body", DOWN, 41, 5000, "", ""},
    {HTP, "/", 0, http200("Server: x\r\n"), DOWN, 30, 0, "", ""},
    {HTP, "/", 0, http200("Content-Length: 4294967296\r\n"), DOWN, 47, 4294967296LL, "", ""},
    {HTP, "/", 0, http200("Content-Length: 9223372036854775807\r\n"), DOWN, 56, INT64_MAX, "", ""},
    {HTP, "/", 0, http200("Content-Length: 9223372036854775808\r\n"), DOWN, 56, 0, "", ""},
    {HTP, "/", 0, http200("Content-Length: -5\r\n"), DOWN, 39, 0, "", ""},
    {HTS, "/", 0, "HTTP/1.1 301 Moved\r\nLocation: https://w/x\r\n\r\n", REDIR, 0, 0, "", "https://w/x"},
    {HTP, "/a/b", 0, "HTTP/1.1 302 Found\r\nLocation: ../c\r\n\r\n", REDIR, 0, 0, "", "../c"},
    {HTP, "/", 0, "HTTP/1.1 301 M\r\nLocation: " + std::string(5000, 'L') + "\r\n\r\n", REDIR, 0, 0, "",
     std::string(327, 'L')},
    {HTP, "/", 0, "HTTP/1.1 301 Moved\r\nLocation: \r\nServer: x\r\n\r\n", FAIL, 0, 0,
     "Server error: did not understand redirect from server", ""},
    {HTP, "/", 0, "HTTP/1.1 301 Moved\r\n\r\n", FAIL, 0, 0, "", ""},
    {HTS, "/", 0, "HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n", FAIL, 0, 0, "Server error: 404 Not Found",
     ""},
    {HTP, "/", 0, "HTTP/1.1 100 Continue\r\n\r\n", FAIL, 0, 0, "Server error: 100 Continue", ""},
    {HTP, "/", 0, "HTTP/1.1 " + kLongStatus + "\r\n\r\n", FAIL, 0, 0,
     ("Server error: " + kLongStatus).substr(0, ERROR_TEXT_SIZE - 1), ""},
    {HTP, "/", 0, "HTTP/1.0 200 OK\r\n\r\n", FAIL, 0, 0, "", ""},
    {HTP, "/", 0, "HTTP/1.1 600 Odd\r\n\r\n", FAIL, 0, 0, "", ""},
    {HTP, "/", 0, "HTTP/1.1 \r\n\r\n", FAIL, 0, 0, "", ""},
    {HTP, "/", 0, "HTTP/1.1 200 OK\r\n", FAIL, 0, 0, kHttpBad, ""},
    {HTP, "/", 0, std::string("HTTP/1.1 200 OK\r\nX: \0\r\n\r\n", 25), FAIL, 0, 0, kHttpBad, ""},
    // Gopher, finger and nex need no header.
    {GOP, "/a", '0', "anything", PAGE, 0, 0, "", ""}, {GOP, "/", '7', "", PAGE, 0, 0, "", ""},
    {GOP, "/", '9', "x", DOWN, 0, 0, "", ""}, {GOP, "/", 'h', "x", DOWN, 0, 0, "", ""},
    {FIN, "/user", 0, "20 x\r\n", PAGE, 0, 0, "", ""},
    {NEX, "/notes.txt", 0, "x", PAGE, 0, 0, "", ""}, {NEX, "/dir/", 0, "x", PAGE, 0, 0, "", ""},
    {NEX, "/d/w.xtw", 0, "x", PAGE, 0, 0, "", ""},   {NEX, "/pic.gif", 0, "x", DOWN, 0, 0, "", ""},
    {NEX, "/a.b", 0, "x", DOWN, 0, 0, "", ""},       {NEX, ".txt", 0, "x", DOWN, 0, 0, "", ""},
    {NEX, "/a.TXT", 0, "x", DOWN, 0, 0, "", ""},
    // clang-format on
};

TEST(ProtocolResponseTest, Decisions) {
    for (const ResponseCase& c : kResponses) {
        SCOPED_TRACE(c.response.substr(0, 60));
        const Outcome out = classify(recordFor(c), c.response);
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.headerLength, c.headerLength);
        EXPECT_EQ(out.contentLength, c.contentLength);
        EXPECT_EQ(out.exchange->error.errorKind, c.error.empty() ? 0 : FETCH_SERVER_ERROR);
        EXPECT_EQ(out.exchange->error.errorText, c.error);
        if (!c.text.empty()) {
            EXPECT_EQ(c.status == FETCH_INPUT ? out.exchange->prompt : out.exchange->redirectTarget, c.text);
        }
    }
}

TEST(ProtocolResponseTest, EveryPrefixIsNotYetOrFinal) {
    for (const ResponseCase& c : kResponses) {
        if (c.status == FETCH_SERVER_ERROR) continue;
        SCOPED_TRACE(c.response.substr(0, 60));
        const UrlRecord r = recordFor(c);
        const Outcome whole = classify(r, c.response);
        bool decided = false;
        for (size_t k = 0; k <= c.response.size(); ++k) {
            const Outcome part = classify(r, c.response.substr(0, k));
            if (part.status == FETCH_SERVER_ERROR) {
                ASSERT_FALSE(decided) << "prefix " << k;
                continue;
            }
            if (!decided && c.headerLength > 0) {
                ASSERT_EQ(k, c.headerLength);
            }
            decided = true;
            ASSERT_EQ(part.status, whole.status) << "prefix " << k;
            ASSERT_EQ(part.headerLength, whole.headerLength) << "prefix " << k;
            ASSERT_EQ(part.contentLength, whole.contentLength) << "prefix " << k;
            ASSERT_STREQ(part.exchange->prompt, whole.exchange->prompt) << "prefix " << k;
            ASSERT_STREQ(part.exchange->redirectTarget, whole.exchange->redirectTarget) << "prefix " << k;
        }
        ASSERT_TRUE(decided);
    }
}

TEST(ProtocolResponseTest, LongResponseWithoutLineFeed) {
    const std::pair<int, std::string> cases[] = {{GEM, kGeminiBad}, {SPA, kSpartanBad}, {HTP, kHttpBad}};
    for (const auto& [scheme, error] : cases) {
        const Outcome out = classify(makeRecord(scheme, "host", 1965, "/"), std::string(2000, 'x'));
        EXPECT_EQ(out.status, FETCH_SERVER_ERROR);
        EXPECT_EQ(out.exchange->error.errorText, error);
    }
}

TEST(ProtocolResponseTest, LongGeminiRedirectStaysWithinTheUrlLimit) {
    const UrlRecord r = makeRecord(SCHEME_GEMINI, "host", 1965, "/dir/page");
    const Outcome out = classify(r, "30 " + std::string(1000, 'r') + "\r\n");
    EXPECT_EQ(out.status, FETCH_REDIRECT);
    EXPECT_NE(std::memchr(out.exchange->redirectTarget, '\0', sizeof out.exchange->redirectTarget), nullptr);
    EXPECT_EQ(std::string(out.exchange->redirectTarget).rfind("gemini://host/dir/r", 0), 0u);
}

// Random responses built from header fragments and raw bytes: every decision is a
// known status, every text stays terminated inside its field, no read past total.
TEST(ProtocolResponseTest, HostileBytesAreSafe) {
    // clang-format off
    const std::string pieces[] = {"Location: ", "Content-Length: ", "99999999999999999999", "4294967296",
                                  "\r\n", "\n", "\r", "/", "text/", "../", std::string(1, '\0'), "\t", " ",
                                  "\xff\xfe\x80", std::string(400, 'z')};
    const struct {
        int scheme;
        std::vector<std::string> openers;
        const char* closer;
    } schemes[] = {
        {GEM, {"20 ", "10 ", "30 ", "51 ", "60 ", "6", ""}, "\r\n"},
        {SPA, {"2 ", "3 ", "4 ", "5", ""}, "\r\n"},
        {HTP, {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 301 M\r\n", "HTTP/1.1 404 ", "HTTP/1.1 1", "HTTP/1.1 ", ""},
         "\r\n\r\n"},
    };
    // clang-format on
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    int decided = 0;
    for (int round = 0; round < 3000; ++round) {
        const auto& sc = schemes[round % 3];
        std::string response = sc.openers[next() % sc.openers.size()];
        const uint32_t parts = next() % 8;
        for (uint32_t i = 0; i < parts; ++i)
            response += next() % 4 == 0 ? std::string(1, static_cast<char>(next() & 0xff))
                                        : pieces[next() % std::size(pieces)];
        if (next() % 2 == 0) response += sc.closer;
        const Outcome out = classify(makeRecord(sc.scheme, "host", 1965, "/a/b"), response);
        ASSERT_TRUE(out.status >= FETCH_PAGE && out.status <= FAIL && out.status != FETCH_NETWORK_ERROR);
        if (out.status != FETCH_SERVER_ERROR) ++decided;
        ASSERT_LE(out.headerLength, response.size());
        ASSERT_GE(out.contentLength, 0);
        const FetchExchange& e = *out.exchange;
        ASSERT_NE(std::memchr(e.prompt, '\0', sizeof e.prompt), nullptr);
        ASSERT_NE(std::memchr(e.redirectTarget, '\0', sizeof e.redirectTarget), nullptr);
        ASSERT_NE(std::memchr(e.error.errorText, '\0', sizeof e.error.errorText), nullptr);
        ASSERT_TRUE(out.status == FETCH_SERVER_ERROR || e.error.errorKind == 0);
    }
    // The fragments must reach the decisions, not only the early rejections.
    EXPECT_GT(decided, 150);
}

}  // namespace
