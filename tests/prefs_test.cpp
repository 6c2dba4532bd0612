#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/process.h"
#include "settings/prefs.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

const DesktopFacts WIDE_DESKTOP = {1920, 1080, 24, 0x1234567, "Desk Sans", 14, "Desk Mono", 13};

std::string fontText(const FontSpec& font) {
    return std::string(font.name) + "/" + std::to_string(font.height);
}

class PrefsTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("FARLANDER_HOME");
        savedHome = old ? old : "";
        home = testing::TempDir() + "farlander-prefs-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        setEnvironment("FARLANDER_HOME", home);
        useDesktop(WIDE_DESKTOP);
    }
    void TearDown() override {
        setDesktopFactsForTesting(nullptr);
        settings = Settings{};
        loadedPrefs = LoadedPrefs{};
        setEnvironment("FARLANDER_HOME", savedHome);
        fs::remove_all(home);
    }
    void useDesktop(const DesktopFacts& facts) {
        desktop = facts;
        setDesktopFactsForTesting(&desktop);
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
    std::string savedText() {
        std::string text;
        EXPECT_TRUE(readWholeFile(prefsFilePath(), text));
        return text;
    }
    std::string savedHome, home;
    DesktopFacts desktop;
};

// The settings the file can reach, as "key=value;" text.
std::string summary(const Settings& s) {
    char buffer[64];
    std::string out;
    auto add = [&out](const char* key, const std::string& value) {
        out += std::string(key) + "=" + value + ";";
    };
    auto hex = [&buffer](uint32_t v) {
        std::snprintf(buffer, sizeof buffer, "%x", v);
        return std::string(buffer);
    };
    auto list = [](auto begin, auto end, auto text) {
        std::string joined;
        for (auto it = begin; it != end; ++it)
            joined += (joined.empty() ? "" : ",") + text(*it);
        return joined;
    };
    auto num = [](auto v) { return std::to_string(v); };
    add("theme", num(s.theme));
    add("colours", list(std::begin(s.customColours), std::end(s.customColours), hex));
    add("pens", list(std::begin(s.customPens), std::end(s.customPens), num));
    add("mode", hex(s.displayId) + "," + num(s.screenWidth) + "," + num(s.screenHeight));
    add("wb", hex(s.workbenchDisplayId));
    add("screen", fontText(s.screenFont));
    add("prop", fontText(s.propFont));
    add("fixed", fontText(s.fixedFont));
    add("useProp", num(s.usePropFont));
    add("flags", num(s.useBackNav) + "," + num(s.useGemProxy) + "," + num(s.gemProxyAll) + "," +
                     num(s.borderBlank) + "," + num(s.useScreen));
    add("open", list(std::begin(s.useOpenUrl), std::end(s.useOpenUrl), num));
    add("host", s.gemProxyHost);
    add("port", num(s.gemProxyPort));
    const LoadedPrefs& l = loadedPrefs;
    add("loaded",
        hex(l.screenDisplayId) + "," + num(l.screenWidth) + "," + num(l.useScreen) + "," + num(l.theme));
    return out;
}

const char* const BUILT_IN_PALETTE = "colours=999,0,fff,69e,3a3,ff9,36b,bbb;pens=1,7,4,5,3,6,0,6,0,0,6;";

TEST_F(PrefsTest, LoadCases) {
    const std::string name32(32, 'N'), name33(33, 'N'), host49(49, 'h');
    const struct {
        std::string file;
        std::vector<std::string> want;  // pieces of the summary
    } cases[] = {
        // keywords are lower case
        {"Theme=Aqua\n", {"theme=2;"}},
        // unknown keyword keeps the earlier one
        {"Theme=morkbla\nTheme=Uchu\n", {"theme=4;"}},
        // last line without a line feed loses its last character
        {"Theme=uchu", {"theme=2;"}},
        // spaces belong to key and value
        {"Theme=aqua \nTheme =aqua\n", {"theme=2;"}},
        // colour bases; roles not named are 0
        {"CustomColour1=0x69e\nCustomColour2=105\nCustomColour3=0151\n",
         {"colours=0,69e,69,69,0,0,0,0;pens=0,0,0,0,0,0,0,0,0,0,0;"}},
        // no positive colour keeps the built-in row and ignores pens
        {"CustomColour0=0\nCustomColour1=-5\nCustomPenText=2\nCustomPenBackground=3\n", {BUILT_IN_PALETTE}},
        // pens outside the palette become 0
        {"CustomColour7=0xFFF\nCustomPenText=7\nCustomPenHeading=8\nCustomPenBadlink=-1\nCustomPenWebdown="
         "3\n",
         {"pens=0,7,0,0,0,0,0,0,0,0,3;"}},
        // colour index is one digit 0-7
        {"CustomColour8=0x123\nCustomColour33=0x123\nCustomColourA=1\n", {BUILT_IN_PALETTE}},
        // pen role names are case-sensitive
        {"CustomPenbackground=3\nCustomPenTexts=3\nCustomColour1=1\n", {"pens=0,0,"}},
        // screen mode needs all three values
        {"ScreenDisplayID=0x5001100\nScreenWidth=0\nScreenHeight=600\n", {"mode=1234567,1920,1080;"}},
        // screen mode
        {"ScreenDisplayID=0x5001100\nScreenWidth=800\nScreenHeight=600\n",
         {"mode=5001100,800,600;wb=1234567;"}},
        // only the mode id has the automatic base
        {"ScreenDisplayID=010\nScreenWidth=0x10\nScreenHeight=600\n", {"mode=1234567,", "loaded=8,0,"}},
        // mode id saturates
        {"ScreenDisplayID=0xFFFFFFFF\nScreenWidth=1\nScreenHeight=1\n", {"mode=7fffffff,"}},
        // font named default with size 0 is the desktop font
        {"ScreenFontName=Topaz\nScreenFontSize=9\nPropFontName=default\nPropFontSize=0\n",
         {"screen=Topaz/9;prop=Desk Sans/14;"}},
        // a font needs a size and a name
        {"ScreenFontName=Topaz\nScreenFontSize=0\nFixedFontName=\nFixedFontSize=9\n",
         {"screen=Desk Sans/14;", "fixed=Desk Mono/13;"}},
        // font names keep their spaces
        {"PropFontName= Spaced Serif\nPropFontSize=16\n", {"prop= Spaced Serif/16;"}},
        // 32-character font name
        {"FixedFontName=" + name32 + "\nFixedFontSize=10\n", {"fixed=" + name32 + "/10;"}},
        // 33-character font name leaves the font alone
        {"FixedFontName=" + name33 + "\nFixedFontSize=10\n", {"fixed=Desk Mono/13;"}},
        // over-long name empties an earlier one
        {"ScreenFontName=Topaz\nScreenFontName=" + name33 + "\nScreenFontSize=8\n", {"screen=Desk Sans/14;"}},
        // font heights stop at 16 bits
        {"ScreenFontName=Big\nScreenFontSize=70000\n", {"screen=Big/65535;"}},
        // flags keep their low 8 bits after saturating
        {"UseBackNav=99999999999999999999\nUseGemProxy=256\nGemProxyAll=2\nScreenBorderBlank=257\n",
         {"flags=255,0,2,1,"}},
        // key= and =value are skipped
        {"UseBackNav=1\nUseBackNav=\n=0\n", {"flags=1,"}},
        // leading white space of a number is skipped
        {"UseBackNav= 1\nGemProxyAll=\t+1\n", {"flags=1,0,1,"}},
        // handler names must match exactly
        {"UseOpenURLftp=1\nUseOpenURLgopher=3\nUseOpenURLhttpsX=1\nUseOpenURLHTTP=1\nUseOpenURLmailto=1\n",
         {"open=1,3,0,0,1;"}},
        // comments
        {";UseBackNav=1\n; Theme=aqua\n", {"theme=2;", "flags=0,"}},
        // unknown keys and families
        {"UseScreenX=1\nFoo=bar\nScreenDepth=8\nGemProxyHostname=x\nTheme2=aqua\n", {"host=;", ",-1,-1;"}},
        // CR LF line endings
        {"UseBackNav=1\r\nTheme=aqua\r\nGemProxyHost=proxy.example\r\n",
         {"theme=0;", "flags=1,", "host=proxy.example;"}},
        // a CR alone is no value
        {"GemProxyHost=a.b\nGemProxyHost=\r\n", {"host=a.b;"}},
        // a NUL byte ends the line
        {std::string("UseGemProxy=12\0xx\nUseBackNav=1\n", 31), {"flags=1,1,"}},
        // a 70-character line is two pieces
        {"GemProxyHost=" + host49 + "lostpart\nGemProxyPort=7\n", {"host=" + host49 + ";port=7;"}},
        // the rest of a long comment is a line of its own
        {";" + std::string(62, 'c') + "UseBackNav=1\n", {"flags=1,"}},
        // proportional text needs exactly 1
        {"UsePropFont=2\n", {"useProp=0;"}},
        // proportional text
        {"UsePropFont=1\n", {"prop=Desk Sans/14;", "useProp=1;"}},
        // numbers saturate at the 32-bit range and stop at the first non-digit
        {"GemProxyPort=2147483648\n", {"port=2147483647;"}},
        {"GemProxyPort=18446744073709551617\n", {"port=2147483647;"}},
        {"GemProxyPort=-2147483648\n", {"port=-2147483648;"}},
        {"GemProxyPort=-99999999999999999999\n", {"port=-2147483648;"}},
        {"GemProxyPort=+1965abc\n", {"port=1965;"}},
        {"GemProxyPort=abc\n", {"port=0;"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        startUp(c.file);
        const std::string seen = summary(settings);
        for (const std::string& piece : c.want)
            EXPECT_NE(seen.find(piece), std::string::npos) << piece << " in " << seen;
    }
}

TEST_F(PrefsTest, ScreenChoice) {
    struct Case {
        int32_t choice;
        const char* file;
        int height, depth;
        int32_t expect;
    } cases[] = {
        {-1, "", 767, 24, 1},
        {-1, "", 768, 24, 0},
        {-1, "", 1080, 7, 1},
        {-1, "", 1080, 8, 0},
        {-1, "UseScreen=0\n", 600, 4, 0},
        {-1, "UseScreen=5\n", 1080, 24, 5},
        {-1, "UseScreen=-1\n", 600, 24, 1},
        {0, "UseScreen=1\n", 600, 4, 0},
        {1, "UseScreen=0\n", 1080, 24, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + std::to_string(c.choice) + " " + std::to_string(c.height) + "x" +
                     std::to_string(c.depth));
        DesktopFacts facts = WIDE_DESKTOP;
        facts.height = c.height;
        facts.depth = c.depth;
        useDesktop(facts);
        startUp(c.file, c.choice);
        EXPECT_EQ(settings.useScreen, c.expect);
    }
}

TEST_F(PrefsTest, MergeReadsTheDesktop) {
    DesktopFacts facts = WIDE_DESKTOP;
    facts.fontName = std::string(40, 'L');
    facts.fontHeight = 100000;
    facts.fixedFontHeight = -3;
    useDesktop(facts);
    startUp("");
    EXPECT_EQ(settings.workbenchDisplayId, 0x1234567u);
    EXPECT_EQ(settings.displayId, 0x1234567u);
    EXPECT_EQ(fontText(settings.workbenchFont), std::string(32, 'L') + "/65535");
    EXPECT_EQ(fontText(settings.systemFont), "Desk Mono/0");
    EXPECT_EQ(fontText(settings.fixedFont), "Desk Mono/0");
    EXPECT_EQ(fontText(settings.screenFont), fontText(settings.workbenchFont));
}

TEST_F(PrefsTest, HostileInputIsSurvived) {
    std::mt19937 random(1234);
    std::string noise(20000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() & 0xFF);
    std::string equalsAndFeeds, settingsRun;
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
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 45);
    }
}

TEST_F(PrefsTest, NoFileMeansDefaults) {
    const std::function<void(const std::string&)> prepares[] = {
        [](const std::string&) {},  // missing folder
        [](const std::string& h) { fs::create_directories(h + "/prefs"); },
        [](const std::string& h) { fs::create_directories(h + "/prefs/Farlander.prefs"); },
        [](const std::string& h) {
            fs::create_directories(h);
            writeFileAtomic(h + "/prefs", "UseBackNav=1\n");
        },
    };
    for (size_t i = 0; i < std::size(prepares); i++) {
        SCOPED_TRACE(i);
        fs::remove_all(home);
        prepares[i](home);
        settings = Settings{};
        EXPECT_FALSE(prefsLoad());
        EXPECT_EQ(loadedPrefs.useScreen + loadedPrefs.theme, -2);
        prefsMerge(-1);
        EXPECT_EQ(settings.useBackNav, 0);
        EXPECT_EQ(settings.theme, THEME_DEFAULT);
    }
}

const char DEFAULT_FILE[] =
    ";\n; Farlander.prefs\n;\n"
    "UseScreen=0\nScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n"
    "ScreenFontName=default\nScreenFontSize=0\nScreenBorderBlank=0\nUsePropFont=0\n"
    "PropFontName=default\nPropFontSize=0\nFixedFontName=default\nFixedFontSize=0\n"
    "Theme=default\n"
    "CustomColour0=0x999\nCustomColour1=0x0\nCustomColour2=0xFFF\nCustomColour3=0x69E\n"
    "CustomColour4=0x3A3\nCustomColour5=0xFF9\nCustomColour6=0x36B\nCustomColour7=0xBBB\n"
    "CustomPenBackground=1\nCustomPenText=7\nCustomPenHeading=4\nCustomPenPreformat=5\n"
    "CustomPenGemlink=3\nCustomPenVisited=6\nCustomPenWeblink=0\nCustomPenBookmark=6\n"
    "CustomPenBadlink=0\nCustomPenLinkdown=0\nCustomPenWebdown=6\n"
    "UseBackNav=0\nUseOpenURLftp=0\nUseOpenURLgopher=0\nUseOpenURLhttp=0\nUseOpenURLhttps=0\n"
    "UseOpenURLmailto=0\nUseGemProxy=0\nGemProxyHost=\nGemProxyPort=0\nGemProxyAll=0\n";

const char CUSTOM_FILE[] =
    ";\n; Farlander.prefs\n;\n"
    "UseScreen=1\nScreenDisplayID=0x5001100\nScreenWidth=800\nScreenHeight=600\n"
    "ScreenFontName=Topaz\nScreenFontSize=9\nScreenBorderBlank=1\nUsePropFont=1\n"
    "PropFontName=Noto Serif Display\nPropFontSize=17\nFixedFontName=Go Mono\nFixedFontSize=11\n"
    "Theme=morkbla\n"
    "CustomColour0=0x1\nCustomColour1=0x20\nCustomColour2=0x300\nCustomColour3=0xABC\n"
    "CustomColour4=0x0\nCustomColour5=0xF0F\nCustomColour6=0xFFF\nCustomColour7=0x7\n"
    "CustomPenBackground=7\nCustomPenText=6\nCustomPenHeading=5\nCustomPenPreformat=4\n"
    "CustomPenGemlink=3\nCustomPenVisited=2\nCustomPenWeblink=1\nCustomPenBookmark=0\n"
    "CustomPenBadlink=1\nCustomPenLinkdown=2\nCustomPenWebdown=3\n"
    "UseBackNav=1\nUseOpenURLftp=1\nUseOpenURLgopher=0\nUseOpenURLhttp=1\nUseOpenURLhttps=0\n"
    "UseOpenURLmailto=1\nUseGemProxy=1\nGemProxyHost=proxy.example.org\nGemProxyPort=1965\nGemProxyAll=1\n";

// Both texts read back and save byte for byte as they were.
TEST_F(PrefsTest, SavesTheExactText) {
    for (const char* text : {DEFAULT_FILE, CUSTOM_FILE}) {
        startUp(text);
        fs::remove_all(home);
        prefsSave();
        EXPECT_EQ(savedText(), text);
    }
    fs::remove_all(home);
    startUp(nullptr);
    prefsSave();
    EXPECT_EQ(savedText(), DEFAULT_FILE);
}

TEST_F(PrefsTest, SaveQuirks) {
    const struct {
        const char* what;
        std::function<void(Settings&)> change;
        const char* savedLine;     // expected among the saved lines
        std::string afterRestart;  // piece of the summary
    } cases[] = {
        {"proportional font equal to the screen font is saved as default",
         [](Settings& s) { fontSet(s.screenFont, "Topaz", 9), s.propFont = s.screenFont; },
         "PropFontName=default\nPropFontSize=0\n", "screen=Topaz/9;prop=Desk Sans/14;"},
        {"the desktop's mode is saved as 0 whatever the size",
         [](Settings& s) { s.screenWidth = 640, s.screenHeight = 480; },
         "ScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n", "mode=1234567,1920,1080;"},
        {"flags are saved as 0 or 1",
         [](Settings& s) { s.useGemProxy = 2, s.useScreen = 5, s.useOpenUrl[OPENURL_GOPHER] = 0x80; },
         "UseScreen=1\n", "flags=0,1,0,0,1;open=0,1,"},
        {"a theme outside the table is saved as the default one", [](Settings& s) { s.theme = 9; },
         "Theme=default\n", "theme=2;"},
        {"colours that do not fit 12 bits are written whole",
         [](Settings& s) { s.customColours[2] = 0x7FFFFFFF; }, "CustomColour2=0x7FFFFFFF\n",
         "colours=999,0,7fffffff,"},
        {"a host longer than a line piece holds comes back cut",
         [](Settings& s) { std::memset(s.gemProxyHost, 'p', 60); }, "", "host=" + std::string(49, 'p') + ";"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startUp("");
        c.change(settings);
        prefsSave();
        EXPECT_NE(savedText().find(c.savedLine), std::string::npos);
        startUp(nullptr);
        EXPECT_NE(summary(settings).find(c.afterRestart), std::string::npos) << summary(settings);
    }
}

TEST_F(PrefsTest, SaveFailuresAreSilent) {
    // A file where the folder belongs: nothing is written, the file stays.
    fs::create_directories(home);
    ASSERT_TRUE(writeFileAtomic(home + "/prefs", "old"));
    prefsSave();
    std::string text;
    ASSERT_TRUE(readWholeFile(home + "/prefs", text));
    EXPECT_EQ(text, "old");

    // A folder where the file belongs stays a folder.
    fs::remove_all(home);
    fs::create_directories(prefsFilePath() + "/inside");
    prefsSave();
    EXPECT_TRUE(fs::is_directory(prefsFilePath() + "/inside"));
}

TEST_F(PrefsTest, ResetFonts) {
    const std::function<void(Settings&)> changes[] = {
        [](Settings&) {},
        [](Settings& s) { s.fixedFont.height++; },
        [](Settings& s) { fontSet(s.propFont, "Other", s.propFont.height); },
        [](Settings& s) { fontSet(s.screenFont, "Topaz", 8); },
        [](Settings& s) { s.usePropFont = 1; },
    };
    for (size_t i = 0; i < std::size(changes); i++) {
        SCOPED_TRACE(i);
        startUp("");
        changes[i](settings);
        EXPECT_EQ(resetFonts(), i > 0);
        EXPECT_EQ(fontText(settings.fixedFont) + fontText(settings.propFont) + fontText(settings.screenFont),
                  "Desk Mono/13Desk Sans/14Desk Sans/14");
        EXPECT_EQ(settings.usePropFont, 0);
        EXPECT_FALSE(resetFonts());
    }
}

TEST(DesktopFacts, DisplayIdsFitTheFileAndAreStable) {
    for (const std::string name : {"", "HDMI-1", "Virtual-1", "offscreen"}) {
        uint32_t id = displayIdForScreenName(name);
        EXPECT_TRUE(id != 0 && id <= 0x7FFFFFFFu) << name;
        EXPECT_EQ(id, displayIdForScreenName(name));
    }
    EXPECT_NE(displayIdForScreenName("HDMI-1"), displayIdForScreenName("HDMI-2"));
    // FNV-1a of "a" is 0xE40C292C; the top bit is dropped.
    EXPECT_EQ(displayIdForScreenName("a"), 0x640C292Cu);
}

TEST(DesktopFacts, FallbacksWithoutAnApplication) {
    setDesktopFactsForTesting(nullptr);
    DesktopFacts facts = desktopFacts();
    EXPECT_TRUE(facts.width > 0 && facts.height > 0 && facts.depth > 0 && facts.displayId != 0);
    EXPECT_TRUE(!facts.fontName.empty() && facts.fontHeight > 0);
    EXPECT_TRUE(!facts.fixedFontName.empty() && facts.fixedFontHeight > 0);
}

}  // namespace
