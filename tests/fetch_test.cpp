// The fetch driver against loopback servers: every outcome of a fetch, the download
// file byte for byte, request bodies, the proxy request forms, and the pure helpers
// (route, progress text).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "net/exchange.h"
#include "net/fetch.h"
#include "platform/socket.h"
#include "support/private_home.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

namespace fs = std::filesystem;

const std::string kInvalidHeader = "Server error: server did not send valid Gemini header";

// A folder of its own for each test (also its preferences folder), removed afterwards.
struct TempFolder : PrivateHome {
    TempFolder() : PrivateHome("fetch") {}
    std::string file(const std::string& name) const { return path + "/" + name; }
};

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Outcome {
    int32_t status = -1;
    std::string result = "(none)";
    int32_t errorKind = 0;
    std::string prompt;
    std::string redirect;
    bool handedOver = false;
};

ProxyRoute proxyTo(int port) {
    ProxyRoute route;
    route.useGemProxy = true;
    route.gemProxyAll = true;
    std::snprintf(route.gemProxyHost, sizeof route.gemProxyHost, "%s", "127.0.0.1");
    route.gemProxyPort = port;
    return route;
}

// Runs one fetch of url on this thread. downloadTo: the answer to a hand-over (empty
// declines).
Outcome fetch(const std::string& url, const ProxyRoute& proxy = ProxyRoute{},
              const std::string& downloadTo = "", std::unique_ptr<NetBuffer> body = nullptr) {
    auto exchange = std::make_unique<FetchExchange>();
    EXPECT_EQ(parseUrl(url.c_str(), exchange->request), 1) << url;
    if (body) exchange->request.data = std::move(body);
    exchange->proxy = proxy;
    Outcome outcome;
    const char* result = netGetFile(*exchange, outcome.status, [&](FetchExchange& ex) {
        outcome.handedOver = true;
        ex.downloadName = downloadTo;
        ex.downloadAccepted = !downloadTo.empty();
    });
    EXPECT_EQ(exchange->status, outcome.status);
    EXPECT_EQ(exchange->result, result);
    if (result) {
        outcome.result.assign(result, exchange->resultLength);
        EXPECT_EQ(result[exchange->resultLength], '\0');
    }
    outcome.errorKind = exchange->error.errorKind;
    outcome.prompt = exchange->prompt;
    outcome.redirect = exchange->redirectTarget;
    EXPECT_TRUE(exchange->downloadName.empty());
    return outcome;
}

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

// Fetches path from server. Gemini needs TLS on a direct route: it goes through server as
// the proxy service instead.
Outcome fetchFrom(const TestServer& server, const std::string& scheme, const std::string& path,
                  const std::string& downloadTo = "") {
    if (scheme == "gemini") return fetch("gemini://example.org" + path, proxyTo(server.port()), downloadTo);
    return fetch(local(scheme.c_str(), server.port(), path), ProxyRoute{}, downloadTo);
}

std::vector<std::string> statusTexts() {
    std::vector<std::string> out;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what == ShellCall::STATUS) out.push_back(call.body);
    }
    return out;
}

// Compares possibly large texts without printing them whole.
void expectSame(const std::string& got, const std::string& want) {
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(got.substr(0, 200), want.substr(0, 200));
    EXPECT_TRUE(got == want);
}

// Each kind of outcome as the fetch hands it on; which header means which outcome is
// protocol_test's table.
TEST(FetchReplies, EveryAnswerKind) {
    const std::string big = "20 text/plain\r\n" + testBinary(3 * 1000 * 1000, 5);
    const struct {
        const char* scheme;
        std::string path;
        std::string reply;
        int32_t status;
        std::string result = "";  // "": the reply itself
        std::string extra = "";   // the prompt of an input, the target of a redirect
        size_t piece = 0;         // sent in pieces of this many bytes
    } cases[] = {
        {"gemini", "/", "20 text/gemini\r\nbody\n", FETCH_PAGE, "", "", 1},
        {"gemini", "/big", big, FETCH_PAGE},
        {"gemini", "/ask", "10 Your name?\r\n", FETCH_INPUT, "", "Your name?"},
        {"gemini", "/dir/page", "30 other\r\n", FETCH_REDIRECT, "", "gemini://example.org/dir/other"},
        {"gemini", "/", "60 Identity please\r\n", FETCH_CERTIFICATE},
        {"gemini", "/", "51 Not found\r\n", FETCH_SERVER_ERROR, "Server error: 51 Not found"},
        {"gemini", "/", "hello", FETCH_SERVER_ERROR, kInvalidHeader},  // closed before a header
        {"finger", "/x", "", FETCH_PAGE},                              // an empty page
        {"nex", "/notes.txt", "Some notes.\n", FETCH_PAGE, "", "", 3},
        // An HTTP header without a message is shown raw.
        {"http", "/", "HTTP/1.0 200 OK\r\n\r\nold", FETCH_SERVER_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + " " + c.reply.substr(0, 40));
        TestServer server(fixedReplyHandler(c.reply, c.piece));
        ASSERT_TRUE(server.ok());
        Outcome out = fetchFrom(server, c.scheme, c.path);
        EXPECT_EQ(out.status, c.status);
        expectSame(out.result, c.result.empty() ? c.reply : c.result);
        EXPECT_EQ(out.prompt, c.status == FETCH_INPUT ? c.extra : "");
        if (c.status == FETCH_REDIRECT) {
            EXPECT_EQ(out.redirect, c.extra);
        }
        EXPECT_FALSE(out.handedOver);
    }
}

TEST(FetchReplies, ProtocolServers) {
    // handler, scheme, path; the result, and the request the server must have received.
    const std::tuple<ConnectionHandler, const char*, std::string, std::string, std::string> cases[] = {
        {gopherHandler(), "gopher", "/1/", gopherMenuText(), "/\r\n"},
        {fingerHandler(), "finger", "/someone", "Login: someone\r\nPlan: none\r\n", "someone\r\n"},
        {nexHandler(), "nex", "/", nexListingText(), "/\r\n"},
        {spartanEchoHandler(), "spartan", "/form?a%20b", "2 text/plain\r\nreceived 3 bytes\na b",
         "127.0.0.1 /form?a%20b 3\r\n"},
    };
    for (const auto& [handler, scheme, path, result, request] : cases) {
        SCOPED_TRACE(scheme + path);
        headlessReset();
        TestServer server(handler);
        Outcome out = fetchFrom(server, scheme, path);
        EXPECT_EQ(out.status, FETCH_PAGE);
        EXPECT_EQ(out.result, result);
        ASSERT_TRUE(server.waitForConnections(1));
        EXPECT_EQ(server.records(), std::vector<std::string>{request});
        EXPECT_EQ(statusTexts(),
                  (std::vector<std::string>{"DNS lookup...", "Connecting...", "Sending request..."}));
    }
}

TEST(FetchReplies, HeaderErrorIsClearedWhenTheHeaderCompletes) {
    // Each piece arrives on its own; every attempt before the line feed fails.
    TestServer server([](TestConnection& connection) {
        connection.readLine();
        connection.send("20 text/");
        connection.sendInPieces("gemini\r\nok", 2, 5);
    });
    Outcome out = fetchFrom(server, "gemini", "/");
    EXPECT_EQ(out.status, FETCH_PAGE);
    EXPECT_EQ(out.errorKind, 0);
    EXPECT_EQ(out.result, "20 text/gemini\r\nok");
}

TEST(FetchReplies, HeaderRetriesStopPastLimit) {
    // Up to the limit the fetch keeps reading (and needs the close); past it, it gives up
    // on its own.
    for (size_t bytes : {NET_HEADER_RETRY_LIMIT, NET_HEADER_RETRY_LIMIT + 1, size_t{5000}}) {
        SCOPED_TRACE(bytes);
        TestServer server([bytes](TestConnection& connection) {
            connection.readLine();
            connection.send(std::string(bytes, 'z'));
            if (bytes > NET_HEADER_RETRY_LIMIT) connection.holdUntilClosed();
        });
        Outcome out = fetchFrom(server, "gemini", "/");
        EXPECT_EQ(out.status, FETCH_SERVER_ERROR);
        EXPECT_EQ(out.result, kInvalidHeader);
    }
}

// Directly over TLS (pages read in pieces and client certificates are tls_test's): a
// download that holds the body byte for byte.
TEST(FetchTls, GeminiDownload) {
    TempFolder folder;
    const std::string body = testBinary(300000, 21);
    TlsServer server(TlsServerOptions{}, [&body](TlsServerConnection& connection) {
        connection.server().base().record(connection.readLine());
        connection.write("20 application/octet-stream\r\n" + body);
    });
    ASSERT_TRUE(server.ok());
    const std::string target = folder.file("tls.bin");
    Outcome out = fetch(local("gemini", server.port(), "/path"), ProxyRoute{}, target);
    EXPECT_EQ(out.status, FETCH_DOWNLOAD);
    EXPECT_EQ(out.result, "(none)");
    EXPECT_TRUE(out.handedOver);
    expectSame(readWholeFile(target), body);
    ASSERT_TRUE(server.base().waitForConnections(1));
    EXPECT_EQ(server.base().records(),
              std::vector<std::string>{"gemini://127.0.0.1:" + std::to_string(server.port()) + "/path\r\n"});
}

TEST(FetchDownload, FileHoldsTheBodyByteForByte) {
    TempFolder folder;
    const std::string saved = folder.file("download.bin");
    const std::string gemBody = testBinary(70000, 9);
    const std::string missing = folder.file("no-such-folder/x.bin");
    const struct {
        ConnectionHandler handler;
        const char* scheme;
        const char* path;
        std::string body;
        const char* progress;          // a status text that must appear ("" when none may)
        const char* target = nullptr;  // null: saved; "": declined
        std::string error = "";
    } cases[] = {
        {gopherHandler(), "gopher", "/9/bin", testBinary(5000), ""},  // the body comes with the first chunk
        {nexHandler(), "nex", "/pic.gif", testBinary(9000, 7), ""},
        {httpHandler(), "http", "/length", httpBody(), " / 150"},
        {httpHandler(), "http", "/nolength", httpBody(), "Bytes: "},
        {httpHandler(), "http", "/chunked", httpBody(), "Bytes: "},
        {fixedReplyHandler("20 image/png\r\n" + gemBody, 1000), "gemini", "/pic.png", gemBody, "Bytes: "},
        {fixedReplyHandler("2 application/zip\r\n" + gemBody), "spartan", "/x.zip", gemBody, "Bytes: "},
        // Declined, and files that cannot be made or written.
        {httpHandler(), "http", "/length", "", "", ""},
        {httpHandler(), "http", "/length", "", "", missing.c_str(), "Error creating file"},
        {httpHandler(), "http", "/length", "", "", "/dev/full", "Error writing to file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + c.path + " to " + (c.target ? c.target : saved));
        headlessReset();
        fs::remove(saved);
        TestServer server(c.handler);
        Outcome out = fetchFrom(server, c.scheme, c.path, c.target ? c.target : saved);
        EXPECT_TRUE(out.handedOver);
        EXPECT_EQ(out.status, c.error.empty() ? FETCH_DOWNLOAD : FETCH_ERROR);
        EXPECT_EQ(out.result, c.error.empty() ? "(none)" : c.error);
        EXPECT_EQ(out.errorKind, c.error.empty() ? 0 : FETCH_ERROR);
        if (c.target == nullptr) {
            expectSame(readWholeFile(saved), c.body);
        }
        std::vector<std::string> progress = statusTexts();
        std::erase_if(progress, [](const std::string& text) { return text.rfind("Bytes: ", 0) != 0; });
        EXPECT_EQ(progress.empty(), *c.progress == '\0');
        for (const std::string& text : progress) {
            EXPECT_LE(text.size(), NET_PROGRESS_TEXT_SIZE - 1);
            EXPECT_NE(text.find(c.progress), std::string::npos) << text;
            EXPECT_EQ(text.find(" / ") != std::string::npos, std::string(c.progress) == " / 150") << text;
        }
    }
}

TEST(FetchUpload, FileBodies) {
    TempFolder folder;
    const std::string content = testBinary(20000, 4);
    writeFile(folder.file("up.bin"), content);
    // A long path is not cut.
    const fs::path deep = fs::path(folder.path) / std::string(100, 'd') / std::string(100, 'e');
    fs::create_directories(deep);
    const std::string longPath = (deep / "upload.txt").string();
    writeFile(longPath, "hello");
    ASSERT_GT(longPath.size(), 200u);
    const std::string sendError = "Network error: error sending request";
    // the file, the length announced; the status, the result, the body bytes the server saw.
    const std::tuple<std::string, int32_t, int32_t, std::string, size_t> cases[] = {
        {folder.file("up.bin"), 20000, FETCH_PAGE, "2 text/plain\r\nreceived 20000 bytes\n" + content, 20000},
        {longPath, 5, FETCH_PAGE, "2 text/plain\r\nreceived 5 bytes\nhello", 5},
        {folder.file("gone.bin"), 20000, FETCH_NETWORK_ERROR, sendError, 0},
        {folder.file("up.bin"), 30000, FETCH_NETWORK_ERROR, sendError, 20000},  // shorter than announced
        {folder.file(""), 10, FETCH_NETWORK_ERROR, sendError, 0},               // a folder
    };
    for (const auto& [path, length, status, result, serverBytes] : cases) {
        SCOPED_TRACE(path);
        // The server reports what it read before the client gave up.
        TestServer server([](TestConnection& connection) {
            std::string line = connection.readLine();
            connection.server().record(line);
            size_t announced = std::stoul(line.substr(line.rfind(' ', line.size() - 3) + 1));
            std::string body = connection.readBytes(announced, 10000);
            connection.server().record(std::to_string(body.size()));
            connection.send("2 text/plain\r\nreceived " + std::to_string(body.size()) + " bytes\n" + body);
        });
        auto upload = newNetBuffer(NETBUF_UPLOAD);
        upload->data.assign(path.begin(), path.end());
        upload->data.push_back('\0');
        upload->length = length;
        Outcome out = fetch(local("spartan", server.port(), "/upload"), ProxyRoute{}, "", std::move(upload));
        EXPECT_EQ(out.status, status);
        expectSame(out.result, result);
        ASSERT_TRUE(server.waitForConnections(1));
        std::vector<std::string> records = server.records();
        ASSERT_GE(records.size(), 1u);
        EXPECT_EQ(records[0], "127.0.0.1 /upload " + std::to_string(length) + "\r\n");
        if (records.size() > 1) {
            EXPECT_EQ(records[1], std::to_string(serverBytes));
        }
    }
}

NetResult failingLookup(const char*, int, std::vector<NetAddress>*) {
    return NET_LOOKUP_FAILED;
}

TEST(FetchErrors, ConnectionFailures) {
    int closedPort = 0;
    { SocketHandle listener(netListenLoopback(&closedPort)); }
    ASSERT_NE(closedPort, 0);
    const std::string refused = "Network error: could not connect to server";
    const std::tuple<std::string, NetLookupFunction, std::string> cases[] = {
        {"finger://nowhere.invalid/x", failingLookup, "Network error: DNS lookup failed"},
        {local("finger", closedPort, "/x"), nullptr, refused},
        {"gemini://example.org/", nullptr, refused},  // the proxy refuses
    };
    for (const auto& [url, lookup, result] : cases) {
        SCOPED_TRACE(url);
        netSetLookupFunction(lookup);
        Outcome out = fetch(url, url.rfind("gemini:", 0) == 0 ? proxyTo(closedPort) : ProxyRoute{});
        netSetLookupFunction(nullptr);
        EXPECT_EQ(out.status, FETCH_NETWORK_ERROR);
        EXPECT_EQ(out.errorKind, FETCH_NETWORK_ERROR);
        EXPECT_EQ(out.result, result);
    }
}

// Every request form is protocol_test's table; here, one of each kind goes through the
// proxy whole, a Spartan body after its header.
TEST(FetchProxy, RequestFormsByteForByte) {
    const std::string gemOk = "20 text/gemini\r\nok";
    const struct {
        const char* url;
        std::string expected;
        std::string reply;
        int32_t status = FETCH_PAGE;
    } cases[] = {
        {"gemini://example.org:1966/a", "gemini://example.org:1966/a\r\n", gemOk},
        {"spartan://example.org:301/form?a%20b", "example.org:301 /form?a%20b 3\r\na b",
         "2 text/plain\r\nok"},
        {"gopher://example.org/1/dir%20x", "example.org\t70\t/dir x\r\n", "iok\r\n.\r\n"},
        {"https://example.org/x", "GET https://example.org:443/x HTTP/1.1\r\nConnection: close\r\n\r\n",
         "HTTP/1.1 301 Moved\r\nLocation: https://example.org/y\r\n\r\n", FETCH_REDIRECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TestServer server(proxyHandler(c.expected, c.reply));
        Outcome out = fetch(c.url, proxyTo(server.port()));
        EXPECT_EQ(out.status, c.status) << out.result;
        ASSERT_TRUE(server.waitForConnections(1));
        EXPECT_EQ(server.records(), std::vector<std::string>{"match"});
    }
}

TEST(FetchRoute, ProxyDecision) {
    // scheme, use the proxy, for all schemes; then: via the proxy, with TLS.
    const std::tuple<int, bool, bool, bool, bool> cases[] = {
        {SCHEME_GEMINI, false, false, false, true},  {SCHEME_GEMINI, true, false, true, false},
        {SCHEME_HTTPS, false, true, false, true},    {SCHEME_HTTPS, true, false, true, false},
        {SCHEME_SPARTAN, true, false, false, false}, {SCHEME_SPARTAN, true, true, true, false},
        {SCHEME_GOPHER, true, true, true, false},    {SCHEME_FINGER, true, true, true, false},
        {SCHEME_NEX, true, true, true, false},       {SCHEME_HTTP, true, true, true, false},
        {SCHEME_HTTP, false, true, false, false},    {SCHEME_FTP, true, true, false, false},
    };
    for (const auto& [scheme, use, all, viaProxy, tls] : cases) {
        SCOPED_TRACE(testing::Message() << scheme << " " << use << all);
        UrlRecord record;
        record.scheme = scheme;
        ProxyRoute route;
        route.useGemProxy = use;
        route.gemProxyAll = all;
        EXPECT_EQ(netRouteViaProxy(record, route), viaProxy);
        EXPECT_EQ(netRouteWantsTls(record, route), tls);
    }
}

TEST(FetchProgress, PercentAndText) {
    const std::tuple<int64_t, int64_t, int64_t, const char*> cases[] = {
        {70000, 140000, 50, "Bytes: 70000 / 140000 (50%)"},
        {70000, 0, 0, "Bytes: 70000"},
        {3000000000LL, 4000000000LL, 75, "Bytes: 3000000000 / 4000000000 "},  // cut at 31 characters
        {INT64_MAX, INT64_MAX, 100, "Bytes: 9223372036854775807 / 92"},
        {199, 200, 99, "Bytes: 199 / 200 (99%)"},
        {250, 200, 125, "Bytes: 250 / 200 (125%)"},
    };
    for (const auto& [total, length, percent, expected] : cases) {
        EXPECT_EQ(netProgressPercent(total, length), percent) << total;
        char text[NET_PROGRESS_TEXT_SIZE];
        netFormatProgress(text, total, length);
        EXPECT_STREQ(text, expected);
    }
}

}  // namespace
