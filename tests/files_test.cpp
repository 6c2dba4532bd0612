// Crash-safe files and the preferences folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

// The permission bits of a file, 0 when it is missing.
unsigned modeOf(const std::string& path) {
    std::error_code error;
    return static_cast<unsigned>(fs::status(path, error).permissions() & fs::perms::mask);
}

TEST_F(FilesTest, NewFilesArePrivateAndOldFilesKeepTheirMode) {
    const std::string path = dir + "/visited.txt";
    ASSERT_TRUE(writeFileAtomic(path, "one\n"));
    EXPECT_EQ(modeOf(path), 0600u) << "a new file is the owner's only";
    fs::permissions(path, static_cast<fs::perms>(0640));
    ASSERT_TRUE(writeFileAtomic(path, "two\n"));
    EXPECT_EQ(modeOf(path), 0640u) << "the user's chmod stays";
    // A private key is 0600 whatever the old file had.
    ASSERT_TRUE(writeFileAtomic(path, "secret", 0600, true));
    EXPECT_EQ(modeOf(path), 0600u);

    // Written through a symbolic link: the link stays, its target changes.
    const std::string target = dir + "/real.txt", link = dir + "/link.txt";
    ASSERT_TRUE(writeFileAtomic(target, "old"));
    fs::create_symlink(target, link);
    ASSERT_TRUE(writeFileAtomic(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    std::string text;
    ASSERT_TRUE(readWholeFile(target, text));
    EXPECT_EQ(text, "new");
}

TEST_F(FilesTest, PendingFileReplacesOnlyOnCommit) {
    const std::string path = dir + "/download.bin";
    ASSERT_TRUE(writeFileAtomic(path, "old file", 0644));
    std::string text;
    const std::string big(200000, 'b');
    for (bool commit : {false, true}) {
        PendingFile file;
        ASSERT_TRUE(pendingFileOpen(file, path));
        ASSERT_TRUE(pendingFileWrite(file, "new ", 4));
        ASSERT_TRUE(pendingFileWrite(file, big.data(), big.size()));
        ASSERT_TRUE(readWholeFile(path, text));
        EXPECT_EQ(text, "old file") << "nothing shows before the commit";
        if (commit) {
            EXPECT_TRUE(pendingFileCommit(file));
        }
    }
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text, "new " + big);
    EXPECT_EQ(modeOf(path), 0644u);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        entries++;
    EXPECT_EQ(entries, 1) << "no temporary file is left";
    // A folder that takes no file, and a device, which is written in place.
    PendingFile nowhere;
    EXPECT_FALSE(pendingFileOpen(nowhere, dir + "/missing/x"));
    PendingFile device;
    ASSERT_TRUE(pendingFileOpen(device, "/dev/null"));
    EXPECT_TRUE(pendingFileWrite(device, "x", 1));
    EXPECT_TRUE(pendingFileCommit(device));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(FilesTest, LeftoversOfAnInterruptedWriteGo) {
    for (const char* name : {"Farlander.prefs.tmp-0123abcd", "bookmarks.txt.tmp-ffffffff", "keep.tmp-12",
                             "keep.tmp-0123abcdx", "bookmarks.txt"})
        ASSERT_TRUE(writeFileAtomic(dir + "/" + name, "x"));
    EXPECT_EQ(removeLeftoverTemporaries(dir), 2);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"bookmarks.txt", "keep.tmp-0123abcdx", "keep.tmp-12"}));
    fs::permissions(dir, static_cast<fs::perms>(0755));
    EXPECT_TRUE(makeFolderPrivate(dir));
    EXPECT_EQ(modeOf(dir), 0700u);
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
