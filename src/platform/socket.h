// Stream sockets that a break can interrupt.
//
// Every blocking step (host lookup, connect, send, receive, accept, the TLS layer's
// waits) polls the socket together with a break descriptor (taskBreakDescriptor of the
// calling task; -1 for none). When the break descriptor is readable the call returns at
// once with NET_BROKEN and leaves the break pending: the task clears it itself.
//
// Sockets are non-blocking and close-on-exec. Sends never raise SIGPIPE.
//
// Time-outs are in milliseconds: below 0 waits without limit, 0 only looks.
//
// The host lookup runs getaddrinfo on a detached worker thread that shares a
// reference-counted result record with the caller; a caller that gives up (break or
// time-out) just drops its reference, and the worker frees the record when it finishes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

enum NetResult {
    NET_OK = 0,
    NET_LOOKUP_FAILED,   // the name has no address (or the lookup failed)
    NET_CONNECT_FAILED,  // no address of the name accepted a connection
    NET_TIMEOUT,         // the time-out passed
    NET_BROKEN,          // the break descriptor became readable
    NET_CLOSED,          // the peer closed the connection
    NET_ERROR,           // any other failure (bad arguments, a socket error)
};

// The connect time-out the program uses.
inline constexpr int NET_CONNECT_TIMEOUT_MS = 30000;

// One socket address as the resolver gave it (an IPv4 or IPv6 sockaddr, port included).
struct NetAddress {
    int family = 0;  // AF_INET or AF_INET6
    int length = 0;  // bytes of storage in use
    std::array<unsigned char, 128> storage{};
};

// The address as text: "127.0.0.1" or "::1" (no port); empty if it is neither family.
std::string netAddressText(const NetAddress& address);
// The address's port, or -1.
int netAddressPort(const NetAddress& address);

// A lookup function: fills out with the addresses of host (port in each), in the
// resolver's order. Returns NET_OK, or NET_LOOKUP_FAILED (or NET_ERROR) with out empty.
// It runs on a worker thread and may block.
using NetLookupFunction = NetResult (*)(const char* host, int port, std::vector<NetAddress>* out);

// The system lookup: getaddrinfo for TCP, IPv4 and IPv6, blocking.
NetResult netSystemLookup(const char* host, int port, std::vector<NetAddress>* out);
// Replaces the lookup function (tests make it slow or scripted); null restores the
// system lookup. Lookups already running keep the function they started with.
void netSetLookupFunction(NetLookupFunction lookup);
// Lookup worker threads that have not finished yet (tests wait for 0).
int netPendingLookups();

// Looks host up without blocking the caller past a break or the time-out. Returns
// NET_OK with out filled, NET_LOOKUP_FAILED, NET_TIMEOUT, NET_BROKEN or NET_ERROR.
// An empty host or a port outside 1-65535 fails with NET_LOOKUP_FAILED / NET_ERROR.
NetResult netLookup(const char* host, int port, int breakFd, int timeoutMs, std::vector<NetAddress>* out);

// Connects to the addresses in order until one accepts. Returns the connected socket,
// or -1 with *why set to NET_CONNECT_FAILED (every address refused or failed), NET_TIMEOUT
// (the time-out covers all attempts together), NET_BROKEN or NET_ERROR. why may be null.
int netConnectAddresses(const std::vector<NetAddress>& addresses, int breakFd, int timeoutMs, NetResult* why);

// netLookup followed by netConnectAddresses; timeoutMs covers both together. Returns the
// connected socket or -1 with *why (NET_LOOKUP_FAILED, NET_CONNECT_FAILED, NET_TIMEOUT,
// NET_BROKEN, NET_ERROR). why may be null.
int netConnect(const char* host, int port, int breakFd, int timeoutMs, NetResult* why);

// Sends all len bytes, waiting without limit for buffer space (a break ends the wait). Returns len, or -1
// with *why NET_BROKEN, NET_CLOSED (the peer went away) or NET_ERROR; bytes may have gone out before a
// failure.
long netSend(int fd, const void* data, std::size_t len, int breakFd, NetResult* why = nullptr);

// Receives up to len bytes (len > 0). Returns the count (> 0), 0 when the peer closed
// (*why NET_CLOSED), or -1 with *why NET_BROKEN, NET_TIMEOUT or NET_ERROR.
long netReceive(int fd, void* buf, std::size_t len, int breakFd, NetResult* why = nullptr,
                int timeoutMs = -1);

// Wait until the socket is readable / writable (or has an error or hang-up to report).
// False with *why NET_BROKEN, NET_TIMEOUT or NET_ERROR.
bool netWaitReadable(int fd, int breakFd, int timeoutMs, NetResult* why = nullptr);
bool netWaitWritable(int fd, int breakFd, int timeoutMs, NetResult* why = nullptr);

// Closes the socket (a negative descriptor is ignored).
void netClose(int fd);

// A listening socket on 127.0.0.1 (or ::1) at a port the system chooses, stored in
// *port. Returns -1 on failure (for example without IPv6).
int netListenLoopback(int* port, bool ipv6 = false);
// Accepts one connection. Returns the socket, or -1 with *why NET_BROKEN, NET_TIMEOUT
// or NET_ERROR.
int netAccept(int listenFd, int breakFd, int timeoutMs, NetResult* why = nullptr);

// Sole owner of a socket descriptor; closes it when it goes.
class SocketHandle {
  public:
    SocketHandle() noexcept = default;
    explicit SocketHandle(int fd) noexcept : fd_(fd) {}
    ~SocketHandle() { reset(); }
    SocketHandle(SocketHandle&& other) noexcept : fd_(other.release()) {}
    SocketHandle& operator=(SocketHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    // Gives the descriptor up without closing it.
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the current descriptor and takes fd.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0 && fd_ != fd) netClose(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};
