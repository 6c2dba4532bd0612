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
#include <vector>

#include "identity/identity.h"
#include "net/exchange.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "support/tls_server.h"
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
        if (const char* old = std::getenv("FARLANDER_HOME")) savedHome = old;
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
        freeIdentities();
        headlessReset();
        taskClearSignals(TASK_BREAK_MASK);
    }
    void TearDown() override {
        taskClearSignals(TASK_BREAK_MASK);
        freeIdentities();
        setEnvironment("FARLANDER_HOME", savedHome);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
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

    const std::string home =
        testing::TempDir() + "farlander-tls-" + testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string savedHome;
    TaskHandle self = taskCurrent();
    int breakFd = taskBreakDescriptor(self);
};

TEST_F(TlsTest, HandshakeAcceptsAnyCertificateButOnlyOurCiphers) {
    TlsServerOptions expired, tls12, tls13, foreign;
    expired.expiredCertificate = true;
    tls12.maxVersion = foreign.maxVersion = TLS1_2_VERSION;
    tls12.cipherList = "ECDHE-ECDSA-CHACHA20-POLY1305";
    tls13.minVersion = TLS1_3_VERSION;
    tls13.cipherSuites = "TLS_AES_256_GCM_SHA384";
    foreign.cipherList = "ECDHE-ECDSA-NULL-SHA:@SECLEVEL=0";  // no encryption: outside our list
    const TlsServerOptions servers[] = {expired, tls12, tls13, foreign};
    for (const TlsServerOptions& options : servers) {
        const bool fails = &options == &servers[3];
        TlsServer server(options, echoHandler());
        ASSERT_TRUE(server.ok());
        Attempt a;
        const std::string reply = fetch(a, server.port(), "gemini://localhost/page");
        EXPECT_EQ(a.connected, fails ? 0 : 1);
        EXPECT_STREQ(a.error.errorText, fails ? HANDSHAKE_FAILED : "");
        EXPECT_EQ(a.error.errorKind, fails ? FETCH_NETWORK_ERROR : 0);
        EXPECT_EQ(reply, fails ? "" : pageFor("gemini://localhost/page\r\n"));
        EXPECT_EQ(a.lastRead, 0);  // a clean end, not an error
        EXPECT_TRUE(!fails || server.base().waitForEvent("handshake failed"));
        EXPECT_EQ(server.handshakesCompleted(), fails ? 0 : 1);
    }
}

TEST_F(TlsTest, ShowsStepsAndSendsTheLowercasedHostAsServerName) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    Attempt parsed;
    ASSERT_FALSE(fetch(parsed, server.port(), "gemini://Capsule.EXAMPLE:1965/page").empty());
    EXPECT_EQ(server.lastServerName(), "capsule.example");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"SSL context...", "SSL new...", "SSL connect..."}));
    Attempt a;  // a record filled by hand is lowercased too
    std::strcpy(a.request.url, "gemini://MiXeD.Host/");
    std::strcpy(a.request.host, "MiXeD.Host");
    std::strcpy(a.request.path, "/");
    ASSERT_FALSE(fetch(a, server.port(), nullptr).empty());
    EXPECT_EQ(server.lastServerName(), "mixed.host");
}

TEST_F(TlsTest, PresentsTheIdentityWhoseScopeMatches) {
    ASSERT_TRUE(createIdentity("localhost", "/private/", "Private Person"));
    ASSERT_TRUE(createIdentity("elsewhere", "/", "Someone Else"));
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer server(options, echoHandler());
    ASSERT_TRUE(server.ok());
    const struct {
        const char* url;
        const char* commonName;
    } cases[] = {
        {"gemini://localhost/private/page", "Private Person"},
        {"gemini://localhost/private", ""},
        {"gemini://elsewhere/any/page", "Someone Else"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Attempt a;
        ASSERT_FALSE(fetch(a, server.port(), c.url).empty());
        EXPECT_EQ(server.lastPeerCommonName(), c.commonName);
    }
}

TEST_F(TlsTest, ReportsUnreadableIdentityFilesAndClosesSafely) {
    const struct {
        bool removeCert;
        bool removeKey;
        const char* keyText;  // replaces the key file when not null
        const char* expected;
    } cases[] = {
        {false, true, nullptr, NO_KEY_FILE},
        {true, false, nullptr, NO_CERT_FILE},
        {true, true, nullptr, NO_CERT_FILE},
        {false, false, "not a key\n", NO_KEY_FILE},
    };
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        freeIdentities();
        ASSERT_TRUE(createIdentity("localhost", "/", "Farlander"));
        const IdentityRecord* identity = findIdentity("localhost", "/");
        ASSERT_NE(identity, nullptr);
        ASSERT_TRUE(!c.removeCert || removeFile(identity->certPath));
        ASSERT_TRUE(!c.removeKey || removeFile(identity->keyPath));
        ASSERT_TRUE(!c.keyText || writeFileAtomic(identity->keyPath, c.keyText, 0600));
        headlessReset();
        Attempt a;
        EXPECT_EQ(open(a, server.port(), "gemini://localhost/any/page"), 0);
        EXPECT_STREQ(a.error.errorText, c.expected);
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

TEST_F(TlsTest, StopBeforeTheHandshakeSkipsIt) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    {
        Attempt a;
        a.stop = true;
        EXPECT_EQ(open(a, server.port(), "gemini://localhost/"), 0);
        EXPECT_EQ(a.error.errorKind, 0);
        EXPECT_EQ(currentStatus(), "SSL connect...");
    }
    EXPECT_TRUE(server.base().waitForEvent("handshake failed"));
    EXPECT_EQ(server.handshakesCompleted(), 0);
}

TEST_F(TlsTest, BreakInterruptsAHandshakeThatGetsNoAnswer) {
    int port = 0;
    SocketHandle listener(netListenLoopback(&port));  // accepts in the kernel, never answers
    ASSERT_TRUE(listener.valid());
    Attempt a;
    std::thread breaker = breakLater(100);
    EXPECT_EQ(open(a, port, "gemini://localhost/"), 0);
    breaker.join();
    EXPECT_STREQ(a.error.errorText, HANDSHAKE_FAILED);
    EXPECT_EQ(a.error.errorKind, FETCH_NETWORK_ERROR);
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);  // left pending for the caller
}

TEST_F(TlsTest, BreakInterruptsAReadThatGetsNoAnswer) {
    TlsServer server({}, [](TlsServerConnection& connection) {
        connection.readLine();
        connection.readLine();  // waits until the client goes or the server stops
    });
    ASSERT_TRUE(server.ok());
    Attempt a;
    ASSERT_EQ(open(a, server.port(), "gemini://localhost/"), 1);
    ASSERT_EQ(tlsWrite(a.tls, "x\r\n", 3, breakFd), 3);
    std::thread breaker = breakLater(100);
    char buffer[64];
    EXPECT_LT(tlsRead(a.tls, buffer, sizeof buffer, breakFd), 0);
    breaker.join();
    EXPECT_LT(tlsRead(a.tls, buffer, sizeof buffer, breakFd), 0);  // still pending: fails at once
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
}

TEST_F(TlsTest, ReadsRepliesWhateverTheirPacing) {
    std::string big = "20 text/plain\r\n";
    for (int i = 0; big.size() < 100000; ++i)
        big += "line " + std::to_string(i) + "\n";
    const struct {
        size_t piece;
        int pauseMs;
        bool abrupt;  // no close_notify at the end
    } cases[] = {{3, 0, false}, {0, 0, true}, {7000, 2, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.piece);
        const std::string reply = c.piece == 3 ? pageFor("short\r\n") : big;
        TlsServer server({}, [&](TlsServerConnection& connection) {
            connection.readLine();
            connection.writeSlowly(reply, c.piece, c.pauseMs);
            if (c.abrupt) connection.closeAbruptly();
        });
        ASSERT_TRUE(server.ok());
        Attempt a;
        EXPECT_EQ(fetch(a, server.port(), "gemini://localhost/"), reply);
        EXPECT_EQ(a.lastRead, 0);
    }
}

TEST(NetInitTest, ReplacesInvalidProxySettings) {
    const std::string longest(62, 'p'), tooLong(63, 'q'), proxy("proxy.example");
    const struct {
        std::string host;
        int32_t port;
        std::string expectedHost;
        int32_t expectedPort;
    } cases[] = {
        {proxy, 0, "localhost", 19650},
        {proxy, 65536, "localhost", 19650},
        {tooLong, 1965, "localhost", 19650},
        {longest, 1965, longest, 1965},
        {"", 1965, "", 1965},  // an empty host with a valid port stays
        {proxy, 1, proxy, 1},
        {proxy, 65535, proxy, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
        Settings record;
        std::memcpy(record.gemProxyHost, c.host.c_str(), c.host.size() + 1);
        record.gemProxyPort = c.port;
        EXPECT_TRUE(netInit(record));
        EXPECT_EQ(std::string(record.gemProxyHost), c.expectedHost);
        EXPECT_EQ(record.gemProxyPort, c.expectedPort);
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
