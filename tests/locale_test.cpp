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
#include <tuple>
#include <utility>
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

// Several readers at once must all see the same pointers, and null outside 0-140.
bool readsAgreeAcrossThreads(const TextPointers& expected) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&expected, &mismatches] {
            for (int round = 0; round < 500; ++round) {
                for (int id = -1; id <= MESSAGE_COUNT; ++id) {
                    const bool inRange = id >= 0 && id < MESSAGE_COUNT;
                    if (getString(id) != (inRange ? expected[static_cast<std::size_t>(id)] : nullptr))
                        mismatches.fetch_add(1);
                }
            }
        });
    }
    for (auto& reader : readers)
        reader.join();
    return mismatches.load() == 0;
}

constexpr std::pair<int, const char*> DEFAULTS[] = {
    {0,
     "# Welcome to Farlander!\n\nEnter a Gemini, Spartan, Gopher, Finger or Nex URL above...\n\n"
     "...or click on one of the links below:\n\n"},
    {1, "Back"},
    {51, "OK|Cancel"},
    {88,
     "A client certificate is required to proceed.\nThis will allow the capsule to identify "
     "you.\nThis is similar to creating a web site login.\n\nClick \"Edit CN\" if you don't want "
     "to use the\ndefault cert Common Name of \"Farlander\".\n\nThis takes less than 10 seconds "
     "on an A3000.)\n"},
};

TEST(LocaleDefaults, TextsAndRange) {
    for (const auto& [id, text] : DEFAULTS)
        EXPECT_STREQ(getString(id), text) << "id " << id;
    for (int id : {-1, MESSAGE_COUNT, INT_MIN, INT_MAX})
        EXPECT_EQ(getString(id), nullptr) << "id " << id;
    const TextPointers first = currentTexts();
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        ASSERT_NE(first[static_cast<std::size_t>(id)], nullptr) << "id " << id;
        EXPECT_GT(std::strlen(first[static_cast<std::size_t>(id)]), 0U) << "id " << id;
    }
    EXPECT_TRUE(readsAgreeAcrossThreads(first));
}

// --- German test catalog ------------------------------------------------------------

enum class Kind {
    Translated,  // used
    Empty,       // msgstr "": not translated
    Fuzzy,       // left out by msgfmt
    NoContext,   // same English text but no context: not this program's key
    StaleText,   // the English text has changed since it was translated
};

// Ids 1 and 20 share their English text: each is translated on its own.
constexpr std::tuple<int, Kind, const char*> GERMAN[] = {
    {1, Kind::Translated, "Zurück"},
    {20, Kind::Translated, "Rückwärts"},
    {51, Kind::Translated, "OK|Abbrechen"},
    {88, Kind::Translated, "Ein \"Zertifikat\" wird benötigt.\n\nKlicke \"CN ändern\".)\n"},
    {2, Kind::Empty, ""},
    {21, Kind::Fuzzy, "Vorwärts"},
    {3, Kind::NoContext, "Neu laden"},
    {4, Kind::StaleText, "Startseite"},
};

std::string poQuote(const std::string& s) {
    std::string out = "\"";
    for (char c : s)
        out += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}

// The German catalog source, in UTF-8 or (for the German letters used) Latin-1.
std::string germanPo(bool latin1) {
    std::string po = "msgid \"\"\nmsgstr \"\"\n\"MIME-Version: 1.0\\n\"\n";
    po += std::string("\"Content-Type: text/plain; charset=") + (latin1 ? "ISO-8859-1" : "UTF-8") + "\\n\"\n";
    po += "\"Content-Transfer-Encoding: 8bit\\n\"\n\"Language: de\\n\"\n";
    for (const auto& [id, kind, text] : GERMAN) {
        const std::string digits = std::to_string(id);
        po += kind == Kind::Fuzzy ? "\n#, fuzzy\n" : "\n";
        if (kind != Kind::NoContext)
            po += "msgctxt \"msg-" + std::string(3 - digits.size(), '0') + digits + "\"\n";
        po +=
            "msgid " + poQuote(std::string(getString(id)) + (kind == Kind::StaleText ? " page" : "")) + "\n";
        po += "msgstr " + poQuote(text) + "\n";
    }
    if (!latin1) return po;
    std::string out;
    for (std::size_t i = 0; i < po.size(); ++i) {
        const auto lead = static_cast<unsigned char>(po[i]);
        if (lead == 0xC3 && i + 1 < po.size())
            out += static_cast<char>(0xC0 | (static_cast<unsigned char>(po[++i]) & 0x3FU));
        else
            out += po[i];
    }
    return out;
}

// The filled-in template translates every message as its English text with
// this in front.
constexpr const char* TEMPLATE_MARK = "[T]";

// --- Running a scenario in a child process ---------------------------------------

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct ScratchDirectory {
    fs::path path =
        fs::temp_directory_path() / ("farlander-locale-" + std::to_string(std::random_device{}()));
    ScratchDirectory() { fs::create_directories(path); }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
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

// The Latin-1 catalog still reaches the program as UTF-8, even when the
// character type locale is plain "C".
TEST(LocaleCatalog, GermanLatin1AndNone) {
    const struct {
        const char* scenario;
        const char* environment;
    } cases[] = {
        {"german", UTF8_ENVIRONMENT},
        {"latin1", "LANGUAGE=de LANG=C LC_MESSAGES=C.UTF-8"},
        {"none", UTF8_ENVIRONMENT},
    };
    const bool msgfmt = haveMsgfmt();
    for (const auto& c : cases) {
        const std::string scenario = c.scenario;
        if (!msgfmt && scenario != "none") continue;
        ScratchDirectory scratch;
        const fs::path localeDir = scratch.path / "locale";
        fs::create_directories(localeDir);
        if (scenario != "none") compileGerman(localeDir, germanPo(scenario == "latin1"));
        runChild(scratch, scenario, localeDir, c.environment);
    }
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

    const std::string name = scenario;
    std::vector<std::string> expected(defaults.begin(), defaults.end());
    for (const auto& [id, kind, text] : GERMAN)
        if (kind == Kind::Translated && (name == "german" || name == "latin1"))
            expected[static_cast<std::size_t>(id)] = text;
    for (std::string& text : expected)
        if (name == "template") text.insert(0, TEMPLATE_MARK);
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        const char* text = getString(id);
        ASSERT_NE(text, nullptr) << "id " << id;
        EXPECT_EQ(text, expected[static_cast<std::size_t>(id)]) << "id " << id;
    }
    const TextPointers loaded = currentTexts();
    EXPECT_TRUE(readsAgreeAcrossThreads(loaded));

    localeCleanup();
    EXPECT_EQ(currentTexts(), defaults);
    // Texts handed out while the catalog was open stay readable.
    for (int id = 0; id < MESSAGE_COUNT; ++id)
        EXPECT_EQ(loaded[static_cast<std::size_t>(id)], expected[static_cast<std::size_t>(id)]);

    if (!HasFailure()) std::ofstream(std::getenv(DONE_VARIABLE)) << "ok\n";
}

}  // namespace
