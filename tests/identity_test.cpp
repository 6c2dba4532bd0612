#include "identity/identity.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/files.h"

#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

template <typename T, typename Read>
std::unique_ptr<T, void (*)(T*)> readPem(const std::string& path, Read read, void (*release)(T*)) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    return {bio ? read(bio.get(), nullptr, nullptr, nullptr) : nullptr, release};
}

std::string keyParameter(EVP_PKEY* key, const char* name) {
    char value[80] = {};
    size_t length = 0;
    EVP_PKEY_get_utf8_string_param(key, name, value, sizeof value, &length);
    return std::string(value, length);
}

class IdentityTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(identityDirectory(), directory);
        freeIdentities();
    }
    void TearDown() override { freeIdentities(); }

    // The listed records as "host|scope".
    static Strings listed() {
        Strings out;
        for (const IdentityRecord& record : identityList())
            out.push_back(std::string(record.host) + "|" + record.scope);
        return out;
    }

    PrivateHome privateHome{"identity"};
    const std::string home = privateHome.path;
    const std::string directory = home + "/prefs/identities";
};

TEST_F(IdentityTest, CreatedCertificateIsTheFixedSelfSignedKind) {
    ASSERT_FALSE(fs::exists(home + "/prefs"));
    ASSERT_TRUE(createIdentity("host", "/", "My Identity 2"));
    const std::string certPath = directory + "/host $.cert", keyPath = directory + "/host $.key";
    EXPECT_EQ(fs::status(directory).permissions() & fs::perms::mask, fs::perms::owner_all);
    EXPECT_EQ(fs::status(keyPath).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(listed(), Strings{"host|/"});
    EXPECT_EQ(identityList().front().certPath, certPath);
    EXPECT_EQ(identityList().front().keyPath, keyPath);

    auto certificate = readPem<X509>(certPath, PEM_read_bio_X509, X509_free);
    ASSERT_TRUE(certificate);
    X509* cert = certificate.get();
    EXPECT_EQ(X509_get_version(cert), X509_VERSION_1);  // so no extensions
    X509_NAME* subject = X509_get_subject_name(cert);
    ASSERT_EQ(X509_NAME_entry_count(subject), 1);
    char commonName[64] = {};
    X509_NAME_get_text_by_NID(subject, NID_commonName, commonName, sizeof commonName);
    EXPECT_STREQ(commonName, "My Identity 2");
    EXPECT_EQ(X509_NAME_cmp(subject, X509_get_issuer_name(cert)), 0);
    // From 1978-01-01 00:00:00 to 2099-12-31 23:59:59 UTC.
    EXPECT_EQ(ASN1_TIME_cmp_time_t(X509_get0_notBefore(cert), 252460800), 0);
    EXPECT_EQ(ASN1_TIME_cmp_time_t(X509_get0_notAfter(cert), 4102444799), 0);
    int64_t serial = -1;
    ASSERT_EQ(ASN1_INTEGER_get_int64(&serial, X509_get0_serialNumber(cert)), 1);
    EXPECT_TRUE(serial >= 0 && serial < int64_t{1} << 31) << serial;

    EVP_PKEY* publicKey = X509_get0_pubkey(cert);
    ASSERT_NE(publicKey, nullptr);
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_GROUP_NAME), "prime256v1");
    EXPECT_EQ(keyParameter(publicKey, OSSL_PKEY_PARAM_EC_ENCODING), "named_curve");
    EXPECT_EQ(X509_get_signature_nid(cert), NID_ecdsa_with_SHA256);
    auto privateKey = readPem<EVP_PKEY>(keyPath, PEM_read_bio_PrivateKey, EVP_PKEY_free);  // unencrypted
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(EVP_PKEY_eq(privateKey.get(), publicKey), 1);

    // Creating again puts the old pair aside and lists the new one only.
    ASSERT_TRUE(createIdentity("host", "/", "a"));
    EXPECT_EQ(identityList().size(), 1u);
    EXPECT_EQ(findIdentity("host", "/"), &identityList().front());
    freeIdentities();
    loadIdentities();
    ASSERT_NE(findIdentity("host", "/some/page"), nullptr);
    EXPECT_EQ(findIdentity("host", "/some/page")->keyPath, keyPath);
}

TEST_F(IdentityTest, CommonNameIsTheTypedTextUpTo64Characters) {
    const std::string e40 = [] {
        std::string s;
        for (int i = 0; i < 40; ++i)
            s += "\xC3\xA9";
        return s;
    }();
    const struct {
        std::string name;
        bool made;
    } cases[] = {
        {"Jos\xC3\xA9", true}, {e40, true}, {std::string(64, 'a'), true}, {std::string(65, 'a'), false}};
    ASSERT_TRUE(makeDirectories(directory, 0700));
    for (const auto& c : cases) {
        ASSERT_EQ(makeCertificate(c.name.c_str(), "cn $"), c.made) << c.name;
        if (!c.made) continue;
        auto certificate = readPem<X509>(directory + "/cn $.cert", PEM_read_bio_X509, X509_free);
        ASSERT_TRUE(certificate);
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(X509_get_subject_name(certificate.get()), 0);
        const ASN1_STRING* data = X509_NAME_ENTRY_get_data(entry);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                              static_cast<size_t>(ASN1_STRING_length(data))),
                  c.name);
    }
}

TEST_F(IdentityTest, BaseNamesFromHostAndScope) {
    const std::string longHost(63, 'h');
    // Host, scope, the files' base name, and the record read back as "host|scope".
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {"host", "/a/b/", "host $a$b$", "host|/a/b/"},
        {"host", "/docs", "host $docs", "host|/docs"},
        // The base name keeps 127 bytes; the scope read back keeps 31 characters.
        {longHost, "/" + std::string(100, 's') + "/",
         (longHost + " $" + std::string(100, 's')).substr(0, 127), longHost + "|/" + std::string(30, 's')},
    };
    for (const auto& [host, scope, baseName, listedAs] : cases) {
        SCOPED_TRACE(baseName);
        freeIdentities();
        ASSERT_TRUE(createIdentity(host.c_str(), scope.c_str(), "Farlander"));
        EXPECT_TRUE(isRegularFile(directory + "/" + baseName + ".cert"));
        EXPECT_TRUE(isRegularFile(directory + "/" + baseName + ".key"));
        EXPECT_EQ(listed(), Strings{listedAs});
    }
    // A file where the folder belongs: nothing is made.
    fs::remove_all(directory);
    ASSERT_TRUE(writeFileAtomic(directory, "in the way\n"));
    freeIdentities();
    EXPECT_FALSE(createIdentity("host", "/", "Farlander"));
    EXPECT_TRUE(identityList().empty());
    EXPECT_FALSE(makeCertificate("Farlander", "host $"));
}

TEST_F(IdentityTest, AddIdentityReadsTwoWords) {
    const std::pair<std::string, std::string> cases[] = {
        // clang-format off
        {"host $a$b$", "host|/a/b/"}, {"host\t$", "host|/"}, {"  host   $  extra words", "host|/"},
        {"host $" + std::string(40, 'x'), "host|/" + std::string(30, 'x')},
        // A host word over 63 characters: the rest of the word is read as the scope.
        {std::string(70, 'w') + " $", std::string(63, 'w') + "|wwwwwww"},
        {"host", ""}, {"host ", ""}, {"   ", ""},  // one word or none: not added
        // clang-format on
    };
    for (const auto& [baseName, listedAs] : cases) {
        SCOPED_TRACE(baseName);
        freeIdentities();
        EXPECT_EQ(addIdentity(baseName.c_str()), !listedAs.empty());
        EXPECT_EQ(listed(), listedAs.empty() ? Strings{} : Strings{listedAs});
        EXPECT_TRUE(listedAs.empty() ||
                    identityList().front().keyPath == directory + "/" + baseName + ".key");
    }
    EXPECT_FALSE(addIdentity(nullptr));
}

TEST_F(IdentityTest, FindIdentityMatchesHostAndScope) {
    const std::string host63(63, 'l');
    for (const std::string& name :
         Strings{"host $", "other $docs$", "other $docs$private$", "Case $", "wide $any", host63 + " $"})
        ASSERT_TRUE(addIdentity(name.c_str()));
    // Host, path, and the index of the record found (-1: none). A path must begin with
    // the scope; hosts compare case-sensitively over at most 63 characters; the first
    // match wins; "$any" is read back as "/any".
    const std::tuple<std::string, const char*, int> cases[] = {
        // clang-format off
        {"host", "/any/page", 0}, {"host", "", -1}, {"hos", "/", -1}, {"hostx", "/", -1}, {"case", "/", -1},
        {"other", "/docs/private/x", 1}, {"other", "/docs", -1}, {"wide", "anything", -1},
        {"wide", "/anything", 4}, {host63 + "more", "/", 5},
        // clang-format on
    };
    for (const auto& [host, path, expected] : cases) {
        SCOPED_TRACE(host + " " + path);
        auto at = identityList().begin();
        std::advance(at, std::max(expected, 0));
        EXPECT_EQ(findIdentity(host.c_str(), path), expected < 0 ? nullptr : &*at);
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
        Strings got = listed();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (Strings{"host|/", "other|/docs/"}));
    }
    freeIdentities();
    EXPECT_EQ(findIdentity("host", "/"), nullptr);
}

}  // namespace
