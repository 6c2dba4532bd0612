// The network layer's start-up and shutdown, and the TLS client connection of one
// direct Gemini or HTTPS fetch.
//
// Every fetch builds its own client context and connection object and frees both when
// it ends; nothing (no session, no context) is kept from one fetch to the next. Server
// certificates are not verified: self-signed and expired ones are accepted.
//
// The TLS layer never touches the socket with plain read()/write() calls: it reads and
// writes through the platform's socket calls (src/platform/socket.h), so a write to a
// connection the peer has dropped can never raise SIGPIPE. Reads never block inside
// the TLS library; when it wants more bytes the caller waits with netWaitReadable on
// the socket and the break descriptor, so a Stop interrupts the handshake and every
// read at once. Writes wait for room in the same way.
//
// Environment switch: FARLANDER_NO_TLS=1 makes sslInit report that TLS is unusable, as
// on a system without the TLS library (Gemini and HTTPS then go only through the proxy).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct FetchError;
struct Settings;
struct UrlRecord;
// OpenSSL's own types (SSL_CTX and SSL), opaque here.
struct ssl_ctx_st;
struct ssl_st;

// The proxy endpoint that replaces invalid proxy settings.
inline constexpr const char* GEM_PROXY_DEFAULT_HOST = "localhost";
inline constexpr int GEM_PROXY_DEFAULT_PORT = 19650;

// The cipher configuration of every TLS fetch.
inline constexpr const char* TLS_CIPHER_LIST = "CHACHA20:MEDIUM:HIGH";
inline constexpr const char* TLS_CIPHER_SUITES =
    "TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384";

// Checks the proxy settings of record: a gemProxyPort outside 1-65535, or a
// gemProxyHost of 63 characters or more, replaces both by the defaults. Then readies
// the socket layer; returns whether it is usable (always, on this system).
bool netInit(Settings& record);
// The same for the program's live settings record.
bool netInit();
// Releases what netInit opened; safe after a failed or missing netInit.
void netCleanUp();

// Initialises the TLS library (SSL and crypto strings, no cipher or digest
// tables loaded up front). Returns whether TLS is usable: false when FARLANDER_NO_TLS
// is set to 1 or the library fails to initialise.
bool sslInit();
// True between a successful sslInit and sslCleanUp.
bool sslReady();
// Releases what sslInit set up; safe after a failed or missing sslInit.
void sslCleanUp();

struct TlsContextFree {
    void operator()(ssl_ctx_st* context) const noexcept;
};
struct TlsSessionFree {
    void operator()(ssl_st* session) const noexcept;
};

// How a TLS object reaches its socket: the descriptor (not owned) and the break
// descriptor of the current call (-1 for none).
struct TlsSocketIo {
    int socket = -1;
    int breakFd = -1;
    bool ended = false;    // the peer closed its side of the stream
    bool closing = false;  // shutting down: never wait for room to write
};

// One TLS connection: the context, the connection object and its socket binding.
// The socket stays the caller's, who closes it after tlsClose. Destroying the record
// closes the connection (tlsClose), so every path frees it. Not copyable or movable:
// the connection object keeps a pointer to io.
struct TlsConnection {
    std::unique_ptr<ssl_ctx_st, TlsContextFree> context;
    std::unique_ptr<ssl_st, TlsSessionFree> session;  // declared after context: freed first
    TlsSocketIo io;
    bool established = false;  // the handshake completed

    TlsConnection() = default;
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;
};

// Binds session to the socket in io (io must outlive the binding). False when the
// binding could not be allocated.
bool tlsBindSocket(ssl_st* session, TlsSocketIo& io);

// Sets up TLS on the connected socket for request, showing the status texts
// "SSL context...", "SSL new..." and "SSL connect..." as it goes:
//   - client context with TLS_CIPHER_LIST and TLS_CIPHER_SUITES; failure: network error
//     "could not create new SSL context";
//   - the identity that findIdentity gives for the request's host and path: its
//     certificate and key files (PEM); failure: "Could not read identity public
//     certificate file" / "Could not read identity private key file" (kind 7);
//   - the connection object, bound to the socket, server name = the request's host,
//     lowercased; failure: network error "could not create SSL connection";
//   - the handshake; failure (a break included): network error "could not establish
//     SSL connection". With stopRequested set before it, no handshake is tried and 0
//     is returned with no error set (the driver reports the stop).
// Returns 1 when the connection is up, else 0. Either way tls owns whatever was made;
// tlsClose (or its destruction) frees it. The socket is never closed here.
int tlsConnect(TlsConnection& tls, int socket, const UrlRecord& request, FetchError& error, int breakFd,
               const std::atomic<bool>& stopRequested);

// Writes all length bytes. Returns length, or -1 on an error or a break.
long tlsWrite(TlsConnection& tls, const void* data, size_t length, int breakFd);

// Reads up to length bytes. Returns the count (> 0), 0 at the end of the stream (the
// peer's close, with or without a close_notify), or -1 on an error or a break.
long tlsRead(TlsConnection& tls, void* buffer, size_t length, int breakFd);

// Sends the close notification (without waiting for the peer's), then frees the
// connection object and the context. Safe on a record in any state, and more than once.
void tlsClose(TlsConnection& tls);
