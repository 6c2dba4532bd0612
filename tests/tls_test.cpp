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

namespace fs = std::filesystem;

constexpr const char* HANDSHAKE_FAILED = "Network error: could not establish SSL connection";
constexpr const char* NO_CERT_FILE = "Could not read identity public certificate file";
constexpr const char* NO_KEY_FILE = "Could not read identity private key file";

// Answers one request line with a Gemini page that quotes it.
std::string pageFor(const std::string& requestLine) {
    return "20 text/gemini\r\nrequest: " + requestLine;
}

TlsHandler echoHandler() {
    return [](TlsServerConnection& connection) { connection.write(pageFor(connection.readLine())); };
}

struct FetchOutcome {
    int connected = 0;
    std::string reply;
    long lastRead = 0;
    FetchError error;
};

class TlsTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("FARLANDER_HOME");
        savedHome = old ? old : "";
        home = testing::TempDir() + "farlander-tls-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        fs::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
        freeIdentities();
        headlessReset();
        self = taskCurrent();
        breakFd = taskBreakDescriptor(self);
        taskClearSignals(TASK_BREAK_MASK);
    }
    void TearDown() override {
        taskClearSignals(TASK_BREAK_MASK);
        freeIdentities();
        headlessReset();
        setEnvironment("FARLANDER_HOME", savedHome);
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }

    // Connects to the loopback port, runs the TLS set-up for url, sends the request
    // line and reads until the end.
    FetchOutcome fetch(int port, const char* url) {
        UrlRecord request;
        EXPECT_EQ(parseUrl(url, request), 1) << url;
        return fetchRecord(port, request);
    }

    FetchOutcome fetchRecord(int port, const UrlRecord& request) {
        FetchOutcome out;
        SocketHandle socket(netConnect("127.0.0.1", port, breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
        EXPECT_TRUE(socket.valid());
        TlsConnection tls;
        std::atomic<bool> stop{false};
        out.connected = tlsConnect(tls, socket.get(), request, out.error, breakFd, stop);
        if (out.connected == 1) {
            std::string line = std::string(request.url) + "\r\n";
            EXPECT_EQ(tlsWrite(tls, line.data(), line.size(), breakFd), static_cast<long>(line.size()));
            char buffer[4096];
            while ((out.lastRead = tlsRead(tls, buffer, sizeof buffer, breakFd)) > 0) {
                out.reply.append(buffer, static_cast<size_t>(out.lastRead));
            }
        }
        tlsClose(tls);
        return out;
    }

    // Sends the break to this test's task after delayMs, from another thread.
    std::thread breakLater(int delayMs) {
        return std::thread([task = self, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            taskSendSignal(task, TASK_BREAK_MASK);
        });
    }

    std::string home;
    std::string savedHome;
    TaskHandle self;
    int breakFd = -1;
};

TEST_F(TlsTest, AcceptsServersWhateverTheirCertificate) {
    struct Case {
        const char* what;
        TlsServerOptions options;
    };
    TlsServerOptions expired;
    expired.expiredCertificate = true;
    TlsServerOptions tls12;
    tls12.maxVersion = TLS1_2_VERSION;
    tls12.cipherList = "ECDHE-ECDSA-CHACHA20-POLY1305";
    TlsServerOptions tls13;
    tls13.minVersion = TLS1_3_VERSION;
    tls13.cipherSuites = "TLS_AES_256_GCM_SHA384";
    const Case cases[] = {
        {"self-signed", TlsServerOptions{}},
        {"expired", expired},
        {"TLS 1.2 ChaCha20", tls12},
        {"TLS 1.3 AES-256", tls13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsServer server(c.options, echoHandler());
        ASSERT_TRUE(server.ok());
        FetchOutcome out = fetch(server.port(), "gemini://localhost/page");
        EXPECT_EQ(out.connected, 1);
        EXPECT_EQ(out.error.errorKind, 0);
        EXPECT_EQ(out.reply, pageFor("gemini://localhost/page\r\n"));
        EXPECT_EQ(out.lastRead, 0);  // a clean end, not an error
    }
}

TEST_F(TlsTest, ShowsTheSetUpStepsInTheStatusLine) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    headlessReset();
    ASSERT_EQ(fetch(server.port(), "gemini://localhost/").connected, 1);
    std::vector<std::string> shown;
    for (const ShellCall& call : headlessCalls()) {
        if (call.what == ShellCall::STATUS) shown.push_back(call.body);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"SSL context...", "SSL new...", "SSL connect..."}));
}

TEST_F(TlsTest, SendsTheLowercasedHostAsServerName) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    struct Case {
        const char* url;
        const char* expected;
    };
    const Case parsed[] = {
        {"gemini://Capsule.EXAMPLE:1965/page", "capsule.example"},
        {"gemini://localhost/", "localhost"},
        {"https://WWW.Example.org/x", "www.example.org"},
    };
    for (const Case& c : parsed) {
        SCOPED_TRACE(c.url);
        ASSERT_EQ(fetch(server.port(), c.url).connected, 1);
        EXPECT_EQ(server.lastServerName(), c.expected);
    }
    // A record filled by hand is lowercased too.
    UrlRecord record;
    std::strcpy(record.url, "gemini://MiXeD.Host/");
    std::strcpy(record.host, "MiXeD.Host");
    std::strcpy(record.path, "/");
    ASSERT_EQ(fetchRecord(server.port(), record).connected, 1);
    EXPECT_EQ(server.lastServerName(), "mixed.host");
}

TEST_F(TlsTest, FailsAgainstAServerWithOnlyForeignCiphers) {
    TlsServerOptions options;
    options.maxVersion = TLS1_2_VERSION;
    options.cipherList = "ECDHE-ECDSA-NULL-SHA:@SECLEVEL=0";  // no encryption: outside our list
    TlsServer server(options, echoHandler());
    ASSERT_TRUE(server.ok());
    FetchOutcome out = fetch(server.port(), "gemini://localhost/");
    EXPECT_EQ(out.connected, 0);
    EXPECT_STREQ(out.error.errorText, HANDSHAKE_FAILED);
    EXPECT_EQ(out.error.errorKind, FETCH_NETWORK_ERROR);
    EXPECT_TRUE(server.base().waitForEvent("handshake failed"));
    EXPECT_EQ(server.handshakesCompleted(), 0);
}

TEST_F(TlsTest, PresentsTheIdentityWhoseScopeMatches) {
    ASSERT_TRUE(createIdentity("localhost", "/private/", "Private Person"));
    ASSERT_TRUE(createIdentity("elsewhere", "/", "Someone Else"));
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer server(options, echoHandler());
    ASSERT_TRUE(server.ok());
    struct Case {
        const char* url;
        const char* commonName;
    };
    const Case cases[] = {
        {"gemini://localhost/private/page", "Private Person"},
        {"gemini://localhost/private/", "Private Person"},
        {"gemini://localhost/private", ""},
        {"gemini://localhost/public", ""},
        {"gemini://elsewhere/any/page", "Someone Else"},
        {"gemini://Elsewhere/", "Someone Else"},  // the parser lowercases the host
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        FetchOutcome out = fetch(server.port(), c.url);
        ASSERT_EQ(out.connected, 1);
        EXPECT_EQ(server.lastPeerCommonName(), c.commonName);
    }
}

TEST_F(TlsTest, ReportsUnreadableIdentityFiles) {
    struct Case {
        const char* what;
        bool removeCert;
        bool removeKey;
        const char* keyText;  // replaces the key file when not null
        const char* expected;
    };
    const Case cases[] = {
        {"key file deleted", false, true, nullptr, NO_KEY_FILE},
        {"certificate deleted", true, false, nullptr, NO_CERT_FILE},
        {"both deleted", true, true, nullptr, NO_CERT_FILE},
        {"key file not PEM", false, false, "not a key\n", NO_KEY_FILE},
    };
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freeIdentities();
        ASSERT_TRUE(createIdentity("localhost", "/", "Farlander"));
        const IdentityRecord* identity = findIdentity("localhost", "/");
        ASSERT_NE(identity, nullptr);
        if (c.removeCert) {
            ASSERT_TRUE(removeFile(identity->certPath));
        }
        if (c.removeKey) {
            ASSERT_TRUE(removeFile(identity->keyPath));
        }
        if (c.keyText) {
            ASSERT_TRUE(writeFileAtomic(identity->keyPath, c.keyText, 0600));
        }
        headlessReset();
        FetchOutcome out = fetch(server.port(), "gemini://localhost/any/page");
        EXPECT_EQ(out.connected, 0);
        EXPECT_STREQ(out.error.errorText, c.expected);
        EXPECT_EQ(out.error.errorKind, FETCH_ERROR);
        // No connection object was made after the context.
        std::vector<std::string> shown;
        for (const ShellCall& call : headlessCalls())
            shown.push_back(call.body);
        EXPECT_EQ(shown, std::vector<std::string>{"SSL context..."});
    }
}

TEST_F(TlsTest, StopBeforeTheHandshakeSkipsIt) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    UrlRecord request;
    ASSERT_EQ(parseUrl("gemini://localhost/", request), 1);
    SocketHandle socket(netConnect("127.0.0.1", server.port(), breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
    ASSERT_TRUE(socket.valid());
    TlsConnection tls;
    FetchError error;
    std::atomic<bool> stop{true};
    EXPECT_EQ(tlsConnect(tls, socket.get(), request, error, breakFd, stop), 0);
    EXPECT_EQ(error.errorKind, 0);
    EXPECT_EQ(currentStatus(), "SSL connect...");
    tlsClose(tls);
    socket.reset();
    EXPECT_TRUE(server.base().waitForEvent("handshake failed"));
    EXPECT_EQ(server.handshakesCompleted(), 0);
}

TEST_F(TlsTest, BreakInterruptsAHandshakeThatGetsNoAnswer) {
    int port = 0;
    SocketHandle listener(netListenLoopback(&port));  // accepts in the kernel, never answers
    ASSERT_TRUE(listener.valid());
    UrlRecord request;
    ASSERT_EQ(parseUrl("gemini://localhost/", request), 1);
    SocketHandle socket(netConnect("127.0.0.1", port, breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
    ASSERT_TRUE(socket.valid());
    TlsConnection tls;
    FetchError error;
    std::atomic<bool> stop{false};
    std::thread breaker = breakLater(100);
    EXPECT_EQ(tlsConnect(tls, socket.get(), request, error, breakFd, stop), 0);
    breaker.join();
    EXPECT_STREQ(error.errorText, HANDSHAKE_FAILED);
    EXPECT_EQ(error.errorKind, FETCH_NETWORK_ERROR);
    // The break stays pending for the caller to clear.
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
}

TEST_F(TlsTest, BreakInterruptsAReadThatGetsNoAnswer) {
    TlsServer server({}, [](TlsServerConnection& connection) {
        connection.readLine();
        connection.readLine();  // waits until the client goes or the server stops
    });
    ASSERT_TRUE(server.ok());
    UrlRecord request;
    ASSERT_EQ(parseUrl("gemini://localhost/", request), 1);
    SocketHandle socket(netConnect("127.0.0.1", server.port(), breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
    TlsConnection tls;
    FetchError error;
    std::atomic<bool> stop{false};
    ASSERT_EQ(tlsConnect(tls, socket.get(), request, error, breakFd, stop), 1);
    ASSERT_EQ(tlsWrite(tls, "x\r\n", 3, breakFd), 3);
    std::thread breaker = breakLater(100);
    char buffer[64];
    EXPECT_LT(tlsRead(tls, buffer, sizeof buffer, breakFd), 0);
    breaker.join();
    // With the break still pending, writes and reads fail at once.
    EXPECT_LT(tlsRead(tls, buffer, sizeof buffer, breakFd), 0);
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
}

TEST_F(TlsTest, ReadsRepliesWhateverTheirPacing) {
    std::string big;
    for (int i = 0; big.size() < 100000; ++i)
        big += "line " + std::to_string(i) + "\n";
    struct Case {
        const char* what;
        size_t piece;
        int pauseMs;
        bool abrupt;  // no close_notify at the end
    };
    const Case cases[] = {
        {"at once", 0, 0, false},
        {"in 3-byte pieces", 3, 0, false},
        {"paced", 5000, 5, false},
        {"ends without close_notify", 0, 0, true},
        {"paced, ends without close_notify", 7000, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string reply = c.piece == 3 ? pageFor("short\r\n") : "20 text/plain\r\n" + big;
        TlsServer server({}, [&](TlsServerConnection& connection) {
            connection.readLine();
            connection.writeSlowly(reply, c.piece, c.pauseMs);
            if (c.abrupt) connection.closeAbruptly();
        });
        ASSERT_TRUE(server.ok());
        FetchOutcome out = fetch(server.port(), "gemini://localhost/");
        ASSERT_EQ(out.connected, 1);
        EXPECT_EQ(out.lastRead, 0);
        EXPECT_EQ(out.reply, reply);
    }
}

TEST_F(TlsTest, ClosingIsSafeInEveryState) {
    TlsConnection never;
    tlsClose(never);
    tlsClose(never);
    char buffer[8];
    EXPECT_EQ(tlsRead(never, buffer, sizeof buffer, breakFd), -1);
    EXPECT_EQ(tlsWrite(never, "x", 1, breakFd), -1);

    // A failed set-up leaves the context behind; closing frees it, twice is harmless.
    ASSERT_TRUE(createIdentity("localhost", "/", "Farlander"));
    ASSERT_TRUE(removeFile(findIdentity("localhost", "/")->keyPath));
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    UrlRecord request;
    ASSERT_EQ(parseUrl("gemini://localhost/", request), 1);
    SocketHandle socket(netConnect("127.0.0.1", server.port(), breakFd, NET_CONNECT_TIMEOUT_MS, nullptr));
    TlsConnection failed;
    FetchError error;
    std::atomic<bool> stop{false};
    EXPECT_EQ(tlsConnect(failed, socket.get(), request, error, breakFd, stop), 0);
    EXPECT_TRUE(failed.context);
    tlsClose(failed);
    EXPECT_FALSE(failed.context);
    EXPECT_FALSE(failed.session);
    tlsClose(failed);
}

TEST_F(TlsTest, ManyHandshakesInARow) {
    TlsServer server({}, echoHandler());
    ASSERT_TRUE(server.ok());
    constexpr int ROUNDS = 200;
    int good = 0;
    for (int i = 0; i < ROUNDS; ++i) {
        FetchOutcome out = fetch(server.port(), "gemini://localhost/");
        if (out.connected == 1 && out.reply == pageFor("gemini://localhost/\r\n")) ++good;
    }
    EXPECT_EQ(good, ROUNDS);
    EXPECT_TRUE(server.base().waitForEvent("handshake", ROUNDS));
    EXPECT_EQ(server.handshakesFailed(), 0);
}

TEST(NetInitTest, ReplacesInvalidProxySettings) {
    const std::string longest(62, 'p');
    const std::string tooLong(63, 'q');
    struct Case {
        std::string host;
        int32_t port;
        std::string expectedHost;
        int32_t expectedPort;
    };
    const Case cases[] = {
        {"proxy.example", 0, "localhost", 19650},
        {"proxy.example", 65536, "localhost", 19650},
        {"proxy.example", -1, "localhost", 19650},
        {tooLong, 1965, "localhost", 19650},
        {longest, 1965, longest, 1965},
        {"", 1965, "", 1965},  // an empty host with a valid port stays
        {"proxy.example", 1, "proxy.example", 1},
        {"proxy.example", 65535, "proxy.example", 65535},
    };
    for (const Case& c : cases) {
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
    struct Case {
        const char* value;
        bool usable;
    };
    const Case cases[] = {{"1", false}, {"", true}, {"0", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setEnvironment("FARLANDER_NO_TLS", c.value);
        EXPECT_EQ(sslInit(), c.usable);
        EXPECT_EQ(sslReady(), c.usable);
        sslCleanUp();
        EXPECT_FALSE(sslReady());
        sslCleanUp();
    }
    setEnvironment("FARLANDER_NO_TLS", saved);
}

}  // namespace
