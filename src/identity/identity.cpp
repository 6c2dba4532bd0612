// The identity list and the making of new identities.
#include "identity/identity.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr const char* CERT_SUFFIX = ".cert";
constexpr const char* KEY_SUFFIX = ".key";
constexpr size_t CERT_SUFFIX_LENGTH = 5;
constexpr unsigned DIRECTORY_MODE = 0700;
constexpr unsigned CERT_FILE_MODE = 0600;  // a new certificate; an existing file keeps its mode
constexpr unsigned KEY_FILE_MODE = 0600;   // always, whatever the file had
constexpr const char* VALID_FROM = "19780101000000Z";
constexpr const char* VALID_UNTIL = "20991231235959Z";

std::list<IdentityRecord>& identities() {
    static std::list<IdentityRecord> list;
    return list;
}

std::string identityFile(const char* baseName, const char* suffix) {
    return identityDirectory() + "/" + baseName + suffix;
}

struct X509Free {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct KeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const noexcept { EVP_PKEY_CTX_free(context); }
};
struct TimeFree {
    void operator()(ASN1_TIME* time) const noexcept { ASN1_TIME_free(time); }
};
struct BioFree {
    void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};

using CertificatePtr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

// A new key pair on the named curve prime256v1, encoded by the curve's name.
KeyPtr makeKey() {
    std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1) return nullptr;
    char group[] = "prime256v1";
    char encoding[] = "named_curve";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_EC_ENCODING, encoding, 0),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_PKEY_CTX_set_params(context.get(), params) != 1) return nullptr;
    EVP_PKEY* made = nullptr;
    if (EVP_PKEY_generate(context.get(), &made) != 1) return nullptr;
    return KeyPtr(made);
}

bool setValidity(X509* certificate) {
    std::unique_ptr<ASN1_TIME, TimeFree> time(ASN1_TIME_new());
    if (!time) return false;
    if (ASN1_TIME_set_string(time.get(), VALID_FROM) != 1 ||
        X509_set1_notBefore(certificate, time.get()) != 1)
        return false;
    return ASN1_TIME_set_string(time.get(), VALID_UNTIL) == 1 &&
           X509_set1_notAfter(certificate, time.get()) == 1;
}

// A serial number from 32 random bits, shifted right by one so it is never negative.
bool setSerial(X509* certificate) {
    unsigned char bytes[4];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                     uint32_t{bytes[3]};
    return ASN1_INTEGER_set(X509_get_serialNumber(certificate), static_cast<long>(value >> 1)) == 1;
}

// Writes what bio holds to path through a temporary file.
bool writeBio(BIO* bio, const std::string& path, unsigned mode, bool forceMode) {
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    if (memory == nullptr || memory->length == 0) return false;
    return writeFileAtomic(path, std::string_view(memory->data, memory->length), mode, forceMode);
}

}  // namespace

std::string identityDirectory() {
    return prefsDirectory() + "/identities";
}

void loadIdentities() {
    namespace fs = std::filesystem;
    freeIdentities();
    try {
        std::error_code error;
        fs::directory_iterator entry(identityDirectory(), error);
        for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
            std::error_code typeError;
            if (!entry->is_regular_file(typeError)) continue;
            std::string name = entry->path().filename().string();
            if (name.size() > CERT_SUFFIX_LENGTH && name.ends_with(CERT_SUFFIX)) {
                name.resize(name.size() - CERT_SUFFIX_LENGTH);
                addIdentity(name.c_str());
            }
        }
    } catch (const std::bad_alloc&) {
        // What was listed so far stays; the rest is skipped.
    }
}

bool addIdentity(const char* baseName) {
    if (baseName == nullptr) return false;
    char host[IDENTITY_HOST_MAX + 1] = {};
    char scope[IDENTITY_SCOPE_MAX + 1] = {};
    if (std::sscanf(baseName, "%63s %31s", host, scope) != 2) return false;
    try {
        IdentityRecord record;
        std::memcpy(record.host, host, sizeof host);
        std::memcpy(record.scope, scope, sizeof scope);
        for (char* c = record.scope; *c != '\0'; ++c) {
            if (*c == '$') *c = '/';
        }
        record.certPath = identityFile(baseName, CERT_SUFFIX);
        record.keyPath = identityFile(baseName, KEY_SUFFIX);
        identities().push_back(std::move(record));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const IdentityRecord* findIdentity(const char* host, const char* path) {
    if (host == nullptr) return nullptr;
    if (path == nullptr) path = "";
    for (const IdentityRecord& record : identities()) {
        if (std::strncmp(record.host, host, IDENTITY_HOST_MAX) != 0) continue;
        size_t scopeLength = std::strlen(record.scope);
        if (scopeLength == 0 || std::strncmp(path, record.scope, scopeLength) == 0) return &record;
    }
    return nullptr;
}

void freeIdentities() {
    identities().clear();
}

const std::list<IdentityRecord>& identityList() {
    return identities();
}

bool createIdentity(const char* host, const char* scope, const char* commonName) {
    if (host == nullptr || scope == nullptr || commonName == nullptr) return false;
    try {
        std::string directory = identityDirectory();
        if (!isDirectoryPath(directory)) {
            if (!isDirectoryPath(prefsDirectory()) && !ensurePrefsDirectory()) return false;
            makeDirectories(directory, DIRECTORY_MODE);
            if (!isDirectoryPath(directory)) return false;
        }
        std::string written(scope);
        for (char& c : written) {
            if (c == '/') c = '$';
        }
        char baseName[IDENTITY_BASE_NAME_SIZE];
        std::snprintf(baseName, sizeof baseName, "%s %s", host, written.c_str());
        if (!makeCertificate(commonName, baseName)) return false;
        addIdentity(baseName);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool makeCertificate(const char* commonName, const char* baseName) {
    if (commonName == nullptr || baseName == nullptr) return false;
    try {
        CertificatePtr certificate(X509_new());
        if (!certificate || !setSerial(certificate.get())) return false;
        X509_NAME* subject = X509_get_subject_name(certificate.get());
        if (subject == nullptr ||
            // The name as typed: UTF-8, at most 64 characters (not bytes).
            X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0) != 1 ||
            X509_set_issuer_name(certificate.get(), subject) != 1) {
            return false;
        }
        if (!setValidity(certificate.get())) return false;
        KeyPtr key = makeKey();
        if (!key || X509_set_pubkey(certificate.get(), key.get()) != 1 ||
            X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0) {
            return false;
        }

        BioPtr certText(BIO_new(BIO_s_mem()));
        if (!certText || PEM_write_bio_X509(certText.get(), certificate.get()) != 1 ||
            !writeBio(certText.get(), identityFile(baseName, CERT_SUFFIX), CERT_FILE_MODE, false)) {
            return false;
        }
        // Secure memory is wiped when it is freed.
        BioPtr keyText(BIO_new(BIO_s_secmem()));
        return keyText &&
               PEM_write_bio_PrivateKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ==
                   1 &&
               writeBio(keyText.get(), identityFile(baseName, KEY_SUFFIX), KEY_FILE_MODE, true);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
