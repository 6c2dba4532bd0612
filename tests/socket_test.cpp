#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/task.h"
#include "support/servers.h"

namespace {

// Only loopback names are ever looked up or contacted here.

// The lookup the tests install: held while the gate is shut, then answering from the script (loopback
// addresses, whatever the name) or, without one, from the system.
std::mutex lookupMutex;
std::condition_variable gateChanged;
bool gateOpen = true;
std::vector<std::pair<std::string, int>> script;

NetResult testLookup(const char* host, int port, std::vector<NetAddress>* out) {
    std::unique_lock lock(lookupMutex);
    gateChanged.wait(lock, [] { return gateOpen; });
    const auto addresses = script;
    lock.unlock();
    if (addresses.empty()) return netSystemLookup(host, port, out);
    out->clear();
    for (const auto& [address, addressPort] : addresses) {
        std::vector<NetAddress> one;
        if (netSystemLookup(address.c_str(), addressPort, &one) != NET_OK) return NET_LOOKUP_FAILED;
        out->insert(out->end(), one.begin(), one.end());
    }
    return NET_OK;
}

void useTestLookup(bool open, std::vector<std::pair<std::string, int>> addresses = {}) {
    {
        std::lock_guard lock(lookupMutex);
        gateOpen = open;
        script = std::move(addresses);
    }
    gateChanged.notify_all();
    netSetLookupFunction(testLookup);
}

int breakFd() {
    return taskBreakDescriptor(taskCurrent());
}

bool waitForLookups() {
    for (int i = 0; i < 5000 && netPendingLookups() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return netPendingLookups() == 0;
}

// Reads until the peer closes or want bytes came; *why tells how it ended.
std::string receiveAll(int fd, NetResult* why, size_t want = SIZE_MAX) {
    std::string got;
    char buffer[4096];
    long n;
    while (got.size() < want && (n = netReceive(fd, buffer, sizeof buffer, breakFd(), why, 10000)) > 0)
        got.append(buffer, static_cast<size_t>(n));
    return got;
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

long openDescriptors() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<long>(std::distance(begin(entries), end(entries)));
}

// Every test ends with as many descriptors open as it began with: sockets, refused connections, failed
// and abandoned lookups all give theirs back.
class NetSocket : public testing::Test {
  protected:
    void SetUp() override {
        taskClearSignals(TASK_BREAK_MASK);
        ASSERT_TRUE(waitForLookups());  // lookups left by tests before still hold descriptors
        descriptorsBefore = openDescriptors();
    }
    void TearDown() override {
        useTestLookup(true);
        EXPECT_TRUE(waitForLookups());
        netSetLookupFunction(nullptr);
        taskClearSignals(TASK_BREAK_MASK);
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
    }
    long descriptorsBefore = 0;
};

// A request one way, a reply larger than the socket buffers the other, then the peer goes.
TEST_F(NetSocket, ExchangesOverLoopbackUntilThePeerGoes) {
    std::string reply(1 << 20, '\0');
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i * 131 + (i >> 12));
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
        EXPECT_EQ(receiveAll(server.get(), &why, request.size()), request);
        long sent = 0;
        TaskHandle sender = taskCreate("sender", [&reply, &sent, serverFd = server.release()] {
            SocketHandle own(serverFd);
            sent = netSend(own.get(), reply.data(), reply.size(), taskBreakDescriptor(taskCurrent()));
        });
        ASSERT_TRUE(sender);
        EXPECT_TRUE(receiveAll(client.get(), &why) == reply);
        ASSERT_TRUE(taskJoin(sender));
        EXPECT_EQ(why, NET_CLOSED);
        EXPECT_EQ(sent, static_cast<long>(reply.size()));
        // Sending to the gone peer fails; SIGPIPE would end the test program here.
        long n = 0;
        for (int i = 0; i < 1000 && n >= 0; ++i)
            n = netSend(client.get(), reply.data(), 65536, breakFd(), &why);
        EXPECT_EQ(n, -1);
        EXPECT_EQ(why, NET_CLOSED);
    }
}

TEST_F(NetSocket, FailuresAreReported) {
    const int closed = closedPort();
    const std::tuple<const char*, int, NetResult> cases[] = {
        // clang-format off
        {"127.0.0.1", closed, NET_CONNECT_FAILED}, {"no-such-host.invalid", 1965, NET_LOOKUP_FAILED},
        {"", 1965, NET_LOOKUP_FAILED}, {nullptr, 1965, NET_LOOKUP_FAILED},
        {"127.0.0.1", 0, NET_ERROR}, {"127.0.0.1", 65536, NET_ERROR},
        // clang-format on
    };
    NetResult why = NET_OK;
    for (const auto& [host, port, expect] : cases) {
        SCOPED_TRACE(port);
        EXPECT_EQ(netConnect(host, port, breakFd(), NET_CONNECT_TIMEOUT_MS, &why), -1);
        EXPECT_EQ(why, expect);
    }
    char buffer[4];
    EXPECT_EQ(netReceive(-1, buffer, sizeof buffer, -1, &why), -1);
    EXPECT_EQ(why, NET_ERROR);
    EXPECT_EQ(netConnectAddresses({}, -1, 100, &why), -1);
    EXPECT_EQ(why, NET_CONNECT_FAILED);
    EXPECT_EQ(netAddressText(NetAddress{}) + std::to_string(netAddressPort(NetAddress{})), "-1");
    netClose(-1);
}

TEST_F(NetSocket, AddressesAreTriedInOrder) {
    Listener first, second;
    ASSERT_TRUE(first.fd && second.fd);
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useTestLookup(true, c.addresses);
        NetResult why = NET_OK;
        SocketHandle client(netConnect("scripted.invalid", 1965, breakFd(), 5000, &why));
        EXPECT_EQ(client.valid(), c.expect != nullptr);
        EXPECT_EQ(why, c.expect ? NET_OK : NET_CONNECT_FAILED);
        for (const Listener* l : {&first, &second}) {
            SocketHandle accepted(netAccept(l->fd.get(), -1, l == c.expect ? 5000 : 0));
            EXPECT_EQ(accepted.valid(), l == c.expect);
        }
        // A lookup keeps the resolver's order, each address with its own port.
        std::vector<NetAddress> found;
        std::string got, want;
        EXPECT_EQ(netLookup("scripted.invalid", 1965, breakFd(), 5000, &found), NET_OK);
        for (const NetAddress& a : found)
            got += netAddressText(a) + " " + std::to_string(netAddressPort(a)) + ";";
        for (const auto& [host, port] : c.addresses)
            want += host + " " + std::to_string(port) + ";";
        EXPECT_EQ(got, want);
    }
}

// Each call runs out of time (nothing to read or accept, the lookup held at the gate), fails at once on a
// pending break even with data waiting, and is ended by a break sent while it blocks.
TEST_F(NetSocket, TimeOutsAndBreaksStopEveryCall) {
    Listener listener;
    SocketHandle connected(netConnect("127.0.0.1", listener.port, -1, 5000, nullptr));
    SocketHandle server(netAccept(listener.fd.get(), -1, 5000));
    ASSERT_TRUE(connected && server);
    char buffer[16];
    std::vector<NetAddress> found, stalledAddress;
    const int client = connected.get(), port = listener.port;
    struct Call {
        const char* name;
        int timeoutMs;  // -1: the call cannot block here
        std::function<bool(int timeoutMs, NetResult* why)> fails;
    };
    std::vector<Call> calls = {
        {"receive", 20,
         [&](int ms, NetResult* why) { return netReceive(client, buffer, 16, breakFd(), why, ms) == -1; }},
        {"wait readable", 20,
         [&](int ms, NetResult* why) { return !netWaitReadable(client, breakFd(), ms, why); }},
        {"accept, only looking", 0,
         [&](int ms, NetResult* why) { return netAccept(listener.fd.get(), breakFd(), ms, why) == -1; }},
        {"connect (stuck in the lookup)", 50,
         [&](int ms, NetResult* why) { return netConnect("localhost", port, breakFd(), ms, why) == -1; }},
        {"lookup", 20,
         [&](int ms, NetResult* why) {
             *why = netLookup("localhost", port, breakFd(), ms, &found);
             return found.empty();
         }},
        {"send", -1, [&](int, NetResult* why) { return netSend(client, "y", 1, breakFd(), why) == -1; }},
        {"wait writable", -1,
         [&](int ms, NetResult* why) { return !netWaitWritable(client, breakFd(), ms, why); }},
    };
    // A connect that the listener's full queue leaves pending, where the system allows one.
    StalledListener stalled;
    if (stalled.ok()) {
        ASSERT_EQ(netSystemLookup("127.0.0.1", stalled.port(), &stalledAddress), NET_OK);
        calls.push_back({"connect (pending)", 20, [&](int ms, NetResult* why) {
                             return netConnectAddresses(stalledAddress, breakFd(), ms, why) == -1;
                         }});
    }
    useTestLookup(false);
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        NetResult why = NET_OK;
        EXPECT_TRUE(call.timeoutMs < 0 || call.fails(call.timeoutMs, &why));
        EXPECT_EQ(why, call.timeoutMs < 0 ? NET_OK : NET_TIMEOUT);
    }
    EXPECT_TRUE(netWaitWritable(client, breakFd(), 0));

    useTestLookup(true);
    ASSERT_TRUE(waitForLookups());
    ASSERT_EQ(netSend(server.get(), "x", 1, -1), 1);  // the client could read at once
    taskSendSignal(taskCurrent(), TASK_BREAK_MASK);
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        NetResult why = NET_OK;
        EXPECT_TRUE(call.fails(5000, &why));
        EXPECT_EQ(why, NET_BROKEN);
    }
    // The break stays pending for the task to see; once cleared, the data is there.
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    EXPECT_EQ(netReceive(client, buffer, sizeof buffer, breakFd()), 1);

    ASSERT_TRUE(waitForLookups());
    useTestLookup(false);
    for (const auto& call : calls) {
        if (call.timeoutMs < 0) continue;
        SCOPED_TRACE(call.name);
        TaskHandle breaker = taskCreate("breaker", [target = taskCurrent()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            taskSendSignal(target, TASK_BREAK_MASK);
        });
        NetResult why = NET_OK;
        EXPECT_TRUE(call.fails(10000, &why));
        EXPECT_EQ(why, NET_BROKEN);
        ASSERT_TRUE(taskJoin(breaker));
        EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    }
    // The abandoned lookups finish on their own once let go, and free what they shared.
    EXPECT_EQ(netPendingLookups(), 2);
    useTestLookup(true);
    EXPECT_TRUE(waitForLookups());
}

}  // namespace
