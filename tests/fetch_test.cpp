// The fetch driver against loopback servers: every outcome of a fetch, the download
// file byte for byte, request bodies, the proxy request forms, and the pure helpers
// (route, chunked decoding, progress text).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "net/exchange.h"
#include "net/fetch.h"
#include "platform/socket.h"
#include "shell/shell.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "url/url.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    return readWholeFile(path.string());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        path_ = fs::temp_directory_path() /
                ("farlander-fetch-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    fs::path file(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

struct Outcome {
    int32_t status = -1;
    bool hasResult = false;
    std::string result;
    size_t resultLength = 0;
    int32_t errorKind = 0;
    std::string prompt;
    std::string redirect;
    bool handedOver = false;
};

ProxyRoute proxyTo(int port, bool all = true) {
    ProxyRoute route;
    route.useGemProxy = true;
    route.gemProxyAll = all;
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
    int32_t status = -1;
    const char* result = netGetFile(*exchange, status, [&](FetchExchange& ex) {
        outcome.handedOver = true;
        ex.downloadName = downloadTo;
        ex.downloadAccepted = !downloadTo.empty();
    });
    outcome.status = status;
    EXPECT_EQ(exchange->status, status);
    EXPECT_EQ(exchange->result, result);
    outcome.hasResult = result != nullptr;
    if (result) outcome.result.assign(result, exchange->resultLength);
    if (result) {
        EXPECT_EQ(result[exchange->resultLength], '\0');
    }
    outcome.resultLength = exchange->resultLength;
    outcome.errorKind = exchange->error.errorKind;
    outcome.prompt = exchange->prompt;
    outcome.redirect = exchange->redirectTarget;
    EXPECT_TRUE(exchange->downloadName.empty());
    return outcome;
}

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

std::vector<std::string> statusTexts() {
    std::vector<std::string> out;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what == ShellCall::STATUS) out.push_back(call.body);
    }
    return out;
}

// ---- answers that keep everything in memory ----

struct ReplyCase {
    const char* name;
    const char* scheme;  // fetched through the proxy when "gemini"
    std::string path;
    std::string reply;
    size_t piece;  // 0: in one send
    int32_t status;
    std::string result;  // expected result text
    std::string prompt;
    std::string redirect;
};

const std::string kNoHeader2000(2000, 'x');

const ReplyCase kReplies[] = {
    {"gemini page", "gemini", "/", "20 text/gemini\r\n# Hello\n", 0, FETCH_PAGE,
     "20 text/gemini\r\n# Hello\n", "", ""},
    {"gemini header in 1-byte pieces", "gemini", "/", "20 text/gemini\r\nbody\n", 1, FETCH_PAGE,
     "20 text/gemini\r\nbody\n", "", ""},
    {"gemini input", "gemini", "/ask", "10 Your name?\r\n", 0, FETCH_INPUT, "10 Your name?\r\n", "Your name?",
     ""},
    {"gemini sensitive input", "gemini", "/pw", "11 Password\r\n", 0, FETCH_INPUT, "11 Password\r\n",
     "Password", ""},
    {"gemini redirect", "gemini", "/dir/page", "30 other\r\n", 0, FETCH_REDIRECT, "30 other\r\n", "",
     "gemini://example.org/dir/other"},
    {"gemini certificate", "gemini", "/", "60 Identity please\r\n", 0, FETCH_CERTIFICATE,
     "60 Identity please\r\n", "", ""},
    {"gemini server error", "gemini", "/", "51 Not found\r\n", 0, FETCH_SERVER_ERROR,
     "Server error: 51 Not found", "", ""},
    {"gemini 61 is a server error", "gemini", "/", "61 Not authorised\r\n", 0, FETCH_SERVER_ERROR,
     "Server error: 61 Not authorised", "", ""},
    {"2000 bytes without a header", "gemini", "/", kNoHeader2000, 0, FETCH_SERVER_ERROR,
     "Server error: server did not send valid Gemini header", "", ""},
    {"short invalid answer", "gemini", "/", "hello", 0, FETCH_SERVER_ERROR,
     "Server error: server did not send valid Gemini header", "", ""},
    {"header without carriage return", "gemini", "/", "20 text/gemini\n", 0, FETCH_SERVER_ERROR,
     "Server error: server did not send valid Gemini header", "", ""},
    {"finger", "finger", "/user", "Login: user\r\n", 0, FETCH_PAGE, "Login: user\r\n", "", ""},
    {"nex text in pieces", "nex", "/notes.txt", "Some notes.\n", 3, FETCH_PAGE, "Some notes.\n", "", ""},
    {"spartan page", "spartan", "/", "2 text/gemini\r\nhi\n", 0, FETCH_PAGE, "2 text/gemini\r\nhi\n", "", ""},
    {"spartan error", "spartan", "/", "4 Not found\r\n", 0, FETCH_SERVER_ERROR, "Server error: 4 Not found",
     "", ""},
    {"http 404", "http", "/", "HTTP/1.1 404 Not Found\r\n\r\n", 0, FETCH_SERVER_ERROR,
     "Server error: 404 Not Found", "", ""},
    {"http redirect is not resolved", "http", "/", "HTTP/1.1 301 Moved\r\nLocation: https://w/x\r\n\r\n", 0,
     FETCH_REDIRECT, "HTTP/1.1 301 Moved\r\nLocation: https://w/x\r\n\r\n", "", "https://w/x"},
    {"unknown header without message gives the raw answer", "http", "/", "HTTP/1.0 200 OK\r\n\r\nold", 0,
     FETCH_SERVER_ERROR, "HTTP/1.0 200 OK\r\n\r\nold", "", ""},
};

TEST(FetchReplies, EveryAnswerKind) {
    for (const ReplyCase& c : kReplies) {
        SCOPED_TRACE(c.name);
        TestServer server(fixedReplyHandler(c.reply, c.piece));
        ASSERT_TRUE(server.ok());
        // Gemini needs TLS on a direct route: go through the proxy service instead.
        bool viaProxy = std::strcmp(c.scheme, "gemini") == 0;
        std::string url =
            viaProxy ? std::string("gemini://example.org") + c.path : local(c.scheme, server.port(), c.path);
        Outcome out = fetch(url, viaProxy ? proxyTo(server.port()) : ProxyRoute{});
        EXPECT_EQ(out.status, c.status);
        EXPECT_TRUE(out.hasResult);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.prompt, c.prompt);
        if (!c.redirect.empty()) {
            EXPECT_EQ(out.redirect, c.redirect);
        }
        EXPECT_FALSE(out.handedOver);
    }
}

TEST(FetchReplies, ProtocolServers) {
    struct Case {
        const char* name;
        ConnectionHandler handler;
        const char* scheme;
        std::string path;
        std::string expected;
        std::string request;  // what the server must have received
    };
    TempFolder folder;
    const Case cases[] = {
        {"gopher menu", gopherHandler(), "gopher", "/1/", gopherMenuText(), "/\r\n"},
        {"gopher text", gopherHandler(), "gopher", "/0/text", gopherTextFile(), "/text\r\n"},
        {"gopher search", gopherHandler(), "gopher", "/7/search%09amiga",
         "iResults for amiga\tfake\t(NULL)\t0\r\n.\r\n", "/search\tamiga\r\n"},
        {"finger user", fingerHandler(), "finger", "/someone", "Login: someone\r\nPlan: none\r\n",
         "someone\r\n"},
        {"finger without user", fingerHandler(), "finger", "", "Login: \r\nPlan: none\r\n", "\r\n"},
        {"nex listing", nexHandler(), "nex", "/", nexListingText(), "/\r\n"},
        {"spartan query", spartanEchoHandler(), "spartan", "/form?a%20b",
         "2 text/plain\r\nreceived 3 bytes\na b", "127.0.0.1 /form?a%20b 3\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(c.handler);
        Outcome out = fetch(local(c.scheme, server.port(), c.path));
        EXPECT_EQ(out.status, FETCH_PAGE);
        EXPECT_EQ(out.result, c.expected);
        ASSERT_TRUE(server.waitForConnections(1));
        ASSERT_EQ(server.records().size(), 1u);
        EXPECT_EQ(server.records()[0], c.request);
    }
}

TEST(FetchReplies, HeaderErrorIsClearedWhenTheHeaderCompletes) {
    // Each piece arrives on its own; every attempt before the line feed fails.
    TestServer server([](TestConnection& connection) {
        connection.readLine();
        connection.send("20 text/");
        connection.server().markEvent("first");
        connection.sendInPieces("gemini\r\nok", 2, 5);
    });
    Outcome out = fetch("gemini://example.org/", proxyTo(server.port()));
    EXPECT_EQ(out.status, FETCH_PAGE);
    EXPECT_EQ(out.errorKind, 0);
    EXPECT_EQ(out.result, "20 text/gemini\r\nok");
}

TEST(FetchReplies, HeaderRetriesStopPastLimit) {
    struct Case {
        size_t bytes;
        bool closeAfter;  // else the server holds the connection open
    };
    // Up to the limit the fetch keeps reading (and needs the close); past it, it gives up
    // on its own.
    const Case cases[] = {{NET_HEADER_RETRY_LIMIT, true}, {NET_HEADER_RETRY_LIMIT + 1, false}, {5000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        TestServer server([c](TestConnection& connection) {
            connection.readLine();
            connection.send(std::string(c.bytes, 'z'));
            if (c.closeAfter) return;
            connection.holdUntilClosed();
        });
        Outcome out = fetch("gemini://example.org/", proxyTo(server.port()));
        EXPECT_EQ(out.status, FETCH_SERVER_ERROR);
        EXPECT_EQ(out.result, "Server error: server did not send valid Gemini header");
    }
}

TEST(FetchReplies, EmptyAnswerIsAnEmptyPage) {
    TestServer server(fixedReplyHandler(""));
    Outcome out = fetch(local("finger", server.port(), "/x"));
    EXPECT_EQ(out.status, FETCH_PAGE);
    EXPECT_TRUE(out.hasResult);
    EXPECT_EQ(out.resultLength, 0u);
}

TEST(FetchReplies, LargePageIsReturnedWhole) {
    std::string page = "20 text/plain\r\n" + testBinary(3 * 1000 * 1000, 5);
    TestServer server(fixedReplyHandler(page));
    Outcome out = fetch("gemini://example.org/big", proxyTo(server.port()));
    EXPECT_EQ(out.status, FETCH_PAGE);
    EXPECT_EQ(out.result.size(), page.size());
    EXPECT_TRUE(out.result == page);
}

TEST(FetchReplies, StatusTextsInOrder) {
    headlessReset();
    TestServer server(fixedReplyHandler("Login: x\r\n"));
    fetch(local("finger", server.port(), "/x"));
    std::vector<std::string> texts = statusTexts();
    std::vector<std::string> expected = {"DNS lookup...", "Connecting...", "Sending request..."};
    EXPECT_EQ(texts, expected);
}

// ---- Gemini over TLS ----

TEST(FetchTls, GeminiAnswers) {
    struct Case {
        const char* name;
        std::string reply;
        size_t piece;
        bool askForCertificate;
        int32_t status;
        std::string result;
    };
    const std::string noHeader(2000, 'n');
    const Case cases[] = {
        {"page", "20 text/gemini\r\n# Secure\n", 0, false, FETCH_PAGE, "20 text/gemini\r\n# Secure\n"},
        {"header in 1-byte pieces", "20 text/gemini\r\nslow", 1, false, FETCH_PAGE, "20 text/gemini\r\nslow"},
        {"2000 bytes without a header", noHeader, 0, false, FETCH_SERVER_ERROR,
         "Server error: server did not send valid Gemini header"},
        {"client certificate wanted", "60 Certificate required\r\n", 0, true, FETCH_CERTIFICATE,
         "60 Certificate required\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TlsServerOptions options;
        options.requestClientCertificate = c.askForCertificate;
        TlsServer server(options, [&c](TlsServerConnection& connection) {
            connection.server().base().record(connection.readLine());
            if (c.piece > 0) {
                connection.writeSlowly(c.reply, c.piece, 0);
            } else {
                connection.write(c.reply);
            }
        });
        ASSERT_TRUE(server.ok());
        Outcome out = fetch(local("gemini", server.port(), "/path"));
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.result, c.result);
        ASSERT_TRUE(server.base().waitForConnections(1));
        ASSERT_EQ(server.base().records().size(), 1u);
        EXPECT_EQ(server.base().records()[0],
                  "gemini://127.0.0.1:" + std::to_string(server.port()) + "/path\r\n");
    }
}

TEST(FetchTls, DownloadByteForByte) {
    TempFolder folder;
    const std::string body = testBinary(300000, 21);
    TlsServer server(TlsServerOptions{}, [&body](TlsServerConnection& connection) {
        connection.readLine();
        connection.write("20 application/octet-stream\r\n" + body);
    });
    ASSERT_TRUE(server.ok());
    fs::path target = folder.file("tls.bin");
    Outcome out = fetch(local("gemini", server.port(), "/file"), ProxyRoute{}, target.string());
    EXPECT_EQ(out.status, FETCH_DOWNLOAD);
    EXPECT_TRUE(readFile(target) == body);
}

// ---- downloads ----

struct DownloadCase {
    const char* name;
    ConnectionHandler handler;
    std::string url;  // "%PORT%" is replaced; gemini goes through the proxy
    std::string body;
    const char* progress;  // a status text that must appear ("" when none may)
};

TEST(FetchDownload, FileHoldsTheBodyByteForByte) {
    const std::string gemBody = testBinary(70000, 9);
    const DownloadCase cases[] = {
        {"gopher binary, body in the first chunk", gopherHandler(), "gopher://127.0.0.1:%PORT%/9/bin",
         testBinary(5000), ""},
        {"nex binary", nexHandler(), "nex://127.0.0.1:%PORT%/pic.gif", testBinary(9000, 7), ""},
        {"http with length", httpHandler(), "http://127.0.0.1:%PORT%/length", httpBody(), " / 150"},
        {"http without length", httpHandler(), "http://127.0.0.1:%PORT%/nolength", httpBody(), "Bytes: "},
        {"http chunked", httpHandler(), "http://127.0.0.1:%PORT%/chunked", httpBody(), "Bytes: "},
        {"gemini image through the proxy", fixedReplyHandler("20 image/png\r\n" + gemBody, 1000),
         "gemini://example.org/pic.png", gemBody, "Bytes: "},
        {"spartan binary", fixedReplyHandler("2 application/zip\r\n" + gemBody),
         "spartan://127.0.0.1:%PORT%/x.zip", gemBody, "Bytes: "},
    };
    TempFolder folder;
    for (const DownloadCase& c : cases) {
        SCOPED_TRACE(c.name);
        headlessReset();
        TestServer server(c.handler);
        std::string url = c.url;
        if (size_t at = url.find("%PORT%"); at != std::string::npos)
            url.replace(at, 6, std::to_string(server.port()));
        bool viaProxy = url.rfind("gemini:", 0) == 0;
        fs::path target = folder.file("download.bin");
        fs::remove(target);
        Outcome out = fetch(url, viaProxy ? proxyTo(server.port()) : ProxyRoute{}, target.string());
        EXPECT_TRUE(out.handedOver);
        EXPECT_EQ(out.status, FETCH_DOWNLOAD);
        EXPECT_FALSE(out.hasResult);
        EXPECT_EQ(out.errorKind, 0);
        std::string saved = readFile(target);
        EXPECT_EQ(saved.size(), c.body.size());
        EXPECT_TRUE(saved == c.body);
        bool sawProgress = false;
        bool sawLengthForm = false;
        for (const std::string& text : statusTexts()) {
            if (text.rfind("Bytes: ", 0) != 0) continue;
            sawProgress = true;
            EXPECT_LE(text.size(), NET_PROGRESS_TEXT_SIZE - 1);
            if (text.find(" / ") != std::string::npos) sawLengthForm = true;
            if (*c.progress) {
                EXPECT_NE(text.find(c.progress), std::string::npos) << text;
            }
        }
        EXPECT_EQ(sawProgress, *c.progress != '\0');
        EXPECT_EQ(sawLengthForm, std::string(c.progress) == " / 150");
    }
}

TEST(FetchDownload, DeclinedAndFailingFiles) {
    struct Case {
        const char* name;
        std::string target;  // "" declines
        int32_t status;
        std::string result;
    };
    TempFolder folder;
    const Case cases[] = {
        {"declined", "", FETCH_DOWNLOAD, ""},
        {"cannot create", folder.file("no-such-folder/x.bin").string(), FETCH_ERROR, "Error creating file"},
        {"disk full", "/dev/full", FETCH_ERROR, "Error writing to file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(httpHandler());
        Outcome out = fetch(local("http", server.port(), "/length"), ProxyRoute{}, c.target);
        EXPECT_TRUE(out.handedOver);
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.hasResult, !c.result.empty());
        EXPECT_EQ(out.result, c.result);
    }
}

// ---- request bodies ----

TEST(FetchUpload, FileBodies) {
    TempFolder folder;
    const std::string content = testBinary(20000, 4);
    writeFile(folder.file("up.bin"), content);
    struct Case {
        const char* name;
        std::string path;
        int32_t length;
        int32_t status;
        std::string result;
        size_t serverBytes;  // body bytes the server saw
    };
    const Case cases[] = {
        {"whole file", folder.file("up.bin").string(), 20000, FETCH_PAGE,
         "2 text/plain\r\nreceived 20000 bytes\n" + content, 20000},
        {"missing file", folder.file("gone.bin").string(), 20000, FETCH_NETWORK_ERROR,
         "Network error: error sending request", 0},
        {"file shorter than announced", folder.file("up.bin").string(), 30000, FETCH_NETWORK_ERROR,
         "Network error: error sending request", 20000},
        {"a folder cannot be read", folder.file("").string(), 10, FETCH_NETWORK_ERROR,
         "Network error: error sending request", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
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
        upload->data.assign(c.path.begin(), c.path.end());
        upload->data.push_back('\0');
        upload->length = c.length;
        Outcome out = fetch(local("spartan", server.port(), "/upload"), ProxyRoute{}, "", std::move(upload));
        EXPECT_EQ(out.status, c.status);
        EXPECT_TRUE(out.result == c.result);
        ASSERT_TRUE(server.waitForConnections(1));
        std::vector<std::string> records = server.records();
        ASSERT_GE(records.size(), 1u);
        EXPECT_EQ(records[0], "127.0.0.1 /upload " + std::to_string(c.length) + "\r\n");
        if (records.size() > 1) {
            EXPECT_EQ(records[1], std::to_string(c.serverBytes));
        }
    }
}

TEST(FetchUpload, LongUploadPathIsNotCut) {
    TempFolder folder;
    fs::path deep = folder.file(std::string(100, 'd')) / std::string(100, 'e');
    fs::create_directories(deep);
    fs::path file = deep / "upload.txt";
    writeFile(file, "hello");
    ASSERT_GT(file.string().size(), 200u);
    TestServer server(spartanEchoHandler());
    auto upload = newNetBuffer(NETBUF_UPLOAD);
    std::string path = file.string();
    upload->data.assign(path.begin(), path.end());
    upload->data.push_back('\0');
    upload->length = 5;
    Outcome out = fetch(local("spartan", server.port(), "/u"), ProxyRoute{}, "", std::move(upload));
    EXPECT_EQ(out.result, "2 text/plain\r\nreceived 5 bytes\nhello");
}

// ---- network errors ----

NetResult failingLookup(const char*, int, std::vector<NetAddress>*) {
    return NET_LOOKUP_FAILED;
}

TEST(FetchErrors, ConnectionFailures) {
    int closedPort = 0;
    {
        SocketHandle listener(netListenLoopback(&closedPort));
        ASSERT_TRUE(listener.valid());
    }
    struct Case {
        const char* name;
        std::string url;
        NetLookupFunction lookup;
        std::string result;
    };
    const Case cases[] = {
        {"lookup fails", "finger://nowhere.invalid/x", failingLookup, "Network error: DNS lookup failed"},
        {"connection refused", local("finger", closedPort, "/x"), nullptr,
         "Network error: could not connect to server"},
        {"proxy refused", "gemini://example.org/", nullptr, "Network error: could not connect to server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        netSetLookupFunction(c.lookup);
        bool viaProxy = c.url.rfind("gemini:", 0) == 0;
        Outcome out = fetch(c.url, viaProxy ? proxyTo(closedPort) : ProxyRoute{});
        netSetLookupFunction(nullptr);
        EXPECT_EQ(out.status, FETCH_NETWORK_ERROR);
        EXPECT_EQ(out.errorKind, FETCH_NETWORK_ERROR);
        EXPECT_EQ(out.result, c.result);
    }
}

// ---- the proxy service's request forms ----

TEST(FetchProxy, RequestFormsByteForByte) {
    struct Case {
        const char* url;
        std::string expected;
        std::string reply;
        int32_t status;
    };
    const Case cases[] = {
        {"gemini://example.org/dir/page", "gemini://example.org/dir/page\r\n", "20 text/gemini\r\nok",
         FETCH_PAGE},
        {"gemini://example.org:1966/a", "gemini://example.org:1966/a\r\n", "20 text/gemini\r\nok",
         FETCH_PAGE},
        {"spartan://example.org:301/form?a%20b", "example.org:301 /form?a%20b 3\r\na b", "2 text/plain\r\nok",
         FETCH_PAGE},
        {"spartan://example.org/form?a%20b", "example.org /form?a%20b 3\r\na b", "2 text/plain\r\nok",
         FETCH_PAGE},
        {"gopher://example.org/1/dir%20x", "example.org\t70\t/dir x\r\n", "iok\r\n.\r\n", FETCH_PAGE},
        {"finger://example.org/user", "finger://example.org:79/user\r\n", "Plan\r\n", FETCH_PAGE},
        {"nex://example.org/dir/", "nex://example.org:1900/dir/\r\n", "listing\n", FETCH_PAGE},
        {"http://example.org/x", "GET http://example.org:80/x HTTP/1.1\r\nConnection: close\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\n\r\n", FETCH_SERVER_ERROR},
        {"https://example.org/x", "GET https://example.org:443/x HTTP/1.1\r\nConnection: close\r\n\r\n",
         "HTTP/1.1 301 Moved\r\nLocation: https://example.org/y\r\n\r\n", FETCH_REDIRECT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        TestServer server(proxyHandler(c.expected, c.reply));
        Outcome out = fetch(c.url, proxyTo(server.port()));
        EXPECT_EQ(out.status, c.status) << out.result;
        ASSERT_TRUE(server.waitForConnections(1));
        ASSERT_EQ(server.records().size(), 1u);
        EXPECT_EQ(server.records()[0], "match");
    }
}

TEST(FetchRoute, ProxyDecision) {
    struct Case {
        int scheme;
        bool use;
        bool all;
        bool viaProxy;
        bool tls;
    };
    const Case cases[] = {
        {SCHEME_GEMINI, false, false, false, true},  {SCHEME_GEMINI, true, false, true, false},
        {SCHEME_HTTPS, false, true, false, true},    {SCHEME_HTTPS, true, false, true, false},
        {SCHEME_SPARTAN, true, false, false, false}, {SCHEME_SPARTAN, true, true, true, false},
        {SCHEME_GOPHER, true, true, true, false},    {SCHEME_FINGER, true, true, true, false},
        {SCHEME_NEX, true, true, true, false},       {SCHEME_HTTP, true, true, true, false},
        {SCHEME_HTTP, false, true, false, false},    {SCHEME_FTP, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scheme << " " << c.use << c.all);
        UrlRecord record;
        record.scheme = c.scheme;
        ProxyRoute route;
        route.useGemProxy = c.use;
        route.gemProxyAll = c.all;
        EXPECT_EQ(netRouteViaProxy(record, route), c.viaProxy);
        EXPECT_EQ(netRouteWantsTls(record, route), c.tls);
    }
}

// ---- chunked framing ----

std::string decodeAll(const std::vector<std::string>& pieces, bool* ok) {
    ChunkedDecoder decoder;
    std::string out;
    *ok = true;
    for (const std::string& piece : pieces) {
        if (!chunkedDecode(decoder, piece.data(), piece.size(), [&](const char* bytes, size_t n) {
                out.append(bytes, n);
                return true;
            })) {
            *ok = false;
        }
    }
    return out;
}

TEST(FetchChunked, SplitAnywhere) {
    const std::string framed =
        "5\r\nhello\r\nA;ext=\"1\"\r\n, world!!\n\r\n1\r\n.\r\n0\r\nX-T: y\r\n\r\nGARBAGE";
    const std::string body = "hello, world!!\n.";
    for (size_t a = 0; a <= framed.size(); ++a) {
        for (size_t b = a; b <= framed.size(); b += 3) {
            bool ok = false;
            std::string out =
                decodeAll({framed.substr(0, a), framed.substr(a, b - a), framed.substr(b)}, &ok);
            ASSERT_TRUE(ok) << a << "," << b;
            ASSERT_EQ(out, body) << a << "," << b;
        }
    }
}

TEST(FetchChunked, Framings) {
    struct Case {
        const char* name;
        std::string framed;
        bool ok;
        std::string body;
    };
    const Case cases[] = {
        {"upper-case hex", "1A\r\n" + std::string(26, 'q') + "\r\n0\r\n\r\n", true, std::string(26, 'q')},
        {"bare line feeds", "3\nabc\n0\n\n", true, "abc"},
        {"binary data with CRLF inside", "4\r\n\r\n\r\n\r\n0\r\n\r\n", true, "\r\n\r\n"},
        {"no size", "\r\nabc", false, ""},
        {"bad size digit", "g\r\n", false, ""},
        {"data longer than its size", "2\r\nabc\r\n", false, "ab"},
        {"size overflows 64 bits", "FFFFFFFFFFFFFFFFF\r\n", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = false;
        std::string out = decodeAll({c.framed}, &ok);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(out, c.body);
    }
}

TEST(FetchChunked, HeaderDetection) {
    struct Case {
        const char* header;
        bool chunked;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunkedx\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nX-Note: Transfer-Encoding: chunked\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(netHeaderIsChunked(c.header, std::strlen(c.header)), c.chunked);
    }
}

// ---- progress text ----

TEST(FetchProgress, PercentAndText) {
    struct Case {
        int64_t total;
        int64_t length;
        int64_t percent;
        const char* text;
    };
    constexpr int64_t big = INT64_MAX;
    const Case cases[] = {
        {70000, 140000, 50, "Bytes: 70000 / 140000 (50%)"},
        {70000, 0, 0, "Bytes: 70000"},
        {3000000000LL, 4000000000LL, 75, "Bytes: 3000000000 / 4000000000 "},  // cut at 31 characters
        {big, big, 100, "Bytes: 9223372036854775807 / 92"},
        {big / 2, big, 49, "Bytes: 4611686018427387903 / 92"},
        {199, 200, 99, "Bytes: 199 / 200 (99%)"},
        {250, 200, 125, "Bytes: 250 / 200 (125%)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        EXPECT_EQ(netProgressPercent(c.total, c.length), c.percent);
        char text[NET_PROGRESS_TEXT_SIZE];
        netFormatProgress(text, c.total, c.length);
        EXPECT_STREQ(text, c.text);
    }
}

}  // namespace
