#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/desktop.h"
#include "platform/files.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "support/private_home.h"

namespace {

namespace fs = std::filesystem;

const DesktopFacts WIDE_DESKTOP = {1920, 1080, 24, 0x1234567, "Desk Sans", 14, "Desk Mono", 13};

std::string fontText(const FontSpec& font) {
    return std::string(font.name) + "/" + std::to_string(font.height);
}

class PrefsTest : public testing::Test {
  protected:
    void SetUp() override { setDesktopFactsForTesting(&WIDE_DESKTOP); }
    void TearDown() override {
        setDesktopFactsForTesting(nullptr);
        settings = Settings{};
        loadedPrefs = LoadedPrefs{};
    }
    // A fresh start: fresh settings, the file (when given) read and merged.
    void startUp(const std::string* text, int32_t choice = -1) {
        settings = Settings{};
        if (text != nullptr) {
            ASSERT_TRUE(makeDirectories(home + "/prefs"));
            ASSERT_TRUE(writeFileAtomic(prefsFilePath(), *text));
        }
        prefsLoad();
        prefsMerge(choice);
    }
    void startUp(const std::string& text, int32_t choice = -1) { startUp(&text, choice); }
    std::string savedText(const std::string& path) {
        std::string text;
        EXPECT_TRUE(readWholeFile(path, text));
        return text;
    }
    PrivateHome privateHome{"prefs"};
    const std::string home = privateHome.path;
};

// The settings the file can reach, as "key=value;" text.
std::string summary(const Settings& s) {
    auto hex = [](uint32_t v) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%x", v);
        return std::string(buffer);
    };
    auto num = [](auto v) { return std::to_string(v); };
    auto list = [](const auto& values, auto text) {
        std::string joined;
        for (const auto& v : values) {
            if (!joined.empty()) joined += ',';
            joined += text(v);
        }
        return joined;
    };
    const LoadedPrefs& l = loadedPrefs;
    return "theme=" + num(s.theme) + ";colours=" + list(s.customColours, hex) +
           ";pens=" + list(s.customPens, num) + ";mode=" + hex(s.displayId) + "," + num(s.screenWidth) + "," +
           num(s.screenHeight) + ";wb=" + hex(s.workbenchDisplayId) + ";screen=" + fontText(s.screenFont) +
           ";prop=" + fontText(s.propFont) + ";fixed=" + fontText(s.fixedFont) +
           ";useProp=" + num(s.usePropFont) + ";flags=" + num(s.useBackNav) + "," + num(s.useGemProxy) + "," +
           num(s.gemProxyAll) + "," + num(s.borderBlank) + "," + num(s.useScreen) +
           ";open=" + list(s.useOpenUrl, num) + ";host=" + s.gemProxyHost + ";port=" + num(s.gemProxyPort) +
           ";unicode=" + num(s.unicodeText) + ";loaded=" + hex(l.screenDisplayId) + "," + num(l.screenWidth) +
           "," + num(l.useScreen) + "," + num(l.theme) + ";";
}

const char* const BUILT_IN_PALETTE = "colours=999,0,fff,69e,3a3,ff9,36b,bbb;pens=1,7,4,5,3,6,0,6,0,0,6;";

TEST_F(PrefsTest, LoadCases) {
    using namespace std::string_literals;
    const std::string n32(32, 'N'), n33(33, 'N'), host49(49, 'h');
    const struct {
        std::string file;
        std::vector<std::string> want;  // pieces of the summary
    } cases[] = {
        // clang-format off
        // Lower-case keywords only, spaces count, a last line without a line feed loses a character.
        {"Theme=Aqua\nTheme=aqua \nTheme =aqua\nTheme=uchu", {"theme=2;"}},
        {"Theme=morkbla\nTheme=Uchu\n", {"theme=4;"}},
        // Colour bases; pens outside the palette or not named are 0; role names are case-sensitive.
        {"CustomColour1=0x69e\nCustomColour2=105\nCustomColour3=0151\n",
         {"colours=0,69e,69,69,0,0,0,0;pens=0,0,0,0,0,0,0,0,0,0,0;"}},
        {"CustomColour7=0xFFF\nCustomPenbackground=3\nCustomPenText=7\nCustomPenTexts=3\nCustomPenHeading=8\n"
         "CustomPenBadlink=-1\nCustomPenWebdown=3\n", {"pens=0,7,0,0,0,0,0,0,0,0,3;"}},
        // No positive colour (the index is one digit 0-7): the built-in row, the pens ignored.
        {"CustomColour0=0\nCustomColour1=-5\nCustomColour8=0x123\nCustomColour33=0x123\nCustomColourA=1\n"
         "CustomPenText=2\nCustomPenBackground=3\n", {BUILT_IN_PALETTE}},
        // The mode needs all three values; only its id has the automatic base, and it saturates.
        {"ScreenDisplayID=0x5001100\nScreenWidth=0\nScreenHeight=600\n", {"mode=1234567,1920,1080;"}},
        {"ScreenDisplayID=0x5001100\nScreenWidth=800\nScreenHeight=600\n",
         {"mode=5001100,800,600;wb=1234567;"}},
        {"ScreenDisplayID=010\nScreenWidth=0x10\nScreenHeight=600\n", {"mode=1234567,", "loaded=8,0,"}},
        {"ScreenDisplayID=0xFFFFFFFF\nScreenWidth=1\nScreenHeight=1\n", {"mode=7fffffff,"}},
        // Fonts need a size and a name (spaces kept, up to 32 characters); heights stop at 16 bits.
        {"ScreenFontName=Topaz\nScreenFontSize=9\nPropFontName=default\nPropFontSize=0\n",
         {"screen=Topaz/9;prop=Desk Sans/14;"}},
        {"ScreenFontName=Topaz\nScreenFontSize=0\nFixedFontName=\nFixedFontSize=9\n",
         {"screen=Desk Sans/14;", "fixed=Desk Mono/13;"}},
        {"ScreenFontName=Big\nScreenFontSize=70000\nPropFontName= Spaced Serif\nPropFontSize=16\n"
         "FixedFontName=" + n32 + "\nFixedFontSize=10\n",
         {"screen=Big/65535;prop= Spaced Serif/16;fixed=" + n32 + "/10;"}},
        {"ScreenFontName=Topaz\nScreenFontName=" + n33 + "\nScreenFontSize=8\n", {"screen=Desk Sans/14;"}},
        {"UsePropFont=2\n", {"useProp=0;"}}, {"UsePropFont=1\n", {"prop=Desk Sans/14;", "useProp=1;"}},
        // Flags keep their low 8 bits after saturating; key= and =value are skipped.
        {"UseBackNav=99999999999999999999\nUseGemProxy=256\nGemProxyAll=2\nScreenBorderBlank=257\n",
         {"flags=255,0,2,1,"}},
        {"UseBackNav= 1\nUseBackNav=\n=0\nGemProxyAll=\t+1\n", {"flags=1,0,1,"}},
        {"UseOpenURLftp=1\nUseOpenURLgopher=3\nUseOpenURLhttpsX=1\nUseOpenURLHTTP=1\nUseOpenURLmailto=1\n",
         {"open=1,3,0,0,1;"}},
        // The Unicode display is on unless the file turns it off.
        {"Theme=aqua\n", {"unicode=1;"}}, {"UnicodeText=0\n", {"unicode=0;"}}, {"UnicodeText=7\n", {"unicode=1;"}},
        // Comments, unknown keys, CR LF, a lone CR, a NUL, over-long lines in pieces.
        {";UseBackNav=1\n; Theme=aqua\nUseScreenX=1\nFoo=bar\nScreenDepth=8\nGemProxyHostname=x\n"
         "Theme2=aqua\n",
         {"theme=2;", "flags=0,", "host=;", ",-1,-1;"}},
        {"UseBackNav=1\r\nTheme=aqua\r\nGemProxyHost=proxy.example\r\n",
         {"theme=0;", "flags=1,", "host=proxy.example;"}},
        {"GemProxyHost=a.b\nGemProxyHost=\r\nUseGemProxy=12\0xx\nUseBackNav=1\n"s,
         {"flags=1,1,", "host=a.b;"}},
        {"GemProxyHost=" + host49 + "lostpart\nGemProxyPort=7\n;" + std::string(62, 'c') + "UseBackNav=1\n",
         {"host=" + host49 + ";port=7;", "flags=1,"}},
        // Numbers saturate at the 32-bit range and stop at the first non-digit.
        {"GemProxyPort=2147483648\n", {"port=2147483647;"}}, {"GemProxyPort=abc\n", {"port=0;"}},
        {"GemProxyPort=18446744073709551617\n", {"port=2147483647;"}},
        {"GemProxyPort=-2147483648\n", {"port=-2147483648;"}}, {"GemProxyPort=+1965abc\n", {"port=1965;"}},
        {"GemProxyPort=-99999999999999999999\n", {"port=-2147483648;"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        startUp(c.file);
        const std::string seen = summary(settings);
        for (const std::string& piece : c.want)
            EXPECT_NE(seen.find(piece), std::string::npos) << piece << " in " << seen;
    }
}

TEST_F(PrefsTest, ScreenChoiceAndDesktopFacts) {
    // choice, file, desktop height and depth, the screen choice made
    const std::tuple<int32_t, const char*, int, int, int32_t> cases[] = {
        // clang-format off
        {-1, "", 767, 24, 1}, {-1, "", 768, 24, 0}, {-1, "", 1080, 7, 1}, {-1, "", 1080, 8, 0},
        {-1, "UseScreen=0\n", 600, 4, 0}, {-1, "UseScreen=5\n", 1080, 24, 5}, {0, "UseScreen=1\n", 600, 4, 0},
        {-1, "UseScreen=-1\n", 600, 24, 1}, {1, "UseScreen=0\n", 1080, 24, 1},
        // clang-format on
    };
    DesktopFacts facts = WIDE_DESKTOP;
    for (const auto& [choice, file, height, depth, expect] : cases) {
        SCOPED_TRACE(testing::Message() << file << choice << " " << height << "x" << depth);
        facts.height = height;
        facts.depth = depth;
        setDesktopFactsForTesting(&facts);
        startUp(file, choice);
        EXPECT_EQ(settings.useScreen, expect);
    }
    // The desktop's fonts are cut to fit the settings.
    facts.fontName = std::string(40, 'L');
    facts.fontHeight = 100000;
    facts.fixedFontHeight = -3;
    setDesktopFactsForTesting(&facts);
    startUp("");
    EXPECT_EQ(settings.workbenchDisplayId, 0x1234567u);
    EXPECT_EQ(settings.displayId, 0x1234567u);
    EXPECT_EQ(fontText(settings.workbenchFont), std::string(32, 'L') + "/65535");
    EXPECT_EQ(fontText(settings.systemFont) + fontText(settings.fixedFont), "Desk Mono/0Desk Mono/0");
    EXPECT_EQ(fontText(settings.screenFont), fontText(settings.workbenchFont));
}

TEST_F(PrefsTest, HostileInputIsSurvived) {
    std::mt19937 random(1234);
    std::string noise(20000, '\0'), equalsAndFeeds, settingsRun;
    for (char& c : noise)
        c = static_cast<char>(random() & 0xFF);
    for (int i = 0; i < 5000; i++)
        equalsAndFeeds += (i % 7 == 0) ? "\n" : (i % 3 ? "=" : "UseOpenURL");
    for (int i = 0; i < 10000; i++)
        settingsRun += "UseBackNav=1Theme=uchu";
    const std::string cases[] = {std::string(100000, 'x') + "\nUseBackNav=1\n", settingsRun + "\n", noise,
                                 equalsAndFeeds, std::string(1000, '\0')};
    for (size_t i = 0; i < std::size(cases); i++) {
        SCOPED_TRACE(i);
        startUp(cases[i]);
        EXPECT_EQ(settings.useBackNav, i < 2 ? 1 : settings.useBackNav);
        for (const FontSpec* f : {&settings.screenFont, &settings.propFont, &settings.fixedFont})
            EXPECT_LE(strnlen(f->name, sizeof f->name), size_t{FONT_NAME_MAX});
        EXPECT_LE(strnlen(settings.gemProxyHost, sizeof settings.gemProxyHost), size_t{PROXY_HOST_MAX});
        EXPECT_TRUE(settings.theme >= 0 && settings.theme < THEME_COUNT);
        for (int pen : settings.customPens)
            EXPECT_TRUE(pen >= 0 && pen < PALETTE_SIZE);
        const std::string saved = prefsFormat(settings);
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 46);
    }
}

const char DEFAULT_FILE[] =
    ";\n; Farlander.prefs\n;\nUseScreen=0\nScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n"
    "ScreenFontName=default\nScreenFontSize=0\nScreenBorderBlank=0\nUsePropFont=0\nPropFontName=default\n"
    "PropFontSize=0\nFixedFontName=default\nFixedFontSize=0\nTheme=default\nCustomColour0=0x999\n"
    "CustomColour1=0x0\nCustomColour2=0xFFF\nCustomColour3=0x69E\nCustomColour4=0x3A3\nCustomColour5=0xFF9\n"
    "CustomColour6=0x36B\nCustomColour7=0xBBB\nCustomPenBackground=1\nCustomPenText=7\nCustomPenHeading=4\n"
    "CustomPenPreformat=5\nCustomPenGemlink=3\nCustomPenVisited=6\nCustomPenWeblink=0\nCustomPenBookmark=6\n"
    "CustomPenBadlink=0\nCustomPenLinkdown=0\nCustomPenWebdown=6\nUseBackNav=0\nUseOpenURLftp=0\n"
    "UseOpenURLgopher=0\nUseOpenURLhttp=0\nUseOpenURLhttps=0\nUseOpenURLmailto=0\nUseGemProxy=0\n"
    "GemProxyHost=\nGemProxyPort=0\nGemProxyAll=0\nUnicodeText=1\n";

const char CUSTOM_FILE[] =
    ";\n; Farlander.prefs\n;\nUseScreen=1\nScreenDisplayID=0x5001100\nScreenWidth=800\nScreenHeight=600\n"
    "ScreenFontName=Topaz\nScreenFontSize=9\nScreenBorderBlank=1\nUsePropFont=1\n"
    "PropFontName=Noto Serif Display\nPropFontSize=17\nFixedFontName=Go Mono\nFixedFontSize=11\n"
    "Theme=morkbla\nCustomColour0=0x1\nCustomColour1=0x20\nCustomColour2=0x300\nCustomColour3=0xABC\n"
    "CustomColour4=0x0\nCustomColour5=0xF0F\nCustomColour6=0xFFF\nCustomColour7=0x7\nCustomPenBackground=7\n"
    "CustomPenText=6\nCustomPenHeading=5\nCustomPenPreformat=4\nCustomPenGemlink=3\nCustomPenVisited=2\n"
    "CustomPenWeblink=1\nCustomPenBookmark=0\nCustomPenBadlink=1\nCustomPenLinkdown=2\nCustomPenWebdown=3\n"
    "UseBackNav=1\nUseOpenURLftp=1\nUseOpenURLgopher=0\nUseOpenURLhttp=1\nUseOpenURLhttps=0\n"
    "UseOpenURLmailto=1\nUseGemProxy=1\nGemProxyHost=proxy.example.org\nGemProxyPort=1965\nGemProxyAll=1\n"
    "UnicodeText=0\n";

// Both texts read back and save byte for byte as they were.
TEST_F(PrefsTest, SavesTheExactText) {
    for (const char* text : {DEFAULT_FILE, CUSTOM_FILE}) {
        startUp(text);
        fs::remove_all(home);
        prefsSave();
        EXPECT_EQ(savedText(prefsFilePath()), text);
    }
}

// Without a readable file the defaults hold; a save then writes them, or leaves alone what is in the way.
TEST_F(PrefsTest, NoFileMeansDefaultsAndSavesNeverClobber) {
    const std::string folder = home + "/prefs", inside = prefsFilePath() + "/inside";
    enum { MISSING, EMPTY_FOLDER, FOLDER_AS_FILE, FILE_AS_FOLDER };
    for (int layout : {MISSING, EMPTY_FOLDER, FOLDER_AS_FILE, FILE_AS_FOLDER}) {
        SCOPED_TRACE(layout);
        fs::remove_all(home);
        if (layout == EMPTY_FOLDER) fs::create_directories(folder);
        if (layout == FOLDER_AS_FILE) fs::create_directories(inside);
        if (layout == FILE_AS_FOLDER) fs::create_directories(home);
        ASSERT_TRUE(layout != FILE_AS_FOLDER || writeFileAtomic(folder, "UseBackNav=1\n"));
        settings = Settings{};
        EXPECT_FALSE(prefsLoad());
        EXPECT_EQ(loadedPrefs.useScreen + loadedPrefs.theme, -2);
        prefsMerge(-1);
        EXPECT_EQ(settings.useBackNav, 0);
        EXPECT_EQ(settings.theme, THEME_DEFAULT);
        prefsSave();
        if (layout == FILE_AS_FOLDER)
            EXPECT_EQ(savedText(folder), "UseBackNav=1\n");
        else if (layout == FOLDER_AS_FILE)
            EXPECT_TRUE(fs::is_directory(inside));
        else
            EXPECT_EQ(savedText(prefsFilePath()), DEFAULT_FILE);
    }
}

TEST_F(PrefsTest, SaveQuirks) {
    // the change, a piece of the saved text, a piece of the summary after a restart
    const std::tuple<std::function<void(Settings&)>, const char*, std::string> cases[] = {
        // A proportional font equal to the screen font is saved as the default.
        {[](Settings& s) { fontSet(s.screenFont, "Topaz", 9), s.propFont = s.screenFont; },
         "PropFontName=default\nPropFontSize=0\n", "screen=Topaz/9;prop=Desk Sans/14;"},
        {[](Settings& s) { s.screenWidth = 640, s.screenHeight = 480; },  // the desktop's mode is 0
         "ScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n", "mode=1234567,1920,1080;"},
        {[](Settings& s) { s.useGemProxy = 2, s.useScreen = 5, s.useOpenUrl[OPENURL_GOPHER] = 0x80; },
         "UseScreen=1\n", "flags=0,1,0,0,1;open=0,1,"},  // flags are 0 or 1
        {[](Settings& s) { s.theme = 9; }, "Theme=default\n", "theme=2;"},
        {[](Settings& s) { s.customColours[2] = 0x7FFFFFFF; }, "CustomColour2=0x7FFFFFFF\n",
         "colours=999,0,7fffffff,"},  // written whole, not cut to 12 bits
        {[](Settings& s) { std::memset(s.gemProxyHost, 'p', 60); }, "", "host=" + std::string(49, 'p') + ";"},
    };
    for (const auto& [change, savedLine, afterRestart] : cases) {
        SCOPED_TRACE(savedLine + afterRestart);
        startUp("");
        change(settings);
        prefsSave();
        EXPECT_NE(savedText(prefsFilePath()).find(savedLine), std::string::npos);
        startUp(nullptr);
        EXPECT_NE(summary(settings).find(afterRestart), std::string::npos) << summary(settings);
    }
}

TEST_F(PrefsTest, ResetFonts) {
    const std::function<void(Settings&)> changes[] = {
        [](Settings&) {}, [](Settings& s) { s.fixedFont.height++; }, [](Settings& s) { s.usePropFont = 1; },
        [](Settings& s) { fontSet(s.propFont, "Other", s.propFont.height); },
        [](Settings& s) { fontSet(s.screenFont, "Topaz", 8); }};
    for (size_t i = 0; i < std::size(changes); i++) {
        SCOPED_TRACE(i);
        startUp("");
        changes[i](settings);
        EXPECT_EQ(resetFonts(), i > 0);
        EXPECT_EQ(fontText(settings.fixedFont) + fontText(settings.propFont) + fontText(settings.screenFont) +
                      std::to_string(settings.usePropFont),
                  "Desk Mono/13Desk Sans/14Desk Sans/140");
        EXPECT_FALSE(resetFonts());
    }
}

TEST(DesktopFacts, DisplayIdsAndFallbacks) {
    for (const std::string name : {"", "HDMI-1", "Virtual-1", "offscreen"}) {
        uint32_t id = displayIdForScreenName(name);
        EXPECT_TRUE(id != 0 && id <= 0x7FFFFFFFu && id == displayIdForScreenName(name)) << name;
    }
    EXPECT_NE(displayIdForScreenName("HDMI-1"), displayIdForScreenName("HDMI-2"));
    EXPECT_EQ(displayIdForScreenName("a"), 0x640C292Cu);  // FNV-1a of "a" without the top bit
    // Without an application the facts are still usable.
    setDesktopFactsForTesting(nullptr);
    DesktopFacts facts = desktopFacts();
    EXPECT_TRUE(facts.width > 0 && facts.height > 0 && facts.depth > 0 && facts.displayId != 0);
    EXPECT_TRUE(!facts.fontName.empty() && facts.fontHeight > 0);
    EXPECT_TRUE(!facts.fixedFontName.empty() && facts.fixedFontHeight > 0);
}

}  // namespace
