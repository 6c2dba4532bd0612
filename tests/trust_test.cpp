// Trust against loopback TLS servers: keys pinned on first use and a changed key
// stopped before the request, identities kept to their Gemini host and port, sensitive
// answers kept out of every store, and the bound on a page's size.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "browser/commands.h"
#include "browser/identities.h"
#include "browser/load.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/fetch.h"
#include "net/known_hosts.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/spawn.h"
#include "store/bookmarks.h"
#include "store/cache.h"
#include "store/history.h"
#include "store/visited.h"
#include "support/private_home.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "support/window_fixture.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "url/url.h"

namespace fs = std::filesystem;

namespace {

const std::string OTHER_KEY(64, 'a');
const std::string TRUST_BUTTONS[] = {"Trust the new certificate", "Cancel"};

// The path of a Gemini request line ("gemini://127.0.0.1:PORT/path\r\n").
std::string pathOf(const std::string& requestLine) {
    size_t slash = requestLine.find('/', 9);
    size_t end = requestLine.find('\r');
    if (slash == std::string::npos || end == std::string::npos || end < slash) return {};
    return requestLine.substr(slash, end - slash);
}

std::string textPage(size_t bytes) {
    std::string page = "20 text/plain\r\n";
    while (page.size() < bytes)
        page += "a line of a long page\n";
    page.resize(bytes);
    return page;
}

// A capsule that records each request and answers by path; "/who" names the client's
// certificate.
void capsule(TlsServerConnection& c) {
    const std::string line = c.readLine();
    c.server().base().record(line);
    const std::string path = pathOf(line);
    const std::string who = c.peerCommonName().empty() ? "anonymous" : c.peerCommonName();
    if (path == "/") {
        c.write("20 text/gemini\r\n# Hello\nhello from the capsule\n=> /second next\n");
    } else if (path == "/who") {
        c.write("20 text/gemini\r\nclient: " + who + "\n");
    } else if (path == "/here") {
        c.write("30 /who\r\n");
    } else if (path.rfind("/away/", 0) == 0) {
        c.write("30 gemini://127.0.0.1:" + path.substr(6) + "/who\r\n");
    } else if (path == "/again") {
        c.write(who == "New" ? "20 text/gemini\r\nhello New\n" : "60 Another identity, please\r\n");
    } else if (path == "/login") {
        c.write("11 Password\r\n");
    } else if (path.rfind("/login?", 0) == 0) {
        c.write("20 text/gemini\r\nwelcome, the password was right\n=> /second next\n");
    } else if (path == "/ask") {
        c.write("10 Your name?\r\n");
    } else if (path.rfind("/ask?", 0) == 0) {
        c.write("20 text/gemini\r\nhello " + path.substr(5) + "\n");
    } else if (path.rfind("/text/", 0) == 0) {
        c.write(textPage(std::stoul(path.substr(6))));
    } else if (path.rfind("/binary/", 0) == 0) {
        c.write("20 application/octet-stream\r\n" + testBinary(std::stoul(path.substr(8)), 5));
    } else {
        c.write("51 Not found\r\n");
    }
}

// An HTTPS server that asks for a client certificate and answers 404.
void webServer(TlsServerConnection& c) {
    c.server().base().record(c.readLine());
    c.write("HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
}

TlsServerOptions askingForCertificates() {
    TlsServerOptions options;
    options.requestClientCertificate = true;
    return options;
}

// SHA-256 of the public key of a PEM private key, as the known hosts keep it.
std::string keyFingerprint(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                 BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    unsigned char* der = nullptr;
    int length = key ? i2d_PUBKEY(key.get(), &der) : 0;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    EVP_Digest(der, static_cast<size_t>(length), digest, &digestLength, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    std::string hex;
    for (unsigned i = 0; i < digestLength; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

// Every file under folder whose bytes hold text.
std::vector<std::string> filesHolding(const std::string& folder, const std::string& text) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::string bytes;
        if (readWholeFile(entry.path().string(), bytes) && bytes.find(text) != std::string::npos)
            found.push_back(entry.path().string());
    }
    return found;
}

struct Fetched {
    int32_t status = -1;
    std::string result;
    KnownHost pinned, seen;
    bool tooLarge = false;
    bool handedOver = false;
};

// ---- the fetch driver on this thread ----

class TrustFetch : public testing::Test {
  protected:
    void SetUp() override {
        freeIdentities();
        headlessReset();
        knownHostsOpen(knownHosts, true);
    }
    void TearDown() override {
        knownHostsClose();
        freeIdentities();
    }

    static Fetched fetch(const std::string& url, FetchOptions options = {}, size_t pageLimit = NET_PAGE_LIMIT,
                         const std::string& downloadTo = "") {
        auto exchange = std::make_unique<FetchExchange>();
        EXPECT_EQ(parseUrl(url.c_str(), exchange->request), 1) << url;
        exchange->options = options;
        exchange->pageLimit = pageLimit;
        Fetched out;
        const char* result = netGetFile(*exchange, out.status, [&](FetchExchange& ex) {
            out.handedOver = true;
            ex.downloadName = downloadTo;
            ex.downloadAccepted = !downloadTo.empty();
        });
        out.result = result ? std::string(result, exchange->resultLength) : "(none)";
        out.pinned = exchange->pinnedKey;
        out.seen = exchange->seenKey;
        out.tooLarge = exchange->pageTooLarge;
        return out;
    }

    PrivateHome privateHome{"trust"};
    const std::string knownHosts = privateHome.path + "/prefs/known_hosts";
};

// The first contact pins the key; a renewed certificate with the same key passes and
// moves the expiry; another key, expired pin or not, ends the fetch before the request
// and before any identity is shown.
TEST_F(TrustFetch, PinsOnFirstUseAndStopsBeforeTheRequestWhenTheKeyChanges) {
    TlsServer original(askingForCertificates(), capsule);
    ASSERT_TRUE(original.ok());
    const std::string key = original.keyPem();
    const std::string fingerprint = keyFingerprint(key);
    const int64_t year2001 = knownHostSeconds(2001, 1, 1, 0, 0, 0);
    const int64_t past = knownHostSeconds(2020, 1, 1, 0, 0, 0),
                  future = knownHostSeconds(2090, 1, 1, 0, 0, 0);
    enum Seed { NONE, SAME_KEY, OTHER };
    const struct Row {
        const char* name;
        Seed seed;
        int64_t seededExpiry;
        bool sameKeyExpiredCertificate;  // the server shows the original key in an expired certificate
        int32_t status;
        const char* expiredNote;
    } rows[] = {
        {"first contact", NONE, 0, false, FETCH_PAGE, nullptr},
        {"renewed, same key", SAME_KEY, future, true, FETCH_PAGE, nullptr},
        {"changed, pin valid", OTHER, future, false, FETCH_CERT_CHANGED, "has not expired yet"},
        {"changed, pin expired", OTHER, past, false, FETCH_CERT_CHANGED, "has expired"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TlsServerOptions options = askingForCertificates();
        options.keyPem = key;
        options.expiredCertificate = row.sameKeyExpiredCertificate;
        TlsServer server(options, capsule);
        ASSERT_TRUE(server.ok());
        const int port = server.port();
        ASSERT_TRUE(createIdentity("127.0.0.1", port, "/", "Tester"));
        const KnownHost seeded{"127.0.0.1", port, row.seed == OTHER ? OTHER_KEY : fingerprint,
                               row.seededExpiry};
        if (row.seed != NONE) {
            ASSERT_TRUE(knownHostTrust(seeded));
        }

        const Fetched got = fetch(local("gemini", port, "/who"));
        EXPECT_EQ(got.status, row.status) << got.result;
        const std::optional<KnownHost> pin = knownHostFind("127.0.0.1", port);
        ASSERT_TRUE(pin);
        if (row.status == FETCH_PAGE) {
            EXPECT_EQ(got.result, "20 text/gemini\r\nclient: Tester\n");
            EXPECT_EQ(pin->fingerprint, fingerprint);
            EXPECT_EQ(pin->expires == year2001, row.sameKeyExpiredCertificate) << knownHostDate(pin->expires);
            EXPECT_EQ(server.base().records().size(), 1u);
        } else {
            EXPECT_EQ(pin->fingerprint, OTHER_KEY) << "only the user replaces a pin";
            EXPECT_EQ(got.pinned.fingerprint, OTHER_KEY);
            EXPECT_EQ(got.seen.fingerprint, fingerprint);
            EXPECT_EQ(got.seen.port, port);
            for (const std::string& part :
                 {std::string("Server certificate changed: 127.0.0.1:") + std::to_string(port), OTHER_KEY,
                  fingerprint, std::string(row.expiredNote)})
                EXPECT_NE(got.result.find(part), std::string::npos) << part << "\n" << got.result;
            EXPECT_TRUE(server.base().waitForEvent("handshake failed"));
            EXPECT_EQ(server.handshakesCompleted(), 0) << "no identity was shown";
            EXPECT_TRUE(server.base().records().empty()) << "no request was sent";
        }
        std::string file;
        ASSERT_TRUE(readWholeFile(knownHosts, file));
        EXPECT_EQ(knownHostsParse(file).size(), knownHostsList().size()) << "the file follows the store";
        freeIdentities();
    }
}

// An identity goes only to a Gemini request for the host and port it was made for,
// never to an HTTPS server, and not when the fetch is told to go without it.
TEST_F(TrustFetch, IdentityGoesOnlyToItsGeminiHostAndPort) {
    TlsServer mine(askingForCertificates(), capsule), other(askingForCertificates(), capsule),
        web(askingForCertificates(), webServer);
    ASSERT_TRUE(mine.ok() && other.ok() && web.ok());
    ASSERT_TRUE(createIdentity("127.0.0.1", mine.port(), "/", "Mine"));
    ASSERT_TRUE(createIdentity("127.0.0.1", web.port(), "/", "Web"));
    ASSERT_TRUE(createIdentity("127.0.0.1", "/", "Default port"));
    FetchOptions without;
    without.withoutIdentity = true;
    const struct Row {
        std::string url;
        FetchOptions options;
        TlsServer* server;
        const char* presented;
    } rows[] = {
        {local("gemini", mine.port(), "/who"), {}, &mine, "Mine"},
        {local("gemini", mine.port(), "/who"), without, &mine, ""},
        {local("gemini", other.port(), "/who"), {}, &other, ""},
        {local("https", web.port(), "/"), {}, &web, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        const int before = row.server->handshakesCompleted();
        fetch(row.url, row.options);
        ASSERT_EQ(row.server->handshakesCompleted(), before + 1);
        EXPECT_EQ(row.server->lastPeerCommonName(), row.presented);
    }
    EXPECT_EQ(web.base().records().size(), 1u);
}

TEST_F(TrustFetch, ProtocolsBelowTls12AreNotOffered) {
    TlsServerOptions old;
    old.minVersion = TLS1_VERSION;
    old.maxVersion = TLS1_1_VERSION;
    old.cipherList = "ECDHE-ECDSA-AES128-SHA:@SECLEVEL=0";
    TlsServer server(old, capsule);
    ASSERT_TRUE(server.ok());
    const Fetched got = fetch(local("gemini", server.port(), "/"));
    EXPECT_EQ(got.status, FETCH_NETWORK_ERROR);
    EXPECT_EQ(got.result, "Network error: could not establish SSL connection");
    EXPECT_FALSE(knownHostFind("127.0.0.1", server.port())) << "nothing pinned without a handshake";
}

// A page past the bound ends as an error that says so; a download, or a page fetched
// as one, has no bound.
TEST_F(TrustFetch, PagesHaveABoundAndDownloadsHaveNone) {
    TlsServer server(TlsServerOptions{}, capsule);
    TestServer gopher([](TestConnection& c) {
        c.readLine();
        c.send(std::string(70000, 'g'));
    });
    ASSERT_TRUE(server.ok() && gopher.ok());
    const size_t limit = 65536;
    const std::string file = privateHome.path + "/saved.bin";
    FetchOptions asDownload;
    asDownload.asDownload = true;
    const struct Row {
        std::string url;
        FetchOptions options;
        size_t limit;
        int32_t status;
        bool tooLarge;
        size_t saved;  // bytes in the download file (0: none)
    } rows[] = {
        {local("gemini", server.port(), "/text/65536"), {}, limit, FETCH_PAGE, false, 0},
        {local("gemini", server.port(), "/text/65537"), {}, limit, FETCH_NETWORK_ERROR, true, 0},
        {local("gopher", gopher.port(), "/0/big"), {}, limit, FETCH_NETWORK_ERROR, true, 0},
        {local("gemini", server.port(), "/binary/300000"), {}, limit, FETCH_DOWNLOAD, false, 300000},
        {local("gemini", server.port(), "/text/100000"), asDownload, limit, FETCH_DOWNLOAD, false,
         100000 - 15},
        // One real size: 8 MiB.
        {local("gemini", server.port(), "/text/8389632"), {}, size_t{8} << 20, FETCH_NETWORK_ERROR, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        removeFile(file);
        const Fetched got = fetch(row.url, row.options, row.limit, file);
        EXPECT_EQ(got.status, row.status) << got.result.substr(0, 80);
        EXPECT_EQ(got.tooLarge, row.tooLarge);
        EXPECT_TRUE(!row.tooLarge || got.result == messageText(MSG_ERR_PAGE_TOO_LARGE)) << got.result;
        EXPECT_TRUE(row.status != FETCH_PAGE || got.result.size() == row.limit);
        EXPECT_EQ(fileSize(file), row.saved ? static_cast<long long>(row.saved) : -1);
    }
}

// Old file names mean the Gemini port; "host:port" names another one.
TEST(IdentityNames, APortAfterTheHostAndOtherwise1965) {
    PrivateHome home{"identity-names"};
    const std::string host63(63, 'h');
    const struct Row {
        std::string baseName;
        std::string host;
        int32_t port;
    } rows[] = {
        {"capsule $", "capsule", 1965},
        {"capsule:1966 $", "capsule", 1966},
        {"capsule:65535 $docs$", "capsule", 65535},
        {host63 + ":70 $", host63, 70},
        // No port that can be: the word is the host, as in older names.
        {"capsule:0 $", "capsule:0", 1965},
        {"capsule:65536 $", "capsule:65536", 1965},
        {"capsule: $", "capsule:", 1965},
        {":1966 $", ":1966", 1965},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baseName);
        freeIdentities();
        ASSERT_TRUE(addIdentity(row.baseName.c_str()));
        const IdentityRecord& record = identityList().front();
        EXPECT_EQ(record.host, row.host);
        EXPECT_EQ(record.port, row.port);
        EXPECT_EQ(record.baseName, row.baseName);
        EXPECT_EQ(findIdentity(row.host.c_str(), row.port, "/docs/x"), &record);
        EXPECT_EQ(findIdentity(row.host.c_str(), row.port + 1, "/docs/x"), nullptr);
    }
    freeIdentities();
    EXPECT_EQ(identityBaseName("capsule", 1965, "/a/"), "capsule $a$");
    EXPECT_EQ(identityBaseName("capsule", 1966, "/"), "capsule:1966 $");
}

// ---- the browser: the window, the network task and scripted answers ----

class TrustBrowser : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        startNetwork();
        knownHostsOpen(home + "/prefs/known_hosts", true);
        server = std::make_unique<TlsServer>(askingForCertificates(), capsule);
        ASSERT_TRUE(server->ok());
        if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
    }
    void TearDown() override {
        if (server) server->stop();
        fetchExchange().pageLimit = NET_PAGE_LIMIT;
        knownHostsClose();
        WindowTest::TearDown();
    }
    std::string url(const std::string& path) const { return local("gemini", server->port(), path); }
    void open(const std::string& address) {
        loadPage(address.c_str());
        ASSERT_TRUE(settle());
    }
    std::unique_ptr<TlsServer> server;
};

TEST_F(TrustBrowser, AChangedKeyAsksFirstThenCancelShowsTheErrorPageAndTrustPinsIt) {
    const std::string fingerprint = keyFingerprint(server->keyPem());
    ASSERT_TRUE(
        knownHostTrust({"127.0.0.1", server->port(), OTHER_KEY, knownHostSeconds(2090, 1, 1, 0, 0, 0)}));
    int answer = 1;  // Cancel
    std::vector<std::string> asked;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER &&
            std::equal(call.buttons.begin(), call.buttons.end(), std::begin(TRUST_BUTTONS),
                       std::end(TRUST_BUTTONS))) {
            asked.push_back(call.body);
            a.button = answer;
        }
        return a;
    });
    open(url("/"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find(OTHER_KEY), std::string::npos);
    EXPECT_NE(asked[0].find(fingerprint), std::string::npos);
    EXPECT_GE(findLine("Server certificate changed"), 0);
    EXPECT_GE(findLine("Reload the page to decide again."), 0);
    EXPECT_EQ(currentPage()->address.url, url("/"));
    EXPECT_TRUE(server->base().records().empty()) << "nothing was sent";
    EXPECT_EQ(knownHostFind("127.0.0.1", server->port())->fingerprint, OTHER_KEY);

    answer = 0;  // Trust the new certificate
    runCommand(CMD_RELOAD);
    ASSERT_TRUE(settle());
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_GE(findLine("hello from the capsule"), 0);
    EXPECT_EQ(server->base().records().size(), 1u);
    EXPECT_EQ(knownHostFind("127.0.0.1", server->port())->fingerprint, fingerprint);
    EXPECT_EQ(filesHolding(home, fingerprint), std::vector<std::string>{home + "/prefs/known_hosts"});

    open(url("/second"));  // pinned now: no question
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(TrustBrowser, ARedirectToAnotherPortGoesWithoutTheIdentity) {
    TlsServer other(askingForCertificates(), capsule);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(createIdentity("127.0.0.1", server->port(), "/", "Here"));
    ASSERT_TRUE(createIdentity("127.0.0.1", other.port(), "/", "There"));
    const struct Row {
        std::string address;
        const char* shown;
    } rows[] = {
        {url("/here"), "client: Here"},                                       // same host and port
        {url("/away/" + std::to_string(other.port())), "client: anonymous"},  // another port
        {local("gemini", other.port(), "/who"), "client: There"},             // typed: its own identity
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        cacheDelete(row.address);
        open(row.address);
        EXPECT_GE(findLine(row.shown), 0) << row.shown;
    }
}

TEST_F(TrustBrowser, ReplacingAnIdentityAsksAndKeepsTheOldPair) {
    const int port = server->port();
    ASSERT_TRUE(createIdentity("127.0.0.1", port, "/", "Old"));
    const std::string base = identityBaseName("127.0.0.1", port, "/");
    EXPECT_EQ(base, "127.0.0.1:" + std::to_string(port) + " $");
    int replace = 1;  // Cancel
    int replaceAsked = 0;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER && call.buttons.size() == 2 &&
            call.buttons[0] == "Make a new identity") {
            ++replaceAsked;
            a.button = replace;
        }
        if (call.what == ShellCall::REQUESTER && call.buttons.size() == 3) a.button = 1;  // Edit CN
        if (call.what == ShellCall::INPUT) a.text = "New";
        return a;
    });
    auto files = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(identityDirectory()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    open(url("/again"));
    EXPECT_EQ(replaceAsked, 1);
    EXPECT_EQ(files(), (std::vector<std::string>{base + ".cert", base + ".key"}));
    EXPECT_EQ(identityDetails(identityList().front()).commonName, "Old");

    replace = 0;  // Make a new identity
    open(url("/again"));
    EXPECT_EQ(replaceAsked, 2);
    EXPECT_GE(findLine("hello New"), 0);
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], base + ".cert");
    EXPECT_TRUE(names[1].starts_with(base + ".cert.replaced-")) << names[1];
    EXPECT_EQ(names[2], base + ".key");
    EXPECT_TRUE(names[3].starts_with(base + ".key.replaced-")) << names[3];
    IdentityRecord kept;
    kept.certPath = identityDirectory() + "/" + names[1];
    EXPECT_EQ(identityDetails(kept).commonName, "Old");
    ASSERT_EQ(identityList().size(), 1u);
    EXPECT_EQ(identityDetails(identityList().front()).commonName, "New");
}

TEST_F(TrustBrowser, TheIdentitiesPageListsEachAndDeletesAfterAsking) {
    ASSERT_TRUE(createIdentity("127.0.0.1", server->port(), "/", "Alice"));
    ASSERT_TRUE(createIdentity("capsule.example", "/docs/", "Bob"));
    const IdentityDetails alice = identityDetails(identityList().front());
    ASSERT_TRUE(alice.readable);
    int confirm = 1;  // Cancel
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER) a.button = confirm;
        return a;
    });
    guiSimulateMenu(commandCode(CMD_MANAGE_IDENTITIES));
    ASSERT_TRUE(settle());
    const std::string where = "127.0.0.1:" + std::to_string(server->port());
    for (const std::string& line :
         {where, std::string("Common name: Alice"), "sha256:" + alice.fingerprint,
          std::string("Valid from: 1978-01-01T00:00:00Z"), std::string("Valid until: 2099-12-31T23:59:59Z"),
          std::string("capsule.example:1965"), std::string("Pages under: /docs/"),
          std::string("Common name: Bob"), "Identities are kept in: " + identityDirectory()})
        EXPECT_GE(findLine(line), 0) << line;

    for (bool confirmed : {false, true}) {
        SCOPED_TRACE(confirmed);
        confirm = confirmed ? 0 : 1;
        const int link = findLine("delete " + where);
        ASSERT_GE(link, 0);
        const std::string command = currentPage()->model.lines[link].linkUrl;
        EXPECT_EQ(command, identityDeleteAddress(identityList().front().baseName));
        open(command);
        EXPECT_EQ(currentPage()->address.url, std::string("IDENTITIES"));
        EXPECT_EQ(findLine("Common name: Alice") >= 0, !confirmed);
        EXPECT_EQ(identityList().size(), confirmed ? 1u : 2u);
        EXPECT_EQ(
            isRegularFile(identityDirectory() + "/127.0.0.1:" + std::to_string(server->port()) + " $.key"),
            !confirmed);
    }
    EXPECT_GE(findLine("Common name: Bob"), 0);
    EXPECT_FALSE(isVisited("IDENTITIES"));
}

// Status 11 masks the input and keeps the answer out of the history, the visited list
// and its file, the HISTORY page, the URL field, bookmarks and the cache; status 10
// keeps its query as before.
TEST_F(TrustBrowser, ASensitiveAnswerReachesNoStore) {
    const std::string secret = "s3cret-Answer";
    std::vector<bool> masked;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::INPUT) {
            masked.push_back(call.masked);
            a.text = call.title == "Password" ? secret : "visible";
        }
        if (call.what == ShellCall::REQUESTER) a.button = 0;  // OK to the bookmark
        return a;
    });
    open(url("/ask"));
    EXPECT_EQ(currentPage()->address.url, url("/ask?visible"));
    open(url("/login"));
    EXPECT_EQ(masked, (std::vector<bool>{false, true}));
    EXPECT_GE(findLine("welcome, the password was right"), 0);
    EXPECT_EQ(server->base().records().back(), url("/login?" + secret) + "\r\n");

    EXPECT_EQ(currentPage()->address.url, url("/login"));
    EXPECT_EQ(guiGadgetText(GAD_URL), url("/login"));
    EXPECT_EQ(currentEntry()->url, url("/login"));
    EXPECT_FALSE(cacheGet(url("/login?" + secret)));
    EXPECT_TRUE(cacheGet(url("/login")));
    runCommand(CMD_ADD_BOOKMARK);
    EXPECT_EQ(bookmarkList(), std::vector<std::string>{url("/login")});
    for (const std::string& visited : visitedEntries())
        EXPECT_EQ(visited.find(secret), std::string::npos) << visited;
    EXPECT_EQ(historyView()->find(secret), std::string::npos);
    // Back and Forward over it come back without the answer.
    goBack();
    ASSERT_TRUE(settle());
    goForward();
    ASSERT_TRUE(settle());
    EXPECT_EQ(currentPage()->address.url, url("/login"));
    ASSERT_TRUE(visitedWrite());
    EXPECT_EQ(filesHolding(home, secret), std::vector<std::string>{});
    EXPECT_EQ(filesHolding(home, "visible").size(), 1u) << "an ordinary answer is kept as before";
}

TEST_F(TrustBrowser, TheInputWindowHidesWhatIsTypedOnlyWhenMasked) {
    for (bool hide : {false, true}) {
        SCOPED_TRACE(hide);
        std::string shown;
        guiAtNextDialog([&] {
            shown = guiDialogType("secret");
            guiDialogKey(false);
        });
        std::string text;
        EXPECT_FALSE(guiInput(InputSpec{"Password", "", 20, "OK", "Cancel", hide}, text));
        EXPECT_EQ(text, "secret");
        EXPECT_FALSE(shown.empty());
        EXPECT_EQ(shown.find_first_of("secrt") == std::string::npos, hide) << shown;
    }
}

TEST_F(TrustBrowser, APageTooLargeShowsItsErrorPageAndOffersADownload) {
    fetchExchange().pageLimit = 65536;
    const std::string target = home + "/page.txt";
    int offered = 0;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER && !call.buttons.empty() &&
            call.buttons[0] == "Save as download") {
            ++offered;
            a.button = 0;
        }
        if (call.what == ShellCall::SAVE_FILE) a.text = target;
        return a;
    });
    open(url("/text/100000"));
    EXPECT_EQ(offered, 1);
    EXPECT_GE(findLine(messageText(MSG_ERR_PAGE_TOO_LARGE)), 0);
    EXPECT_EQ(currentPage()->address.url, url("/text/100000"));
    EXPECT_EQ(fileSize(target), 100000 - 15);  // the body, without the header line
    EXPECT_EQ(server->base().records().size(), 2u);
}

// ---- the command-line dump ----

class TrustDump : public testing::Test {
  protected:
    ProgramResult dump(const std::vector<std::string>& args) {
        std::vector<std::string> argv{FARLANDER_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProgram(argv, {{"FARLANDER_HOME", privateHome.path}, {"LANGUAGE", ""}}, {}, 60000);
    }
    PrivateHome privateHome{"trust-dump"};
    const std::string knownHosts = privateHome.path + "/prefs/known_hosts";
};

// A changed key is exit code 6 with the facts on standard error; the dump checks the
// known hosts but never writes them.
TEST_F(TrustDump, AChangedKeyIsExitCode6AndTheFileIsNeverWritten) {
    TlsServer server(TlsServerOptions{}, capsule);
    ASSERT_TRUE(server.ok());
    const std::string fingerprint = keyFingerprint(server.keyPem());
    const std::string address = local("gemini", server.port(), "/");
    ASSERT_TRUE(makeDirectories(privateHome.path + "/prefs"));
    const struct Row {
        std::string file;  // the known hosts before ("": none)
        int code;
    } rows[] = {
        {"", 0},
        {"127.0.0.1 " + std::to_string(server.port()) + " sha256:" + OTHER_KEY + " 2090-01-01T00:00:00Z\n",
         6},
        {"127.0.0.1 " + std::to_string(server.port()) + " sha256:" + fingerprint + " 2090-01-01T00:00:00Z\n",
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        removeFile(knownHosts);
        if (!row.file.empty()) {
            ASSERT_TRUE(writeFileAtomic(knownHosts, row.file));
        }
        const size_t served = server.base().records().size();
        const ProgramResult r = dump({"--dump", address});
        EXPECT_EQ(r.exitCode, row.code) << r.err;
        if (row.code == 6) {
            EXPECT_EQ(r.out, "");
            for (const std::string& part :
                 {"Server certificate changed: 127.0.0.1:" + std::to_string(server.port()), OTHER_KEY,
                  fingerprint})
                EXPECT_NE(r.err.find(part), std::string::npos) << part << "\n" << r.err;
            EXPECT_EQ(server.base().records().size(), served) << "nothing was sent";
        } else {
            EXPECT_NE(r.out.find("hello from the capsule"), std::string::npos);
        }
        std::string after;
        EXPECT_EQ(readWholeFile(knownHosts, after), !row.file.empty());
        EXPECT_EQ(after, row.file);
    }
    const ProgramResult help = dump({"--help"});
    EXPECT_NE(help.out.find("6 server certificate changed"), std::string::npos) << help.out;
}

}  // namespace
