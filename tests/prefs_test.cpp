#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

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
        settings = Settings{};
        loadedPrefs = LoadedPrefs{};
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
    void writePrefs(const std::string& text) {
        ASSERT_TRUE(makeDirectories(home + "/prefs"));
        ASSERT_TRUE(writeFileAtomic(prefsFilePath(), text));
    }
    // A fresh start: fresh settings, the file read and merged.
    void startUp(const std::string& text, int32_t choice = -1) {
        settings = Settings{};
        writePrefs(text);
        prefsLoad();
        prefsMerge(choice);
    }
    std::string savedText() {
        std::string text;
        EXPECT_TRUE(readWholeFile(prefsFilePath(), text));
        return text;
    }
    std::string savedHome, home;
    DesktopFacts desktop;
};

// ---------------------------------------------------------------------------
// Reading

struct LoadCase {
    const char* what;
    std::string file;
    std::function<void(const Settings&, const LoadedPrefs&)> check;
};

TEST_F(PrefsTest, LoadCases) {
    const Settings builtIn;
    const std::string name32(32, 'N'), name33(33, 'N');
    const std::string host57 = std::string(49, 'h') + "lostpart";
    const LoadCase cases[] = {
        {"theme keywords are lower case", "Theme=Aqua\n", [](auto& s, auto&) { EXPECT_EQ(s.theme, 2); }},
        {"theme keyword", "Theme=aqua\n", [](auto& s, auto&) { EXPECT_EQ(s.theme, 0); }},
        {"unknown keyword keeps the earlier one", "Theme=morkbla\nTheme=Uchu\n",
         [](auto& s, auto&) { EXPECT_EQ(s.theme, 4); }},
        {"last line without a line feed loses its last character", "Theme=uchu",
         [](auto& s, auto&) { EXPECT_EQ(s.theme, 2); }},
        {"spaces belong to the value", "Theme=aqua \n", [](auto& s, auto&) { EXPECT_EQ(s.theme, 2); }},
        {"spaces belong to the key", "Theme =aqua\n", [](auto& s, auto&) { EXPECT_EQ(s.theme, 2); }},
        {"hex colour, lower-case digits", "CustomColour3=0x69e\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.customColours[3], 0x69Eu);
             EXPECT_EQ(s.customColours[0], 0u);
             for (int pen : s.customPens)
                 EXPECT_EQ(pen, 0);  // roles not named
         }},
        {"decimal colour", "CustomColour3=105\n",
         [](auto& s, auto&) { EXPECT_EQ(s.customColours[3], 105u); }},
        {"octal colour", "CustomColour3=0151\n", [](auto& s, auto&) { EXPECT_EQ(s.customColours[3], 105u); }},
        {"no positive colour keeps the built-in row and ignores pens",
         "CustomColour0=0\nCustomColour1=-5\nCustomPenText=2\nCustomPenBackground=3\n",
         [&](auto& s, auto& l) {
             EXPECT_EQ(l.customPens[PEN_TEXT], 2);
             for (int i = 0; i < PALETTE_SIZE; i++)
                 EXPECT_EQ(s.customColours[i], builtIn.customColours[i]);
             for (int i = 0; i < PEN_ROLE_COUNT; i++)
                 EXPECT_EQ(s.customPens[i], builtIn.customPens[i]);
         }},
        {"pens outside the palette become 0",
         "CustomColour7=0xFFF\nCustomPenText=7\nCustomPenHeading=8\nCustomPenBadlink=-1\nCustomPenWebdown="
         "3\n",
         [](auto& s, auto&) {
             const int32_t expect[PEN_ROLE_COUNT] = {0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 3};
             for (int i = 0; i < PEN_ROLE_COUNT; i++)
                 EXPECT_EQ(s.customPens[i], expect[i]) << i;
             EXPECT_EQ(s.customColours[7], 0xFFFu);
         }},
        {"colour index is one digit 0-7", "CustomColour8=0x123\nCustomColour33=0x123\nCustomColourA=1\n",
         [&](auto& s, auto&) {
             for (int i = 0; i < PALETTE_SIZE; i++)
                 EXPECT_EQ(s.customColours[i], builtIn.customColours[i]);
         }},
        {"pen role names are case-sensitive", "CustomPenbackground=3\nCustomPenTexts=3\nCustomColour1=1\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.customPens[PEN_BACKGROUND], 0);
             EXPECT_EQ(s.customPens[PEN_TEXT], 0);
         }},
        {"screen mode needs all three values", "ScreenDisplayID=0x5001100\nScreenWidth=0\nScreenHeight=600\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.displayId, 0x1234567u);
             EXPECT_EQ(s.screenWidth, 1920);
             EXPECT_EQ(s.screenHeight, 1080);
         }},
        {"screen mode", "ScreenDisplayID=0x5001100\nScreenWidth=800\nScreenHeight=600\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.displayId, 0x5001100u);
             EXPECT_EQ(s.screenWidth, 800);
             EXPECT_EQ(s.screenHeight, 600);
             EXPECT_EQ(s.workbenchDisplayId, 0x1234567u);
         }},
        {"only the mode id has the automatic base",
         "ScreenDisplayID=010\nScreenWidth=0x10\nScreenHeight=600\n",
         [](auto& s, auto& l) {
             EXPECT_EQ(l.screenDisplayId, 8u);
             EXPECT_EQ(l.screenWidth, 0);
             EXPECT_EQ(s.displayId, 0x1234567u);
         }},
        {"mode id saturates", "ScreenDisplayID=0xFFFFFFFF\nScreenWidth=1\nScreenHeight=1\n",
         [](auto& s, auto&) { EXPECT_EQ(s.displayId, 0x7FFFFFFFu); }},
        {"font named default with size 0 is the desktop font",
         "ScreenFontName=Topaz\nScreenFontSize=9\nPropFontName=default\nPropFontSize=0\n",
         [](auto& s, auto&) {
             EXPECT_EQ(fontText(s.propFont), "Desk Sans/14");
             EXPECT_EQ(fontText(s.screenFont), "Topaz/9");
         }},
        {"a font needs a size and a name",
         "ScreenFontName=Topaz\nScreenFontSize=0\nFixedFontName=\nFixedFontSize=9\n",
         [](auto& s, auto&) {
             EXPECT_EQ(fontText(s.screenFont), "Desk Sans/14");
             EXPECT_EQ(fontText(s.fixedFont), "Desk Mono/13");
         }},
        {"font names keep their spaces", "PropFontName= Spaced Serif\nPropFontSize=16\n",
         [](auto& s, auto&) { EXPECT_EQ(fontText(s.propFont), " Spaced Serif/16"); }},
        {"32-character font name", "FixedFontName=" + name32 + "\nFixedFontSize=10\n",
         [&](auto& s, auto&) { EXPECT_EQ(fontText(s.fixedFont), name32 + "/10"); }},
        {"33-character font name leaves the font alone", "FixedFontName=" + name33 + "\nFixedFontSize=10\n",
         [](auto& s, auto& l) {
             EXPECT_STREQ(l.fixedFontName, "");
             EXPECT_EQ(fontText(s.fixedFont), "Desk Mono/13");
         }},
        {"over-long name empties an earlier one",
         "ScreenFontName=Topaz\nScreenFontName=" + name33 + "\nScreenFontSize=8\n",
         [](auto& s, auto&) { EXPECT_EQ(fontText(s.screenFont), "Desk Sans/14"); }},
        {"font heights stop at 16 bits", "ScreenFontName=Big\nScreenFontSize=70000\n",
         [](auto& s, auto&) { EXPECT_EQ(fontText(s.screenFont), "Big/65535"); }},
        {"flags keep their low 8 bits", "UseGemProxy=256\nGemProxyAll=2\nScreenBorderBlank=257\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.useGemProxy, 0);
             EXPECT_EQ(s.gemProxyAll, 2);
             EXPECT_EQ(s.borderBlank, 1);
         }},
        {"saturated flag", "UseBackNav=99999999999999999999\n",
         [](auto& s, auto&) { EXPECT_EQ(s.useBackNav, 255); }},
        {"key= and =value are skipped", "UseBackNav=1\nUseBackNav=\n=0\n",
         [](auto& s, auto&) { EXPECT_EQ(s.useBackNav, 1); }},
        {"space before = is part of the key", "UseBackNav =1\n",
         [](auto& s, auto&) { EXPECT_EQ(s.useBackNav, 0); }},
        {"leading white space of a number is skipped", "UseBackNav= 1\nGemProxyAll=\t+1\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.useBackNav, 1);
             EXPECT_EQ(s.gemProxyAll, 1);
         }},
        {"handler names must match exactly", "UseOpenURLhttpsX=1\nUseOpenURLHTTP=1\nUseOpenURLmailto=1\n",
         [](auto& s, auto&) {
             const uint8_t expect[OPENURL_COUNT] = {0, 0, 0, 0, 1};
             for (int i = 0; i < OPENURL_COUNT; i++)
                 EXPECT_EQ(s.useOpenUrl[i], expect[i]) << i;
         }},
        {"handler flags", "UseOpenURLftp=1\nUseOpenURLgopher=3\nUseOpenURLhttp=1\nUseOpenURLhttps=1\n",
         [](auto& s, auto&) {
             const uint8_t expect[OPENURL_COUNT] = {1, 3, 1, 1, 0};
             for (int i = 0; i < OPENURL_COUNT; i++)
                 EXPECT_EQ(s.useOpenUrl[i], expect[i]) << i;
         }},
        {"comments", ";UseBackNav=1\n; Theme=aqua\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.useBackNav, 0);
             EXPECT_EQ(s.theme, 2);
         }},
        {"unknown keys and families",
         "UseScreenX=1\nFoo=bar\nScreenDepth=8\nGemProxyHostname=x\nTheme2=aqua\n",
         [](auto& s, auto& l) {
             EXPECT_EQ(l.useScreen, -1);
             EXPECT_EQ(l.theme, -1);
             EXPECT_STREQ(s.gemProxyHost, "");
         }},
        {"CR LF line endings",
         "UseBackNav=1\r\nTheme=aqua\r\nGemProxyHost=proxy.example\r\nGemProxyPort=1965\r\n"
         "ScreenFontName=Topaz\r\nScreenFontSize=8\r\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.useBackNav, 1);
             EXPECT_EQ(s.theme, 0);
             EXPECT_STREQ(s.gemProxyHost, "proxy.example");
             EXPECT_EQ(s.gemProxyPort, 1965);
             EXPECT_EQ(fontText(s.screenFont), "Topaz/8");
         }},
        {"a CR alone is no value", "GemProxyHost=a.b\nGemProxyHost=\r\n",
         [](auto& s, auto&) { EXPECT_STREQ(s.gemProxyHost, "a.b"); }},
        {"a NUL byte ends the line", std::string("UseGemProxy=12\0xx\nUseBackNav=1\n", 31),
         [](auto& s, auto&) {
             EXPECT_EQ(s.useGemProxy, 1);
             EXPECT_EQ(s.useBackNav, 1);
         }},
        {"a 70-character line is two pieces", "GemProxyHost=" + host57 + "\nGemProxyPort=7\n",
         [&](auto& s, auto&) {
             EXPECT_EQ(std::string(s.gemProxyHost), host57.substr(0, 49));
             EXPECT_EQ(s.gemProxyPort, 7);
         }},
        {"the longest host a piece holds", "GemProxyHost=" + std::string(49, 'q') + "\n",
         [](auto& s, auto&) { EXPECT_EQ(std::string(s.gemProxyHost), std::string(49, 'q')); }},
        {"the rest of a long comment is a line of its own", ";" + std::string(62, 'c') + "UseBackNav=1\n",
         [](auto& s, auto&) { EXPECT_EQ(s.useBackNav, 1); }},
        {"numbers saturate", "GemProxyPort=99999999999999999999\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, INT32_MAX); }},
        {"negative numbers saturate", "GemProxyPort=-99999999999999999999\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, INT32_MIN); }},
        {"the smallest number", "GemProxyPort=-2147483648\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, INT32_MIN); }},
        {"2 to the 64th plus 1 does not wrap", "GemProxyPort=18446744073709551617\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, INT32_MAX); }},
        {"one past the largest", "GemProxyPort=2147483648\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, INT32_MAX); }},
        {"digits end at the first other character", "GemProxyPort=+1965abc\n",
         [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, 1965); }},
        {"no digits", "GemProxyPort=abc\n", [](auto& s, auto&) { EXPECT_EQ(s.gemProxyPort, 0); }},
        {"proportional text needs exactly 1", "UsePropFont=2\n",
         [](auto& s, auto&) { EXPECT_EQ(s.usePropFont, 0); }},
        {"proportional text", "UsePropFont=1\n",
         [](auto& s, auto&) {
             EXPECT_EQ(s.usePropFont, 1);
             EXPECT_EQ(fontText(s.propFont), "Desk Sans/14");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startUp(c.file);
        c.check(settings, loadedPrefs);
    }
}

TEST_F(PrefsTest, ScreenChoice) {
    struct Case {
        int32_t choice;
        const char* file;
        int height, depth;
        int32_t expect;
    } cases[] = {
        {-1, "", 1080, 24, 0},
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
        SCOPED_TRACE(std::string(c.file) + " choice " + std::to_string(c.choice) + " height " +
                     std::to_string(c.height) + " depth " + std::to_string(c.depth));
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
    std::string noise(200000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() & 0xFF);
    std::string equalsAndFeeds;
    for (int i = 0; i < 5000; i++)
        equalsAndFeeds += (i % 7 == 0) ? "\n" : (i % 3 ? "=" : "UseOpenURL");
    struct Case {
        const char* what;
        std::string file;
        bool backNav;
    } cases[] = {
        {"100000-character line", std::string(100000, 'x') + "\nUseBackNav=1\n", true},
        {"long line full of settings",
         [] {
             std::string s;
             for (int i = 0; i < 10000; i++)
                 s += "UseBackNav=1Theme=uchu";
             return s + "\n";
         }(),
         true},
        {"random bytes", noise, false},
        {"equals signs and line feeds", equalsAndFeeds, false},
        {"line feeds only", std::string(1000, '\n'), false},
        {"NULs only", std::string(1000, '\0'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startUp(c.file);
        if (c.backNav) {
            EXPECT_EQ(settings.useBackNav, 1);
        }
        for (const FontSpec* f : {&settings.screenFont, &settings.propFont, &settings.fixedFont}) {
            EXPECT_LE(strnlen(f->name, sizeof f->name), size_t{FONT_NAME_MAX});
        }
        EXPECT_LE(strnlen(settings.gemProxyHost, sizeof settings.gemProxyHost), size_t{PROXY_HOST_MAX});
        EXPECT_GE(settings.theme, 0);
        EXPECT_LT(settings.theme, THEME_COUNT);
        for (int pen : settings.customPens) {
            EXPECT_GE(pen, 0);
            EXPECT_LT(pen, PALETTE_SIZE);
        }
        // Whatever was read saves as a file of the fixed shape.
        const std::string saved = prefsFormat(settings);
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 45);
    }
}

TEST_F(PrefsTest, NoFileMeansDefaults) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> prepare;
    } cases[] = {
        {"missing folder", [](const std::string&) {}},
        {"empty folder", [](const std::string& h) { fs::create_directories(h + "/prefs"); }},
        {"file is a folder",
         [](const std::string& h) { fs::create_directories(h + "/prefs/Farlander.prefs"); }},
        {"folder is a file",
         [](const std::string& h) {
             fs::create_directories(h);
             writeFileAtomic(h + "/prefs", "UseBackNav=1\n");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home);
        c.prepare(home);
        settings = Settings{};
        EXPECT_FALSE(prefsLoad());
        EXPECT_EQ(loadedPrefs.useScreen, -1);
        EXPECT_EQ(loadedPrefs.theme, -1);
        prefsMerge(-1);
        EXPECT_EQ(settings.useBackNav, 0);
        EXPECT_EQ(settings.theme, THEME_DEFAULT);
    }
}

// ---------------------------------------------------------------------------
// Writing

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

void customise(Settings& s) {
    s.useScreen = 1;
    s.displayId = 0x5001100;
    s.screenWidth = 800;
    s.screenHeight = 600;
    fontSet(s.screenFont, "Topaz", 9);
    s.borderBlank = 1;
    s.usePropFont = 1;
    fontSet(s.propFont, "Noto Serif Display", 17);
    fontSet(s.fixedFont, "Go Mono", 11);
    s.theme = THEME_MORKBLA;
    const uint32_t colours[PALETTE_SIZE] = {0x1, 0x20, 0x300, 0xABC, 0x0, 0xF0F, 0xFFF, 0x7};
    const int32_t pens[PEN_ROLE_COUNT] = {7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3};
    std::copy(std::begin(colours), std::end(colours), s.customColours);
    std::copy(std::begin(pens), std::end(pens), s.customPens);
    s.useBackNav = 1;
    const uint8_t handlers[OPENURL_COUNT] = {1, 0, 1, 0, 1};
    std::copy(std::begin(handlers), std::end(handlers), s.useOpenUrl);
    s.useGemProxy = 1;
    std::strcpy(s.gemProxyHost, "proxy.example.org");
    s.gemProxyPort = 1965;
    s.gemProxyAll = 1;
}

TEST_F(PrefsTest, SavesTheExactText) {
    startUp("");
    prefsSave();
    EXPECT_EQ(savedText(), DEFAULT_FILE);

    customise(settings);
    prefsSave();
    EXPECT_EQ(savedText(), CUSTOM_FILE);
}

TEST_F(PrefsTest, RoundTrip) {
    startUp("");
    customise(settings);
    prefsSave();
    const Settings before = settings;

    settings = Settings{};
    ASSERT_TRUE(prefsLoad());
    prefsMerge(-1);
    const Settings& after = settings;
    EXPECT_EQ(after.useScreen, before.useScreen);
    EXPECT_EQ(after.displayId, before.displayId);
    EXPECT_EQ(after.screenWidth, before.screenWidth);
    EXPECT_EQ(after.screenHeight, before.screenHeight);
    EXPECT_EQ(fontText(after.screenFont), fontText(before.screenFont));
    EXPECT_EQ(fontText(after.propFont), fontText(before.propFont));
    EXPECT_EQ(fontText(after.fixedFont), fontText(before.fixedFont));
    EXPECT_EQ(after.theme, before.theme);
    for (int i = 0; i < PALETTE_SIZE; i++)
        EXPECT_EQ(after.customColours[i], before.customColours[i]) << i;
    for (int i = 0; i < PEN_ROLE_COUNT; i++)
        EXPECT_EQ(after.customPens[i], before.customPens[i]) << i;
    // Everything else the file carries, in one comparison.
    EXPECT_EQ(prefsFormat(after), prefsFormat(before));
}

TEST_F(PrefsTest, SaveQuirks) {
    struct Case {
        const char* what;
        std::function<void(Settings&)> change;
        const char* savedLine;  // expected among the saved lines
        std::function<void(const Settings&)> afterRestart;
    } cases[] = {
        {"proportional font equal to the screen font is saved as default",
         [](Settings& s) {
             fontSet(s.screenFont, "Topaz", 9);
             s.propFont = s.screenFont;
         },
         "PropFontName=default\nPropFontSize=0\n",
         [](const Settings& s) {
             EXPECT_EQ(fontText(s.screenFont), "Topaz/9");
             EXPECT_EQ(fontText(s.propFont), "Desk Sans/14");
         }},
        {"the desktop's mode is saved as 0 whatever the size",
         [](Settings& s) {
             s.screenWidth = 640;
             s.screenHeight = 480;
         },
         "ScreenDisplayID=0\nScreenWidth=0\nScreenHeight=0\n",
         [](const Settings& s) {
             EXPECT_EQ(s.screenWidth, 1920);
             EXPECT_EQ(s.screenHeight, 1080);
         }},
        {"flags are saved as 0 or 1",
         [](Settings& s) {
             s.useGemProxy = 2;
             s.useScreen = 5;
             s.useOpenUrl[OPENURL_GOPHER] = 0x80;
         },
         "UseScreen=1\n",
         [](const Settings& s) {
             EXPECT_EQ(s.useGemProxy, 1);
             EXPECT_EQ(s.useScreen, 1);
             EXPECT_EQ(s.useOpenUrl[OPENURL_GOPHER], 1);
         }},
        {"a theme outside the table is saved as the default one", [](Settings& s) { s.theme = 9; },
         "Theme=default\n", [](const Settings& s) { EXPECT_EQ(s.theme, THEME_DEFAULT); }},
        {"colours that do not fit 12 bits are written whole",
         [](Settings& s) { s.customColours[2] = 0x7FFFFFFF; }, "CustomColour2=0x7FFFFFFF\n",
         [](const Settings& s) { EXPECT_EQ(s.customColours[2], 0x7FFFFFFFu); }},
        {"a host longer than a line piece holds comes back cut",
         [](Settings& s) { std::memset(s.gemProxyHost, 'p', 60); }, "",
         [](const Settings& s) { EXPECT_EQ(std::string(s.gemProxyHost), std::string(49, 'p')); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startUp("");
        c.change(settings);
        prefsSave();
        EXPECT_NE(savedText().find(c.savedLine), std::string::npos);
        settings = Settings{};
        prefsLoad();
        prefsMerge(-1);
        c.afterRestart(settings);
    }
}

TEST_F(PrefsTest, SaveFailuresAreSilent) {
    // The folder is created when missing.
    startUp("");
    fs::remove_all(home);
    prefsSave();
    EXPECT_EQ(savedText(), DEFAULT_FILE);

    // A file where the folder belongs: nothing is written, the file stays.
    fs::remove_all(home);
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
    struct Case {
        const char* what;
        std::function<void(Settings&)> change;
        bool changed;
    } cases[] = {
        {"nothing to do", [](Settings&) {}, false},
        {"fixed font height", [](Settings& s) { s.fixedFont.height++; }, true},
        {"proportional font name", [](Settings& s) { fontSet(s.propFont, "Other", s.propFont.height); },
         true},
        {"screen font", [](Settings& s) { fontSet(s.screenFont, "Topaz", 8); }, true},
        {"proportional text only", [](Settings& s) { s.usePropFont = 1; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startUp("");
        c.change(settings);
        EXPECT_EQ(resetFonts(), c.changed);
        EXPECT_EQ(fontText(settings.fixedFont), "Desk Mono/13");
        EXPECT_EQ(fontText(settings.propFont), "Desk Sans/14");
        EXPECT_EQ(fontText(settings.screenFont), "Desk Sans/14");
        EXPECT_EQ(settings.usePropFont, 0);
        EXPECT_FALSE(resetFonts());
    }
}

TEST(DesktopFacts, DisplayIdsFitTheFileAndAreStable) {
    for (const std::string name : {"", "HDMI-1", "DP-2", "eDP-1", "VGA-1", "Virtual-1", "offscreen"}) {
        uint32_t id = displayIdForScreenName(name);
        EXPECT_NE(id, 0u) << name;
        EXPECT_LE(id, 0x7FFFFFFFu) << name;
        EXPECT_EQ(id, displayIdForScreenName(name));
    }
    EXPECT_NE(displayIdForScreenName("HDMI-1"), displayIdForScreenName("HDMI-2"));
    // FNV-1a of "a" is 0xE40C292C; the top bit is dropped.
    EXPECT_EQ(displayIdForScreenName("a"), 0x640C292Cu);
}

TEST(DesktopFacts, FallbacksWithoutAnApplication) {
    setDesktopFactsForTesting(nullptr);
    DesktopFacts facts = desktopFacts();
    EXPECT_GT(facts.width, 0);
    EXPECT_GT(facts.height, 0);
    EXPECT_GT(facts.depth, 0);
    EXPECT_NE(facts.displayId, 0u);
    EXPECT_FALSE(facts.fontName.empty());
    EXPECT_GT(facts.fontHeight, 0);
    EXPECT_FALSE(facts.fixedFontName.empty());
    EXPECT_GT(facts.fixedFontHeight, 0);
}

}  // namespace
