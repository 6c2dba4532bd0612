// A loopback TLS test server: TestServer's accept loop (127.0.0.1, a port the system
// chooses, one connection at a time on its own thread) with a TLS handshake in front
// of the handler. Its certificate and key (P-256, self-signed) are made in memory when
// the server starts. It stops and joins its thread in its destructor; a stop also
// interrupts a handshake or a handler that waits for the client.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/tls.h"
#include "support/servers.h"

struct TlsServerOptions {
    int minVersion = 0;  // a protocol version such as TLS1_2_VERSION (0: the library's)
    int maxVersion = 0;
    std::string cipherList;                 // TLS 1.2 and below ("": the library's)
    std::string cipherSuites;               // TLS 1.3 ("": the library's)
    bool requestClientCertificate = false;  // any certificate the client sends is accepted
    bool expiredCertificate = false;        // valid from 2000-01-01 to 2001-01-01 only
    std::string commonName = "farlander test server";
    std::string keyPem;  // the server's private key (PEM); "": a new P-256 key
};

class TlsServer;

// One connection after a completed handshake, as a handler sees it.
class TlsServerConnection {
  public:
    TlsServerConnection(TlsServer& server, int breakFd) : server_(server), breakFd_(breakFd) {}

    // Up to and including the first line feed (at most max bytes); what arrived before
    // the client closed (or the server stopped) otherwise.
    std::string readLine(size_t max = 4096);
    // Writes everything; false on an error or a stop.
    bool write(std::string_view data);
    // Writes in pieces of piece bytes, pausing pauseMs between them.
    bool writeSlowly(std::string_view data, size_t piece, int pauseMs);

    // Ends the connection without a close notification (the client sees the stream
    // simply end); later writes fail.
    void closeAbruptly();

    // The common name of the client's certificate ("" when it sent none).
    const std::string& peerCommonName() const { return peerCommonName_; }
    TlsServer& server() { return server_; }

  private:
    friend class TlsServer;
    TlsServer& server_;
    int breakFd_;
    TlsConnection tls_;
    std::string pending_;
    std::string peerCommonName_;
};

using TlsHandler = std::function<void(TlsServerConnection& connection)>;

class TlsServer {
  public:
    TlsServer(TlsServerOptions options, TlsHandler handler);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // False when the certificate, the context or the listening socket could not be made.
    bool ok() const { return server_ && server_->ok(); }
    int port() const { return server_ ? server_->port() : -1; }
    // Stops accepting, interrupts a running handshake or handler and joins the thread.
    void stop();

    // The server's private key (PEM), to give another server the same key.
    const std::string& keyPem() const { return keyPem_; }

    int handshakesCompleted() const { return completed_.load(); }
    // Handshakes end by marking the event "handshake" or "handshake failed" on base().
    // What the last completed handshake brought.
    std::string lastServerName() const;
    std::string lastPeerCommonName() const;
    // The plain server underneath: records and events for the handlers.
    TestServer& base() { return *server_; }

  private:
    void serve(TestConnection& raw);
    bool makeContext();

    TlsServerOptions options_;
    TlsHandler handler_;
    std::unique_ptr<ssl_ctx_st, TlsContextFree> context_;
    std::string keyPem_;
    std::atomic<int> completed_{0};
    mutable std::mutex mutex_;
    std::string lastServerName_;
    std::string lastPeerCommonName_;
    std::unique_ptr<TestServer> server_;  // stopped first, before the context goes
};
