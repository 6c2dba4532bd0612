#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

Deadline deadlineAfter(int timeoutMs) {
    if (timeoutMs < 0) return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Milliseconds left for poll: -1 without a deadline, rounded up so a wait never ends early.
int remainingMs(const Deadline& deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > 60000 ? 60000 : static_cast<int>(left);
}

void setResult(NetResult* why, NetResult result) {
    if (why) *why = result;
}

bool breakPending(int breakFd) {
    if (breakFd < 0) return false;
    pollfd entry{breakFd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

// Waits for events on fd, the break descriptor or the deadline, whichever comes first.
// A pending break wins over a ready socket. Error and hang-up count as ready: the call
// that follows reports them.
NetResult waitFor(int fd, short events, int breakFd, const Deadline& deadline) {
    if (fd < 0) return NET_ERROR;
    for (;;) {
        pollfd entries[2] = {{fd, events, 0}, {breakFd, POLLIN, 0}};  // poll skips a negative fd
        int timeout = remainingMs(deadline);
        int n = ::poll(entries, 2, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return NET_ERROR;
        }
        if (entries[1].revents & POLLIN) return NET_BROKEN;
        if (entries[0].revents & POLLNVAL) return NET_ERROR;
        if (entries[0].revents & (events | POLLERR | POLLHUP)) return NET_OK;
        if (timeout == 0 || (deadline && Clock::now() >= *deadline)) return NET_TIMEOUT;
    }
}

// The result record one lookup shares with its worker thread.
struct LookupState {
    std::mutex mutex;
    bool done = false;                     // guarded by mutex
    NetResult result = NET_LOOKUP_FAILED;  // guarded by mutex
    std::vector<NetAddress> addresses;     // guarded by mutex
    int doneFd = -1;                       // readable once done

    LookupState() : doneFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~LookupState() {
        if (doneFd >= 0) ::close(doneFd);
    }
    LookupState(const LookupState&) = delete;
    LookupState& operator=(const LookupState&) = delete;
};

std::atomic<NetLookupFunction> lookupFunction{nullptr};
std::atomic<int> pendingLookups{0};

void lookupWorker(std::shared_ptr<LookupState> state, NetLookupFunction lookup, std::string host, int port) {
    std::vector<NetAddress> found;
    NetResult result = NET_ERROR;
    try {
        result = lookup(host.c_str(), port, &found);
    } catch (const std::bad_alloc&) {
        found.clear();
    }
    if (result == NET_OK && found.empty()) result = NET_LOOKUP_FAILED;
    {
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->result = result;
        state->addresses = std::move(found);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(state->doneFd, &one, sizeof one);
    state.reset();  // the record goes here if the caller already gave up
    pendingLookups.fetch_sub(1, std::memory_order_acq_rel);
}

bool validPort(int port) {
    return port > 0 && port <= 65535;
}

// One attempt: NET_OK with *fd set, or why it failed.
NetResult connectOne(const NetAddress& address, int breakFd, const Deadline& deadline, int* fd) {
    if (address.length <= 0 || address.length > static_cast<int>(sizeof(sockaddr_storage))) {
        return NET_CONNECT_FAILED;
    }
    sockaddr_storage target{};
    std::memcpy(&target, address.storage.data(), static_cast<std::size_t>(address.length));
    SocketHandle socketFd(
        ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socketFd) return NET_CONNECT_FAILED;
    if (::connect(socketFd.get(), reinterpret_cast<const sockaddr*>(&target),
                  static_cast<socklen_t>(address.length)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return NET_CONNECT_FAILED;
        NetResult waited = waitFor(socketFd.get(), POLLOUT, breakFd, deadline);
        if (waited != NET_OK) return waited;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socketFd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return NET_CONNECT_FAILED;
        }
    }
    *fd = socketFd.release();
    return NET_OK;
}

int connectUntil(const std::vector<NetAddress>& addresses, int breakFd, const Deadline& deadline,
                 NetResult* why) {
    for (const NetAddress& address : addresses) {
        int fd = -1;
        NetResult result = connectOne(address, breakFd, deadline, &fd);
        if (result == NET_OK) {
            setResult(why, NET_OK);
            return fd;
        }
        if (result != NET_CONNECT_FAILED) {
            setResult(why, result);
            return -1;
        }
        if (breakPending(breakFd)) {
            setResult(why, NET_BROKEN);
            return -1;
        }
    }
    setResult(why, NET_CONNECT_FAILED);
    return -1;
}

NetResult lookupUntil(const char* host, int port, int breakFd, const Deadline& deadline,
                      std::vector<NetAddress>* out) {
    if (out) out->clear();
    if (!out || !host || !*host) return NET_LOOKUP_FAILED;
    if (!validPort(port)) return NET_ERROR;
    if (breakPending(breakFd)) return NET_BROKEN;
    NetLookupFunction lookup = lookupFunction.load(std::memory_order_acquire);
    if (!lookup) lookup = netSystemLookup;
    std::shared_ptr<LookupState> state;
    try {
        state = std::make_shared<LookupState>();
        if (state->doneFd < 0) return NET_ERROR;
        pendingLookups.fetch_add(1, std::memory_order_acq_rel);
        try {
            std::thread(lookupWorker, state, lookup, std::string(host), port).detach();
        } catch (...) {
            pendingLookups.fetch_sub(1, std::memory_order_acq_rel);
            throw;
        }
    } catch (const std::bad_alloc&) {
        return NET_ERROR;
    } catch (const std::system_error&) {
        return NET_ERROR;
    }
    NetResult waited = waitFor(state->doneFd, POLLIN, breakFd, deadline);
    if (waited != NET_OK) return waited;  // the worker finishes alone and frees the record
    std::lock_guard lock(state->mutex);
    if (!state->done) return NET_ERROR;
    *out = std::move(state->addresses);
    return state->result;
}

}  // namespace

std::string netAddressText(const NetAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    sockaddr_storage storage{};
    if (address.length <= 0 || address.length > static_cast<int>(sizeof storage)) return {};
    std::memcpy(&storage, address.storage.data(), static_cast<std::size_t>(address.length));
    if (storage.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &storage, sizeof v4);
        if (inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text)) return text;
    } else if (storage.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &storage, sizeof v6);
        if (inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text)) return text;
    }
    return {};
}

int netAddressPort(const NetAddress& address) {
    sockaddr_storage storage{};
    if (address.length <= 0 || address.length > static_cast<int>(sizeof storage)) return -1;
    std::memcpy(&storage, address.storage.data(), static_cast<std::size_t>(address.length));
    if (storage.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &storage, sizeof v4);
        return ntohs(v4.sin_port);
    }
    if (storage.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &storage, sizeof v6);
        return ntohs(v6.sin6_port);
    }
    return -1;
}

NetResult netSystemLookup(const char* host, int port, std::vector<NetAddress>* out) {
    if (!out) return NET_ERROR;
    out->clear();
    if (!host || !*host) return NET_LOOKUP_FAILED;
    if (!validPort(port)) return NET_ERROR;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* raw = nullptr;
    std::string service = std::to_string(port);
    if (::getaddrinfo(host, service.c_str(), &hints, &raw) != 0) return NET_LOOKUP_FAILED;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(raw, ::freeaddrinfo);
    try {
        for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
            if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
            if (!entry->ai_addr || entry->ai_addrlen == 0 || entry->ai_addrlen > sizeof(sockaddr_storage))
                continue;
            NetAddress address;
            address.family = entry->ai_family;
            address.length = static_cast<int>(entry->ai_addrlen);
            std::memcpy(address.storage.data(), entry->ai_addr, entry->ai_addrlen);
            out->push_back(address);
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return NET_ERROR;
    }
    return out->empty() ? NET_LOOKUP_FAILED : NET_OK;
}

void netSetLookupFunction(NetLookupFunction lookup) {
    lookupFunction.store(lookup, std::memory_order_release);
}

int netPendingLookups() {
    return pendingLookups.load(std::memory_order_acquire);
}

NetResult netLookup(const char* host, int port, int breakFd, int timeoutMs, std::vector<NetAddress>* out) {
    return lookupUntil(host, port, breakFd, deadlineAfter(timeoutMs), out);
}

int netConnectAddresses(const std::vector<NetAddress>& addresses, int breakFd, int timeoutMs,
                        NetResult* why) {
    return connectUntil(addresses, breakFd, deadlineAfter(timeoutMs), why);
}

int netConnect(const char* host, int port, int breakFd, int timeoutMs, NetResult* why) {
    Deadline deadline = deadlineAfter(timeoutMs);
    std::vector<NetAddress> addresses;
    NetResult found = lookupUntil(host, port, breakFd, deadline, &addresses);
    if (found != NET_OK) {
        setResult(why, found);
        return -1;
    }
    return connectUntil(addresses, breakFd, deadline, why);
}

long netSend(int fd, const void* data, std::size_t len, int breakFd, NetResult* why) {
    if (fd < 0 || (!data && len > 0)) {
        setResult(why, NET_ERROR);
        return -1;
    }
    const char* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < len) {
        NetResult waited = waitFor(fd, POLLOUT, breakFd, std::nullopt);
        if (waited != NET_OK) {
            setResult(why, waited);
            return -1;
        }
        ssize_t n = ::send(fd, bytes + sent, len - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            setResult(why, errno == EPIPE || errno == ECONNRESET ? NET_CLOSED : NET_ERROR);
            return -1;
        }
        sent += static_cast<std::size_t>(n);
    }
    setResult(why, NET_OK);
    return static_cast<long>(len);
}

long netReceive(int fd, void* buf, std::size_t len, int breakFd, NetResult* why, int timeoutMs) {
    if (fd < 0 || !buf || len == 0) {
        setResult(why, NET_ERROR);
        return -1;
    }
    Deadline deadline = deadlineAfter(timeoutMs);
    for (;;) {
        NetResult waited = waitFor(fd, POLLIN, breakFd, deadline);
        if (waited != NET_OK) {
            setResult(why, waited);
            return -1;
        }
        ssize_t n = ::recv(fd, buf, len, 0);
        if (n > 0) {
            setResult(why, NET_OK);
            return static_cast<long>(n);
        }
        if (n == 0) {
            setResult(why, NET_CLOSED);
            return 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
        setResult(why, NET_ERROR);
        return -1;
    }
}

bool netWaitReadable(int fd, int breakFd, int timeoutMs, NetResult* why) {
    NetResult result = waitFor(fd, POLLIN, breakFd, deadlineAfter(timeoutMs));
    setResult(why, result);
    return result == NET_OK;
}

bool netWaitWritable(int fd, int breakFd, int timeoutMs, NetResult* why) {
    NetResult result = waitFor(fd, POLLOUT, breakFd, deadlineAfter(timeoutMs));
    setResult(why, result);
    return result == NET_OK;
}

void netClose(int fd) {
    if (fd >= 0) ::close(fd);
}

int netListenLoopback(int* port, bool ipv6) {
    SocketHandle fd(
        ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd) return -1;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        std::memcpy(&storage, &v6, sizeof v6);
        length = sizeof v6;
    } else {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(&storage, &v4, sizeof v4);
        length = sizeof v4;
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&storage), length) != 0) return -1;
    if (::listen(fd.get(), 64) != 0) return -1;
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) return -1;
    if (port) {
        NetAddress address;
        address.length = static_cast<int>(boundLength);
        address.family = bound.ss_family;
        std::memcpy(address.storage.data(), &bound, boundLength);
        *port = netAddressPort(address);
    }
    return fd.release();
}

int netAccept(int listenFd, int breakFd, int timeoutMs, NetResult* why) {
    Deadline deadline = deadlineAfter(timeoutMs);
    for (;;) {
        NetResult waited = waitFor(listenFd, POLLIN, breakFd, deadline);
        if (waited != NET_OK) {
            setResult(why, waited);
            return -1;
        }
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            setResult(why, NET_OK);
            return fd;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
            if (timeoutMs == 0) {
                setResult(why, NET_TIMEOUT);
                return -1;
            }
            continue;
        }
        setResult(why, NET_ERROR);
        return -1;
    }
}
