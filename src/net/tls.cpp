// Network start-up and the TLS client connection of one fetch.
#include "net/tls.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "identity/identity.h"
#include "net/exchange.h"
#include "net/known_hosts.h"
#include "platform/socket.h"
#include "settings/settings.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

constexpr uint64_t SSL_INIT_FLAGS = OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS |
                                    OPENSSL_INIT_NO_ADD_ALL_CIPHERS | OPENSSL_INIT_NO_ADD_ALL_DIGESTS;
static_assert(SSL_INIT_FLAGS == 0x200032);

// The longest proxy host name kept (the field holds 64 bytes).
constexpr size_t PROXY_HOST_LIMIT = 63;

std::atomic<bool> netOpen{false};
std::atomic<bool> sslOpen{false};

// ---- the socket binding ----

TlsSocketIo* socketIo(BIO* bio) {
    return static_cast<TlsSocketIo*>(BIO_get_data(bio));
}

// Never blocks: with nothing to read the library is told to retry, and the caller
// waits on the socket and its break descriptor.
int bioRead(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    TlsSocketIo* io = socketIo(bio);
    if (io == nullptr || buffer == nullptr || length <= 0) return 0;
    NetResult why = NET_OK;
    long count = netReceive(io->socket, buffer, static_cast<size_t>(length), -1, &why, 0);
    if (count > 0) return static_cast<int>(count);
    if (count == 0) {
        io->ended = true;
        return 0;
    }
    if (why == NET_TIMEOUT) BIO_set_retry_read(bio);
    return -1;
}

// Writes once the socket has room; without room the library is told to retry (while
// closing, the write is simply dropped).
int bioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    TlsSocketIo* io = socketIo(bio);
    if (io == nullptr || data == nullptr || length <= 0) return 0;
    NetResult why = NET_OK;
    if (!netWaitWritable(io->socket, -1, 0, &why)) {
        if (why == NET_TIMEOUT && !io->closing) BIO_set_retry_write(bio);
        return -1;
    }
    int breakFd = io->closing ? -1 : io->breakFd;
    long sent = netSend(io->socket, data, static_cast<size_t>(length), breakFd, &why);
    return sent == length ? length : -1;
}

long bioControl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF: {
            TlsSocketIo* io = socketIo(bio);
            return io != nullptr && io->ended ? 1 : 0;
        }
        default:
            return 0;
    }
}

struct BioMethodFree {
    void operator()(BIO_METHOD* method) const noexcept { BIO_meth_free(method); }
};

const BIO_METHOD* socketBioMethod() {
    static const std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
        std::unique_ptr<BIO_METHOD, BioMethodFree> made(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "farlander socket"));
        if (made &&
            (BIO_meth_set_read(made.get(), bioRead) != 1 || BIO_meth_set_write(made.get(), bioWrite) != 1 ||
             BIO_meth_set_ctrl(made.get(), bioControl) != 1)) {
            made.reset();
        }
        return made;
    }();
    return method.get();
}

// After a TLS call that did not succeed: waits for what the library asked for.
// True when the call should be repeated; false on an error, a break or the end.
bool waitToRetry(TlsConnection& tls, int result, int breakFd) {
    switch (SSL_get_error(tls.session.get(), result)) {
        case SSL_ERROR_WANT_READ:
            return netWaitReadable(tls.io.socket, breakFd, -1);
        case SSL_ERROR_WANT_WRITE:
            return netWaitWritable(tls.io.socket, breakFd, -1);
        default:
            return false;
    }
}

// The server's certificate, as the handshake sees it: its key is kept and put to the
// connection's check. Chains are not verified (self-signed and expired certificates
// are accepted); a refused key fails the handshake at once.
int verifyServer(X509_STORE_CTX* store, void* argument) {
    TlsConnection* tls = static_cast<TlsConnection*>(argument);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (tls == nullptr || leaf == nullptr) return 1;
    TlsPeerKey key;
    if (!tlsCertificateKey(leaf, key)) key = TlsPeerKey{true, {}, 0};
    tls->peer = key;
    if (tls->checkPeer && !tls->checkPeer(tls->peer)) {
        tls->peerRefused = true;
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    return 1;
}

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 15];
}

}  // namespace

bool tlsCertificateKey(x509_st* certificate, TlsPeerKey& key) {
    key = TlsPeerKey{};
    if (certificate == nullptr) return false;
    key.seen = true;
    unsigned char* der = nullptr;
    int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    if (length <= 0 || der == nullptr) {
        ERR_clear_error();
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    bool ok = EVP_Digest(der, static_cast<size_t>(length), digest, &digestLength, EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    if (!ok) {
        ERR_clear_error();
        return false;
    }
    for (unsigned int i = 0; i < digestLength; ++i) {
        key.fingerprint += hexDigit(digest[i] >> 4);
        key.fingerprint += hexDigit(digest[i]);
    }
    struct tm end = {};
    const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
    if (notAfter != nullptr && ASN1_TIME_to_tm(notAfter, &end) == 1) {
        key.expires = knownHostSeconds(end.tm_year + 1900, end.tm_mon + 1, end.tm_mday, end.tm_hour,
                                       end.tm_min, end.tm_sec);
    }
    ERR_clear_error();
    return true;
}

// ---- start-up and shutdown ----

bool netInit(Settings& record) {
    bool portValid = record.gemProxyPort >= 1 && record.gemProxyPort <= 65535;
    bool hostValid = strnlen(record.gemProxyHost, sizeof record.gemProxyHost) < PROXY_HOST_LIMIT;
    if (!portValid || !hostValid) {
        std::snprintf(record.gemProxyHost, sizeof record.gemProxyHost, "%s", GEM_PROXY_DEFAULT_HOST);
        record.gemProxyPort = GEM_PROXY_DEFAULT_PORT;
    }
    netOpen.store(true);
    return true;
}

bool netInit() {
    return netInit(settings);
}

void netCleanUp() {
    netOpen.store(false);
}

bool sslInit() {
    const char* switchedOff = std::getenv("FARLANDER_NO_TLS");
    if (switchedOff != nullptr && std::strcmp(switchedOff, "1") == 0) {
        sslOpen.store(false);
        return false;
    }
    bool ok = OPENSSL_init_ssl(SSL_INIT_FLAGS, nullptr) == 1;
    sslOpen.store(ok);
    return ok;
}

bool sslReady() {
    return sslOpen.load();
}

void sslCleanUp() {
    // The library tidies itself up when the program ends; nothing else was opened.
    sslOpen.store(false);
}

// ---- one connection ----

void TlsContextFree::operator()(ssl_ctx_st* context) const noexcept {
    SSL_CTX_free(context);
}

void TlsSessionFree::operator()(ssl_st* session) const noexcept {
    SSL_free(session);
}

TlsConnection::~TlsConnection() {
    tlsClose(*this);
}

bool tlsBindSocket(ssl_st* session, TlsSocketIo& io) {
    const BIO_METHOD* method = socketBioMethod();
    if (session == nullptr || method == nullptr) return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr) return false;
    BIO_set_data(bio, &io);
    BIO_set_init(bio, 1);
    SSL_set_bio(session, bio, bio);  // one reference serves both directions
    return true;
}

int tlsConnect(TlsConnection& tls, int socket, const UrlRecord& request, FetchError& error, int breakFd,
               const std::atomic<bool>& stopRequested, const TlsConnectOptions& options) {
    tlsClose(tls);
    tls.io = TlsSocketIo{};
    tls.io.socket = socket;
    tls.io.breakFd = breakFd;
    tls.peer = TlsPeerKey{};
    tls.checkPeer = options.checkPeer;
    tls.peerRefused = false;
    ERR_clear_error();

    setStatus(messageText(MSG_STATUS_SSL_CONTEXT));
    tls.context.reset(SSL_CTX_new(TLS_client_method()));
    if (!tls.context) {
        setNetworkError(error, messageText(MSG_ERR_NO_SSL_CONTEXT));
        ERR_clear_error();
        return 0;
    }
    SSL_CTX* context = tls.context.get();
    SSL_CTX_set_cipher_list(context, TLS_CIPHER_LIST);
    SSL_CTX_set_ciphersuites(context, TLS_CIPHER_SUITES);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Every certificate is looked at (verifyServer), none is checked against authorities.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, verifyServer, &tls);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // Many servers just close the connection at the end of a reply.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);

    std::optional<IdentityRecord> identity;
    if (options.withIdentity && request.scheme == SCHEME_GEMINI)
        identity = identityForRequest(request.host, request.port, request.path);
    if (identity) {
        if (SSL_CTX_use_certificate_file(context, identity->certPath.c_str(), SSL_FILETYPE_PEM) != 1) {
            setFetchError(error, messageText(MSG_ERR_IDENTITY_CERT));
            ERR_clear_error();
            return 0;
        }
        if (SSL_CTX_use_PrivateKey_file(context, identity->keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
            setFetchError(error, messageText(MSG_ERR_IDENTITY_KEY));
            ERR_clear_error();
            return 0;
        }
    }

    setStatus(messageText(MSG_STATUS_SSL_NEW));
    tls.session.reset(SSL_new(context));
    if (!tls.session || !tlsBindSocket(tls.session.get(), tls.io)) {
        setNetworkError(error, messageText(MSG_ERR_NO_SSL_CONNECTION));
        ERR_clear_error();
        return 0;
    }
    SSL* session = tls.session.get();
    char serverName[HOST_MAX + 1];
    std::snprintf(serverName, sizeof serverName, "%s", request.host);
    lowercaseInPlace(serverName);
    // (SSL_set_tlsext_host_name, spelled out: the macro casts in the old style.)
    if (serverName[0] != '\0')
        SSL_ctrl(session, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, serverName);

    setStatus(messageText(MSG_STATUS_SSL_CONNECT));
    if (stopRequested.load()) return 0;
    for (;;) {
        int result = SSL_connect(session);
        if (result == 1) {
            tls.established = true;
            // A server that showed no certificate has its say now, still before any
            // request byte.
            if (!tls.peer.seen && tls.checkPeer && !tls.checkPeer(tls.peer)) {
                tls.peerRefused = true;
                ERR_clear_error();
                return 0;
            }
            return 1;
        }
        if (tls.peerRefused || stopRequested.load() || !waitToRetry(tls, result, breakFd)) break;
    }
    if (!tls.peerRefused) setNetworkError(error, messageText(MSG_ERR_NO_SSL_HANDSHAKE));
    ERR_clear_error();
    return 0;
}

long tlsWrite(TlsConnection& tls, const void* data, size_t length, int breakFd) {
    if (!tls.session || !tls.established || (data == nullptr && length > 0)) return -1;
    tls.io.breakFd = breakFd;
    const char* bytes = static_cast<const char*>(data);
    size_t written = 0;
    while (written < length) {
        size_t left = length - written;
        int piece = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        ERR_clear_error();
        int result = SSL_write(tls.session.get(), bytes + written, piece);
        if (result > 0) {
            written += static_cast<size_t>(result);
            continue;
        }
        if (!waitToRetry(tls, result, breakFd)) {
            ERR_clear_error();
            return -1;
        }
    }
    return static_cast<long>(length);
}

long tlsRead(TlsConnection& tls, void* buffer, size_t length, int breakFd) {
    if (!tls.session || !tls.established || buffer == nullptr || length == 0) return -1;
    tls.io.breakFd = breakFd;
    int want = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    for (;;) {
        ERR_clear_error();
        int result = SSL_read(tls.session.get(), buffer, want);
        if (result > 0) return result;
        if (SSL_get_error(tls.session.get(), result) == SSL_ERROR_ZERO_RETURN) return 0;
        if (!waitToRetry(tls, result, breakFd)) {
            ERR_clear_error();
            return -1;
        }
    }
}

void tlsClose(TlsConnection& tls) {
    if (tls.session && tls.established) {
        tls.io.closing = true;
        ERR_clear_error();
        SSL_shutdown(tls.session.get());  // sends our close_notify; the peer's is not awaited
    }
    tls.established = false;
    tls.session.reset();
    tls.context.reset();
    ERR_clear_error();
}
