#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/task.h"

namespace {

using Clock = std::chrono::steady_clock;

// Only loopback names are ever looked up or contacted here.

// A lookup that waits until the test opens the gate, then asks the system.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
};
Gate gate;

NetResult gatedLookup(const char* host, int port, std::vector<NetAddress>* out) {
    {
        std::unique_lock lock(gate.mutex);
        gate.cv.wait(lock, [] { return gate.open; });
    }
    return netSystemLookup(host, port, out);
}

void setGate(bool open) {
    {
        std::lock_guard lock(gate.mutex);
        gate.open = open;
    }
    gate.cv.notify_all();
}

// A lookup that answers with a fixed list of loopback addresses, whatever the name.
std::mutex scriptMutex;
std::vector<std::pair<std::string, int>> script;

NetResult scriptedLookup(const char*, int, std::vector<NetAddress>* out) {
    std::lock_guard lock(scriptMutex);
    out->clear();
    for (const auto& [host, port] : script) {
        std::vector<NetAddress> one;
        if (netSystemLookup(host.c_str(), port, &one) != NET_OK) return NET_LOOKUP_FAILED;
        out->insert(out->end(), one.begin(), one.end());
    }
    return out->empty() ? NET_LOOKUP_FAILED : NET_OK;
}

int breakFd() {
    return taskBreakDescriptor(taskCurrent());
}

bool waitForLookups() {
    for (int i = 0; i < 5000 && netPendingLookups() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return netPendingLookups() == 0;
}

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sends the break to the calling task from another task after a short pause.
TaskHandle breakLater(int delayMs) {
    TaskHandle target = taskCurrent();
    return taskCreate("breaker", [target, delayMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        taskSendSignal(target, TASK_BREAK_MASK);
    });
}

struct Listener {
    int port = 0;  // before fd: the constructor of fd fills it
    SocketHandle fd;
    explicit Listener(bool ipv6 = false) : fd(netListenLoopback(&port, ipv6)) {}
};

// A connected pair over 127.0.0.1.
struct Pair {
    Listener listener;
    SocketHandle client;
    SocketHandle server;
    Pair() {
        NetResult why = NET_ERROR;
        client.reset(netConnect("127.0.0.1", listener.port, -1, 5000, &why));
        server.reset(netAccept(listener.fd.get(), -1, 5000));
    }
};

class NetSocket : public testing::Test {
  protected:
    void SetUp() override { taskClearSignals(TASK_BREAK_MASK); }
    void TearDown() override {
        setGate(true);
        EXPECT_TRUE(waitForLookups());
        netSetLookupFunction(nullptr);
        taskClearSignals(TASK_BREAK_MASK);
    }
};

TEST_F(NetSocket, ConnectsAndTalksOverLoopback) {
    const struct {
        const char* host;
        bool ipv6;
    } cases[] = {{"127.0.0.1", false}, {"localhost", false}, {"::1", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        Listener listener(c.ipv6);
        if (!listener.fd) {
            ASSERT_TRUE(c.ipv6) << "no IPv4 loopback listener";
            continue;  // no IPv6 here
        }
        NetResult why = NET_ERROR;
        SocketHandle client(netConnect(c.host, listener.port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why));
        ASSERT_TRUE(client);
        EXPECT_EQ(why, NET_OK);
        SocketHandle server(netAccept(listener.fd.get(), breakFd(), 5000, &why));
        ASSERT_TRUE(server);

        const char request[] = "gemini://localhost/\r\n";
        EXPECT_EQ(netSend(client.get(), request, std::strlen(request), breakFd(), &why),
                  static_cast<long>(std::strlen(request)));
        std::string got;
        char buffer[8];
        while (got.size() < std::strlen(request)) {
            long n = netReceive(server.get(), buffer, sizeof buffer, breakFd(), &why, 5000);
            ASSERT_GT(n, 0);
            got.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(got, request);

        EXPECT_EQ(netSend(server.get(), "20 ok", 5, breakFd()), 5);
        server.reset();
        got.clear();
        long n;
        while ((n = netReceive(client.get(), buffer, sizeof buffer, breakFd(), &why, 5000)) > 0) {
            got.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(n, 0);
        EXPECT_EQ(why, NET_CLOSED);
        EXPECT_EQ(got, "20 ok");
    }
}

TEST_F(NetSocket, FailuresAreReported) {
    int closedPort = 0;
    {
        Listener gone;
        ASSERT_TRUE(gone.fd);
        closedPort = gone.port;
    }
    const struct {
        const char* name;
        const char* host;
        int port;
        NetResult expect;
    } cases[] = {
        {"closed port", "127.0.0.1", closedPort, NET_CONNECT_FAILED},
        {"name that does not exist", "no-such-host.invalid", 1965, NET_LOOKUP_FAILED},
        {"empty name", "", 1965, NET_LOOKUP_FAILED},
        {"no name", nullptr, 1965, NET_LOOKUP_FAILED},
        {"port 0", "127.0.0.1", 0, NET_ERROR},
        {"port too large", "127.0.0.1", 65536, NET_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetResult why = NET_OK;
        auto start = Clock::now();
        EXPECT_EQ(netConnect(c.host, c.port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why), -1);
        EXPECT_EQ(why, c.expect);
        if (c.expect == NET_CONNECT_FAILED) {
            EXPECT_LT(secondsSince(start), 2.0);
        }
    }
}

TEST_F(NetSocket, AddressesAreTriedInOrder) {
    Listener first;
    Listener second;
    Listener ipv6(true);
    ASSERT_TRUE(first.fd);
    ASSERT_TRUE(second.fd);
    int closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port;
    }
    const struct {
        const char* name;
        std::vector<std::pair<std::string, int>> addresses;
        const Listener* expect;
    } cases[] = {
        {"first answers", {{"127.0.0.1", first.port}, {"127.0.0.1", second.port}}, &first},
        {"refused, then the next", {{"127.0.0.1", closedPort}, {"127.0.0.1", second.port}}, &second},
        {"IPv6 refused, then IPv4", {{"::1", closedPort}, {"127.0.0.1", first.port}}, &first},
        {"IPv6 first", {{"::1", ipv6.port}, {"127.0.0.1", first.port}}, &ipv6},
        {"all refused", {{"127.0.0.1", closedPort}, {"::1", closedPort}}, nullptr},
    };
    netSetLookupFunction(scriptedLookup);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expect == &ipv6 && !ipv6.fd) continue;
        {
            std::lock_guard lock(scriptMutex);
            script = c.addresses;
        }
        NetResult why = NET_OK;
        SocketHandle client(netConnect("scripted.invalid", 1965, breakFd(), 5000, &why));
        EXPECT_EQ(client.valid(), c.expect != nullptr);
        EXPECT_EQ(why, c.expect ? NET_OK : NET_CONNECT_FAILED);
        for (const Listener* l : {&first, &second, &ipv6}) {
            if (!l->fd) continue;
            SocketHandle accepted(netAccept(l->fd.get(), -1, l == c.expect ? 5000 : 0));
            EXPECT_EQ(accepted.valid(), l == c.expect);
        }
    }
}

TEST_F(NetSocket, LookupKeepsTheResolverOrder) {
    netSetLookupFunction(scriptedLookup);
    {
        std::lock_guard lock(scriptMutex);
        script = {{"::1", 70}, {"127.0.0.1", 71}};
    }
    std::vector<NetAddress> found;
    ASSERT_EQ(netLookup("scripted.invalid", 1965, breakFd(), 5000, &found), NET_OK);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(netAddressText(found[0]), "::1");
    EXPECT_EQ(netAddressPort(found[0]), 70);
    EXPECT_EQ(netAddressText(found[1]), "127.0.0.1");
    EXPECT_EQ(netAddressPort(found[1]), 71);
}

TEST_F(NetSocket, PendingBreakStopsEveryCall) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    ASSERT_TRUE(pair.server);
    ASSERT_EQ(netSend(pair.server.get(), "x", 1, -1), 1);  // the client could read at once
    taskSendSignal(taskCurrent(), TASK_BREAK_MASK);
    char buffer[16];
    std::vector<NetAddress> found;
    const struct {
        const char* name;
        std::function<bool(NetResult*)> call;  // true when the call failed as it should
    } cases[] = {
        {"receive",
         [&](NetResult* why) { return netReceive(pair.client.get(), buffer, 16, breakFd(), why) == -1; }},
        {"send", [&](NetResult* why) { return netSend(pair.client.get(), "y", 1, breakFd(), why) == -1; }},
        {"wait readable",
         [&](NetResult* why) { return !netWaitReadable(pair.client.get(), breakFd(), -1, why); }},
        {"wait writable",
         [&](NetResult* why) { return !netWaitWritable(pair.client.get(), breakFd(), -1, why); }},
        {"accept",
         [&](NetResult* why) { return netAccept(pair.listener.fd.get(), breakFd(), -1, why) == -1; }},
        {"connect",
         [&](NetResult* why) {
             return netConnect("127.0.0.1", pair.listener.port, breakFd(), 5000, why) == -1;
         }},
        {"lookup",
         [&](NetResult* why) {
             *why = netLookup("localhost", 1965, breakFd(), 5000, &found);
             return found.empty();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetResult why = NET_OK;
        EXPECT_TRUE(c.call(&why));
        EXPECT_EQ(why, NET_BROKEN);
    }
    // The break stays pending for the task to see; once cleared, the data is there.
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    EXPECT_EQ(netReceive(pair.client.get(), buffer, sizeof buffer, breakFd()), 1);
}

TEST_F(NetSocket, BreakEndsABlockingReceive) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    auto start = Clock::now();
    TaskHandle breaker = breakLater(50);
    ASSERT_TRUE(breaker);
    char buffer[64];
    NetResult why = NET_OK;
    EXPECT_EQ(netReceive(pair.client.get(), buffer, sizeof buffer, breakFd(), &why), -1);
    EXPECT_EQ(why, NET_BROKEN);
    EXPECT_LT(secondsSince(start), 2.0);
    taskJoin(breaker);
}

TEST_F(NetSocket, BreakEndsASlowLookup) {
    Listener listener;
    ASSERT_TRUE(listener.fd);
    setGate(false);
    netSetLookupFunction(gatedLookup);
    auto start = Clock::now();
    TaskHandle breaker = breakLater(50);
    ASSERT_TRUE(breaker);
    NetResult why = NET_OK;
    EXPECT_EQ(netConnect("localhost", listener.port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why), -1);
    EXPECT_EQ(why, NET_BROKEN);
    EXPECT_LT(secondsSince(start), 2.0);
    taskJoin(breaker);
    // The abandoned lookup now finishes on its own and frees what it shared.
    EXPECT_EQ(netPendingLookups(), 1);
    setGate(true);
    EXPECT_TRUE(waitForLookups());
}

TEST_F(NetSocket, TimeOuts) {
    Listener listener;
    ASSERT_TRUE(listener.fd);
    Pair pair;
    ASSERT_TRUE(pair.client);
    setGate(false);
    netSetLookupFunction(gatedLookup);
    char buffer[16];
    std::vector<NetAddress> found;
    const struct {
        const char* name;
        std::function<bool(NetResult*)> call;  // true when the call failed as it should
    } cases[] = {
        {"connect (stuck in the lookup)",
         [&](NetResult* why) { return netConnect("localhost", listener.port, breakFd(), 50, why) == -1; }},
        {"lookup",
         [&](NetResult* why) {
             *why = netLookup("localhost", listener.port, breakFd(), 20, &found);
             return found.empty();
         }},
        {"receive",
         [&](NetResult* why) { return netReceive(pair.client.get(), buffer, 16, breakFd(), why, 20) == -1; }},
        {"wait readable",
         [&](NetResult* why) { return !netWaitReadable(pair.client.get(), breakFd(), 20, why); }},
        {"accept, only looking",
         [&](NetResult* why) { return netAccept(listener.fd.get(), breakFd(), 0, why) == -1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetResult why = NET_OK;
        EXPECT_TRUE(c.call(&why));
        EXPECT_EQ(why, NET_TIMEOUT);
    }
    EXPECT_TRUE(netWaitWritable(pair.client.get(), breakFd(), 0));
}

TEST_F(NetSocket, LargeTransferSurvivesFullBuffers) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    ASSERT_TRUE(pair.server);
    std::vector<unsigned char> data(4 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131 + (i >> 12));
    long sent = 0;
    int serverFd = pair.server.release();
    TaskHandle sender = taskCreate("sender", [&data, &sent, serverFd] {
        SocketHandle own(serverFd);
        sent = netSend(own.get(), data.data(), data.size(), taskBreakDescriptor(taskCurrent()));
    });
    ASSERT_TRUE(sender);
    std::vector<unsigned char> got;
    unsigned char buffer[4096];
    NetResult why = NET_OK;
    long n;
    while ((n = netReceive(pair.client.get(), buffer, sizeof buffer, breakFd(), &why, 10000)) > 0) {
        got.insert(got.end(), buffer, buffer + n);
    }
    ASSERT_TRUE(taskJoin(sender));
    EXPECT_EQ(why, NET_CLOSED);
    EXPECT_EQ(sent, static_cast<long>(data.size()));
    EXPECT_TRUE(got == data);
}

TEST_F(NetSocket, SendingToAGonePeerFailsWithoutSigpipe) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    pair.server.reset();
    NetResult why = NET_OK;
    std::vector<char> block(65536, 'x');
    long n = 0;
    for (int i = 0; i < 1000 && n >= 0; ++i)
        n = netSend(pair.client.get(), block.data(), block.size(), breakFd(), &why);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(why, NET_CLOSED);
}

TEST_F(NetSocket, BadArguments) {
    char buffer[4];
    NetResult why = NET_OK;
    EXPECT_EQ(netReceive(-1, buffer, sizeof buffer, -1, &why), -1);
    EXPECT_EQ(why, NET_ERROR);
    EXPECT_EQ(netSend(-1, "x", 1, -1, &why), -1);
    EXPECT_EQ(why, NET_ERROR);
    EXPECT_FALSE(netWaitReadable(-1, -1, 0, &why));
    EXPECT_EQ(why, NET_ERROR);
    EXPECT_EQ(netConnectAddresses({}, -1, 100, &why), -1);
    EXPECT_EQ(why, NET_CONNECT_FAILED);
    NetAddress empty;
    EXPECT_EQ(netAddressText(empty), "");
    EXPECT_EQ(netAddressPort(empty), -1);
    netClose(-1);
}

TEST_F(NetSocket, NoDescriptorLeaks) {
    Listener listener;
    ASSERT_TRUE(listener.fd);
    ASSERT_TRUE(waitForLookups());
    size_t before = openDescriptors();
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        SocketHandle client(netConnect("127.0.0.1", listener.port, breakFd(), 5000, nullptr));
        SocketHandle server(netAccept(listener.fd.get(), breakFd(), 5000));
        SocketHandle moved = std::move(server);
        if (!client || !moved || netSend(client.get(), "q", 1, breakFd()) != 1) ++failures;
    }
    // Failed and abandoned lookups give their descriptors back as well.
    for (int i = 0; i < 3; ++i) {
        netConnect("no-such-host.invalid", 1965, breakFd(), 5000, nullptr);
    }
    setGate(false);
    netSetLookupFunction(gatedLookup);
    netConnect("localhost", listener.port, breakFd(), 0, nullptr);
    setGate(true);
    ASSERT_TRUE(waitForLookups());
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
