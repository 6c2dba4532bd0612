// Message texts: the built-in defaults, the translation template, and gettext
// catalogs built with msgfmt. gettext keeps its state per process, so every
// catalog scenario re-runs this binary as a child (LocaleCatalogChild) with its
// own environment.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/locale.h"
#include "platform/catalog.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* SCENARIO_VARIABLE = "FARLANDER_LOCALE_SCENARIO";
constexpr const char* DONE_VARIABLE = "FARLANDER_LOCALE_DONE";

using TextPointers = std::array<const char*, MESSAGE_COUNT>;

TextPointers currentTexts() {
    TextPointers texts{};
    for (int id = 0; id < MESSAGE_COUNT; ++id)
        texts[static_cast<std::size_t>(id)] = getString(id);
    return texts;
}

std::string contextOf(int id) {
    std::string digits = std::to_string(id);
    return "msg-" + std::string(3 - digits.size(), '0') + digits;
}

// Several readers at once must all see the same pointers, and null outside 0-140.
bool readsAgreeAcrossThreads(const TextPointers& expected) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&expected, &mismatches] {
            for (int round = 0; round < 500; ++round) {
                for (int id = -1; id <= MESSAGE_COUNT; ++id) {
                    const bool inRange = id >= 0 && id < MESSAGE_COUNT;
                    const char* want = inRange ? expected[static_cast<std::size_t>(id)] : nullptr;
                    if (getString(id) != want) mismatches.fetch_add(1);
                }
            }
        });
    }
    for (auto& reader : readers)
        reader.join();
    return mismatches.load() == 0;
}

// --- Built-in texts -------------------------------------------------------------

struct DefaultCase {
    int id;
    const char* text;
};

constexpr DefaultCase DEFAULTS[] = {
    {0,
     "# Welcome to Farlander!\n\nEnter a Gemini, Spartan, Gopher, Finger or Nex URL above...\n\n"
     "...or click on one of the links below:\n\n"},
    {1, "Back"},
    {20, "Back"},
    {48, "OK"},
    {51, "OK|Cancel"},
    {52, "Create identity|Edit CN|Cancel"},
    {88,
     "A client certificate is required to proceed.\nThis will allow the capsule to identify "
     "you.\nThis is similar to creating a web site login.\n\nClick \"Edit CN\" if you don't want "
     "to use the\ndefault cert Common Name of \"Farlander\".\n\nThis takes less than 10 seconds "
     "on an A3000.)\n"},
    {89,
     "The Farlander proxy service allows you to\nuse Gemini without installing AmiSSL. You\nsend "
     "unencrypted requests to the proxy and\nthe server handles the encryption for you.\n\nThis "
     "is a best effort service so no guarantees.\nSee Farlander.guide to create your own proxy."},
    {102, "Could not open"},
    {140,
     "Sorry! This capsule requires a certificate.\nYou need AmiSSL enabled to use "
     "certificates.\nCertificates cannot be sent through the proxy."},
};

TEST(LocaleDefaults, KnownTextsExact) {
    for (const auto& c : DEFAULTS) {
        const char* text = getString(c.id);
        ASSERT_NE(text, nullptr) << "id " << c.id;
        EXPECT_STREQ(text, c.text) << "id " << c.id;
    }
}

TEST(LocaleDefaults, IdsOutsideTableHaveNoText) {
    for (int id : {-1, MESSAGE_COUNT, INT_MIN, INT_MAX, -MESSAGE_COUNT}) {
        EXPECT_EQ(getString(id), nullptr) << "id " << id;
    }
}

TEST(LocaleDefaults, EveryIdHasAStableNonEmptyText) {
    const TextPointers first = currentTexts();
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        const char* text = first[static_cast<std::size_t>(id)];
        ASSERT_NE(text, nullptr) << "id " << id;
        EXPECT_GT(std::strlen(text), 0U) << "id " << id;
        EXPECT_EQ(getString(id), text) << "id " << id;
    }
}

TEST(LocaleDefaults, ConcurrentReaders) {
    EXPECT_TRUE(readsAgreeAcrossThreads(currentTexts()));
}

// --- PO files ---------------------------------------------------------------------

struct PoEntry {
    std::string context;
    std::string id;
    std::string text;
    bool fuzzy = false;
    bool hasContext = true;
};

std::string poQuote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

std::string utf8ToLatin1(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto lead = static_cast<unsigned char>(s[i]);
        if ((lead == 0xC2 || lead == 0xC3) && i + 1 < s.size()) {
            const auto next = static_cast<unsigned char>(s[++i]);
            out += static_cast<char>(((lead & 0x03U) << 6) | (next & 0x3FU));
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string writePo(const std::vector<PoEntry>& entries, const char* charset) {
    std::string po = "msgid \"\"\nmsgstr \"\"\n\"MIME-Version: 1.0\\n\"\n";
    po += "\"Content-Type: text/plain; charset=" + std::string(charset) + "\\n\"\n";
    po += "\"Content-Transfer-Encoding: 8bit\\n\"\n\"Language: de\\n\"\n";
    for (const auto& e : entries) {
        po += "\n";
        if (e.fuzzy) po += "#, fuzzy\n";
        if (e.hasContext) po += "msgctxt " + poQuote(e.context) + "\n";
        po += "msgid " + poQuote(e.id) + "\nmsgstr " + poQuote(e.text) + "\n";
    }
    return std::string(charset) == "UTF-8" ? po : utf8ToLatin1(po);
}

// --- German test catalog ------------------------------------------------------------

enum class Kind {
    Translated,  // used
    Empty,       // msgstr "": not translated
    Fuzzy,       // left out by msgfmt
    NoContext,   // same English text but no context: not this program's key
    StaleText,   // the English text has changed since it was translated
};

struct GermanEntry {
    int id;
    Kind kind;
    const char* text;
};

constexpr GermanEntry GERMAN[] = {
    {0, Kind::Translated,
     "# Willkommen bei Farlander!\n\nGib oben eine Adresse ein...\n\n...oder wähle einen Link:\n\n"},
    {1, Kind::Translated, "Zurück"},
    {20, Kind::Translated, "Rückwärts"},
    {51, Kind::Translated, "OK|Abbrechen"},
    {88, Kind::Translated, "Ein \"Zertifikat\" wird benötigt.\n\nKlicke \"CN ändern\".)\n"},
    {102, Kind::Translated, "Öffnen fehlgeschlagen"},
    {2, Kind::Empty, ""},
    {21, Kind::Fuzzy, "Vorwärts"},
    {3, Kind::NoContext, "Neu laden"},
    {4, Kind::StaleText, "Startseite"},
};

std::vector<PoEntry> germanEntries() {
    std::vector<PoEntry> entries;
    for (const auto& g : GERMAN) {
        PoEntry e;
        e.context = contextOf(g.id);
        e.id = getString(g.id);
        e.text = g.text;
        e.fuzzy = g.kind == Kind::Fuzzy;
        e.hasContext = g.kind != Kind::NoContext;
        if (g.kind == Kind::StaleText) e.id += " page";
        entries.push_back(e);
    }
    return entries;
}

// The filled-in template translates every message as its English text with
// this in front.
constexpr const char* TEMPLATE_MARK = "[T]";

// What getString must answer in the child for each scenario.
std::vector<std::string> expectedTexts(const std::string& scenario, const TextPointers& defaults) {
    std::vector<std::string> expected(defaults.begin(), defaults.end());
    if (scenario == "german" || scenario == "latin1") {
        for (const auto& g : GERMAN) {
            if (g.kind == Kind::Translated) expected[static_cast<std::size_t>(g.id)] = g.text;
        }
    } else if (scenario == "template") {
        for (int id = 0; id < MESSAGE_COUNT; ++id) {
            expected[static_cast<std::size_t>(id)].insert(0, TEMPLATE_MARK);
        }
    }
    return expected;
}

// --- Running a scenario in a child process ---------------------------------------

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct ScratchDirectory {
    fs::path path;
    ScratchDirectory() {
        std::random_device random;
        for (;;) {
            path = fs::temp_directory_path() / ("farlander-locale-" + std::to_string(random()));
            if (fs::create_directory(path)) break;
        }
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
};

bool haveMsgfmt() {
    return std::system("msgfmt --version >/dev/null 2>&1") == 0;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Compiles `po` into <localeDir>/de/LC_MESSAGES/farlander.mo.
void compileGerman(const fs::path& localeDir, const std::string& po) {
    const fs::path messages = localeDir / "de" / "LC_MESSAGES";
    fs::create_directories(messages);
    const fs::path source = localeDir / "de.po";
    std::ofstream(source, std::ios::binary) << po;
    const std::string command = "msgfmt -o " + shellQuote((messages / "farlander.mo").string()) + " " +
                                shellQuote(source.string()) + " 2>" +
                                shellQuote((localeDir / "msgfmt.log").string());
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(localeDir / "msgfmt.log");
}

// Runs LocaleCatalogChild.Scenario in a fresh process; `environment` holds the
// locale variables of the scenario (all others of that kind are removed).
void runChild(const ScratchDirectory& scratch, const std::string& scenario, const fs::path& localeDir,
              const std::string& environment) {
    const fs::path done = scratch.path / (scenario + ".done");
    const fs::path log = scratch.path / (scenario + ".log");
    const std::string command =
        "env -u LC_ALL -u LANG -u LANGUAGE -u LC_MESSAGES -u LC_CTYPE " + environment + " " +
        SCENARIO_VARIABLE + "=" + scenario + " " + DONE_VARIABLE + "=" + shellQuote(done.string()) +
        " FARLANDER_LOCALEDIR=" + shellQuote(localeDir.string()) + " " +
        shellQuote(fs::read_symlink("/proc/self/exe").string()) +
        " --gtest_filter=LocaleCatalogChild.Scenario >" + shellQuote(log.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << "scenario " << scenario << ":\n" << readFile(log);
    EXPECT_TRUE(fs::exists(done)) << "scenario " << scenario << " did not finish:\n" << readFile(log);
}

constexpr const char* UTF8_ENVIRONMENT = "LANGUAGE=de LANG=C.UTF-8 LC_ALL=C.UTF-8";

// --- Catalog scenarios (parent side) ----------------------------------------------

TEST(LocaleCatalog, TranslatesEachIdOnItsOwnAndFallsBack) {
    if (!haveMsgfmt()) GTEST_SKIP() << "msgfmt is not installed";
    ScratchDirectory scratch;
    const fs::path localeDir = scratch.path / "locale";
    compileGerman(localeDir, writePo(germanEntries(), "UTF-8"));
    runChild(scratch, "german", localeDir, UTF8_ENVIRONMENT);
}

// A catalog in another character set still reaches the program as UTF-8, even
// when the character type locale is plain "C".
TEST(LocaleCatalog, Latin1CatalogComesOutAsUtf8) {
    if (!haveMsgfmt()) GTEST_SKIP() << "msgfmt is not installed";
    ScratchDirectory scratch;
    const fs::path localeDir = scratch.path / "locale";
    compileGerman(localeDir, writePo(germanEntries(), "ISO-8859-1"));
    runChild(scratch, "latin1", localeDir, "LANGUAGE=de LANG=C LC_MESSAGES=C.UTF-8");
}

TEST(LocaleCatalog, NoCatalogGivesDefaults) {
    ScratchDirectory scratch;
    const fs::path localeDir = scratch.path / "empty";
    fs::create_directories(localeDir);
    runChild(scratch, "none", localeDir, UTF8_ENVIRONMENT);
}

// The shipped template lists every message under the key the program looks up:
// filling it in translates all 141 ids.
TEST(LocaleCatalog, TemplateCoversEveryMessage) {
    const fs::path pot = fs::path(__FILE__).parent_path().parent_path() / "po" / "farlander.pot";
    ASSERT_TRUE(fs::exists(pot)) << pot;
    if (!haveMsgfmt() || std::system("msgen --version >/dev/null 2>&1") != 0 ||
        std::system("msgfilter --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the gettext tools are not installed";
    }
    ScratchDirectory scratch;
    const fs::path localeDir = scratch.path / "locale";
    const fs::path po = scratch.path / "filled.po";
    const std::string command = "msgen " + shellQuote(pot.string()) + " | msgfilter --keep-header -o " +
                                shellQuote(po.string()) + " sed -e '1s/^/" + TEMPLATE_MARK + "/'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    compileGerman(localeDir, readFile(po));
    runChild(scratch, "template", localeDir, UTF8_ENVIRONMENT);
}

// --- Catalog scenarios (child side) -------------------------------------------------

TEST(LocaleCatalogChild, Scenario) {
    const char* scenario = std::getenv(SCENARIO_VARIABLE);
    if (scenario == nullptr) GTEST_SKIP() << "runs only as a child of the LocaleCatalog tests";
    const TextPointers defaults = currentTexts();
    const std::string numericBefore = std::setlocale(LC_NUMERIC, nullptr);

    localeInit();
    // Number formats must not follow the user's locale.
    EXPECT_EQ(numericBefore, std::setlocale(LC_NUMERIC, nullptr));
    EXPECT_STREQ(catalogDirectory(), std::getenv("FARLANDER_LOCALEDIR"));

    const std::vector<std::string> expected = expectedTexts(scenario, defaults);
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        const char* text = getString(id);
        ASSERT_NE(text, nullptr) << "id " << id;
        EXPECT_EQ(text, expected[static_cast<std::size_t>(id)]) << "id " << id;
    }
    EXPECT_EQ(getString(-1), nullptr);
    EXPECT_EQ(getString(MESSAGE_COUNT), nullptr);

    const TextPointers loaded = currentTexts();
    EXPECT_TRUE(readsAgreeAcrossThreads(loaded));

    localeCleanup();
    EXPECT_EQ(currentTexts(), defaults);
    // Texts handed out while the catalog was open stay readable.
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        EXPECT_EQ(loaded[static_cast<std::size_t>(id)], expected[static_cast<std::size_t>(id)]);
    }

    if (!HasFailure()) std::ofstream(std::getenv(DONE_VARIABLE)) << "ok\n";
}

}  // namespace
