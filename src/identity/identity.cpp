// The identity list and the making of new identities.
#include "identity/identity.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
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

// Held by every change of the list and by the network thread's lookups.
std::mutex& listMutex() {
    static std::mutex mutex;
    return mutex;
}

constexpr const char* REPLACED_MARK = ".replaced-";

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

struct Asn1TimeFree {
    void operator()(ASN1_TIME* time) const noexcept { ASN1_TIME_free(time); }
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

// The first record that matches (the caller holds the lock or is the GUI thread).
const IdentityRecord* findLocked(const char* host, int32_t port, const char* path) {
    if (host == nullptr) return nullptr;
    if (path == nullptr) path = "";
    for (const IdentityRecord& record : identities()) {
        if (record.port != port || std::strncmp(record.host, host, IDENTITY_HOST_MAX) != 0) continue;
        size_t scopeLength = std::strlen(record.scope);
        if (scopeLength == 0 || std::strncmp(path, record.scope, scopeLength) == 0) return &record;
    }
    return nullptr;
}

// Reads "host:port" from the start of baseName: true when its first word ends in a
// colon and a port of 1-65535 after a host of 1-63 characters; word receives the length
// of that word.
bool readHostAndPort(const char* baseName, char (&host)[IDENTITY_HOST_MAX + 1], int32_t& port, size_t& word) {
    const char* start = baseName;
    while (*start != '\0' && std::isspace(static_cast<unsigned char>(*start)))
        ++start;
    const char* end = start;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    const char* colon = nullptr;
    for (const char* c = start; c < end; ++c) {
        if (*c == ':') colon = c;
    }
    if (colon == nullptr || colon == start || colon - start > IDENTITY_HOST_MAX) return false;
    const size_t digits = static_cast<size_t>(end - colon - 1);
    if (digits == 0 || digits > 5) return false;
    int32_t value = 0;
    for (const char* c = colon + 1; c < end; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
    }
    if (value < 1 || value > 65535) return false;
    std::memcpy(host, start, static_cast<size_t>(colon - start));
    host[colon - start] = '\0';
    port = value;
    word = static_cast<size_t>(end - baseName);
    return true;
}

// Seconds since 1970 of a certificate time.
int64_t secondsOf(const ASN1_TIME* time) {
    std::unique_ptr<ASN1_TIME, Asn1TimeFree> epoch(ASN1_TIME_set(nullptr, 0));
    int days = 0, seconds = 0;
    if (!epoch || time == nullptr || ASN1_TIME_diff(&days, &seconds, epoch.get(), time) != 1) return 0;
    return int64_t{days} * 86400 + seconds;
}

std::string hexText(const unsigned char* bytes, size_t length) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 15];
    }
    return text;
}

// A name for an old file beside it that no start-up takes for an identity.
std::string replacedName(const std::string& path) {
    std::time_t now = std::time(nullptr);
    std::tm utc = {};
    char stamp[32] = "unknown";
    if (gmtime_r(&now, &utc) != nullptr) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string name = path + REPLACED_MARK + stamp;
    std::error_code error;
    for (int n = 2; std::filesystem::exists(name, error) && n < 1000; ++n)
        name = path + REPLACED_MARK + stamp + "-" + std::to_string(n);
    return name;
}

// Renames path out of the way when it exists; false when it stays in the way.
bool keepAside(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return true;
    std::filesystem::rename(path, replacedName(path), error);
    return !error;
}

// Drops the records of an identity; their memory goes after the lock is let go.
void forgetRecords(const std::string& baseName) {
    std::list<IdentityRecord> gone;
    std::lock_guard lock(listMutex());
    std::list<IdentityRecord>& list = identities();
    for (auto at = list.begin(); at != list.end();) {
        auto next = std::next(at);
        if (at->baseName == baseName) gone.splice(gone.end(), list, at);
        at = next;
    }
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
    int32_t port = IDENTITY_DEFAULT_PORT;
    size_t word = 0;
    if (readHostAndPort(baseName, host, port, word)) {
        if (std::sscanf(baseName + word, "%31s", scope) != 1) return false;
    } else if (std::sscanf(baseName, "%63s %31s", host, scope) != 2) {
        return false;
    }
    try {
        std::list<IdentityRecord> added(1);
        IdentityRecord& record = added.front();
        std::memcpy(record.host, host, sizeof host);
        record.port = port;
        std::memcpy(record.scope, scope, sizeof scope);
        for (char* c = record.scope; *c != '\0'; ++c) {
            if (*c == '$') *c = '/';
        }
        record.baseName = baseName;
        record.certPath = identityFile(baseName, CERT_SUFFIX);
        record.keyPath = identityFile(baseName, KEY_SUFFIX);
        std::lock_guard lock(listMutex());
        identities().splice(identities().end(), added);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const IdentityRecord* findIdentity(const char* host, int32_t port, const char* path) {
    return findLocked(host, port, path);
}

const IdentityRecord* findIdentity(const char* host, const char* path) {
    return findLocked(host, IDENTITY_DEFAULT_PORT, path);
}

std::optional<IdentityRecord> identityForRequest(const char* host, int32_t port, const char* path) {
    std::lock_guard lock(listMutex());
    const IdentityRecord* found = findLocked(host, port, path);
    if (found == nullptr) return std::nullopt;
    try {
        return *found;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void freeIdentities() {
    std::list<IdentityRecord> gone;
    std::lock_guard lock(listMutex());
    gone.swap(identities());
}

const std::list<IdentityRecord>& identityList() {
    return identities();
}

std::string identityBaseName(const char* host, int32_t port, const char* scope) {
    std::string written(scope != nullptr ? scope : "");
    for (char& c : written) {
        if (c == '/') c = '$';
    }
    std::string hostWord(host != nullptr ? host : "");
    if (port != IDENTITY_DEFAULT_PORT) {
        hostWord += ':';
        hostWord += std::to_string(port);
    }
    char baseName[IDENTITY_BASE_NAME_SIZE];
    std::snprintf(baseName, sizeof baseName, "%s %s", hostWord.c_str(), written.c_str());
    return baseName;
}

bool createIdentity(const char* host, int32_t port, const char* scope, const char* commonName) {
    if (host == nullptr || scope == nullptr || commonName == nullptr) return false;
    try {
        std::string directory = identityDirectory();
        if (!isDirectoryPath(directory)) {
            if (!isDirectoryPath(prefsDirectory()) && !ensurePrefsDirectory()) return false;
            makeDirectories(directory, DIRECTORY_MODE);
            if (!isDirectoryPath(directory)) return false;
        }
        const std::string baseName = identityBaseName(host, port, scope);
        // The old pair goes aside whole before anything new is written.
        if (!keepAside(identityFile(baseName.c_str(), CERT_SUFFIX)) ||
            !keepAside(identityFile(baseName.c_str(), KEY_SUFFIX)))
            return false;
        forgetRecords(baseName);
        if (!makeCertificate(commonName, baseName.c_str())) return false;
        addIdentity(baseName.c_str());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool createIdentity(const char* host, const char* scope, const char* commonName) {
    return createIdentity(host, IDENTITY_DEFAULT_PORT, scope, commonName);
}

bool deleteIdentity(const std::string& baseName) {
    const std::string cert = identityFile(baseName.c_str(), CERT_SUFFIX);
    const std::string key = identityFile(baseName.c_str(), KEY_SUFFIX);
    if (!removeFile(key) || !removeFile(cert)) return false;
    forgetRecords(baseName);
    return true;
}

IdentityDetails identityDetails(const IdentityRecord& record) {
    IdentityDetails details;
    try {
        std::string text;
        if (!readWholeFile(record.certPath, text, 1u << 20)) return details;
        BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
        CertificatePtr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
        ERR_clear_error();
        if (!certificate) return details;
        X509* cert = certificate.get();
        details.readable = true;
        X509_NAME* subject = X509_get_subject_name(cert);
        int index = subject != nullptr ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
        if (index >= 0) {
            unsigned char* utf8 = nullptr;
            int length =
                ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
            if (length >= 0 && utf8 != nullptr)
                details.commonName.assign(reinterpret_cast<char*>(utf8), length);
            OPENSSL_free(utf8);
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (X509_digest(cert, EVP_sha256(), digest, &digestLength) == 1)
            details.fingerprint = hexText(digest, digestLength);
        details.validFrom = secondsOf(X509_get0_notBefore(cert));
        details.validUntil = secondsOf(X509_get0_notAfter(cert));
        ERR_clear_error();
    } catch (const std::bad_alloc&) {
        details.readable = false;
    }
    return details;
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
