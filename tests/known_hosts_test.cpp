// The known-hosts file: its reader and writer, its dates, and the store that pins,
// checks and saves.
#include "net/known_hosts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;

const std::string FP_A(64, 'a');
const std::string FP_B = std::string(32, '0') + std::string(32, 'f');

// "host:port=fingerprint@expiry" for each entry, in order.
std::vector<std::string> summary(const std::vector<KnownHost>& entries) {
    std::vector<std::string> out;
    for (const KnownHost& e : entries)
        out.push_back(e.host + ":" + std::to_string(e.port) + "=" + e.fingerprint.substr(0, 4) + "@" +
                      std::to_string(e.expires));
    return out;
}

TEST(KnownHostsText, ReaderTakesGoodLinesAndSkipsTheRest) {
    const std::string good = "capsule.example 1965 sha256:" + FP_A + " 2030-06-15T12:30:00Z";
    const int64_t june2030 = knownHostSeconds(2030, 6, 15, 12, 30, 0);
    const struct {
        std::string text;
        std::vector<std::string> entries;
    } cases[] = {
        {"", {}},
        {good, {"capsule.example:1965=aaaa@" + std::to_string(june2030)}},
        {good + "\r\n# a comment\n\n   \n", {"capsule.example:1965=aaaa@" + std::to_string(june2030)}},
        // Case is taken out of hosts and fingerprints; spaces and tabs both separate.
        {"Capsule.EXAMPLE\t1965  SHA256:" + std::string(64, 'A') + "\t2030-06-15T12:30:00Z",
         {"capsule.example:1965=aaaa@" + std::to_string(june2030)}},
        // An unreadable expiry keeps the pin, with the expiry unknown.
        {"h 1 sha256:" + FP_A + " 2030-02-30T00:00:00Z", {"h:1=aaaa@0"}},
        {"h 65535 sha256:" + FP_A, {"h:65535=aaaa@0"}},
        // The same host and port twice: the later line, in the earlier place.
        {"a 1 sha256:" + FP_A + "\nb 2 sha256:" + FP_A + "\na 1 sha256:" + FP_B,
         {"a:1=0000@0", "b:2=aaaa@0"}},
        // Lines without a host, a valid port or a full fingerprint are skipped.
        {"h 0 sha256:" + FP_A, {}},
        {"h 65536 sha256:" + FP_A, {}},
        {"h 1965x sha256:" + FP_A, {}},
        {"h 1965 md5:" + FP_A, {}},
        {"h 1965 sha256:" + FP_A.substr(1), {}},
        {"h 1965 sha256:" + FP_A + "a", {}},
        {"h 1965 sha256:" + FP_A.substr(1) + "g", {}},
        {"h 1965", {}},
        {std::string(64, 'h') + " 1965 sha256:" + FP_A, {}},
        {std::string("h\x01 1965 sha256:") + FP_A, {}},
        {std::string("\0 1 x\n", 6), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(summary(knownHostsParse(c.text)), c.entries);
    }
}

TEST(KnownHostsText, WriterAndReaderAgree) {
    const std::vector<KnownHost> entries = {
        {"capsule.example", 1965, FP_A, knownHostSeconds(2099, 12, 31, 23, 59, 59)},
        {"127.0.0.1", 40000, FP_B, 0},
        {"old.example", 1966, FP_B, knownHostSeconds(1978, 1, 1, 0, 0, 0)},
    };
    const std::string text = knownHostsFormat(entries);
    EXPECT_EQ(text.substr(0, 2), "# ");
    EXPECT_NE(text.find("\ncapsule.example 1965 sha256:" + FP_A + " 2099-12-31T23:59:59Z\n"),
              std::string::npos);
    EXPECT_EQ(summary(knownHostsParse(text)), summary(entries));
    EXPECT_EQ(knownHostsFormat(knownHostsParse(text)), text);
}

TEST(KnownHostsText, DatesConvertBothWays) {
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {978307199, "2000-12-31T23:59:59Z"},
        {252460800, "1978-01-01T00:00:00Z"},
        {4102444799, "2099-12-31T23:59:59Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(knownHostDate(c.seconds), c.text);
        int64_t back = 12345;
        ASSERT_TRUE(knownHostParseDate(c.text, back));
        EXPECT_EQ(back, c.seconds);
    }
    // Out of range times are written as the nearest date the form can hold.
    EXPECT_EQ(knownHostDate(int64_t{1} << 60), "9999-12-31T23:59:59Z");
    for (const char* bad : {"2001-02-29T00:00:00Z", "2000-13-01T00:00:00Z", "2000-01-01T24:00:00Z",
                            "2000-01-01 00:00:00Z", "2000-01-01T00:00:00", "2000-1-01T00:00:00Z", ""}) {
        int64_t seconds = 0;
        EXPECT_FALSE(knownHostParseDate(bad, seconds)) << bad;
    }
}

class KnownHostsStore : public testing::Test {
  protected:
    void TearDown() override { knownHostsClose(); }
    std::string fileText() {
        std::string text;
        readWholeFile(path, text);
        return text;
    }
    PrivateHome privateHome{"known-hosts"};
    const std::string path = privateHome.path + "/prefs/known_hosts";
};

TEST_F(KnownHostsStore, PinsFirstContactsFollowsRenewalsAndKeepsChangesForTheUser) {
    EXPECT_EQ(knownHostCheck("h", 1965, FP_A), KNOWN_HOST_OFF);
    EXPECT_FALSE(knownHostRemember({"h", 1965, FP_A, 100}));
    knownHostsOpen(path, true);
    EXPECT_EQ(knownHostCheck("h", 1965, FP_A), KNOWN_HOST_NEW);
    EXPECT_FALSE(fs::exists(path)) << "nothing to save yet";

    ASSERT_TRUE(knownHostRemember({"H", 1965, FP_A, 100}));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(knownHostCheck("h", 1965, FP_A), KNOWN_HOST_SAME);
    EXPECT_EQ(knownHostCheck("h", 1966, FP_A), KNOWN_HOST_NEW) << "each port is its own";
    KnownHost pinned;
    EXPECT_EQ(knownHostCheck("h", 1965, FP_B, &pinned), KNOWN_HOST_CHANGED);
    EXPECT_EQ(pinned.fingerprint, FP_A);
    EXPECT_EQ(knownHostCheck("h", 1965, ""), KNOWN_HOST_CHANGED) << "no certificate never matches";

    // A renewal (same key, later expiry) is followed; another key is not taken silently.
    EXPECT_TRUE(knownHostRemember({"h", 1965, FP_A, 200}));
    EXPECT_FALSE(knownHostRemember({"h", 1965, FP_A, 200}));
    EXPECT_FALSE(knownHostRemember({"h", 1965, FP_B, 300}));
    EXPECT_EQ(summary(knownHostsList()), std::vector<std::string>{"h:1965=aaaa@200"});

    // The user's trust replaces the pin, and the file follows every change.
    ASSERT_TRUE(knownHostTrust({"h", 1965, FP_B, 300}));
    EXPECT_EQ(summary(knownHostsParse(fileText())), std::vector<std::string>{"h:1965=0000@300"});
    ASSERT_TRUE(fs::exists(path));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(knownHostRemember({"other", 70, FP_A, 5}));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
        << "an existing file keeps its mode";

    // Read again at the next start.
    knownHostsClose();
    knownHostsOpen(path, true);
    EXPECT_EQ(summary(knownHostsList()), (std::vector<std::string>{"h:1965=0000@300", "other:70=aaaa@5"}));
}

TEST_F(KnownHostsStore, AReadOnlyStoreOrAnUnreadableFileIsNeverWritten) {
    ASSERT_TRUE(makeDirectories(privateHome.path + "/prefs"));
    const std::string original = "h 1965 sha256:" + FP_A + " 2030-01-01T00:00:00Z\n";
    ASSERT_TRUE(writeFileAtomic(path, original));
    knownHostsOpen(path, false);
    EXPECT_EQ(knownHostCheck("h", 1965, FP_B), KNOWN_HOST_CHANGED);
    EXPECT_TRUE(knownHostRemember({"new", 1965, FP_B, 1}));
    EXPECT_EQ(knownHostCheck("new", 1965, FP_B), KNOWN_HOST_SAME) << "pinned in memory";
    EXPECT_TRUE(knownHostTrust({"h", 1965, FP_B, 1}));
    EXPECT_EQ(fileText(), original);

    // A known-hosts path that cannot be read (a folder here) is not replaced.
    const std::string folder = privateHome.path + "/prefs/folder";
    ASSERT_TRUE(makeDirectories(folder));
    knownHostsOpen(folder, true);
    EXPECT_TRUE(knownHostsList().empty());
    EXPECT_TRUE(knownHostRemember({"h", 1965, FP_A, 1}));
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(KnownHostsChange, TextNamesTheHostBothKeysAndWhetherThePinHadExpired) {
    const KnownHost pinned{"capsule.example", 1966, FP_A, knownHostSeconds(2020, 1, 1, 0, 0, 0)};
    const KnownHost seen{"capsule.example", 1966, FP_B, knownHostSeconds(2030, 1, 1, 0, 0, 0)};
    for (bool expired : {true, false}) {
        const int64_t now = pinned.expires + (expired ? 1 : -1);
        const std::string text = knownHostChangeText(pinned, seen, now);
        SCOPED_TRACE(text);
        for (const std::string& part :
             {std::string("Server certificate changed: capsule.example:1966"), "sha256:" + FP_A,
              "sha256:" + FP_B, std::string("2020-01-01T00:00:00Z"), std::string("2030-01-01T00:00:00Z")})
            EXPECT_NE(text.find(part), std::string::npos) << part;
        EXPECT_EQ(text.find("has expired") != std::string::npos, expired);
        EXPECT_EQ(text.find("not expired") != std::string::npos, !expired);
    }
}

}  // namespace
