#include "support/tls_server.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <utility>

#include "platform/socket.h"
#include "platform/task.h"

namespace {

struct X509Free {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};

// Any client certificate is welcome: the handler only wants to see its name.
int acceptAnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

std::string commonNameOf(X509* certificate) {
    if (certificate == nullptr) return "";
    char name[256] = {};
    int length =
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name);
    return length > 0 ? std::string(name, static_cast<size_t>(length)) : "";
}

bool waitToRetry(SSL* session, int result, int socket, int breakFd) {
    switch (SSL_get_error(session, result)) {
        case SSL_ERROR_WANT_READ:
            return netWaitReadable(socket, breakFd, -1);
        case SSL_ERROR_WANT_WRITE:
            return netWaitWritable(socket, breakFd, -1);
        default:
            return false;
    }
}

}  // namespace

// ---- TlsServerConnection ----

std::string TlsServerConnection::readLine(size_t max) {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos && end < max) {
            std::string line = pending_.substr(0, end + 1);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        long count = pending_.size() >= max ? 0 : tlsRead(tls_, buffer, sizeof buffer, breakFd_);
        if (count <= 0) {
            std::string rest = pending_.substr(0, max);
            pending_.erase(0, rest.size());
            return rest;
        }
        pending_.append(buffer, static_cast<size_t>(count));
    }
}

bool TlsServerConnection::write(std::string_view data) {
    return tlsWrite(tls_, data.data(), data.size(), breakFd_) == static_cast<long>(data.size());
}

bool TlsServerConnection::writeSlowly(std::string_view data, size_t piece, int pauseMs) {
    if (piece == 0) return write(data);
    for (size_t at = 0; at < data.size(); at += piece) {
        if (!write(data.substr(at, piece))) return false;
        // Pacing only: a readable break descriptor means the server is stopping.
        if (pauseMs > 0 && at + piece < data.size() && netWaitReadable(breakFd_, -1, pauseMs)) return false;
    }
    return true;
}

void TlsServerConnection::closeAbruptly() {
    tls_.established = false;  // no close_notify from tlsClose
    tlsClose(tls_);
    server_.base().record("closed abruptly");
}

// ---- TlsServer ----

TlsServer::TlsServer(TlsServerOptions options, TlsHandler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {
    if (!makeContext()) return;
    server_ = std::make_unique<TestServer>([this](TestConnection& raw) { serve(raw); });
}

TlsServer::~TlsServer() {
    stop();
}

void TlsServer::stop() {
    if (server_) server_->stop();
}

std::string TlsServer::lastServerName() const {
    std::lock_guard lock(mutex_);
    return lastServerName_;
}

std::string TlsServer::lastPeerCommonName() const {
    std::lock_guard lock(mutex_);
    return lastPeerCommonName_;
}

bool TlsServer::makeContext() {
    std::unique_ptr<EVP_PKEY, KeyFree> key;
    if (options_.keyPem.empty()) {
        key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    } else {
        std::unique_ptr<BIO, decltype(&BIO_free)> in(
            BIO_new_mem_buf(options_.keyPem.data(), static_cast<int>(options_.keyPem.size())), BIO_free);
        key.reset(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
    }
    if (key) {
        std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
        BUF_MEM* memory = nullptr;
        if (out &&
            PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1) {
            BIO_get_mem_ptr(out.get(), &memory);
            if (memory != nullptr) keyPem_.assign(memory->data, memory->length);
        }
    }
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    if (!key || !certificate) return false;
    X509* cert = certificate.get();
    X509_set_version(cert, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("farlander test server"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    if (options_.expiredCertificate) {
        ASN1_TIME_set_string(X509_getm_notBefore(cert), "20000101000000Z");
        ASN1_TIME_set_string(X509_getm_notAfter(cert), "20010101000000Z");
    } else {
        X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
    }
    if (X509_set_pubkey(cert, key.get()) != 1 || X509_sign(cert, key.get(), EVP_sha256()) <= 0) return false;

    context_.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX* context = context_.get();
    if (context == nullptr || SSL_CTX_use_certificate(context, cert) != 1 ||
        SSL_CTX_use_PrivateKey(context, key.get()) != 1) {
        return false;
    }
    if (options_.minVersion != 0) SSL_CTX_set_min_proto_version(context, options_.minVersion);
    if (options_.maxVersion != 0) SSL_CTX_set_max_proto_version(context, options_.maxVersion);
    if (!options_.cipherList.empty() && SSL_CTX_set_cipher_list(context, options_.cipherList.c_str()) != 1)
        return false;
    if (!options_.cipherSuites.empty() &&
        SSL_CTX_set_ciphersuites(context, options_.cipherSuites.c_str()) != 1)
        return false;
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (options_.requestClientCertificate) SSL_CTX_set_verify(context, SSL_VERIFY_PEER, acceptAnyCertificate);
    ERR_clear_error();
    return true;
}

void TlsServer::serve(TestConnection& raw) {
    int breakFd = taskBreakDescriptor(taskCurrent());
    TlsServerConnection connection(*this, breakFd);
    TlsConnection& tls = connection.tls_;
    SSL_CTX_up_ref(context_.get());
    tls.context.reset(context_.get());
    tls.session.reset(SSL_new(context_.get()));
    tls.io.socket = raw.fd();
    tls.io.breakFd = breakFd;
    if (!tls.session || !tlsBindSocket(tls.session.get(), tls.io)) {
        raw.server().markEvent("handshake failed");
        return;
    }
    SSL* session = tls.session.get();
    for (;;) {
        ERR_clear_error();
        int result = SSL_accept(session);
        if (result == 1) break;
        if (!waitToRetry(session, result, raw.fd(), breakFd)) {
            ERR_clear_error();
            raw.server().markEvent("handshake failed");
            return;
        }
    }
    tls.established = true;
    const char* serverName = SSL_get_servername(session, TLSEXT_NAMETYPE_host_name);
    X509* peer = SSL_get1_peer_certificate(session);
    connection.peerCommonName_ = commonNameOf(peer);
    X509_free(peer);
    {
        std::lock_guard lock(mutex_);
        lastServerName_ = serverName != nullptr ? serverName : "";
        lastPeerCommonName_ = connection.peerCommonName_;
    }
    completed_++;
    raw.server().markEvent("handshake");
    if (handler_) handler_(connection);
}
