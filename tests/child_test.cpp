// The network thread and its hand-shake with the GUI (this test's thread): fetches,
// the download hand-over, Stop at every blocking step, quitting mid-fetch, and that
// nothing leaks across many fetches.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/child.h"
#include "net/exchange.h"
#include "platform/socket.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "url/url.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 60000;  // generous: the machine may be loaded

// Watches the status line from any thread.
class StatusWatch {
  public:
    StatusWatch() {
        ShellBackend backend;
        backend.showStatus = [this](const std::string& text) {
            {
                std::lock_guard lock(mutex_);
                texts_.push_back(text);
            }
            changed_.notify_all();
        };
        shellInstallBackend(std::move(backend));
    }
    ~StatusWatch() { shellInstallBackend(ShellBackend{}); }
    bool waitFor(const std::string& text, bool prefix = false) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            for (const std::string& t : texts_) {
                if (prefix ? t.rfind(text, 0) == 0 : t == text) return true;
            }
            return false;
        });
    }
    bool waitForPrefix(const std::string& text) { return waitFor(text, true); }
    std::vector<std::string> texts() {
        std::lock_guard lock(mutex_);
        return texts_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
};

// Starts the network task for one test and always stops it again.
class ChildTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(settings.gemProxyHost, 0, sizeof settings.gemProxyHost);
        settings.useGemProxy = 0;
        settings.gemProxyAll = 0;
        settings.gemProxyPort = 19650;
        std::snprintf(settings.gemProxyHost, sizeof settings.gemProxyHost, "%s", "127.0.0.1");
        ASSERT_TRUE(childInit());
        ASSERT_TRUE(childWaitReady());
    }
    void TearDown() override {
        childCleanUp();
        settings.useGemProxy = 0;
    }

    static void useProxy(int port) {
        settings.useGemProxy = 1;
        settings.gemProxyAll = 1;
        settings.gemProxyPort = port;
    }
    static bool start(const std::string& url, std::unique_ptr<NetBuffer> body = nullptr) {
        UrlRecord record;
        if (parseUrl(url.c_str(), record) != 1) return false;
        if (body) record.data = std::move(body);
        return childStartFetch(std::move(record));
    }
    // Waits for any of mask; 0 after the time-out.
    static uint32_t waitChild(uint32_t mask) { return taskWaitSignalsFor(mask, kWaitMs); }
    // Waits until the pending fetch is done, answering a hand-over with answer.
    static bool finish(const std::string& answer = "") {
        for (;;) {
            uint32_t got = waitChild(childSignals().done | childSignals().download);
            if (got == 0) return false;
            if ((got & childSignals().download) && childDownloadPending()) childAnswerDownload(answer);
            if ((got & childSignals().done) && childTakeDone()) return true;
        }
    }
    static std::string result() {
        const FetchExchange& exchange = fetchExchange();
        return exchange.result ? std::string(exchange.result, exchange.resultLength) : std::string("(none)");
    }
};

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

TEST(ChildLifecycle, CleanUpWithoutInitAndTwice) {
    childCleanUp();
    ASSERT_TRUE(childInit());
    EXPECT_TRUE(childWaitReady());
    EXPECT_TRUE(childRunning());
    EXPECT_TRUE(fetchExchange().networkAvailable.load());
    ChildSignals signals = childSignals();
    EXPECT_NE(signals.ready, 0u);
    EXPECT_EQ(__builtin_popcount(signals.all()), 4);
    childCleanUp();
    EXPECT_FALSE(childRunning());
    EXPECT_EQ(childSignals().all(), 0u);
    childCleanUp();
    EXPECT_FALSE(childStartFetch(UrlRecord{}));
}

TEST_F(ChildTest, PageThroughTheNetworkTask) {
    TestServer server(fingerHandler());
    ASSERT_TRUE(start(local("finger", server.port(), "/ann")));
    EXPECT_TRUE(childFetchPending());
    EXPECT_FALSE(start(local("finger", server.port(), "/bob")));  // one fetch at a time
    ASSERT_TRUE(finish());
    EXPECT_FALSE(childFetchPending());
    EXPECT_EQ(fetchExchange().status, FETCH_PAGE);
    EXPECT_EQ(result(), "Login: ann\r\nPlan: none\r\n");
    // The GUI takes the block over.
    std::unique_ptr<char[]> taken = std::move(fetchExchange().resultBlock);
    EXPECT_STREQ(taken.get(), "Login: ann\r\nPlan: none\r\n");
}

TEST_F(ChildTest, ProxySettingsAreCopiedWhenTheFetchStarts) {
    TestServer proxy(proxyHandler("gemini://example.org/\r\n", "20 text/gemini\r\nvia proxy"));
    useProxy(proxy.port());
    ASSERT_TRUE(start("gemini://example.org/"));
    // Changing the live settings now must not change the running fetch.
    settings.gemProxyPort = 1;
    settings.useGemProxy = 0;
    ASSERT_TRUE(finish());
    EXPECT_EQ(result(), "20 text/gemini\r\nvia proxy");
}

TEST_F(ChildTest, RequestBodyIsFreedAfterEveryFetch) {
    int closedPort = 0;
    { SocketHandle listener(netListenLoopback(&closedPort)); }
    TestServer server(spartanEchoHandler());
    struct Case {
        std::string url;
        int32_t status;
    };
    const Case cases[] = {{local("spartan", server.port(), "/form?a%20b"), FETCH_PAGE},
                          {local("spartan", closedPort, "/form?a%20b"), FETCH_NETWORK_ERROR}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        ASSERT_TRUE(start(c.url));
        ASSERT_TRUE(finish());
        EXPECT_EQ(fetchExchange().status, c.status);
        EXPECT_EQ(fetchExchange().request.data, nullptr);
    }
}

TEST_F(ChildTest, DownloadHandOver) {
    fs::path target = fs::temp_directory_path() / "farlander-child-download.bin";
    struct Case {
        const char* name;
        std::string answer;
        bool fileExpected;
    };
    const Case cases[] = {{"accepted", target.string(), true}, {"declined", "", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(target);
        TestServer server(nexHandler());
        ASSERT_TRUE(start(local("nex", server.port(), "/pic.gif")));
        ASSERT_TRUE(finish(c.answer));
        EXPECT_EQ(fetchExchange().status, FETCH_DOWNLOAD);
        EXPECT_EQ(fetchExchange().result, nullptr);
        EXPECT_TRUE(fetchExchange().downloadName.empty());
        EXPECT_EQ(fs::exists(target), c.fileExpected);
        if (c.fileExpected) {
            EXPECT_TRUE(readWholeFile(target.string()) == testBinary(9000, 7));
        }
    }
    fs::remove(target);
    EXPECT_FALSE(childAnswerDownload("/tmp/late"));  // no hand-over waits now
}

// ---- Stop ----

std::mutex lookupMutex;
std::condition_variable lookupChanged;
bool lookupEntered = false;
bool lookupReleased = false;

NetResult slowLookup(const char*, int, std::vector<NetAddress>*) {
    std::unique_lock lock(lookupMutex);
    lookupEntered = true;
    lookupChanged.notify_all();
    lookupChanged.wait_for(lock, std::chrono::milliseconds(kWaitMs), [] { return lookupReleased; });
    return NET_LOOKUP_FAILED;
}

enum StopPoint { STOP_LOOKUP, STOP_CONNECT, STOP_HANDSHAKE, STOP_RECEIVE, STOP_HAND_OVER };

struct StopCase {
    const char* name;
    StopPoint point;
};

class ChildStop : public ChildTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ChildStop, EndsWithUserStop) {
    const StopCase& c = GetParam();
    StatusWatch watch;
    // Serves the stalled fetch (header sent, then held open) and then the next one.
    TestServer server([](TestConnection& connection) {
        std::string line = connection.readLine();
        if (line.find("/next") != std::string::npos) {
            connection.send("20 text/gemini\r\nnext page");
            return;
        }
        connection.send(line.find("/pic") != std::string::npos ? "20 image/png\r\nPNG"
                                                               : "20 text/gemini\r\npart");
        connection.server().markEvent("sent");
        connection.holdUntilClosed();
    });
    TestServer silent([](TestConnection& connection) {
        connection.server().markEvent("accepted");
        connection.holdUntilClosed();
    });
    std::unique_ptr<StalledListener> stalled;
    switch (c.point) {
        case STOP_LOOKUP: {
            std::lock_guard lock(lookupMutex);
            lookupEntered = false;
            lookupReleased = false;
            netSetLookupFunction(slowLookup);
            ASSERT_TRUE(start("finger://slow.example/x"));
            break;
        }
        case STOP_CONNECT:
            stalled = std::make_unique<StalledListener>();
            if (!stalled->ok()) GTEST_SKIP() << "this system completes connects to a full queue";
            ASSERT_TRUE(start(local("finger", stalled->port(), "/x")));
            break;
        case STOP_HANDSHAKE:
            if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
            ASSERT_TRUE(start(local("gemini", silent.port(), "/")));
            break;
        case STOP_RECEIVE:
            useProxy(server.port());
            ASSERT_TRUE(start("gemini://example.org/page"));
            break;
        case STOP_HAND_OVER:
            useProxy(server.port());
            ASSERT_TRUE(start("gemini://example.org/pic"));
            break;
    }
    // Wait until the fetch blocks where this case wants it.
    switch (c.point) {
        case STOP_LOOKUP: {
            std::unique_lock lock(lookupMutex);
            ASSERT_TRUE(lookupChanged.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                               [] { return lookupEntered; }));
            break;
        }
        case STOP_CONNECT:
            ASSERT_TRUE(watch.waitFor("Connecting..."));
            break;
        case STOP_HANDSHAKE:
            ASSERT_TRUE(silent.waitForEvent("accepted"));
            ASSERT_TRUE(watch.waitFor("SSL connect..."));
            break;
        case STOP_RECEIVE:
            ASSERT_TRUE(server.waitForEvent("sent"));
            break;
        case STOP_HAND_OVER:
            ASSERT_NE(waitChild(childSignals().download), 0u);
            EXPECT_TRUE(childDownloadPending());
            break;
    }
    disableGuiBeforePageLoad();
    sendChildBreak();
    EXPECT_FALSE(childFetchPending());
    EXPECT_FALSE(childDownloadPending());
    EXPECT_FALSE(guiLocked());
    EXPECT_EQ(currentStatus(), "Stopped");
    EXPECT_EQ(fetchExchange().status, FETCH_ERROR);
    EXPECT_EQ(result(), "User stop");
    EXPECT_FALSE(fetchExchange().stopRequested.load());
    EXPECT_EQ(childBreakCount(), 1u);

    if (c.point == STOP_LOOKUP) {
        {
            std::lock_guard lock(lookupMutex);
            lookupReleased = true;
        }
        lookupChanged.notify_all();
        netSetLookupFunction(nullptr);
    }
    // No break is left over to cut the next fetch short.
    useProxy(server.port());
    ASSERT_TRUE(start("gemini://example.org/next"));
    ASSERT_TRUE(finish());
    EXPECT_EQ(fetchExchange().status, FETCH_PAGE);
    EXPECT_EQ(result(), "20 text/gemini\r\nnext page");
}

INSTANTIATE_TEST_SUITE_P(ChildAt, ChildStop,
                         ::testing::Values(StopCase{"lookup", STOP_LOOKUP}, StopCase{"connect", STOP_CONNECT},
                                           StopCase{"handshake", STOP_HANDSHAKE},
                                           StopCase{"receive", STOP_RECEIVE},
                                           StopCase{"handover", STOP_HAND_OVER}),
                         [](const ::testing::TestParamInfo<StopCase>& param) { return param.param.name; });

// Sends a page header, marks "sent" and keeps the connection open: a fetch blocked in
// its receive.
void headerThenHold(TestConnection& connection) {
    connection.readLine();
    connection.send("20 text/gemini\r\n");
    connection.server().markEvent("sent");
    connection.holdUntilClosed();
}

TEST_F(ChildTest, StopTwiceSendsOneBreak) {
    TestServer server(headerThenHold);
    useProxy(server.port());
    ASSERT_TRUE(start("gemini://example.org/"));
    ASSERT_TRUE(server.waitForEvent("sent"));
    sendChildBreak();
    sendChildBreak();
    EXPECT_EQ(childBreakCount(), 1u);
    EXPECT_EQ(result(), "User stop");
    // Stop while nothing is pending only resets the controls.
    sendChildBreak();
    EXPECT_EQ(childBreakCount(), 1u);
    EXPECT_EQ(currentStatus(), "Stopped");
}

TEST_F(ChildTest, StopAfterTheFetchFinishedTakesItsDone) {
    TestServer server(fingerHandler());
    ASSERT_TRUE(start(local("finger", server.port(), "/x")));
    ASSERT_TRUE(server.waitForConnections(1));
    // Let the done signal arrive without taking it: the fetch is finished but still pending.
    ASSERT_NE(waitChild(childSignals().done), 0u);
    taskSendSignal(taskCurrent(), childSignals().done);
    sendChildBreak();
    EXPECT_FALSE(childFetchPending());
    // A done from the break's own wake-up belongs to nothing.
    ASSERT_TRUE(start(local("finger", server.port(), "/y")));
    ASSERT_TRUE(finish());
    EXPECT_EQ(result(), "Login: y\r\nPlan: none\r\n");
}

TEST_F(ChildTest, QuitDuringBlockingReceiveEndsWithExit) {
    TestServer server(headerThenHold);
    useProxy(server.port());
    ASSERT_TRUE(start("gemini://example.org/"));
    ASSERT_TRUE(server.waitForEvent("sent"));
    childRequestQuit();
    uint32_t seen = 0;
    while (!(seen & childSignals().exit)) {
        uint32_t got = waitChild(childSignals().done | childSignals().exit);
        ASSERT_NE(got, 0u);
        seen |= got;
    }
    EXPECT_TRUE(seen & childSignals().done);
    EXPECT_FALSE(childRunning());
    EXPECT_TRUE(childTakeDone());
    EXPECT_EQ(fetchExchange().status, FETCH_NETWORK_ERROR);
    EXPECT_EQ(result(), "Network error: Error receiving page");
}

TEST_F(ChildTest, QuitDuringHandOverEndsWithExit) {
    TestServer server([](TestConnection& connection) {
        connection.readLine();
        connection.send("20 application/zip\r\nZIP");
        connection.holdUntilClosed();
    });
    useProxy(server.port());
    ASSERT_TRUE(start("gemini://example.org/a.zip"));
    ASSERT_NE(waitChild(childSignals().download), 0u);
    childRequestQuit();
    uint32_t seen = 0;
    while (!(seen & childSignals().exit)) {
        uint32_t got = waitChild(childSignals().done | childSignals().exit);
        ASSERT_NE(got, 0u);
        seen |= got;
    }
    EXPECT_TRUE(childTakeDone());
    EXPECT_EQ(fetchExchange().status, FETCH_DOWNLOAD);  // declined
}

TEST_F(ChildTest, StopDuringSlowTlsDownloadAfterProgress) {
    if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
    StatusWatch watch;
    // 30 MB, paced: the Stop comes long before the end.
    TlsServer server(TlsServerOptions{}, [](TlsServerConnection& connection) {
        connection.readLine();
        std::string body = "20 application/octet-stream\r\n" + testBinary(30 * 1000 * 1000, 2);
        connection.writeSlowly(body, 65536, 20);
    });
    ASSERT_TRUE(server.ok());
    fs::path target = fs::temp_directory_path() / "farlander-child-slow.bin";
    ASSERT_TRUE(start(local("gemini", server.port(), "/big")));
    ASSERT_NE(waitChild(childSignals().download), 0u);
    ASSERT_TRUE(childAnswerDownload(target.string()));
    // The first progress text comes with the first chunk past 64 KiB.
    ASSERT_TRUE(watch.waitForPrefix("Bytes: "));
    sendChildBreak();
    EXPECT_EQ(fetchExchange().status, FETCH_ERROR);
    EXPECT_EQ(result(), "User stop");
    auto size = fs::file_size(target);
    EXPECT_LT(size, 30u * 1000 * 1000);
    fs::remove(target);
}

// Lookup workers close their descriptors as they finish.
bool lookupsFinished() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (netPendingLookups() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    return netPendingLookups() == 0;
}

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        count++;
    return count;
}

TEST_F(ChildTest, NoDescriptorLeaksAcrossManyFetches) {
    constexpr int kFetches = 1000;
    TestServer server(fingerHandler());
    TestServer proxy([](TestConnection& connection) {
        connection.readLine();
        connection.send("51 Not found\r\n");
    });
    fs::path target = fs::temp_directory_path() / "farlander-child-leak.bin";
    // Warm up once so that lazily made descriptors are counted on both sides.
    ASSERT_TRUE(start(local("finger", server.port(), "/warm")));
    ASSERT_TRUE(finish());
    ASSERT_TRUE(server.waitForConnections(1));
    ASSERT_TRUE(lookupsFinished());
    size_t before = openDescriptors();
    for (int i = 0; i < kFetches; ++i) {
        switch (i % 4) {
            case 0:
            case 1:
                ASSERT_TRUE(start(local("finger", server.port(), "/u" + std::to_string(i))));
                break;
            case 2:
                ASSERT_TRUE(start(local("spartan", 1, "/q?body")));  // refused, with a body
                break;
            case 3:
                useProxy(proxy.port());
                ASSERT_TRUE(start("gemini://example.org/missing"));
                settings.useGemProxy = 0;
                break;
        }
        ASSERT_TRUE(finish(target.string()));
        fetchExchange().resultBlock.reset();
    }
    ASSERT_TRUE(server.waitForConnections(1 + kFetches / 2));
    ASSERT_TRUE(proxy.waitForConnections(kFetches / 4));
    EXPECT_TRUE(lookupsFinished());
    EXPECT_EQ(openDescriptors(), before);
    headlessReset();
}

}  // namespace
