#include "identity/identity.h"

#include <gtest/gtest.h>
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
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

template <typename T, typename Read>
T readPem(const std::string& path, Read read, typename T::deleter_type release) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    return T(bio ? read(bio.get(), nullptr, nullptr, nullptr) : nullptr, release);
}

Certificate readCertificate(const std::string& path) {
    return readPem<Certificate>(path, PEM_read_bio_X509, X509_free);
}

// "YYYY-MM-DD hh:mm:ss" (UTC).
std::string timeText(const ASN1_TIME* time) {
    std::tm parts{};
    char text[32] = "invalid";
    if (ASN1_TIME_to_tm(time, &parts) == 1) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string keyParameter(EVP_PKEY* key, const char* name) {
    char value[80] = {};
    size_t length = 0;
    EVP_PKEY_get_utf8_string_param(key, name, value, sizeof value, &length);
    return std::string(value, length);
}

// Checks the signature over the to-be-signed part by hand with SHA-256: X509_verify looks
// the digest up in legacy tables that stay empty after the TLS start-up with no digests.
bool signedBy(X509* certificate, EVP_PKEY* key) {
    unsigned char* tbs = nullptr;
    int tbsLength = i2d_re_X509_tbs(certificate, &tbs);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> tbsOwner(
        tbs, [](unsigned char* p) { OPENSSL_free(p); });
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, certificate);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return tbsLength > 0 && signature && context &&
           EVP_DigestVerifyInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key, nullptr) == 1 &&
           EVP_DigestVerify(context.get(), ASN1_STRING_get0_data(signature),
                            static_cast<size_t>(ASN1_STRING_length(signature)), tbs,
                            static_cast<size_t>(tbsLength)) == 1;
}

unsigned permissionBits(const std::string& path) {
    return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

class IdentityTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("FARLANDER_HOME")) savedHome = old;
        fs::remove_all(home);
        fs::create_directories(home);
        setEnvironment("FARLANDER_HOME", home);
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

    const std::string home = testing::TempDir() + "farlander-identity-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string directory = home + "/prefs/identities";
    std::string savedHome;
};

TEST_F(IdentityTest, CreatedCertificateIsTheFixedSelfSignedKind) {
    ASSERT_FALSE(fs::exists(home + "/prefs"));
    ASSERT_TRUE(createIdentity("host", "/", "My Identity 2"));
    const std::string certPath = directory + "/host $.cert";
    const std::string keyPath = directory + "/host $.key";
    EXPECT_EQ(permissionBits(directory), 0700u);
    EXPECT_EQ(permissionBits(keyPath), 0600u);
    EXPECT_EQ(listed(), std::vector<std::string>{"host|/"});
    EXPECT_EQ(identityList().front().certPath, certPath);
    EXPECT_EQ(identityList().front().keyPath, keyPath);

    Certificate certificate = readCertificate(certPath);
    ASSERT_TRUE(certificate);
    X509* cert = certificate.get();
    EXPECT_EQ(X509_get_version(cert), X509_VERSION_1);
    EXPECT_EQ(X509_get_ext_count(cert), 0);
    X509_NAME* subject = X509_get_subject_name(cert);
    ASSERT_EQ(X509_NAME_entry_count(subject), 1);
    char commonName[64] = {};
    X509_NAME_get_text_by_NID(subject, NID_commonName, commonName, sizeof commonName);
    EXPECT_STREQ(commonName, "My Identity 2");
    EXPECT_EQ(X509_NAME_cmp(subject, X509_get_issuer_name(cert)), 0);
    EXPECT_EQ(timeText(X509_get0_notBefore(cert)), "1978-01-01 00:00:00");
    EXPECT_EQ(timeText(X509_get0_notAfter(cert)), "2099-12-31 23:59:59");
    int64_t serial = -1;
    ASSERT_EQ(ASN1_INTEGER_get_int64(&serial, X509_get0_serialNumber(cert)), 1);
    EXPECT_GE(serial, 0);
    EXPECT_LT(serial, int64_t{1} << 31);

    EVP_PKEY* publicKey = X509_get0_pubkey(cert);
    ASSERT_NE(publicKey, nullptr);
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_GROUP_NAME), "prime256v1");
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_EC_ENCODING), "named_curve");
    EXPECT_TRUE(signedBy(cert, publicKey));
    EXPECT_EQ(X509_get_signature_nid(cert), NID_ecdsa_with_SHA256);
    Key privateKey = readPem<Key>(keyPath, PEM_read_bio_PrivateKey, EVP_PKEY_free);  // unencrypted
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(EVP_PKEY_eq(privateKey.get(), publicKey), 1);

    // Creating again replaces the files and adds a record; the first stays the one found.
    ASSERT_TRUE(createIdentity("host", "/", "a"));
    EXPECT_EQ(identityList().size(), 2u);
    EXPECT_EQ(findIdentity("host", "/"), &identityList().front());
    freeIdentities();
    loadIdentities();
    ASSERT_NE(findIdentity("host", "/some/page"), nullptr);
    EXPECT_EQ(findIdentity("host", "/some/page")->keyPath, keyPath);
}

TEST_F(IdentityTest, BaseNamesFromHostAndScope) {
    const std::string longHost(63, 'h');
    const std::string longScope = "/" + std::string(100, 's') + "/";
    const struct {
        std::string host;
        std::string scope;
        std::string baseName;
        std::string listedAs;
    } cases[] = {
        {"host", "/a/b/", "host $a$b$", "host|/a/b/"},
        {"capsule.example", "/docs", "capsule.example $docs", "capsule.example|/docs"},
        // The base name keeps 127 bytes; the scope read back keeps 31 characters.
        {longHost, longScope, (longHost + " $" + std::string(100, 's')).substr(0, 127),
         longHost + "|/" + std::string(30, 's')},
    };
    for (const auto& c : cases) {
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
    const struct {
        std::string baseName;
        std::string listedAs;  // empty: not added
    } cases[] = {
        {"host $a$b$", "host|/a/b/"},
        {"host\t$", "host|/"},
        {"  host   $  extra words", "host|/"},
        {"host $" + std::string(40, 'x'), "host|/" + std::string(30, 'x')},
        // A host word over 63 characters: the rest of the word is read as the scope.
        {std::string(70, 'w') + " $", std::string(63, 'w') + "|wwwwwww"},
        {"host", ""},
        {"host ", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baseName);
        freeIdentities();
        EXPECT_EQ(addIdentity(c.baseName.c_str()), !c.listedAs.empty());
        if (c.listedAs.empty()) {
            EXPECT_TRUE(identityList().empty());
            continue;
        }
        EXPECT_EQ(listed(), std::vector<std::string>{c.listedAs});
        EXPECT_EQ(identityList().front().keyPath, directory + "/" + c.baseName + ".key");
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
    const struct {
        std::string host;
        const char* path;
        int expected;  // index in the list, -1 for none
    } cases[] = {
        {"host", "/any/page", 0},
        {"host", "", -1},  // a path must begin with the scope
        {"hos", "/", -1},
        {"hostx", "/", -1},
        {"other", "/docs/private/x", 1},  // the first match wins
        {"other", "/docs", -1},
        {"case", "/", -1},  // case-sensitive
        {"wide", "anything", -1},
        {"wide", "/anything", 4},   // "$any" is read back as "/any"
        {host63 + "more", "/", 5},  // compared over 63 characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host + " " + c.path);
        auto at = identityList().begin();
        std::advance(at, std::max(c.expected, 0));
        EXPECT_EQ(findIdentity(c.host.c_str(), c.path), c.expected < 0 ? nullptr : &*at);
    }
    EXPECT_EQ(findIdentity(nullptr, "/"), nullptr);
}

TEST_F(IdentityTest, LoadListsCertificateFilesOnly) {
    loadIdentities();  // no folder yet
    EXPECT_TRUE(identityList().empty());
    ASSERT_TRUE(makeDirectories(directory, 0700));
    for (const char* name : {"host $.cert", "host $.key", ".cert", "x.cert", "other $docs$.cert", "note.txt",
                             "a b.cert.bak", "lonely $.key"})
        ASSERT_TRUE(writeFileAtomic(directory + "/" + name, "x\n"));
    ASSERT_TRUE(makeDirectories(directory + "/dir $.cert"));
    for (int round = 0; round < 2; ++round) {  // loading again starts afresh
        loadIdentities();
        std::vector<std::string> got = listed();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<std::string>{"host|/", "other|/docs/"}));
    }
    freeIdentities();
    EXPECT_EQ(findIdentity("host", "/"), nullptr);
}

}  // namespace
