#include "net/tls.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "identity/identity.h"
#include "net/exchange.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "support/private_home.h"
#include "support/tls_server.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

constexpr const char* HANDSHAKE_FAILED = "Network error: could not establish SSL connection";
constexpr const char* NO_CERT_FILE = "Could not read identity public certificate file";
constexpr const char* NO_KEY_FILE = "Could not read identity private key file";

std::string pageFor(const std::string& requestLine) {
    return "20 text/gemini\r\nrequest: " + requestLine;
}

TlsHandler echoHandler() {
    return [](TlsServerConnection& connection) { connection.write(pageFor(connection.readLine())); };
}

std::vector<std::string> shownTexts() {
    std::vector<std::string> shown;
    for (const ShellCall& call : headlessCalls())
        shown.push_back(call.body);
    return shown;
}

// One client connection; the socket outlives the TLS state on it.
struct Attempt {
    UrlRecord request;
    SocketHandle socket;
    TlsConnection tls;
    FetchError error;
    std::atomic<bool> stop{false};
    int connected = 0;
    long lastRead = 0;
};

class TlsTest : public testing::Test {
  protected:
    void SetUp() override {
        freeIdentities();
        headlessReset();
        taskClearSignals(TASK_BREAK_MASK);
    }
    void TearDown() override {
        taskClearSignals(TASK_BREAK_MASK);
        freeIdentities();
    }

    int open(Attempt& a, int port, const char* url) {
        EXPECT_TRUE(!url || parseUrl(url, a.request) == 1);  // else the record was filled by hand
        a.socket.reset(netConnect("127.0.0.1", port, breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
        EXPECT_TRUE(a.socket.valid());
        return a.connected = tlsConnect(a.tls, a.socket.get(), a.request, a.error, breakFd, a.stop);
    }

    // Sets up TLS, sends the request line and returns what arrives until the end.
    std::string fetch(Attempt& a, int port, const char* url) {
        std::string reply;
        if (open(a, port, url) != 1) return reply;
        std::string line = std::string(a.request.url) + "\r\n";
        EXPECT_EQ(tlsWrite(a.tls, line.data(), line.size(), breakFd), static_cast<long>(line.size()));
        char buffer[4096];
        while ((a.lastRead = tlsRead(a.tls, buffer, sizeof buffer, breakFd)) > 0)
            reply.append(buffer, static_cast<size_t>(a.lastRead));
        return reply;
    }

    std::thread breakLater(int delayMs) {
        return std::thread([task = self, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            taskSendSignal(task, TASK_BREAK_MASK);
        });
    }

    PrivateHome privateHome{"tls"};
    const std::string home = privateHome.path;
    TaskHandle self = taskCurrent();
    int breakFd = taskBreakDescriptor(self);
};

// Any certificate is accepted, expired ones too, over TLS 1.2 or 1.3, but only with our ciphers; the reply
// arrives whole whatever its pacing and whether or not the server ends with a close_notify. A stop set
// before the handshake skips it quietly.
TEST_F(TlsTest, HandshakesAndReadsWhateverTheServer) {
    std::string body;
    for (int i = 0; body.size() < 100000; ++i)
        body += "line " + std::to_string(i) + "\n";
    TlsServerOptions plain, expired, tls12, tls13, foreign;
    expired.expiredCertificate = true;
    tls12.maxVersion = foreign.maxVersion = TLS1_2_VERSION;
    tls12.cipherList = "ECDHE-ECDSA-CHACHA20-POLY1305";
    tls13.minVersion = TLS1_3_VERSION;
    tls13.cipherSuites = "TLS_AES_256_GCM_SHA384";
    foreign.cipherList = "ECDHE-ECDSA-NULL-SHA:@SECLEVEL=0";  // no encryption: outside our list
    // The server, whether the reply is long, the size of its pieces (0: all at once), the pause between
    // them, whether the server ends without a close_notify, whether the client stops first.
    const std::tuple<const TlsServerOptions*, bool, size_t, int, bool, bool> cases[] = {
        // clang-format off
        {&expired, false, 3, 0, false, false}, {&tls12, true, 0, 0, true, false},
        {&tls13, true, 7000, 2, true, false}, {&plain, false, 0, 0, false, false},
        {&foreign, false, 0, 0, false, false}, {&plain, false, 0, 0, false, true},
        // clang-format on
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& [options, big, piece, pauseMs, abrupt, stop] = cases[i];
        const bool refused = options == &foreign;
        const std::string extra = big ? body : "";
        TlsServer server(*options, [&](TlsServerConnection& connection) {
            connection.writeSlowly(pageFor(connection.readLine()) + extra, piece, pauseMs);
            if (abrupt) connection.closeAbruptly();
        });
        ASSERT_TRUE(server.ok());
        {
            Attempt a;
            a.stop = stop;
            const std::string reply = fetch(a, server.port(), "gemini://localhost/page");
            EXPECT_EQ(a.connected, refused || stop ? 0 : 1);
            EXPECT_STREQ(a.error.errorText, refused ? HANDSHAKE_FAILED : "");
            EXPECT_EQ(a.error.errorKind, refused ? FETCH_NETWORK_ERROR : 0);
            EXPECT_TRUE(reply == (refused || stop ? "" : pageFor("gemini://localhost/page\r\n") + extra));
            EXPECT_EQ(a.lastRead, 0);  // a clean end, not an error
            EXPECT_EQ(currentStatus(), "SSL connect...");
        }
        EXPECT_TRUE(!(refused || stop) || server.base().waitForEvent("handshake failed"));
        EXPECT_EQ(server.handshakesCompleted(), refused || stop ? 0 : 1);
    }
}

// Each request shows the steps, names its host in lower case and presents the identity whose scope
// matches, if any.
TEST_F(TlsTest, SendsTheServerNameAndTheMatchingIdentity) {
    ASSERT_TRUE(createIdentity("localhost", "/private/", "Private Person"));
    ASSERT_TRUE(createIdentity("elsewhere", "/", "Someone Else"));
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer server(options, echoHandler());
    ASSERT_TRUE(server.ok());
    // The request, the server name the server saw, the common name of the certificate it was shown.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"gemini://Capsule.EXAMPLE:1965/page", "capsule.example", ""},
        {"gemini://localhost/private/page", "localhost", "Private Person"},
        {"gemini://localhost/private", "localhost", ""},
        {"gemini://elsewhere/any/page", "elsewhere", "Someone Else"},
        {nullptr, "mixed.host", ""},  // a record filled by hand
    };
    for (const auto& [url, serverName, commonName] : cases) {
        SCOPED_TRACE(serverName);
        headlessReset();
        Attempt a;
        if (!url) {
            std::strcpy(a.request.url, "gemini://MiXeD.Host/");
            std::strcpy(a.request.host, "MiXeD.Host");
            std::strcpy(a.request.path, "/");
        }
        ASSERT_FALSE(fetch(a, server.port(), url).empty());
        EXPECT_EQ(server.lastServerName(), serverName);
        EXPECT_EQ(server.lastPeerCommonName(), commonName);
        EXPECT_EQ(shownTexts(), (std::vector<std::string>{"SSL context...", "SSL new...", "SSL connect..."}));
    }
}

TEST_F(TlsTest, ReportsUnreadableIdentityFilesAndClosesSafely) {
    // Remove the certificate, remove the key, the key's new text (when not null), the error.
    const std::tuple<bool, bool, const char*, const char*> cases[] = {
        // clang-format off
        {false, true, nullptr, NO_KEY_FILE}, {true, false, nullptr, NO_CERT_FILE},
        {true, true, nullptr, NO_CERT_FILE}, {false, false, "not a key\n", NO_KEY_FILE},
        // clang-format on
    };
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    for (const auto& [removeCert, removeKey, keyText, expected] : cases) {
        SCOPED_TRACE(expected);
        freeIdentities();
        ASSERT_TRUE(createIdentity("localhost", "/", "Farlander"));
        const IdentityRecord* identity = findIdentity("localhost", "/");
        ASSERT_NE(identity, nullptr);
        ASSERT_TRUE(!removeCert || removeFile(identity->certPath));
        ASSERT_TRUE(!removeKey || removeFile(identity->keyPath));
        ASSERT_TRUE(!keyText || writeFileAtomic(identity->keyPath, keyText, 0600));
        headlessReset();
        Attempt a;
        EXPECT_EQ(open(a, server.port(), "gemini://localhost/any/page"), 0);
        EXPECT_STREQ(a.error.errorText, expected);
        EXPECT_EQ(a.error.errorKind, FETCH_ERROR);
        EXPECT_EQ(shownTexts(), std::vector<std::string>{"SSL context..."});  // no session was made
        EXPECT_TRUE(a.tls.context);
        tlsClose(a.tls);
        EXPECT_FALSE(a.tls.context);
        tlsClose(a.tls);
    }
    TlsConnection never;
    tlsClose(never);
    char buffer[8];
    EXPECT_EQ(tlsRead(never, buffer, sizeof buffer, breakFd), -1);
    EXPECT_EQ(tlsWrite(never, "x", 1, breakFd), -1);
}

// A break ends a handshake or a read that gets no answer, and is left pending for the caller.
TEST_F(TlsTest, BreakInterruptsAHandshakeOrReadThatGetsNoAnswer) {
    TlsServer server({}, [](TlsServerConnection& connection) {
        connection.readLine();
        connection.readLine();  // waits until the client goes or the server stops
    });
    ASSERT_TRUE(server.ok());
    int port = 0;
    SocketHandle listener(netListenLoopback(&port));  // accepts in the kernel, never answers
    ASSERT_TRUE(listener.valid());
    Attempt silent;
    std::thread breaker = breakLater(100);
    EXPECT_EQ(open(silent, port, "gemini://localhost/"), 0);
    breaker.join();
    EXPECT_STREQ(silent.error.errorText, HANDSHAKE_FAILED);
    EXPECT_EQ(silent.error.errorKind, FETCH_NETWORK_ERROR);
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);

    Attempt a;
    ASSERT_EQ(open(a, server.port(), "gemini://localhost/"), 1);
    ASSERT_EQ(tlsWrite(a.tls, "x\r\n", 3, breakFd), 3);
    breaker = breakLater(100);
    char buffer[64];
    EXPECT_LT(tlsRead(a.tls, buffer, sizeof buffer, breakFd), 0);
    breaker.join();
    EXPECT_LT(tlsRead(a.tls, buffer, sizeof buffer, breakFd), 0);  // still pending: fails at once
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
}

TEST(NetInitTest, ReplacesInvalidProxySettings) {
    const std::string longest(62, 'p'), tooLong(63, 'q'), proxy("proxy.example");
    // The host and port given, then as netInit leaves them: a bad port or an over-long host means the
    // built-in proxy; an empty host with a valid port stays.
    const std::tuple<std::string, int32_t, std::string, int32_t> cases[] = {
        // clang-format off
        {proxy, 0, "localhost", 19650}, {proxy, 65536, "localhost", 19650}, {proxy, 1, proxy, 1},
        {tooLong, 1965, "localhost", 19650}, {longest, 1965, longest, 1965}, {proxy, 65535, proxy, 65535},
        {"", 1965, "", 1965},
        // clang-format on
    };
    for (const auto& [host, port, expectedHost, expectedPort] : cases) {
        SCOPED_TRACE(host + ":" + std::to_string(port));
        Settings record;
        std::memcpy(record.gemProxyHost, host.c_str(), host.size() + 1);
        record.gemProxyPort = port;
        EXPECT_TRUE(netInit(record));
        EXPECT_EQ(std::string(record.gemProxyHost), expectedHost);
        EXPECT_EQ(record.gemProxyPort, expectedPort);
        netCleanUp();
    }
}

TEST(SslInitTest, EnvironmentSwitchTurnsTlsOff) {
    const char* old = std::getenv("FARLANDER_NO_TLS");
    const std::string saved = old ? old : "";
    for (const char* value : {"1", "", "0"}) {
        SCOPED_TRACE(value);
        setEnvironment("FARLANDER_NO_TLS", value);
        const bool usable = std::strcmp(value, "1") != 0;
        EXPECT_EQ(sslInit(), usable);
        EXPECT_EQ(sslReady(), usable);
        sslCleanUp();
        EXPECT_FALSE(sslReady());
        sslCleanUp();
    }
    setEnvironment("FARLANDER_NO_TLS", saved);
}

}  // namespace
