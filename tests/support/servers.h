// Loopback test servers for the fetch tests: a scripted TCP server that runs a
// handler per connection on its own thread, and the protocol servers built on it.
// Every server listens on 127.0.0.1 at a port the system chooses and stops (and joins
// its thread) in its destructor; a stop interrupts whatever the handler is waiting for.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/task.h"

class TestServer;

// One accepted connection, as a handler sees it. Every wait also ends when the server
// stops or the time-out passes (reads then return what they have, sends fail).
class TestConnection {
  public:
    TestConnection(TestServer& server, int fd, int breakFd) : server_(server), fd_(fd), breakFd_(breakFd) {}

    // Reads up to and including the first line feed (at most max bytes); what arrived
    // before a close, a stop or the time-out otherwise.
    std::string readLine(size_t max = 65536, int timeoutMs = 20000);
    // Reads until terminator has arrived (included in the result), at most max bytes.
    std::string readUntil(std::string_view terminator, size_t max = 65536, int timeoutMs = 20000);
    // Reads exactly count bytes (fewer on a close, a stop or the time-out).
    std::string readBytes(size_t count, int timeoutMs = 20000);
    // Sends everything; false when the peer went away or the server stopped.
    bool send(std::string_view data);
    // Sends in pieces of piece bytes, pausing pauseMs between them.
    bool sendInPieces(std::string_view data, size_t piece, int pauseMs = 0);
    // Waits until the peer closes the connection or the server stops.
    void holdUntilClosed();

    TestServer& server() { return server_; }
    int fd() const { return fd_; }

  private:
    bool fill(int timeoutMs);

    TestServer& server_;
    int fd_;
    int breakFd_;
    std::string pending_;  // received, not yet handed out
};

using ConnectionHandler = std::function<void(TestConnection& connection)>;

class TestServer {
  public:
    explicit TestServer(ConnectionHandler handler);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    // Stops accepting, interrupts the running handler and joins the thread.
    void stop();

    // Waits until count connections have been handled (counted when the handler
    // returns); false after timeoutMs.
    bool waitForConnections(int count, int timeoutMs = 30000);
    // Texts handlers recorded (requests as received, checks), in order.
    void record(std::string text);
    std::vector<std::string> records() const;
    // Marks an event and wakes waitForEvent; events are counted by name.
    void markEvent(const std::string& name);
    // Waits until the event has been marked count times; false after timeoutMs.
    bool waitForEvent(const std::string& name, int count = 1, int timeoutMs = 30000);

  private:
    void run(int listenFd);

    ConnectionHandler handler_;
    int port_ = -1;
    std::thread thread_;
    TaskHandle task_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> records_;
    std::map<std::string, int> events_;
    int handled_ = 0;
    bool stopped_ = false;
};

// A listener that never accepts and whose accept queue is full, so that a further
// connect to its port stays pending (the system drops its handshake).
class StalledListener {
  public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    // True when the queue was seen to be full.
    bool ok() const { return full_; }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

// The bytes of a file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

// Deterministic binary content: n bytes running through every byte value.
std::string testBinary(size_t n, unsigned seed = 0);

// ---- protocol servers (handlers for TestServer) ----

// Spartan: reads "host path length\r\n" and length body bytes; answers
// "2 text/plain\r\n" then "received <length> bytes\n" and the body itself.
ConnectionHandler spartanEchoHandler();

// Gopher: "selector\r\n". "" and "/" give a menu, "/bin" 5000 binary bytes
// (testBinary), "/search\t<query>" a menu line quoting the query.
ConnectionHandler gopherHandler();
std::string gopherMenuText();

// Finger: "user\r\n" answers "Login: <user>\r\nPlan: none\r\n".
ConnectionHandler fingerHandler();

// Nex: "path\r\n". "" and "/" give a listing, "/notes.txt" text, "/pic.gif" 9000
// binary bytes (testBinary with seed 7).
ConnectionHandler nexHandler();
std::string nexListingText();

// HTTP/1.1: reads the request header; answers by path:
//   /length   200 with Content-Length and httpBody()
//   /nolength 200 without Content-Length, httpBody()
//   /chunked  200 chunked (httpBody() in chunks of several sizes, with an extension
//             and a trailer), written in 7-byte pieces
//   anything else 404
ConnectionHandler httpHandler();
std::string httpBody();

// A proxy service: reads expected.size() bytes and compares them with expected byte
// for byte; records "match" or "mismatch: <what came>" and answers reply (or
// "59 proxy mismatch\r\n").
ConnectionHandler proxyHandler(std::string expected, std::string reply);

// Answers every connection with reply, sent in pieces of piece bytes (0: at once),
// then closes. Records the request line.
ConnectionHandler fixedReplyHandler(std::string reply, size_t piece = 0);
