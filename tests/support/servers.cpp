#include "support/servers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <sstream>
#include <utility>

#include "platform/socket.h"

// ---- TestConnection ----

bool TestConnection::fill(int timeoutMs) {
    char buffer[65536];
    long n = netReceive(fd_, buffer, sizeof buffer, breakFd_, nullptr, timeoutMs);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
}

std::string TestConnection::readLine(size_t max, int timeoutMs) {
    return readUntil("\n", max, timeoutMs);
}

std::string TestConnection::readUntil(std::string_view terminator, size_t max, int timeoutMs) {
    for (;;) {
        size_t at = pending_.find(terminator);
        if (at != std::string::npos && at + terminator.size() <= max) {
            std::string out = pending_.substr(0, at + terminator.size());
            pending_.erase(0, out.size());
            return out;
        }
        if (pending_.size() >= max || !fill(timeoutMs)) {
            size_t n = pending_.size() < max ? pending_.size() : max;
            std::string out = pending_.substr(0, n);
            pending_.erase(0, n);
            return out;
        }
    }
}

std::string TestConnection::readBytes(size_t count, int timeoutMs) {
    while (pending_.size() < count && fill(timeoutMs)) {
    }
    size_t n = pending_.size() < count ? pending_.size() : count;
    std::string out = pending_.substr(0, n);
    pending_.erase(0, n);
    return out;
}

bool TestConnection::send(std::string_view data) {
    if (data.empty()) return true;
    return netSend(fd_, data.data(), data.size(), breakFd_) == static_cast<long>(data.size());
}

bool TestConnection::sendInPieces(std::string_view data, size_t piece, int pauseMs) {
    if (piece == 0) return send(data);
    for (size_t at = 0; at < data.size(); at += piece) {
        if (!send(data.substr(at, piece))) return false;
        // Pacing only: the reader must see the pieces arrive separately.
        if (pauseMs > 0 && at + piece < data.size()) {
            if (netWaitReadable(breakFd_, -1, pauseMs)) return false;  // the server stopped
        }
    }
    return true;
}

void TestConnection::holdUntilClosed() {
    char buffer[4096];
    while (netReceive(fd_, buffer, sizeof buffer, breakFd_) > 0) {
    }
}

// ---- TestServer ----

TestServer::TestServer(ConnectionHandler handler) : handler_(std::move(handler)) {
    int port = 0;
    int listenFd = netListenLoopback(&port);
    if (listenFd < 0) return;
    thread_ = std::thread([this, listenFd] { run(listenFd); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return task_ != nullptr; });
    port_ = port;
}

TestServer::~TestServer() {
    stop();
}

void TestServer::stop() {
    TaskHandle task;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        task = task_;
    }
    taskSendSignal(task, TASK_BREAK_MASK);
    if (thread_.joinable()) thread_.join();
}

void TestServer::run(int listenFd) {
    SocketHandle listener(listenFd);
    TaskHandle self = taskCurrent();
    int breakFd = taskBreakDescriptor(self);
    {
        std::lock_guard lock(mutex_);
        task_ = self;
    }
    changed_.notify_all();
    for (;;) {
        NetResult why = NET_OK;
        SocketHandle connection(netAccept(listener.get(), breakFd, -1, &why));
        if (!connection) {
            if (why == NET_BROKEN || why == NET_ERROR) break;
            continue;
        }
        TestConnection wrapped(*this, connection.get(), breakFd);
        try {
            handler_(wrapped);
        } catch (const std::exception& error) {
            record(std::string("handler failed: ") + error.what());
        }
        connection.reset();
        {
            std::lock_guard lock(mutex_);
            handled_++;
        }
        changed_.notify_all();
    }
}

bool TestServer::waitForConnections(int count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return handled_ >= count; });
}

void TestServer::record(std::string text) {
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(text));
}

std::vector<std::string> TestServer::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void TestServer::markEvent(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        events_[name]++;
    }
    changed_.notify_all();
}

bool TestServer::waitForEvent(const std::string& name, int count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return events_[name] >= count; });
}

// ---- StalledListener ----

StalledListener::StalledListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd_, 0) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    // Fill the queue until a connect no longer completes.
    for (int i = 0; i < 16 && !full_; ++i) {
        NetResult why = NET_OK;
        int fd = netConnect("127.0.0.1", port_, -1, 500, &why);
        if (fd >= 0) {
            fillers_.push_back(fd);
        } else {
            full_ = why == NET_TIMEOUT;
            if (!full_) break;
        }
    }
}

StalledListener::~StalledListener() {
    for (int fd : fillers_)
        netClose(fd);
    if (fd_ >= 0) ::close(fd_);
}

// ---- content ----

std::string readWholeFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::string out;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out.append(buffer, n);
    std::fclose(file);
    return out;
}

std::string testBinary(size_t n, unsigned seed) {
    std::string out(n, '\0');
    uint32_t state = 2463534242u + seed * 7919u;
    for (size_t i = 0; i < n; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[i] = static_cast<char>(state & 0xFF);
    }
    return out;
}

namespace {

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

}  // namespace

// ---- Spartan ----

ConnectionHandler spartanEchoHandler() {
    return [](TestConnection& connection) {
        std::string line = connection.readLine();
        connection.server().record(line);
        std::istringstream fields(withoutLineEnd(line));
        std::string host, path;
        long long length = -1;
        fields >> host >> path >> length;
        if (length < 0) {
            connection.send("4 Bad request\r\n");
            return;
        }
        std::string body = connection.readBytes(static_cast<size_t>(length));
        connection.send("2 text/plain\r\nreceived " + std::to_string(body.size()) + " bytes\n" + body);
    };
}

// ---- Gopher ----

std::string gopherMenuText() {
    return "iWelcome\tfake\t(NULL)\t0\r\n"
           "0About\t/text\t127.0.0.1\t70\r\n"
           "9Binary\t/bin\t127.0.0.1\t70\r\n"
           "7Search\t/search\t127.0.0.1\t70\r\n"
           ".\r\n";
}

ConnectionHandler gopherHandler() {
    return [](TestConnection& connection) {
        std::string line = connection.readLine();
        connection.server().record(line);
        std::string selector = withoutLineEnd(line);
        if (selector.empty() || selector == "/") {
            connection.send(gopherMenuText());
        } else if (selector == "/bin") {
            connection.send(testBinary(5000));
        } else if (selector.rfind("/search\t", 0) == 0) {
            connection.send("iResults for " + selector.substr(8) + "\tfake\t(NULL)\t0\r\n.\r\n");
        } else {
            connection.send("3Not found\t\terror.host\t1\r\n.\r\n");
        }
    };
}

// ---- Finger ----

ConnectionHandler fingerHandler() {
    return [](TestConnection& connection) {
        std::string line = connection.readLine();
        connection.server().record(line);
        connection.send("Login: " + withoutLineEnd(line) + "\r\nPlan: none\r\n");
    };
}

// ---- Nex ----

std::string nexListingText() {
    return "Nex test listing\n=> notes.txt\n=> pic.gif\n";
}

ConnectionHandler nexHandler() {
    return [](TestConnection& connection) {
        std::string line = connection.readLine();
        connection.server().record(line);
        std::string path = withoutLineEnd(line);
        if (path.empty() || path == "/") {
            connection.send(nexListingText());
        } else if (path == "/notes.txt") {
            connection.send("Some notes.\n");
        } else if (path == "/pic.gif") {
            connection.send(testBinary(9000, 7));
        } else {
            connection.send("Not found\n");
        }
    };
}

// ---- HTTP ----

std::string httpBody() {
    return testBinary(150000, 11);
}

namespace {

std::string chunkedBody(const std::string& body) {
    static constexpr size_t sizes[] = {1, 15, 16, 255, 4096, 4097, 10000, 3};
    std::string out;
    size_t at = 0;
    size_t index = 0;
    char size[32];
    while (at < body.size()) {
        size_t n = sizes[index++ % (sizeof sizes / sizeof sizes[0])];
        if (n > body.size() - at) n = body.size() - at;
        std::snprintf(size, sizeof size, index % 3 == 0 ? "%zX" : "%zx", n);
        out += size;
        if (index == 2) out += ";name=value";
        out += "\r\n";
        out.append(body, at, n);
        out += "\r\n";
        at += n;
    }
    out += "0\r\nX-Trailer: yes\r\n\r\n";
    return out;
}

}  // namespace

ConnectionHandler httpHandler() {
    return [](TestConnection& connection) {
        std::string header = connection.readUntil("\r\n\r\n");
        connection.server().record(header);
        std::string path;
        if (header.rfind("GET ", 0) == 0) {
            size_t end = header.find(' ', 4);
            if (end != std::string::npos) path = header.substr(4, end - 4);
        }
        std::string body = httpBody();
        if (path == "/length") {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
        } else if (path == "/nolength") {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + body);
        } else if (path == "/chunked") {
            connection.sendInPieces(
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody(body), 7);
        } else {
            connection.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
    };
}

// ---- proxy ----

ConnectionHandler proxyHandler(std::string expected, std::string reply) {
    return [expected = std::move(expected), reply = std::move(reply)](TestConnection& connection) {
        std::string got = connection.readBytes(expected.size(), 10000);
        if (got == expected) {
            connection.server().record("match");
            connection.send(reply);
        } else {
            connection.server().record("mismatch: " + got);
            connection.send("59 proxy mismatch\r\n");
        }
    };
}

ConnectionHandler fixedReplyHandler(std::string reply, size_t piece) {
    return [reply = std::move(reply), piece](TestConnection& connection) {
        connection.server().record(connection.readLine());
        connection.sendInPieces(reply, piece);
    };
}
