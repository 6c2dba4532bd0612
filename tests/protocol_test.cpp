// Request texts and response decisions of the small-internet protocols and HTTP.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "net/exchange.h"
#include "net/protocol.h"

namespace {

constexpr int GEM = SCHEME_GEMINI, SPA = SCHEME_SPARTAN, HTP = SCHEME_HTTP, HTS = SCHEME_HTTPS;
constexpr int GOP = SCHEME_GOPHER, FIN = SCHEME_FINGER, NEX = SCHEME_NEX, FTP = SCHEME_FTP;

UrlRecord makeRecord(int scheme, const std::string& host, int port, const std::string& path,
                     char gopherType = 0, int32_t bodyLength = -1) {
    UrlRecord r;
    r.scheme = scheme;
    r.port = port;
    r.gopherType = gopherType;
    std::snprintf(r.host, sizeof r.host, "%s", host.c_str());
    std::snprintf(r.path, sizeof r.path, "%s", path.c_str());
    if (bodyLength >= 0) {  // the request announces the length only: no bytes needed
        r.data = std::make_unique<NetBuffer>();
        r.data->length = bodyLength;
    }
    return r;
}

struct RequestCase {
    int scheme;
    int port;
    std::string path;
    std::string full;  // the request before any cut
    bool viaProxy = false;
    std::string host = "host";
    int32_t bodyLength = -1;
};

const std::string kHost63(63, 'h');
const std::string kPath255 = "/" + std::string(254, 'p');
const std::string kHttpTail = " HTTP/1.1\r\nConnection: close\r\n\r\n";

// The request blocks by scheme, direct and through the proxy.
constexpr size_t kDirectBlock[] = {0, 331, 340, 363, 363, 363, 258, 258, 258};
constexpr size_t kProxyBlock[] = {0, 331, 340, 369, 369, 369, 328, 336, 333};

const RequestCase kRequests[] = {
    // clang-format off
    {GEM, 1965, "/d/p", "gemini://host/d/p\r\n", true}, {GEM, 1966, "/a", "gemini://host:1966/a\r\n"},
    {SPA, 3000, "/", "host / 0\r\n"},
    {SPA, 300, "/form?a%20b", "host /form?a%20b 3\r\n", true, "host", 3},
    {SPA, 3000, "/form?a%20b", "host:3000 /form?a%20b 20000\r\n", true, "host", 20000},
    {GOP, 70, "/dir x", "/dir x\r\n"}, {GOP, 70, "/dir x", "host\t70\t/dir x\r\n", true},
    {FIN, 79, "/user", "user\r\n"}, {FIN, 79, "", "\r\n"}, {FIN, 79, "/u", "finger://host:79/u\r\n", true},
    {NEX, 1900, "/dir/", "/dir/\r\n"}, {NEX, 1900, "/dir/", "nex://host:1900/dir/\r\n", true},
    {HTP, 80, "/x", "GET /x HTTP/1.1\r\nHost: host\r\nConnection: close\r\n\r\n"},
    {HTS, 443, "/x", "GET https://host:443/x" + kHttpTail, true},
    {FTP, 21, "/x", "GET http://host:21/x" + kHttpTail, true},
    // The longest fields fill the direct gopher and HTTP blocks exactly...
    {GOP, 70, kPath255, kPath255 + "\r\n", false, kHost63},
    {HTP, 80, kPath255, "GET " + kPath255 + " HTTP/1.1\r\nHost: " + kHost63 + "\r\nConnection: close\r\n\r\n",
     false, kHost63},
    // ...and a long port pushes the others past their block.
    {GEM, 65535, kPath255, "gemini://" + kHost63 + ":65535" + kPath255 + "\r\n", false, kHost63},
    {SPA, INT32_MIN, kPath255, kHost63 + ":-2147483648 " + kPath255 + " 0\r\n", true, kHost63},
    {GOP, 100000, kPath255, kHost63 + "\t100000\t" + kPath255 + "\r\n", true, kHost63},
    {FIN, 100000, kPath255, "finger://" + kHost63 + ":100000" + kPath255 + "\r\n", true, kHost63},
    {NEX, 100000, kPath255, "nex://" + kHost63 + ":100000" + kPath255 + "\r\n", true, kHost63},
    {HTS, 100000, kPath255, "GET https://" + kHost63 + ":100000" + kPath255 + kHttpTail, true, kHost63},
    // clang-format on
};

TEST(ProtocolRequestTest, TextsAndCuts) {
    for (const RequestCase& c : kRequests) {
        SCOPED_TRACE(c.full);
        const UrlRecord r = makeRecord(c.scheme, c.host, c.port, c.path, 0, c.bodyLength);
        const size_t block = (c.viaProxy ? kProxyBlock : kDirectBlock)[c.scheme];
        EXPECT_EQ(buildRequest(r, c.viaProxy), c.full.substr(0, block - 1));
    }
    // Unterminated fields are read no further than the record holds them.
    UrlRecord full = makeRecord(NEX, "", 1900, "");
    std::memset(full.host, 'h', sizeof full.host);
    std::memset(full.path, 'p', sizeof full.path);
    EXPECT_EQ(buildRequest(full, true),
              ("nex://" + std::string(64, 'h') + ":1900" + std::string(256, 'p') + "\r\n").substr(0, 332));
}

struct Outcome {
    int status = FETCH_SERVER_ERROR;
    size_t headerLength = 0;
    int64_t contentLength = 0;
    std::unique_ptr<FetchExchange> exchange = std::make_unique<FetchExchange>();
    // What a decision hands on, for comparing a prefix's decision with the whole one's.
    auto decision() const {
        return std::tuple(status, headerLength, contentLength, std::string(exchange->prompt),
                          std::string(exchange->redirectTarget));
    }
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
    std::string response;
    int status;
    size_t headerLength = 0;
    std::string text = {};  // the error text of a failure, else the prompt or redirect target
    int64_t contentLength = 0;
    std::string path = "/dir/page";
    char gopherType = 0;
};

const std::string kGemBad = "Server error: server did not send valid Gemini header";
const std::string kSpaBad = "Server error: server did not send valid Spartan header";
const std::string kHttpBad = "Server error: did not understand HTTP header from server";
const std::string kLongStatus = "404 " + std::string(2000, 's');
const std::string kNoLineFeed(2000, 'x'), kLongLocation(327, 'L'), kSpaX = "spartan://host/x";
const std::string kLongGeminiTarget = "gemini://host/dir/" + std::string(URL_MAX - 18, 'r');  // 328

std::string padded(const std::string& head, size_t lineFeedAt) {
    return head + std::string(lineFeedAt - head.size() - 1, 'a') + "\r\n";
}
std::string sized(const std::string& length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n";
}

constexpr int PAGE = FETCH_PAGE, DOWN = FETCH_DOWNLOAD, REDIR = FETCH_REDIRECT, FAIL = FETCH_SERVER_ERROR;
constexpr int INPUT = FETCH_INPUT, CERT = FETCH_CERTIFICATE;

const ResponseCase kResponses[] = {
    // clang-format off
    {GEM, "20 text/plain\r\nhello\n", PAGE, 15}, {GEM, "20\ttext/gemini\r\n", PAGE, 16},
    {GEM, "20 image/png\r\n", DOWN, 14}, {GEM, "20 x\r\n", FAIL, 6, "Server error: 20 x"},
    {GEM, "20 text/gemini\n", FAIL, 0, kGemBad}, {GEM, "20 \r\n", FAIL, 0, kGemBad},
    {GEM, "2x text/gemini\r\n", FAIL, 0, kGemBad}, {GEM, "20text/gemini\r\n", FAIL, 0, kGemBad},
    {GEM, std::string("20 text/\0gemini\r\n", 17), FAIL, 0, kGemBad}, {GEM, kNoLineFeed, FAIL, 0, kGemBad},
    {GEM, padded("20 text/", 1028), PAGE, 1029}, {GEM, padded("20 text/", 1029), FAIL, 0, kGemBad},
    {GEM, "10 Your name?\r\n", INPUT, 15, "Your name?"}, {GEM, "11 Password\r\n", INPUT, 13, "Password"},
    {GEM, "10 " + std::string(300, 'q') + "\r\n", INPUT, 305, std::string(127, 'q')},
    {GEM, "30 other\r\n", REDIR, 10, "gemini://host/dir/other"},
    {GEM, "31 gemini://else/x\r\n", REDIR, 20, "gemini://else/x"}, {GEM, "60 Identity please\r\n", CERT, 20},
    {GEM, "30 " + std::string(1000, 'r') + "\r\n", REDIR, 1005, kLongGeminiTarget},
    {GEM, "61 Not authorised\r\n", FAIL, 19, "Server error: 61 Not authorised"},
    {SPA, "2 text/gemini\r\n", PAGE, 15}, {SPA, "2 text/gemini\n", PAGE, 14},
    {SPA, "4 Not found\r\n", FAIL, 13, "Server error: 4 Not found"}, {SPA, "3 /x\r\n", REDIR, 6, kSpaX},
    {SPA, "2text/gemini\r\n", FAIL, 0, kSpaBad}, {SPA, "2 \r\n", FAIL, 0, kSpaBad},
    {SPA, "20 text/gemini\r\n", FAIL, 0, kSpaBad}, {SPA, kNoLineFeed, FAIL, 0, kSpaBad},
    {SPA, padded("2 text/", 321), PAGE, 322}, {SPA, padded("2 text/", 322), FAIL, 0, kSpaBad},
    {HTS, sized("5000") + "body", DOWN, 41, "", 5000}, {HTP, sized("-5"), DOWN, 39},
    {HTP, sized("4294967296"), DOWN, 47, "", 4294967296LL},
    {HTP, sized("9223372036854775807"), DOWN, 56, "", INT64_MAX},
    {HTP, sized("9223372036854775808"), DOWN, 56},  // past the largest: none
    {HTS, "HTTP/1.1 301 Moved\r\nLocation: https://w/x\r\n\r\n", REDIR, 0, "https://w/x"},
    {HTP, "HTTP/1.1 302 Found\r\nLocation: ../c\r\n\r\n", REDIR, 0, "../c", 0, "/a/b"},
    {HTP, "HTTP/1.1 301 M\r\nLocation: " + std::string(5000, 'L') + "\r\n\r\n", REDIR, 0, kLongLocation},
    {HTP, "HTTP/1.1 301 Moved\r\nLocation: \r\nServer: x\r\n\r\n", FAIL, 0,
     "Server error: did not understand redirect from server"},
    {HTS, "HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n", FAIL, 0, "Server error: 404 Not Found"},
    {HTP, "HTTP/1.1 " + kLongStatus + "\r\n\r\n", FAIL, 0,
     ("Server error: " + kLongStatus).substr(0, ERROR_TEXT_SIZE - 1)},
    {HTP, "HTTP/1.1 301 Moved\r\n\r\n", FAIL}, {HTP, "HTTP/1.0 200 OK\r\n\r\n", FAIL},
    {HTP, "HTTP/1.1 600 Odd\r\n\r\n", FAIL}, {HTP, "HTTP/1.1 \r\n\r\n", FAIL},
    {HTP, "HTTP/1.1 200 OK\r\n", FAIL, 0, kHttpBad}, {HTP, kNoLineFeed, FAIL, 0, kHttpBad},
    {HTP, std::string("HTTP/1.1 200 OK\r\nX: \0\r\n\r\n", 25), FAIL, 0, kHttpBad},
    // Gopher, finger and nex need no header: the item type or the path decides.
    {GOP, "anything", PAGE, 0, "", 0, "/a", '0'}, {GOP, "", PAGE, 0, "", 0, "/", '7'},
    {GOP, "x", DOWN, 0, "", 0, "/", '9'}, {GOP, "x", DOWN, 0, "", 0, "/", 'h'}, {FIN, "20 x\r\n", PAGE},
    {NEX, "x", PAGE, 0, "", 0, "/notes.txt"}, {NEX, "x", PAGE, 0, "", 0, "/dir/"},
    {NEX, "x", PAGE, 0, "", 0, "/d/w.xtw"}, {NEX, "x", DOWN, 0, "", 0, "/pic.gif"},
    {NEX, "x", DOWN, 0, "", 0, ".txt"}, {NEX, "x", DOWN, 0, "", 0, "/a.TXT"},
    // clang-format on
};

TEST(ProtocolResponseTest, DecisionsAndTheirPrefixes) {
    for (const ResponseCase& c : kResponses) {
        SCOPED_TRACE(c.response.substr(0, 60));
        const int ports[] = {0, 1965, 300, 80, 443, 21, 70, 79, 1900};
        const UrlRecord r = makeRecord(c.scheme, "host", ports[c.scheme], c.path, c.gopherType);
        const Outcome out = classify(r, c.response);
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.headerLength, c.headerLength);
        EXPECT_EQ(out.contentLength, c.contentLength);
        const std::string error = c.status == FAIL ? c.text : "";
        EXPECT_EQ(out.exchange->error.errorKind, error.empty() ? 0 : FAIL);
        EXPECT_EQ(out.exchange->error.errorText, error);
        EXPECT_EQ(out.exchange->prompt, c.status == INPUT ? c.text : "");
        EXPECT_EQ(out.exchange->redirectTarget, c.status == REDIR ? c.text : "");
        // Every prefix is undecided or decided as the whole, from the header's end on,
        // and leaves every text terminated inside its field.
        bool decided = false;
        for (size_t k = 0; k <= c.response.size(); ++k) {
            const Outcome part = classify(r, c.response.substr(0, k));
            const FetchExchange& e = *part.exchange;
            ASSERT_TRUE(std::memchr(e.prompt, '\0', sizeof e.prompt) &&
                        std::memchr(e.redirectTarget, '\0', sizeof e.redirectTarget) &&
                        std::memchr(e.error.errorText, '\0', sizeof e.error.errorText))
                << "prefix " << k;
            if (part.status == FAIL) {
                ASSERT_FALSE(decided) << "prefix " << k;
                continue;
            }
            ASSERT_TRUE(decided || c.headerLength == 0 || k == c.headerLength) << "decided at " << k;
            decided = true;
            ASSERT_EQ(part.decision(), out.decision()) << "prefix " << k;
        }
        ASSERT_EQ(decided, c.status != FAIL);
    }
}

}  // namespace
