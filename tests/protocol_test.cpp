// Request texts and response decisions of the small-internet protocols and HTTP.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/exchange.h"
#include "net/protocol.h"

namespace {

// A record as the URL parser leaves it.
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

struct RequestCase {
    const char* name;
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

const RequestCase kRequests[] = {
    {"gemini default port", SCHEME_GEMINI, "host", 1965, "/dir/page", nullptr, false,
     "gemini://host/dir/page\r\n", 331},
    {"gemini via proxy is the same", SCHEME_GEMINI, "host", 1965, "/dir/page", nullptr, true,
     "gemini://host/dir/page\r\n", 331},
    {"gemini other port", SCHEME_GEMINI, "host", 1966, "/a", nullptr, false, "gemini://host:1966/a\r\n", 331},
    {"spartan with query body", SCHEME_SPARTAN, "host", 300, "/form?a%20b", "a b", false,
     "host /form?a%20b 3\r\n", 340},
    {"spartan proxy on port 300", SCHEME_SPARTAN, "host", 300, "/form?a%20b", "a b", true,
     "host /form?a%20b 3\r\n", 340},
    {"spartan proxy other port", SCHEME_SPARTAN, "host", 3000, "/form?a%20b", "a b", true,
     "host:3000 /form?a%20b 3\r\n", 340},
    {"spartan direct other port", SCHEME_SPARTAN, "host", 3000, "/", nullptr, false, "host / 0\r\n", 340},
    {"gopher direct", SCHEME_GOPHER, "host", 70, "/dir x", nullptr, false, "/dir x\r\n", 258},
    {"gopher proxy", SCHEME_GOPHER, "host", 70, "/dir x", nullptr, true, "host\t70\t/dir x\r\n", 328},
    {"gopher empty selector", SCHEME_GOPHER, "host", 70, "", nullptr, false, "\r\n", 258},
    {"finger user", SCHEME_FINGER, "host", 79, "/user", nullptr, false, "user\r\n", 258},
    {"finger no user", SCHEME_FINGER, "host", 79, "", nullptr, false, "\r\n", 258},
    {"finger proxy", SCHEME_FINGER, "host", 79, "/user", nullptr, true, "finger://host:79/user\r\n", 336},
    {"nex direct", SCHEME_NEX, "host", 1900, "/dir/", nullptr, false, "/dir/\r\n", 258},
    {"nex proxy", SCHEME_NEX, "host", 1900, "/dir/", nullptr, true, "nex://host:1900/dir/\r\n", 333},
    {"http direct", SCHEME_HTTP, "w", 80, "/x", nullptr, false,
     "GET /x HTTP/1.1\r\nHost: w\r\nConnection: close\r\n\r\n", 363},
    {"http proxy", SCHEME_HTTP, "w", 80, "/x", nullptr, true, std::string("GET http://w:80/x") + kHttpTail,
     369},
    {"https proxy", SCHEME_HTTPS, "w", 443, "/x", nullptr, true,
     std::string("GET https://w:443/x") + kHttpTail, 369},
    {"other scheme goes as http", SCHEME_FTP, "w", 21, "/x", nullptr, true,
     std::string("GET http://w:21/x") + kHttpTail, 369},
    // Longest fields: every row holds them whole...
    {"gemini longest", SCHEME_GEMINI, kHost63, 1965, kPath255, nullptr, false,
     "gemini://" + kHost63 + kPath255 + "\r\n", 331},
    {"gopher proxy longest", SCHEME_GOPHER, kHost63, 65535, kPath255, nullptr, true,
     kHost63 + "\t65535\t" + kPath255 + "\r\n", 328},
    {"gopher direct longest", SCHEME_GOPHER, kHost63, 70, kPath255, nullptr, false, kPath255 + "\r\n", 258},
    {"finger proxy longest", SCHEME_FINGER, kHost63, 65535, kPath255, nullptr, true,
     "finger://" + kHost63 + ":65535" + kPath255 + "\r\n", 336},
    {"nex proxy longest", SCHEME_NEX, kHost63, 65535, kPath255, nullptr, true,
     "nex://" + kHost63 + ":65535" + kPath255 + "\r\n", 333},
    {"https proxy longest", SCHEME_HTTPS, kHost63, 65535, kPath255, nullptr, true,
     "GET https://" + kHost63 + ":65535" + kPath255 + kHttpTail, 369},
    {"http direct longest", SCHEME_HTTP, kHost63, 80, kPath255, nullptr, false,
     "GET " + kPath255 + " HTTP/1.1\r\nHost: " + kHost63 + "\r\nConnection: close\r\n\r\n", 363},
    // ...but a port past five digits pushes them over their block.
    {"gemini cut", SCHEME_GEMINI, kHost63, 65535, kPath255, nullptr, false,
     "gemini://" + kHost63 + ":65535" + kPath255 + "\r\n", 331},
    {"spartan cut", SCHEME_SPARTAN, kHost63, -2147483647 - 1, kPath255, nullptr, true,
     kHost63 + ":-2147483648 " + kPath255 + " 0\r\n", 340},
    {"gopher proxy cut", SCHEME_GOPHER, kHost63, 100000, kPath255, nullptr, true,
     kHost63 + "\t100000\t" + kPath255 + "\r\n", 328},
    {"finger proxy cut", SCHEME_FINGER, kHost63, 100000, kPath255, nullptr, true,
     "finger://" + kHost63 + ":100000" + kPath255 + "\r\n", 336},
    {"nex proxy cut", SCHEME_NEX, kHost63, 100000, kPath255, nullptr, true,
     "nex://" + kHost63 + ":100000" + kPath255 + "\r\n", 333},
    {"https proxy cut", SCHEME_HTTPS, kHost63, 100000, kPath255, nullptr, true,
     "GET https://" + kHost63 + ":100000" + kPath255 + kHttpTail, 369},
};

TEST(ProtocolRequestTest, TextsAndCuts) {
    for (const RequestCase& c : kRequests) {
        SCOPED_TRACE(c.name);
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
    const char* name;
    int scheme;
    std::string path;
    char gopherType;
    std::string response;
    int status;
    size_t headerLength;
    int64_t contentLength;
    const char* error;     // expected error text; null: no error recorded
    const char* prompt;    // checked when not null
    const char* redirect;  // checked when not null
};

UrlRecord recordFor(const ResponseCase& c) {
    switch (c.scheme) {
        case SCHEME_SPARTAN:
            return makeRecord(c.scheme, "host", 300, c.path);
        case SCHEME_GOPHER:
            return makeRecord(c.scheme, "host", 70, c.path, c.gopherType);
        case SCHEME_FINGER:
            return makeRecord(c.scheme, "host", 79, c.path);
        case SCHEME_NEX:
            return makeRecord(c.scheme, "host", 1900, c.path);
        case SCHEME_GEMINI:
            return makeRecord(c.scheme, "host", 1965, c.path);
        default:
            return makeRecord(c.scheme, "w", c.scheme == SCHEME_HTTPS ? 443 : 80, c.path);
    }
}

const std::string kGeminiBad = "Server error: server did not send valid Gemini header";
const std::string kSpartanBad = "Server error: server did not send valid Spartan header";
const std::string kHttpBad = "Server error: did not understand HTTP header from server";
const std::string kRedirectBad = "Server error: did not understand redirect from server";

std::string padded(const std::string& head, size_t lineFeedAt, const std::string& end) {
    return head + std::string(lineFeedAt - head.size() - end.size() + 1, 'a') + end;
}

const std::string kLongLocation(5000, 'L');
const std::string kLongLocationTarget(327, 'L');
const std::string kLongStatus = "404 " + std::string(2000, 's');
const std::string kLongStatusError = ("Server error: " + kLongStatus).substr(0, ERROR_TEXT_SIZE - 1);
const std::string kLongPrompt(127, 'q');

const ResponseCase kResponses[] = {
    // Gemini
    {"gemini page", SCHEME_GEMINI, "/dir/page", 0, "20 text/gemini\r\n", FETCH_PAGE, 16, 0, nullptr, nullptr,
     nullptr},
    {"gemini page with body", SCHEME_GEMINI, "/", 0, "20 text/plain\r\nhello\n", FETCH_PAGE, 15, 0, nullptr,
     nullptr, nullptr},
    {"gemini tab separator", SCHEME_GEMINI, "/", 0, "20\ttext/gemini\r\n", FETCH_PAGE, 16, 0, nullptr,
     nullptr, nullptr},
    {"gemini download", SCHEME_GEMINI, "/", 0, "20 image/png\r\n", FETCH_DOWNLOAD, 14, 0, nullptr, nullptr,
     nullptr},
    {"gemini success without slash", SCHEME_GEMINI, "/", 0, "20 x\r\n", FETCH_SERVER_ERROR, 6, 0,
     "Server error: 20 x", nullptr, nullptr},
    {"gemini without carriage return", SCHEME_GEMINI, "/", 0, "20 text/gemini\n", FETCH_SERVER_ERROR, 0, 0,
     kGeminiBad.c_str(), nullptr, nullptr},
    {"gemini line too short", SCHEME_GEMINI, "/", 0, "20 \r\n", FETCH_SERVER_ERROR, 0, 0, kGeminiBad.c_str(),
     nullptr, nullptr},
    {"gemini one-letter digit", SCHEME_GEMINI, "/", 0, "2x text/gemini\r\n", FETCH_SERVER_ERROR, 0, 0,
     kGeminiBad.c_str(), nullptr, nullptr},
    {"gemini no separator", SCHEME_GEMINI, "/", 0, "20text/gemini\r\n", FETCH_SERVER_ERROR, 0, 0,
     kGeminiBad.c_str(), nullptr, nullptr},
    {"gemini NUL in header", SCHEME_GEMINI, "/", 0, std::string("20 text/\0gemini\r\n", 17),
     FETCH_SERVER_ERROR, 0, 0, kGeminiBad.c_str(), nullptr, nullptr},
    {"gemini longest line", SCHEME_GEMINI, "/", 0, padded("20 text/", 1028, "\r\n"), FETCH_PAGE, 1029, 0,
     nullptr, nullptr, nullptr},
    {"gemini line too long", SCHEME_GEMINI, "/", 0, padded("20 text/", 1029, "\r\n"), FETCH_SERVER_ERROR, 0,
     0, kGeminiBad.c_str(), nullptr, nullptr},
    {"gemini input", SCHEME_GEMINI, "/", 0, "10 Your name?\r\n", FETCH_INPUT, 15, 0, nullptr, "Your name?",
     nullptr},
    {"gemini sensitive input", SCHEME_GEMINI, "/", 0, "11 Password\r\n", FETCH_INPUT, 13, 0, nullptr,
     "Password", nullptr},
    {"gemini long prompt", SCHEME_GEMINI, "/", 0, "10 " + std::string(300, 'q') + "\r\n", FETCH_INPUT, 305, 0,
     nullptr, kLongPrompt.c_str(), nullptr},
    {"gemini relative redirect", SCHEME_GEMINI, "/dir/page", 0, "30 other\r\n", FETCH_REDIRECT, 10, 0,
     nullptr, nullptr, "gemini://host/dir/other"},
    {"gemini absolute redirect", SCHEME_GEMINI, "/dir/page", 0, "31 gemini://else/x\r\n", FETCH_REDIRECT, 20,
     0, nullptr, nullptr, "gemini://else/x"},
    {"gemini certificate", SCHEME_GEMINI, "/", 0, "60 Identity please\r\n", FETCH_CERTIFICATE, 20, 0, nullptr,
     nullptr, nullptr},
    {"gemini 61", SCHEME_GEMINI, "/", 0, "61 Not authorised\r\n", FETCH_SERVER_ERROR, 19, 0,
     "Server error: 61 Not authorised", nullptr, nullptr},
    {"gemini not found", SCHEME_GEMINI, "/", 0, "51 Not found\r\n", FETCH_SERVER_ERROR, 14, 0,
     "Server error: 51 Not found", nullptr, nullptr},
    // Spartan
    {"spartan page", SCHEME_SPARTAN, "/", 0, "2 text/gemini\r\n", FETCH_PAGE, 15, 0, nullptr, nullptr,
     nullptr},
    {"spartan without carriage return", SCHEME_SPARTAN, "/", 0, "2 text/gemini\n", FETCH_PAGE, 14, 0, nullptr,
     nullptr, nullptr},
    {"spartan download", SCHEME_SPARTAN, "/", 0, "2 image/png\r\n", FETCH_DOWNLOAD, 13, 0, nullptr, nullptr,
     nullptr},
    {"spartan not found", SCHEME_SPARTAN, "/", 0, "4 Not found\r\n", FETCH_SERVER_ERROR, 13, 0,
     "Server error: 4 Not found", nullptr, nullptr},
    {"spartan redirect", SCHEME_SPARTAN, "/dir/page", 0, "3 /x\r\n", FETCH_REDIRECT, 6, 0, nullptr, nullptr,
     "spartan://host/x"},
    {"spartan no space", SCHEME_SPARTAN, "/", 0, "2text/gemini\r\n", FETCH_SERVER_ERROR, 0, 0,
     kSpartanBad.c_str(), nullptr, nullptr},
    {"spartan line too short", SCHEME_SPARTAN, "/", 0, "2 \r\n", FETCH_SERVER_ERROR, 0, 0,
     kSpartanBad.c_str(), nullptr, nullptr},
    {"spartan gemini-style status", SCHEME_SPARTAN, "/", 0, "20 text/gemini\r\n", FETCH_SERVER_ERROR, 0, 0,
     kSpartanBad.c_str(), nullptr, nullptr},
    {"spartan longest line", SCHEME_SPARTAN, "/", 0, padded("2 text/", 321, "\r\n"), FETCH_PAGE, 322, 0,
     nullptr, nullptr, nullptr},
    {"spartan line too long", SCHEME_SPARTAN, "/", 0, padded("2 text/", 322, "\r\n"), FETCH_SERVER_ERROR, 0,
     0, kSpartanBad.c_str(), nullptr, nullptr},
    // HTTP
    {"http download with length", SCHEME_HTTPS, "/", 0, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nbody",
     FETCH_DOWNLOAD, 41, 5000, nullptr, nullptr, nullptr},
    {"http download without length", SCHEME_HTTP, "/", 0, "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n",
     FETCH_DOWNLOAD, 30, 0, nullptr, nullptr, nullptr},
    {"http length past 32 bits", SCHEME_HTTP, "/", 0, "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n",
     FETCH_DOWNLOAD, 47, 4294967296LL, nullptr, nullptr, nullptr},
    {"http largest length", SCHEME_HTTP, "/", 0,
     "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n", FETCH_DOWNLOAD, 56, INT64_MAX, nullptr,
     nullptr, nullptr},
    {"http length past 64 bits", SCHEME_HTTP, "/", 0,
     "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n", FETCH_DOWNLOAD, 56, 0, nullptr,
     nullptr, nullptr},
    {"http length not a number", SCHEME_HTTP, "/", 0, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
     FETCH_DOWNLOAD, 39, 0, nullptr, nullptr, nullptr},
    {"http redirect", SCHEME_HTTPS, "/", 0, "HTTP/1.1 301 Moved\r\nLocation: https://w/x\r\n\r\n",
     FETCH_REDIRECT, 0, 0, nullptr, nullptr, "https://w/x"},
    {"http relative redirect unchanged", SCHEME_HTTP, "/a/b", 0,
     "HTTP/1.1 302 Found\r\nLocation: ../c\r\n\r\n", FETCH_REDIRECT, 0, 0, nullptr, nullptr, "../c"},
    {"http huge location word", SCHEME_HTTP, "/", 0,
     "HTTP/1.1 301 M\r\nLocation: " + kLongLocation + "\r\n\r\n", FETCH_REDIRECT, 0, 0, nullptr, nullptr,
     kLongLocationTarget.c_str()},
    {"http empty location", SCHEME_HTTP, "/", 0, "HTTP/1.1 301 Moved\r\nLocation: \r\nServer: x\r\n\r\n",
     FETCH_SERVER_ERROR, 0, 0, kRedirectBad.c_str(), nullptr, nullptr},
    {"http redirect without location", SCHEME_HTTP, "/", 0, "HTTP/1.1 301 Moved\r\n\r\n", FETCH_SERVER_ERROR,
     0, 0, nullptr, nullptr, nullptr},
    {"http not found", SCHEME_HTTPS, "/", 0, "HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n",
     FETCH_SERVER_ERROR, 0, 0, "Server error: 404 Not Found", nullptr, nullptr},
    {"http informational", SCHEME_HTTP, "/", 0, "HTTP/1.1 100 Continue\r\n\r\n", FETCH_SERVER_ERROR, 0, 0,
     "Server error: 100 Continue", nullptr, nullptr},
    {"http long status text", SCHEME_HTTP, "/", 0, "HTTP/1.1 " + kLongStatus + "\r\n\r\n", FETCH_SERVER_ERROR,
     0, 0, kLongStatusError.c_str(), nullptr, nullptr},
    {"http 1.0", SCHEME_HTTP, "/", 0, "HTTP/1.0 200 OK\r\n\r\n", FETCH_SERVER_ERROR, 0, 0, nullptr, nullptr,
     nullptr},
    {"http unknown class", SCHEME_HTTP, "/", 0, "HTTP/1.1 600 Odd\r\n\r\n", FETCH_SERVER_ERROR, 0, 0, nullptr,
     nullptr, nullptr},
    {"http status missing", SCHEME_HTTP, "/", 0, "HTTP/1.1 \r\n\r\n", FETCH_SERVER_ERROR, 0, 0, nullptr,
     nullptr, nullptr},
    {"http header incomplete", SCHEME_HTTP, "/", 0, "HTTP/1.1 200 OK\r\n", FETCH_SERVER_ERROR, 0, 0,
     kHttpBad.c_str(), nullptr, nullptr},
    {"http NUL before blank line", SCHEME_HTTP, "/", 0, std::string("HTTP/1.1 200 OK\r\nX: \0\r\n\r\n", 25),
     FETCH_SERVER_ERROR, 0, 0, kHttpBad.c_str(), nullptr, nullptr},
    // Gopher, finger and nex need no header.
    {"gopher text", SCHEME_GOPHER, "/a", '0', "anything", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"gopher menu", SCHEME_GOPHER, "/", '1', "", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"gopher search", SCHEME_GOPHER, "/", '7', "x", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"gopher binary", SCHEME_GOPHER, "/", '9', "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
    {"gopher html", SCHEME_GOPHER, "/", 'h', "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
    {"finger", SCHEME_FINGER, "/user", 0, "20 x\r\n", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"nex text file", SCHEME_NEX, "/notes.txt", 0, "x", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"nex listing", SCHEME_NEX, "/dir/", 0, "x", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"nex xtw", SCHEME_NEX, "/d/w.xtw", 0, "x", FETCH_PAGE, 0, 0, nullptr, nullptr, nullptr},
    {"nex picture", SCHEME_NEX, "/pic.gif", 0, "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
    {"nex short dotted", SCHEME_NEX, "/a.b", 0, "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
    {"nex four characters", SCHEME_NEX, ".txt", 0, "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
    {"nex capital suffix", SCHEME_NEX, "/a.TXT", 0, "x", FETCH_DOWNLOAD, 0, 0, nullptr, nullptr, nullptr},
};

void expectOutcome(const ResponseCase& c, const Outcome& out) {
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.headerLength, c.headerLength);
    EXPECT_EQ(out.contentLength, c.contentLength);
    if (c.error != nullptr) {
        EXPECT_EQ(out.exchange->error.errorKind, FETCH_SERVER_ERROR);
        EXPECT_EQ(std::string(out.exchange->error.errorText), c.error);
    } else {
        EXPECT_EQ(out.exchange->error.errorKind, 0) << out.exchange->error.errorText;
    }
    if (c.prompt != nullptr) {
        EXPECT_EQ(std::string(out.exchange->prompt), c.prompt);
    }
    if (c.redirect != nullptr) {
        EXPECT_EQ(std::string(out.exchange->redirectTarget), c.redirect);
    }
}

TEST(ProtocolResponseTest, Decisions) {
    for (const ResponseCase& c : kResponses) {
        SCOPED_TRACE(c.name);
        expectOutcome(c, classify(recordFor(c), c.response));
    }
}

// The driver classifies after every chunk; a header split anywhere must give
// "not yet" (6) until it is complete, and the final answer from then on.
TEST(ProtocolResponseTest, EveryPrefixIsNotYetOrFinal) {
    for (const ResponseCase& c : kResponses) {
        if (c.status == FETCH_SERVER_ERROR) continue;
        SCOPED_TRACE(c.name);
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
    const std::string noLineFeed(2000, 'x');
    const struct {
        int scheme;
        const std::string& error;
    } cases[] = {{SCHEME_GEMINI, kGeminiBad}, {SCHEME_SPARTAN, kSpartanBad}, {SCHEME_HTTP, kHttpBad}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        const Outcome out = classify(makeRecord(c.scheme, "host", 1965, "/"), noLineFeed);
        EXPECT_EQ(out.status, FETCH_SERVER_ERROR);
        EXPECT_EQ(std::string(out.exchange->error.errorText), c.error);
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
    const std::vector<std::string> pieces = {"Location: ",
                                             "Content-Length: ",
                                             "99999999999999999999",
                                             "4294967296",
                                             "\r\n",
                                             "\n",
                                             "\r",
                                             "/",
                                             "text/",
                                             "../",
                                             std::string(1, '\0'),
                                             "\t",
                                             " ",
                                             "\xff\xfe\x80",
                                             std::string(400, 'z')};
    struct SchemeCase {
        int scheme;
        std::vector<std::string> openers;
        const char* closer;
    };
    const SchemeCase schemes[] = {
        {SCHEME_GEMINI, {"20 ", "10 ", "30 ", "51 ", "60 ", "6", ""}, "\r\n"},
        {SCHEME_SPARTAN, {"2 ", "3 ", "4 ", "5", ""}, "\r\n"},
        {SCHEME_HTTP,
         {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 301 M\r\n", "HTTP/1.1 404 ", "HTTP/1.1 1", "HTTP/1.1 ", ""},
         "\r\n\r\n"},
    };
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    int decided = 0;
    for (int round = 0; round < 6000; ++round) {
        const SchemeCase& sc = schemes[round % 3];
        std::string response = sc.openers[next() % sc.openers.size()];
        const uint32_t parts = next() % 8;
        for (uint32_t i = 0; i < parts; ++i) {
            if (next() % 4 == 0) {
                response += static_cast<char>(next() & 0xff);
            } else {
                response += pieces[next() % pieces.size()];
            }
        }
        if (next() % 2 == 0) response += sc.closer;
        const UrlRecord r = makeRecord(sc.scheme, "host", 1965, "/a/b");
        const Outcome out = classify(r, response);
        ASSERT_TRUE(out.status >= FETCH_PAGE && out.status <= FETCH_SERVER_ERROR &&
                    out.status != FETCH_NETWORK_ERROR)
            << out.status;
        if (out.status != FETCH_SERVER_ERROR) ++decided;
        ASSERT_LE(out.headerLength, response.size());
        ASSERT_GE(out.contentLength, 0);
        const FetchExchange& e = *out.exchange;
        ASSERT_NE(std::memchr(e.prompt, '\0', sizeof e.prompt), nullptr);
        ASSERT_NE(std::memchr(e.redirectTarget, '\0', sizeof e.redirectTarget), nullptr);
        ASSERT_NE(std::memchr(e.error.errorText, '\0', sizeof e.error.errorText), nullptr);
        if (out.status != FETCH_SERVER_ERROR) {
            ASSERT_EQ(e.error.errorKind, 0);
        }
    }
    // The fragments must reach the decisions, not only the early rejections.
    EXPECT_GT(decided, 300);
}

}  // namespace
