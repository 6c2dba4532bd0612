// The network thread and its hand-shake with the GUI (this test's thread): fetches,
// the download hand-over, Stop at every blocking step, quitting mid-fetch, and that
// nothing leaks across many fetches.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "net/child.h"
#include "net/exchange.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/task.h"
#include "settings/settings.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 60000;  // generous: the machine may be loaded

// Waits until done() holds; false after the time-out.
bool waitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Sends reply, marks "sent" and keeps the connection open: a fetch blocked in its
// receive (or in a hand-over).
ConnectionHandler sendThenHold(std::string reply) {
    return [reply = std::move(reply)](TestConnection& connection) {
        connection.readLine();
        connection.send(reply);
        connection.server().markEvent("sent");
        connection.holdUntilClosed();
    };
}

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

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
    static bool start(const std::string& url) {
        UrlRecord record;
        return parseUrl(url.c_str(), record) == 1 && childStartFetch(std::move(record));
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

TEST(ChildLifecycle, CleanUpWithoutInitAndTwice) {
    childCleanUp();
    ASSERT_TRUE(childInit());
    EXPECT_TRUE(childWaitReady());
    EXPECT_TRUE(childRunning());
    EXPECT_TRUE(fetchExchange().networkAvailable.load());
    childCleanUp();
    EXPECT_FALSE(childRunning());
    EXPECT_EQ(childSignals().all(), 0u);
    childCleanUp();
    EXPECT_FALSE(childStartFetch(UrlRecord{}));
}

TEST_F(ChildTest, PageThroughTheNetworkTask) {
    TestServer proxy(proxyHandler("gemini://example.org/\r\n", "20 text/gemini\r\nvia proxy"));
    useProxy(proxy.port());
    ASSERT_TRUE(start("gemini://example.org/"));
    EXPECT_TRUE(childFetchPending());
    EXPECT_FALSE(start("gemini://example.org/other"));  // one fetch at a time
    // The proxy settings were copied: changing them now must not change the running fetch.
    settings.gemProxyPort = 1;
    settings.useGemProxy = 0;
    ASSERT_TRUE(finish());
    EXPECT_FALSE(childFetchPending());
    EXPECT_EQ(fetchExchange().status, FETCH_PAGE);
    EXPECT_EQ(result(), "20 text/gemini\r\nvia proxy");
    // The GUI takes the block over.
    std::unique_ptr<char[]> taken = std::move(fetchExchange().resultBlock);
    EXPECT_STREQ(taken.get(), "20 text/gemini\r\nvia proxy");
}

TEST_F(ChildTest, DownloadHandOver) {
    const fs::path target = fs::temp_directory_path() / "farlander-child-download.bin";
    for (bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        fs::remove(target);
        TestServer server(nexHandler());
        ASSERT_TRUE(start(local("nex", server.port(), "/pic.gif")));
        ASSERT_TRUE(finish(accept ? target.string() : ""));
        EXPECT_EQ(fetchExchange().status, FETCH_DOWNLOAD);
        EXPECT_EQ(fetchExchange().result, nullptr);
        EXPECT_TRUE(fetchExchange().downloadName.empty());
        EXPECT_EQ(fs::exists(target), accept);
        if (accept) {
            EXPECT_TRUE(readWholeFile(target.string()) == testBinary(9000, 7));
        }
    }
    fs::remove(target);
    EXPECT_FALSE(childAnswerDownload("/tmp/late"));  // no hand-over waits now
}

// ---- Stop ----

// Where the fetch blocks when Stop comes. A break of each blocking call of the socket
// and TLS layers is tested there; here, the receive stands for them, beside the waits
// that this layer adds (the hand-over, a download in progress).
enum StopPoint { STOP_RECEIVE, STOP_HAND_OVER, STOP_PROGRESS };

class ChildStop : public ChildTest, public ::testing::WithParamInterface<StopPoint> {};

TEST_P(ChildStop, EndsWithUserStop) {
    TestServer server(
        sendThenHold(GetParam() == STOP_HAND_OVER ? "20 image/png\r\nPNG" : "20 text/gemini\r\npart"));
    // Start a fetch and wait until it blocks where this case wants it.
    std::unique_ptr<TlsServer> tls;
    const std::string saved = (fs::temp_directory_path() / "farlander-child-slow.bin").string();
    switch (GetParam()) {
        case STOP_RECEIVE:
            useProxy(server.port());
            ASSERT_TRUE(start("gemini://example.org/page"));
            ASSERT_TRUE(server.waitForEvent("sent"));
            break;
        case STOP_HAND_OVER:
            useProxy(server.port());
            ASSERT_TRUE(start("gemini://example.org/pic"));
            ASSERT_NE(waitChild(childSignals().download), 0u);
            EXPECT_TRUE(childDownloadPending());
            break;
        case STOP_PROGRESS:  // a slow TLS download of 30 MB, after its first progress text
            if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
            tls = std::make_unique<TlsServer>(TlsServerOptions{}, [](TlsServerConnection& connection) {
                connection.readLine();
                connection.writeSlowly("20 application/octet-stream\r\n" + testBinary(30 * 1000 * 1000, 2),
                                       65536, 20);
            });
            // The user chose to overwrite a file that is already there.
            std::ofstream(saved, std::ios::binary) << "the old file";
            ASSERT_TRUE(start(local("gemini", tls->port(), "/big")));
            ASSERT_NE(waitChild(childSignals().download), 0u);
            ASSERT_TRUE(childAnswerDownload(saved));
            // The first progress text comes with the first chunk past 64 KiB.
            ASSERT_TRUE(waitUntil([] { return currentStatus().starts_with("Bytes: "); }));
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
    // Stop again, with nothing pending, only resets the controls.
    sendChildBreak();
    EXPECT_EQ(childBreakCount(), 1u);
    EXPECT_EQ(currentStatus(), "Stopped");
    if (GetParam() == STOP_PROGRESS) {
        // A stopped download leaves the old file whole and no part of the new one.
        std::string kept;
        EXPECT_TRUE(readWholeFile(saved, kept));
        EXPECT_EQ(kept, "the old file");
        for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
            EXPECT_EQ(entry.path().filename().string().rfind("farlander-child-slow.bin.", 0),
                      std::string::npos)
                << entry.path();
        fs::remove(saved);
    }
    // No break is left over to cut the next fetch short.
    TestServer next(fixedReplyHandler("20 text/gemini\r\nnext page"));
    useProxy(next.port());
    ASSERT_TRUE(start("gemini://example.org/next"));
    ASSERT_TRUE(finish());
    EXPECT_EQ(fetchExchange().status, FETCH_PAGE);
    EXPECT_EQ(result(), "20 text/gemini\r\nnext page");
}

const char* const kStopNames[] = {"receive", "handover", "progress"};

INSTANTIATE_TEST_SUITE_P(ChildAt, ChildStop, ::testing::Values(STOP_RECEIVE, STOP_HAND_OVER, STOP_PROGRESS),
                         [](const ::testing::TestParamInfo<StopPoint>& param) {
                             return kStopNames[param.param];
                         });

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

// Quitting while a receive blocks (false) or while a hand-over waits for its answer (true).
class ChildQuit : public ChildTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ChildQuit, MidFetchEndsWithExit) {
    const bool handOver = GetParam();
    TestServer server(sendThenHold(handOver ? "20 application/zip\r\nZIP" : "20 text/gemini\r\n"));
    useProxy(server.port());
    ASSERT_TRUE(start("gemini://example.org/"));
    ASSERT_TRUE(server.waitForEvent("sent"));
    ASSERT_TRUE(!handOver || waitChild(childSignals().download) != 0);
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
    // An unanswered hand-over counts as declined.
    EXPECT_EQ(fetchExchange().status, handOver ? FETCH_DOWNLOAD : FETCH_NETWORK_ERROR);
    EXPECT_EQ(result(), handOver ? "(none)" : "Network error: Error receiving page");
}

INSTANTIATE_TEST_SUITE_P(ChildDuring, ChildQuit, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "handover" : "receive");
                         });

size_t openDescriptors() {
    const fs::directory_iterator entries("/proc/self/fd");
    return static_cast<size_t>(std::distance(fs::begin(entries), fs::end(entries)));
}

TEST_F(ChildTest, NothingLeaksAcrossManyFetches) {
    constexpr int kFetches = 1000;
    TestServer finger(fingerHandler());
    TestServer spartan(spartanEchoHandler());
    TestServer proxy(fixedReplyHandler("51 Not found\r\n"));
    const std::string target = (fs::temp_directory_path() / "farlander-child-leak.bin").string();
    // Warm up once so that lazily made descriptors are counted on both sides; lookup
    // workers close theirs as they finish.
    ASSERT_TRUE(start(local("finger", finger.port(), "/warm")));
    ASSERT_TRUE(finish());
    ASSERT_TRUE(finger.waitForConnections(1));
    ASSERT_TRUE(waitUntil([] { return netPendingLookups() == 0; }));
    const size_t before = openDescriptors();
    // A page, a request body answered and refused, a server error through the proxy.
    const int32_t statuses[] = {FETCH_PAGE, FETCH_PAGE, FETCH_NETWORK_ERROR, FETCH_SERVER_ERROR};
    for (int i = 0; i < kFetches; ++i) {
        switch (i % 4) {
            case 0:
                ASSERT_TRUE(start(local("finger", finger.port(), "/u" + std::to_string(i))));
                break;
            case 1:
                ASSERT_TRUE(start(local("spartan", spartan.port(), "/q?body")));
                break;
            case 2:
                ASSERT_TRUE(start(local("spartan", 1, "/q?body")));
                break;
            case 3:
                useProxy(proxy.port());
                ASSERT_TRUE(start("gemini://example.org/missing"));
                settings.useGemProxy = 0;
                break;
        }
        ASSERT_TRUE(finish(target));
        ASSERT_EQ(fetchExchange().status, statuses[i % 4]) << i;
        ASSERT_EQ(fetchExchange().request.data, nullptr) << i;
        fetchExchange().resultBlock.reset();
    }
    ASSERT_TRUE(finger.waitForConnections(1 + kFetches / 4));
    ASSERT_TRUE(spartan.waitForConnections(kFetches / 4));
    ASSERT_TRUE(proxy.waitForConnections(kFetches / 4));
    EXPECT_TRUE(waitUntil([] { return netPendingLookups() == 0; }));
    EXPECT_EQ(openDescriptors(), before);
    headlessReset();
}

}  // namespace
