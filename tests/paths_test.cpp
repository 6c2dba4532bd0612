#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

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
    fs::create_directories(base);
    {
        std::FILE* f = std::fopen((base + "/prefs").c_str(), "w");
        std::fclose(f);
    }
    setEnvironment("FARLANDER_HOME", base);
    EXPECT_FALSE(ensurePrefsDirectory());
    setEnvironment("FARLANDER_HOME", "");
    fs::remove_all(base);
}

}  // namespace
