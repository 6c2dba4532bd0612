// The network layer's start-up and shutdown, and the TLS client connection of one
// direct Gemini or HTTPS fetch.
//
// Every fetch builds its own client context and connection object and frees both when
// it ends; nothing (no session, no context) is kept from one fetch to the next. Server
// certificates are not verified against authorities: self-signed and expired ones
// are accepted. Instead the caller may check the server's key while the handshake runs
// (TlsConnectOptions::checkPeer): a refused key ends the handshake before the client
// shows any certificate of its own, and so before any request byte is sent.
// TLS 1.2 is the lowest protocol version offered.
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
#include <functional>
#include <memory>
#include <string>

struct FetchError;
struct Settings;
struct UrlRecord;
// OpenSSL's own types (SSL_CTX and SSL), opaque here.
struct ssl_ctx_st;
struct ssl_st;
struct x509_st;

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

// The key a server showed: the SHA-256 fingerprint of its certificate's public key
// (the DER SubjectPublicKeyInfo, 64 lower-case hex digits) and the certificate's end
// of validity (seconds since 1970, UTC).
struct TlsPeerKey {
    bool seen = false;  // the server sent a certificate
    std::string fingerprint;
    int64_t expires = 0;
};

// Returns false to refuse the key (the handshake then fails).
using TlsPeerCheck = std::function<bool(const TlsPeerKey& peer)>;

struct TlsConnectOptions {
    // Whether the identity for the request may be presented: only a Gemini request
    // presents one, and only on the host and port it was made for.
    bool withIdentity = true;
    // Asked during the handshake with the server's key; none accepts every key.
    TlsPeerCheck checkPeer;
};

// The fingerprint and expiry of a certificate; false when it has no readable public
// key.
bool tlsCertificateKey(x509_st* certificate, TlsPeerKey& key);

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
    TlsPeerKey peer;           // the server's key, once the handshake has seen it
    TlsPeerCheck checkPeer;    // the check of this connection's handshake
    bool peerRefused = false;  // checkPeer refused the key

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
//   - for a Gemini request with options.withIdentity, the identity made for its host,
//     port and path: its certificate and key files (PEM); failure: "Could not read
//     identity public certificate file" / "Could not read identity private key file"
//     (kind 7);
//   - the connection object, bound to the socket, server name = the request's host,
//     lowercased; failure: network error "could not create SSL connection";
//   - the handshake, TLS 1.2 or later, with options.checkPeer asked about the server's
//     key (tls.peer keeps it); failure (a break included): network error "could not
//     establish SSL connection", except when checkPeer refused the key: then the error
//     is whatever checkPeer set and tls.peerRefused is true. A server without a
//     certificate is put to checkPeer after the handshake with peer.seen false. With
//     stopRequested set before it, no handshake is tried and 0 is returned with no
//     error set (the driver reports the stop).
// Returns 1 when the connection is up, else 0. Either way tls owns whatever was made;
// tlsClose (or its destruction) frees it. The socket is never closed here.
int tlsConnect(TlsConnection& tls, int socket, const UrlRecord& request, FetchError& error, int breakFd,
               const std::atomic<bool>& stopRequested, const TlsConnectOptions& options = {});

// Writes all length bytes. Returns length, or -1 on an error or a break.
long tlsWrite(TlsConnection& tls, const void* data, size_t length, int breakFd);

// Reads up to length bytes. Returns the count (> 0), 0 at the end of the stream (the
// peer's close, with or without a close_notify), or -1 on an error or a break.
long tlsRead(TlsConnection& tls, void* buffer, size_t length, int breakFd);

// Sends the close notification (without waiting for the peer's), then frees the
// connection object and the context. Safe on a record in any state, and more than once.
void tlsClose(TlsConnection& tls);
