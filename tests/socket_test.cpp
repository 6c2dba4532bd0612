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

// Only loopback names are ever looked up or contacted here.

// A lookup that waits until the test opens the gate, then asks the system.
std::mutex gateMutex;
std::condition_variable gateChanged;
bool gateOpen = false;

NetResult gatedLookup(const char* host, int port, std::vector<NetAddress>* out) {
    {
        std::unique_lock lock(gateMutex);
        gateChanged.wait(lock, [] { return gateOpen; });
    }
    return netSystemLookup(host, port, out);
}

void setGate(bool open) {
    {
        std::lock_guard lock(gateMutex);
        gateOpen = open;
    }
    gateChanged.notify_all();
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

void setScript(std::vector<std::pair<std::string, int>> addresses) {
    std::lock_guard lock(scriptMutex);
    script = std::move(addresses);
}

int breakFd() {
    return taskBreakDescriptor(taskCurrent());
}

bool waitForLookups() {
    for (int i = 0; i < 5000 && netPendingLookups() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return netPendingLookups() == 0;
}

// Sends the break to the calling task from another task after a short pause.
TaskHandle breakLater(int delayMs) {
    return taskCreate("breaker", [target = taskCurrent(), delayMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        taskSendSignal(target, TASK_BREAK_MASK);
    });
}

struct Listener {
    int port = 0;  // before fd: the constructor of fd fills it
    SocketHandle fd;
    explicit Listener(bool ipv6 = false) : fd(netListenLoopback(&port, ipv6)) {}
};

int closedPort() {
    Listener gone;
    return gone.port;
}

// A connected pair over 127.0.0.1.
struct Pair {
    Listener listener;
    SocketHandle client{netConnect("127.0.0.1", listener.port, -1, 5000, nullptr)};
    SocketHandle server{netAccept(listener.fd.get(), -1, 5000)};
};

// Runs each call, which returns true when it failed as it should, and checks the reason.
void expectFailures(const std::vector<std::pair<const char*, std::function<bool(NetResult*)>>>& calls,
                    NetResult expected) {
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        NetResult why = NET_OK;
        EXPECT_TRUE(call(&why));
        EXPECT_EQ(why, expected);
    }
}

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
    for (const bool ipv6 : {false, true}) {
        SCOPED_TRACE(ipv6);
        Listener listener(ipv6);
        if (!listener.fd) {
            ASSERT_TRUE(ipv6) << "no IPv4 loopback listener";
            continue;  // no IPv6 here
        }
        NetResult why = NET_ERROR;
        SocketHandle client(netConnect(ipv6 ? "::1" : "localhost", listener.port, breakFd(), 5000, &why));
        ASSERT_TRUE(client);
        EXPECT_EQ(why, NET_OK);
        SocketHandle server(netAccept(listener.fd.get(), breakFd(), 5000, &why));
        ASSERT_TRUE(server);
        const std::string request = "gemini://localhost/\r\n";
        EXPECT_EQ(netSend(client.get(), request.data(), request.size(), breakFd(), &why),
                  static_cast<long>(request.size()));
        std::string got;
        char buffer[8];
        long n;
        while (got.size() < request.size() &&
               (n = netReceive(server.get(), buffer, sizeof buffer, breakFd(), &why, 5000)) > 0)
            got.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(got, request);
        EXPECT_EQ(netSend(server.get(), "20 ok", 5, breakFd()), 5);
        server.reset();
        got.clear();
        while ((n = netReceive(client.get(), buffer, sizeof buffer, breakFd(), &why, 5000)) > 0)
            got.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(n, 0);
        EXPECT_EQ(why, NET_CLOSED);
        EXPECT_EQ(got, "20 ok");
    }
}

TEST_F(NetSocket, FailuresAreReported) {
    const int closed = closedPort();
    const struct {
        const char* host;
        int port;
        NetResult expect;
    } cases[] = {
        {"127.0.0.1", closed, NET_CONNECT_FAILED},
        {"no-such-host.invalid", 1965, NET_LOOKUP_FAILED},
        {"", 1965, NET_LOOKUP_FAILED},
        {nullptr, 1965, NET_LOOKUP_FAILED},
        {"127.0.0.1", 0, NET_ERROR},
        {"127.0.0.1", 65536, NET_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        NetResult why = NET_OK;
        EXPECT_EQ(netConnect(c.host, c.port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why), -1);
        EXPECT_EQ(why, c.expect);
    }
}

TEST_F(NetSocket, AddressesAreTriedInOrder) {
    Listener first;
    Listener second;
    ASSERT_TRUE(first.fd);
    ASSERT_TRUE(second.fd);
    const int closed = closedPort();
    const struct {
        const char* name;
        std::vector<std::pair<std::string, int>> addresses;
        const Listener* expect;
    } cases[] = {
        {"first answers", {{"127.0.0.1", first.port}, {"127.0.0.1", second.port}}, &first},
        {"refused, then the next", {{"127.0.0.1", closed}, {"127.0.0.1", second.port}}, &second},
        {"IPv6 refused, then IPv4", {{"::1", closed}, {"127.0.0.1", first.port}}, &first},
        {"all refused", {{"127.0.0.1", closed}, {"::1", closed}}, nullptr},
    };
    netSetLookupFunction(scriptedLookup);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setScript(c.addresses);
        NetResult why = NET_OK;
        SocketHandle client(netConnect("scripted.invalid", 1965, breakFd(), 5000, &why));
        EXPECT_EQ(client.valid(), c.expect != nullptr);
        EXPECT_EQ(why, c.expect ? NET_OK : NET_CONNECT_FAILED);
        for (const Listener* l : {&first, &second}) {
            SocketHandle accepted(netAccept(l->fd.get(), -1, l == c.expect ? 5000 : 0));
            EXPECT_EQ(accepted.valid(), l == c.expect);
        }
    }
    // A lookup keeps the resolver's order.
    setScript({{"::1", 70}, {"127.0.0.1", 71}});
    std::vector<NetAddress> found;
    ASSERT_EQ(netLookup("scripted.invalid", 1965, breakFd(), 5000, &found), NET_OK);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(netAddressText(found[0]) + " " + std::to_string(netAddressPort(found[0])), "::1 70");
    EXPECT_EQ(netAddressText(found[1]) + " " + std::to_string(netAddressPort(found[1])), "127.0.0.1 71");
}

TEST_F(NetSocket, PendingBreakStopsEveryCall) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    ASSERT_TRUE(pair.server);
    ASSERT_EQ(netSend(pair.server.get(), "x", 1, -1), 1);  // the client could read at once
    taskSendSignal(taskCurrent(), TASK_BREAK_MASK);
    char buffer[16];
    std::vector<NetAddress> found;
    const int client = pair.client.get();
    expectFailures(
        {
            {"receive", [&](NetResult* why) { return netReceive(client, buffer, 16, breakFd(), why) == -1; }},
            {"send", [&](NetResult* why) { return netSend(client, "y", 1, breakFd(), why) == -1; }},
            {"wait readable", [&](NetResult* why) { return !netWaitReadable(client, breakFd(), -1, why); }},
            {"wait writable", [&](NetResult* why) { return !netWaitWritable(client, breakFd(), -1, why); }},
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
        },
        NET_BROKEN);
    // The break stays pending for the task to see; once cleared, the data is there.
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    EXPECT_EQ(netReceive(client, buffer, sizeof buffer, breakFd()), 1);
}

TEST_F(NetSocket, BreakEndsABlockingReceiveOrLookup) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    TaskHandle breaker = breakLater(50);
    char buffer[64];
    NetResult why = NET_OK;
    EXPECT_EQ(netReceive(pair.client.get(), buffer, sizeof buffer, breakFd(), &why), -1);
    EXPECT_EQ(why, NET_BROKEN);
    ASSERT_TRUE(taskJoin(breaker));
    taskClearSignals(TASK_BREAK_MASK);

    setGate(false);
    netSetLookupFunction(gatedLookup);
    breaker = breakLater(50);
    EXPECT_EQ(netConnect("localhost", pair.listener.port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why), -1);
    EXPECT_EQ(why, NET_BROKEN);
    ASSERT_TRUE(taskJoin(breaker));
    // The abandoned lookup now finishes on its own and frees what it shared.
    EXPECT_EQ(netPendingLookups(), 1);
    setGate(true);
    EXPECT_TRUE(waitForLookups());
}

TEST_F(NetSocket, TimeOuts) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    setGate(false);
    netSetLookupFunction(gatedLookup);
    char buffer[16];
    std::vector<NetAddress> found;
    const int client = pair.client.get();
    const int port = pair.listener.port;
    expectFailures(
        {
            {"connect (stuck in the lookup)",
             [&](NetResult* why) { return netConnect("localhost", port, breakFd(), 50, why) == -1; }},
            {"lookup",
             [&](NetResult* why) {
                 *why = netLookup("localhost", port, breakFd(), 20, &found);
                 return found.empty();
             }},
            {"receive",
             [&](NetResult* why) { return netReceive(client, buffer, 16, breakFd(), why, 20) == -1; }},
            {"wait readable", [&](NetResult* why) { return !netWaitReadable(client, breakFd(), 20, why); }},
            {"accept, only looking",
             [&](NetResult* why) { return netAccept(pair.listener.fd.get(), breakFd(), 0, why) == -1; }},
        },
        NET_TIMEOUT);
    EXPECT_TRUE(netWaitWritable(client, breakFd(), 0));
}

TEST_F(NetSocket, LargeTransferSurvivesFullBuffers) {
    Pair pair;
    ASSERT_TRUE(pair.client);
    ASSERT_TRUE(pair.server);
    std::vector<unsigned char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131 + (i >> 12));
    long sent = 0;
    TaskHandle sender = taskCreate("sender", [&data, &sent, serverFd = pair.server.release()] {
        SocketHandle own(serverFd);
        sent = netSend(own.get(), data.data(), data.size(), taskBreakDescriptor(taskCurrent()));
    });
    ASSERT_TRUE(sender);
    std::vector<unsigned char> got;
    unsigned char buffer[4096];
    NetResult why = NET_OK;
    long n;
    while ((n = netReceive(pair.client.get(), buffer, sizeof buffer, breakFd(), &why, 10000)) > 0)
        got.insert(got.end(), buffer, buffer + n);
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
    EXPECT_EQ(netConnectAddresses({}, -1, 100, &why), -1);
    EXPECT_EQ(why, NET_CONNECT_FAILED);
    EXPECT_EQ(netAddressText(NetAddress{}), "");
    EXPECT_EQ(netAddressPort(NetAddress{}), -1);
    netClose(-1);
}

TEST_F(NetSocket, NoDescriptorLeaks) {
    Listener listener;
    ASSERT_TRUE(listener.fd);
    ASSERT_TRUE(waitForLookups());
    auto openDescriptors = [] {
        auto entries = std::filesystem::directory_iterator("/proc/self/fd");
        return std::distance(begin(entries), end(entries));
    };
    const auto before = openDescriptors();
    int failures = 0;
    for (int i = 0; i < 100; ++i) {
        SocketHandle client(netConnect("127.0.0.1", listener.port, breakFd(), 5000, nullptr));
        SocketHandle server(netAccept(listener.fd.get(), breakFd(), 5000));
        SocketHandle moved = std::move(server);
        if (!client || !moved || netSend(client.get(), "q", 1, breakFd()) != 1) ++failures;
    }
    // Failed and abandoned lookups give their descriptors back as well.
    netConnect("no-such-host.invalid", 1965, breakFd(), 5000, nullptr);
    setGate(false);
    netSetLookupFunction(gatedLookup);
    netConnect("localhost", listener.port, breakFd(), 0, nullptr);
    setGate(true);
    ASSERT_TRUE(waitForLookups());
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
