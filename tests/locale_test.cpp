// Message texts: the built-in defaults, the translation template, and gettext
// catalogs built with the gettext tools. gettext keeps its state per process, so
// every catalog scenario re-runs this binary as a child (LocaleCatalogChild) with
// its own environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/catalog.h"
#include "text/locale.h"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

constexpr const char* SCENARIO_VARIABLE = "FARLANDER_LOCALE_SCENARIO";
constexpr const char* DONE_VARIABLE = "FARLANDER_LOCALE_DONE";

using TextPointers = std::array<const char*, MESSAGE_COUNT>;

TextPointers currentTexts() {
    TextPointers texts{};
    for (int id = 0; id < MESSAGE_COUNT; ++id)
        texts[id] = getString(id);
    return texts;
}

// Several readers at once must all see the same pointers, and null outside 0-140.
bool readsAgreeAcrossThreads(const TextPointers& expected) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&expected, &mismatches] {
            for (int round = 0; round < 500; ++round)
                for (int id = -1; id <= MESSAGE_COUNT; ++id)
                    mismatches += getString(id) != (id >= 0 && id < MESSAGE_COUNT ? expected[id] : nullptr);
        });
    for (auto& reader : readers)
        reader.join();
    return mismatches == 0;
}

TEST(LocaleDefaults, TextsAndRange) {
    for (int id : {-1, MESSAGE_COUNT, INT_MIN, INT_MAX})
        EXPECT_EQ(getString(id), nullptr) << "id " << id;
    const TextPointers texts = currentTexts();
    for (int id = 0; id < MESSAGE_COUNT; ++id)
        EXPECT_TRUE(texts[id] != nullptr && texts[id][0] != '\0') << "id " << id;
    EXPECT_TRUE(readsAgreeAcrossThreads(texts));
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

// The German catalog source, in UTF-8.
std::string germanPo() {
    std::string po = "msgid \"\"\nmsgstr \"\"\n\"MIME-Version: 1.0\\n\"\n";
    po += "\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
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
    return po;
}

// The filled-in template translates every message as its English text with
// this in front.
constexpr const char* TEMPLATE_MARK = "[T]";

// --- Running a scenario in a child process ---------------------------------------

std::string quoted(const fs::path& path) {
    std::string out = "'";
    for (char c : path.string())
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string readFile(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Runs shell commands whose error output goes to log, shown on failure.
void run(const std::string& commands, const fs::path& log) {
    ASSERT_EQ(std::system(("{ " + commands + "; } 2>" + quoted(log)).c_str()), 0) << commands << "\n"
                                                                                  << readFile(log);
}

// Runs LocaleCatalogChild.Scenario in a fresh process; `environment` holds the
// locale variables of the scenario (all others of that kind are removed).
void runChild(const fs::path& scratch, const std::string& scenario, const fs::path& localeDir,
              const std::string& environment) {
    const fs::path done = scratch / (scenario + ".done"), log = scratch / (scenario + ".log");
    const std::string command = "env -u LC_ALL -u LANG -u LANGUAGE -u LC_MESSAGES -u LC_CTYPE " +
                                environment + " " + SCENARIO_VARIABLE + "=" + scenario + " " + DONE_VARIABLE +
                                "=" + quoted(done) + " FARLANDER_LOCALEDIR=" + quoted(localeDir) + " " +
                                quoted(fs::read_symlink("/proc/self/exe")) +
                                " --gtest_filter=LocaleCatalogChild.Scenario >" + quoted(log) + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "scenario " << scenario << ":\n" << readFile(log);
    EXPECT_TRUE(fs::exists(done)) << "scenario " << scenario << " did not finish:\n" << readFile(log);
}

TEST(LocaleDefaults, TextsSpeakOfThisSystem) {
    // Components a user of this system does not have.
    const char* const foreign[] = {"AmiSSL", "Workbench", "A3000", "IFF", "CHRS", "StopChunk", "OS4", ".)\n"};
    for (int id = 0; id < MESSAGE_COUNT; ++id) {
        const std::string text = getString(id);
        for (const char* word : foreign)
            EXPECT_EQ(text.find(word), std::string::npos) << id << ": " << text;
    }
}

// --- Catalog scenarios (parent side) ----------------------------------------------

// German in UTF-8; German in Latin-1, which still reaches the program as UTF-8 even
// when the character type locale is plain "C"; no catalog at all; and the shipped
// template, filled in: it lists every message under the key the program looks up.
TEST(LocaleCatalog, Scenarios) {
    const fs::path pot = fs::path(__FILE__).parent_path().parent_path() / "po" / "farlander.pot";
    ASSERT_TRUE(fs::exists(pot)) << pot;
    const char* const utf8 = "LANGUAGE=de LANG=C.UTF-8 LC_ALL=C.UTF-8";
    // The scenario, its locale variables, and the commands that make de.po from german.po.
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {"german", utf8, "cp german.po de.po"},
        {"latin1", "LANGUAGE=de LANG=C LC_MESSAGES=C.UTF-8", "msgconv -t ISO-8859-1 -o de.po german.po"},
        {"none", utf8, ""},
        {"template", utf8,
         "msgen " + quoted(pot) + " | msgfilter --keep-header -o de.po sed -e '1s/^/" + TEMPLATE_MARK + "/'"},
    };
    const bool tools =
        std::system("{ msgfmt -V && msgconv -V && msgen -V && msgfilter -V; } >/dev/null 2>&1") == 0;
    const fs::path scratch =
        fs::temp_directory_path() / ("farlander-locale-" + std::to_string(std::random_device{}()));
    for (const auto& [scenario, environment, makeSource] : cases) {
        if (!tools && !makeSource.empty()) continue;
        const fs::path dir = scratch / scenario;
        fs::create_directories(dir / "de" / "LC_MESSAGES");
        std::ofstream(dir / "german.po", std::ios::binary) << germanPo();
        if (!makeSource.empty())
            run("cd " + quoted(dir) + " && " + makeSource + " && msgfmt -o de/LC_MESSAGES/farlander.mo de.po",
                dir / "tools.log");
        runChild(scratch, scenario, dir, environment);
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    if (!tools)
        GTEST_SKIP() << "the gettext tools are not installed: only the scenario without a catalog ran";
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
    Texts expected(defaults.begin(), defaults.end());
    for (const auto& [id, kind, text] : GERMAN)
        if (kind == Kind::Translated && (name == "german" || name == "latin1")) expected[id] = text;
    for (std::string& text : expected)
        if (name == "template") text.insert(0, TEMPLATE_MARK);
    const TextPointers loaded = currentTexts();
    ASSERT_EQ(std::count(loaded.begin(), loaded.end(), nullptr), 0);
    EXPECT_EQ(Texts(loaded.begin(), loaded.end()), expected);
    EXPECT_TRUE(readsAgreeAcrossThreads(loaded));

    localeCleanup();
    EXPECT_EQ(currentTexts(), defaults);
    // Texts handed out while the catalog was open stay readable.
    EXPECT_EQ(Texts(loaded.begin(), loaded.end()), expected);

    if (!HasFailure()) std::ofstream(std::getenv(DONE_VARIABLE)) << "ok\n";
}

}  // namespace
