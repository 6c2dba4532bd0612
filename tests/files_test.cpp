// Crash-safe files and the preferences folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

class FilesTest : public testing::Test {
  protected:
    void SetUp() override {
        dir = testing::TempDir() + "farlander-files-" +
              testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        ASSERT_TRUE(makeDirectories(dir + "/a/b"));
        dir += "/a/b";
    }
    void TearDown() override { fs::remove_all(fs::path(dir).parent_path().parent_path()); }
    std::string dir;
};

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
    std::string path = dir + "/bookmarks.txt";
    std::string text;
    for (const std::string& content : {std::string("first\n"), std::string(200000, 'x'), std::string()}) {
        ASSERT_TRUE(writeFileAtomic(path, content));
        ASSERT_TRUE(readWholeFile(path, text));
        EXPECT_EQ(text, content);
    }
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        entries++;
    EXPECT_EQ(entries, 1);
}

TEST_F(FilesTest, FailedWriteKeepsTheOldFile) {
    std::string path = dir + "/visited.txt";
    ASSERT_TRUE(writeFileAtomic(path, "old\n"));
    // A folder in the way of the new name, and a folder that does not exist.
    fs::create_directory(dir + "/blocked");
    EXPECT_FALSE(writeFileAtomic(dir + "/blocked", "new\n"));
    EXPECT_FALSE(writeFileAtomic(dir + "/missing/visited.txt", "new\n"));
    std::string text;
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text, "old\n");
}

TEST_F(FilesTest, PrivateModeIsSetBeforeData) {
    std::string path = dir + "/host $.key";
    ASSERT_TRUE(writeFileAtomic(path, "secret", 0600));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FilesTest, ReadRefusesWhatIsNotAPlainFileWithinTheLimit) {
    std::string text = "stale";
    EXPECT_FALSE(readWholeFile(dir, text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(readWholeFile(dir + "/none", text));
    ASSERT_TRUE(writeFileAtomic(dir + "/big", std::string(1000, 'y')));
    EXPECT_FALSE(readWholeFile(dir + "/big", text, 999));
    EXPECT_TRUE(readWholeFile(dir + "/big", text, 1000));
    EXPECT_TRUE(removeFile(dir + "/big"));
    EXPECT_TRUE(removeFile(dir + "/big"));  // already gone is fine
    EXPECT_FALSE(isRegularFile(dir + "/big"));
}

std::string saved(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

TEST(PrefsDirectory, EnvironmentDecides) {
    const std::string home = saved("HOME"), config = saved("XDG_CONFIG_HOME"), fl = saved("FARLANDER_HOME");
    // The test binary has no prefs folder beside it.
    ASSERT_FALSE(fs::exists(executableDirectory() + "/prefs"));
    struct Case {
        std::string home, config, user, expect;
    } cases[] = {
        {"/opt/fl", "/cfg", "/home/u", "/opt/fl/prefs"},
        {"", "/cfg", "/home/u", "/cfg/farlander"},
        {"", "", "/home/u", "/home/u/.config/farlander"},
    };
    for (const auto& c : cases) {
        setEnvironment("FARLANDER_HOME", c.home);
        setEnvironment("XDG_CONFIG_HOME", c.config);
        setEnvironment("HOME", c.user);
        EXPECT_EQ(prefsDirectory(), c.expect);
    }
    setEnvironment("HOME", home);
    setEnvironment("XDG_CONFIG_HOME", config);
    setEnvironment("FARLANDER_HOME", fl);
}

TEST(PrefsDirectory, CreatedWithItsParents) {
    std::string base = testing::TempDir() + "farlander-paths-test";
    fs::remove_all(base);
    setEnvironment("FARLANDER_HOME", base + "/deep/er");
    EXPECT_TRUE(ensurePrefsDirectory());
    EXPECT_TRUE(fs::is_directory(base + "/deep/er/prefs"));
    EXPECT_TRUE(ensurePrefsDirectory());  // existing is fine
    // A file where the folder should be cannot become one.
    fs::remove_all(base);
    ASSERT_TRUE(makeDirectories(base));
    ASSERT_TRUE(writeFileAtomic(base + "/prefs", ""));
    setEnvironment("FARLANDER_HOME", base);
    EXPECT_FALSE(ensurePrefsDirectory());
    setEnvironment("FARLANDER_HOME", "");
    fs::remove_all(base);
}

}  // namespace
