#include "identity/identity.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

struct X509Free {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};

std::unique_ptr<X509, X509Free> readCertificate(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) return nullptr;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    return std::unique_ptr<X509, X509Free>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

std::unique_ptr<EVP_PKEY, KeyFree> readKey(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) return nullptr;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    return std::unique_ptr<EVP_PKEY, KeyFree>(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// The time as "YYYY-MM-DD hh:mm:ss" (UTC).
std::string timeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1) return "invalid";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string keyParameter(EVP_PKEY* key, const char* name) {
    char value[80] = {};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, name, value, sizeof value, &length) != 1) return "";
    return std::string(value, length);
}

// Checks the certificate's signature over its to-be-signed part with SHA-256 and key.
// (Done by hand: X509_verify looks the digest up in the legacy tables, which stay
// empty when the TLS start-up ran first with its no-digests flag.)
bool signedBy(X509* certificate, EVP_PKEY* key) {
    unsigned char* tbs = nullptr;
    int tbsLength = i2d_re_X509_tbs(certificate, &tbs);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> tbsOwner(
        tbs, [](unsigned char* p) { OPENSSL_free(p); });
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, certificate);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (tbsLength <= 0 || signature == nullptr || !context ||
        EVP_DigestVerifyInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key, nullptr) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), ASN1_STRING_get0_data(signature),
                            static_cast<size_t>(ASN1_STRING_length(signature)), tbs,
                            static_cast<size_t>(tbsLength)) == 1;
}

unsigned permissionBits(const std::string& path) {
    return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

class IdentityTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("FARLANDER_HOME");
        savedHome = old ? old : "";
        home = testing::TempDir() + "farlander-identity-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        fs::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
        directory = home + "/prefs/identities";
        ASSERT_EQ(identityDirectory(), directory);
        freeIdentities();
    }
    void TearDown() override {
        freeIdentities();
        setEnvironment("FARLANDER_HOME", savedHome);
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }

    // The listed records as "host|scope".
    static std::vector<std::string> listed() {
        std::vector<std::string> out;
        for (const IdentityRecord& record : identityList())
            out.push_back(std::string(record.host) + "|" + record.scope);
        return out;
    }

    std::string home;
    std::string savedHome;
    std::string directory;
};

TEST_F(IdentityTest, CreatedCertificateIsTheFixedSelfSignedKind) {
    ASSERT_FALSE(fs::exists(home + "/prefs"));
    ASSERT_TRUE(createIdentity("host", "/", "Farlander"));
    const std::string certPath = directory + "/host $.cert";
    const std::string keyPath = directory + "/host $.key";
    ASSERT_TRUE(isRegularFile(certPath));
    ASSERT_TRUE(isRegularFile(keyPath));
    EXPECT_EQ(permissionBits(directory), 0700u);
    EXPECT_EQ(permissionBits(keyPath), 0600u);
    EXPECT_EQ(listed(), std::vector<std::string>{"host|/"});
    EXPECT_EQ(identityList().front().certPath, certPath);
    EXPECT_EQ(identityList().front().keyPath, keyPath);

    auto certificate = readCertificate(certPath);
    ASSERT_TRUE(certificate);
    X509* cert = certificate.get();
    EXPECT_EQ(X509_get_version(cert), X509_VERSION_1);
    EXPECT_EQ(X509_get_ext_count(cert), 0);

    X509_NAME* subject = X509_get_subject_name(cert);
    ASSERT_EQ(X509_NAME_entry_count(subject), 1);
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(subject, 0);
    EXPECT_EQ(OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)), NID_commonName);
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                          static_cast<size_t>(ASN1_STRING_length(value))),
              "Farlander");
    EXPECT_EQ(X509_NAME_cmp(subject, X509_get_issuer_name(cert)), 0);

    EXPECT_EQ(timeText(X509_get0_notBefore(cert)), "1978-01-01 00:00:00");
    EXPECT_EQ(timeText(X509_get0_notAfter(cert)), "2099-12-31 23:59:59");

    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    int64_t serialValue = -1;
    ASSERT_EQ(ASN1_INTEGER_get_int64(&serialValue, serial), 1);
    EXPECT_GE(serialValue, 0);
    EXPECT_LT(serialValue, int64_t{1} << 31);

    EVP_PKEY* publicKey = X509_get0_pubkey(cert);
    ASSERT_NE(publicKey, nullptr);
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_GROUP_NAME), "prime256v1");
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_EC_ENCODING), "named_curve");
    EXPECT_TRUE(signedBy(cert, publicKey));
    EXPECT_EQ(X509_get_signature_nid(cert), NID_ecdsa_with_SHA256);

    auto privateKey = readKey(keyPath);
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(EVP_PKEY_eq(privateKey.get(), publicKey), 1);
    std::string keyText;
    ASSERT_TRUE(readWholeFile(keyPath, keyText));
    EXPECT_EQ(keyText.find("ENCRYPTED"), std::string::npos);
}

TEST_F(IdentityTest, CommonNameIsUsedUnchanged) {
    const char* names[] = {"Farlander", "My Identity 2", "a"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(createIdentity("host", "/", name));
        auto certificate = readCertificate(directory + "/host $.cert");  // replaced each time
        ASSERT_TRUE(certificate);
        char text[64] = {};
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate.get()), NID_commonName, text,
                                  sizeof text);
        EXPECT_STREQ(text, name);
    }
    // Each creation added a record; the first stays the one found.
    EXPECT_EQ(identityList().size(), 3u);
    EXPECT_EQ(findIdentity("host", "/"), &identityList().front());
}

TEST_F(IdentityTest, BaseNamesFromHostAndScope) {
    const std::string longHost(63, 'h');
    const std::string longScope = "/" + std::string(100, 's') + "/";
    struct Case {
        std::string host;
        std::string scope;
        std::string baseName;
        std::string listedAs;
    };
    const std::string cutBase = (longHost + " $" + std::string(100, 's')).substr(0, 127);
    const Case cases[] = {
        {"host", "/", "host $", "host|/"},
        {"host", "/a/b/", "host $a$b$", "host|/a/b/"},
        {"capsule.example", "/docs", "capsule.example $docs", "capsule.example|/docs"},
        // The base name keeps 127 bytes; the scope read back keeps 31 characters.
        {longHost, longScope, cutBase, longHost + "|/" + std::string(30, 's')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baseName);
        freeIdentities();
        ASSERT_TRUE(createIdentity(c.host.c_str(), c.scope.c_str(), "Farlander"));
        EXPECT_TRUE(isRegularFile(directory + "/" + c.baseName + ".cert"));
        EXPECT_TRUE(isRegularFile(directory + "/" + c.baseName + ".key"));
        EXPECT_EQ(listed(), std::vector<std::string>{c.listedAs});
    }
}

TEST_F(IdentityTest, CreationFailsWhenTheFolderCannotBeMade) {
    ASSERT_TRUE(makeDirectories(home + "/prefs"));
    ASSERT_TRUE(writeFileAtomic(directory, "in the way\n"));  // a file where the folder belongs
    EXPECT_FALSE(createIdentity("host", "/", "Farlander"));
    EXPECT_TRUE(identityList().empty());
    EXPECT_FALSE(makeCertificate("Farlander", "host $"));
}

TEST_F(IdentityTest, AddIdentityReadsTwoWords) {
    const std::string word70(70, 'w');
    struct Case {
        std::string baseName;
        bool added;
        std::string listedAs;
    };
    const Case cases[] = {
        {"host $", true, "host|/"},
        {"host $a$b$", true, "host|/a/b/"},
        {"host\t$", true, "host|/"},
        {"  host   $  extra words", true, "host|/"},
        {"host $" + std::string(40, 'x'), true, "host|/" + std::string(30, 'x')},
        // A host word over 63 characters: the rest of the word is read as the scope.
        {word70 + " $", true, std::string(63, 'w') + "|wwwwwww"},
        {"host", false, ""},
        {"host ", false, ""},
        {"", false, ""},
        {"   ", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baseName);
        freeIdentities();
        EXPECT_EQ(addIdentity(c.baseName.c_str()), c.added);
        if (c.added) {
            EXPECT_EQ(listed(), std::vector<std::string>{c.listedAs});
            EXPECT_EQ(identityList().front().certPath, directory + "/" + c.baseName + ".cert");
            EXPECT_EQ(identityList().front().keyPath, directory + "/" + c.baseName + ".key");
        } else {
            EXPECT_TRUE(identityList().empty());
        }
    }
    EXPECT_FALSE(addIdentity(nullptr));
}

TEST_F(IdentityTest, FindIdentityMatchesHostAndScope) {
    const std::string host63(63, 'l');
    for (const std::string& name :
         {std::string("host $"), std::string("other $docs$"), std::string("other $docs$private$"),
          std::string("Case $"), std::string("wide $any"), host63 + " $"}) {
        ASSERT_TRUE(addIdentity(name.c_str()));
    }
    struct Case {
        std::string host;
        const char* path;
        int expected;  // index in the list, -1 for none
    };
    const Case cases[] = {
        {"host", "/any/page", 0}, {"host", "/", 0},
        {"host", "", -1},  // a path must begin with the scope
        {"hos", "/", -1},         {"hostx", "/", -1},
        {"other", "/docs/a", 1},  {"other", "/docs/private/x", 1},  // the first match wins
        {"other", "/docs", -1},   {"other", "/", -1},
        {"case", "/", -1},                                    // case-sensitive
        {"Case", "/", 3},         {"wide", "anything", -1},   // "$any" is read back as "/any"
        {"wide", "/anything", 4}, {host63 + "more", "/", 5},  // compared over 63 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + " " + c.path);
        const IdentityRecord* found = findIdentity(c.host.c_str(), c.path);
        if (c.expected < 0) {
            EXPECT_EQ(found, nullptr);
        } else {
            auto at = identityList().begin();
            std::advance(at, c.expected);
            EXPECT_EQ(found, &*at);
        }
    }
    EXPECT_EQ(findIdentity(nullptr, "/"), nullptr);
}

TEST_F(IdentityTest, LoadListsCertificateFilesOnly) {
    loadIdentities();  // no folder yet
    EXPECT_TRUE(identityList().empty());

    ASSERT_TRUE(makeDirectories(directory, 0700));
    for (const char* name : {"host $.cert", "host $.key", ".cert", "x.cert", "other $docs$.cert", "note.txt",
                             "a b.cert.bak", "lonely $.key"}) {
        ASSERT_TRUE(writeFileAtomic(directory + "/" + name, "x\n"));
    }
    ASSERT_TRUE(makeDirectories(directory + "/dir $.cert"));
    for (int round = 0; round < 2; ++round) {  // loading again starts afresh
        loadIdentities();
        std::vector<std::string> got = listed();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<std::string>{"host|/", "other|/docs/"}));
    }
    const IdentityRecord* found = findIdentity("other", "/docs/page");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->keyPath, directory + "/other $docs$.key");
    freeIdentities();
    EXPECT_TRUE(identityList().empty());
    EXPECT_EQ(findIdentity("host", "/"), nullptr);
}

TEST_F(IdentityTest, CreatedIdentityIsFoundAfterALoad) {
    ASSERT_TRUE(createIdentity("capsule.example", "/", "Farlander"));
    freeIdentities();
    loadIdentities();
    const IdentityRecord* found = findIdentity("capsule.example", "/some/page");
    ASSERT_NE(found, nullptr);
    auto certificate = readCertificate(found->certPath);
    auto key = readKey(found->keyPath);
    ASSERT_TRUE(certificate);
    ASSERT_TRUE(key);
    EXPECT_EQ(X509_check_private_key(certificate.get(), key.get()), 1);
}

}  // namespace
