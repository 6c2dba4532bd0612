// The command-line dump, run as the real program against the loopback test servers.
// Expected outputs live in tests/data/dump; "@PORT@" stands for the server's port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "identity/identity.h"
#include "platform/files.h"
#include "platform/spawn.h"
#include "support/private_home.h"
#include "support/servers.h"
#include "support/tls_server.h"

namespace {

namespace fs = std::filesystem;

const char* const GEMTEXT =
    "20 text/gemini\r\n"
    "# Heading\n"
    "## Second level\n"
    "A line of plain text that is long enough to be wrapped at forty columns.\n"
    "\n"
    "=> /rel Relative link\n"
    "=> gemini://other.example\n"
    "=>\n"
    "=: /ask Ask something\n"
    "* a list item\n"
    "> a quoted line\n"
    "```\n"
    "  pre\tformatted\x01 line that is longer than forty columns of text\n"
    "```\n"
    "=> https://web.example/ Web\n"
    "=> mailto:me@example.org Mail\n"
    "Caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x96\x88 back\\slash\n";

std::string pathOf(const std::string& requestLine) {
    // "gemini://127.0.0.1:PORT/path\r\n"
    size_t slash = requestLine.find('/', 9);
    size_t end = requestLine.find('\r');
    if (slash == std::string::npos || end == std::string::npos || end < slash) return {};
    return requestLine.substr(slash, end - slash);
}

// A page in many scripts, with wide characters, emoji with skin tones and flags,
// combining accents, a preformatted block that must keep its columns, links with
// non-ASCII targets, and bytes that are not UTF-8 or are control codes.
const std::string SCRIPTS =
    "20 text/gemini\r\n"
    "# Scripts\n"
    "Latin-1: caf\xC3\xA9 na\xC3\xAFve \xC3\x98; Latin Extended: \xC5\x81\xC3\xB3"
    "d\xC5\xBA \xC5\x92uvre\n"
    "Greek: \xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 "
    "\xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5; Cyrillic: \xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2"
    "\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB9, \xD0\xBC\xD0\xB8\xD1\x80\n"
    "Hebrew: \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D; Arabic: "
    "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 \xD8\xA8\xD8\xA7\xD9\x84\xD8\xB9\xD8\xA7\xD9\x84\xD9\x85\n"
    "CJK: \xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C\xEF\xBC\x8C\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB"
    "\xE3\x81\xA1\xE3\x81\xAF\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x81\xEC\x95\x88\xEB\x85\x95\xED\x95\x98"
    "\xEC\x84\xB8\xEC\x9A\x94 \xEC\x84\xB8\xEA\xB3\x84\n"
    "Emoji: \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD \xF0\x9F\x91\x8B\xF0\x9F\x8F\xBF "
    "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA "
    "\xE2\x9D\xA4\xEF\xB8\x8F and e\xCC\x81 with a combining accent\n"
    "```\n"
    "|\xE4\xBD\xA0\xE5\xA5\xBD|ab|\n"
    "|ab|\xE4\xBD\xA0\xE5\xA5\xBD|\n"
    "```\n"
    "=> /caf%C3%A9 An escaped link\n"
    "=> /caf\xC3\xA9 A link to an IRI\n"
    "=> /\xE6\x95\xB0\xE5\xAD\xA6 \xE6\x95\xB0\xE5\xAD\xA6 is mathematics\n"
    "Broken: \xFF\xC3( \xE2\x82 \x01\x7F\xC2\x85"
    " end\n";

void geminiSite(TlsServerConnection& c) {
    std::string path = pathOf(c.readLine());
    if (path == "/") {
        c.write(GEMTEXT);
    } else if (path == "/r1") {
        c.write("30 /r2\r\n");
    } else if (path == "/r2") {
        c.write("31 /\r\n");
    } else if (path == "/loop") {
        c.write("30 /loop\r\n");
    } else if (path == "/away") {
        c.write("30 gopher://127.0.0.1/\r\n");
    } else if (path == "/input") {
        c.write("10 Your name?\r\n");
    } else if (path == "/cert") {
        if (c.peerCommonName().empty()) {
            c.write("60 Identity please\r\n");
        } else {
            c.write("20 text/plain\r\nHello " + c.peerCommonName() + "\n");
        }
    } else if (path == "/scripts") {
        c.write(SCRIPTS);
    } else if (path == "/latin1") {
        c.write("20 text/gemini; charset=ISO-8859-1; lang=fr\r\nCaf\xE9 cr\xE8me, \xA9 1999\n");
    } else if (path == "/file") {
        c.write("20 application/octet-stream\r\n" + testBinary(70000, 3));
    } else if (path == "/hang") {
        c.server().base().markEvent("hang");
        c.readLine();  // until the client goes away
    } else {
        c.write("51 Not found\r\n");
    }
}

TlsServerOptions askingForCertificates() {
    TlsServerOptions options;
    options.requestClientCertificate = true;
    return options;
}

// A preferences folder of its own (empty) and the Gemini site, for every test.
class DumpTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gemini.ok());
        fs::create_directories(home + "/prefs");
    }

    // Runs the program. A dump is in ISO-8859-1 unless the arguments choose.
    ProgramResult dump(std::vector<std::string> args, const std::function<bool()>& interruptWhen = {}) {
        std::vector<std::string> argv{FARLANDER_BINARY};
        bool chosen = false, dumping = false;
        for (const std::string& a : args) {
            chosen = chosen || a == "--unicode" || a == "--latin1";
            dumping = dumping || a.rfind("--dump", 0) == 0;
        }
        if (dumping && !chosen) args.push_back("--latin1");
        for (auto& a : args)
            argv.push_back(std::move(a));
        return runProgram(argv, {{"FARLANDER_HOME", home}, {"LANGUAGE", ""}}, {}, 60000, interruptWhen);
    }

    // The expected text; with FARLANDER_UPDATE_EXPECTED set, actual becomes the new
    // expected file (review the difference before committing it).
    std::string expected(const std::string& name, int port, const std::string& actual) {
        std::string path = std::string(FARLANDER_TEST_DATA) + "/dump/" + name;
        if (std::getenv("FARLANDER_UPDATE_EXPECTED")) {
            std::string text = actual;
            std::string p = std::to_string(port);
            for (size_t at; (at = text.find(p)) != std::string::npos;)
                text.replace(at, p.size(), "@PORT@");
            writeFileAtomic(path, text);
        }
        std::string text;
        EXPECT_TRUE(readWholeFile(path, text)) << name;
        for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
            text.replace(at, 6, std::to_string(port));
        return text;
    }

    PrivateHome privateHome{"dump"};
    const std::string home = privateHome.path;
    TlsServer gemini{askingForCertificates(), geminiSite};
    const std::string base = "gemini://127.0.0.1:" + std::to_string(gemini.port());
};

TEST_F(DumpTest, EveryProtocolPrintsItsDisplayLines) {
    TestServer gopher(gopherHandler()), nex(nexHandler()), finger(fingerHandler()),
        spartan(spartanEchoHandler());
    ASSERT_TRUE(gopher.ok() && nex.ok() && finger.ok() && spartan.ok());
    auto at = [](const char* scheme, int port, const char* path) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + path;
    };
    struct Case {
        std::vector<std::string> args;
        std::string expectFile;
        int port;
    } cases[] = {
        {{"--dump-lines", at("gemini", gemini.port(), "/"), "--columns", "40"},
         "gemtext-40.lines",
         gemini.port()},
        {{"--dump", at("gemini", gemini.port(), "/")}, "gemtext-80.txt", gemini.port()},
        {{"--dump-lines", at("gemini", gemini.port(), "/r1")}, "gemtext-80.lines", gemini.port()},
        {{"--dump-lines", at("gopher", gopher.port(), "/")}, "gopher-menu.lines", gopher.port()},
        {{"--dump", at("nex", nex.port(), "/")}, "nex-listing.txt", nex.port()},
        {{"--dump", at("finger", finger.port(), "/alice")}, "finger.txt", finger.port()},
        {{"--dump", at("spartan", spartan.port(), "/form?a b")}, "spartan.txt", spartan.port()},
    };
    for (const auto& c : cases) {
        ProgramResult r = dump(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.expectFile << "\n" << r.err;
        EXPECT_EQ(r.out, expected(c.expectFile, c.port, r.out)) << c.expectFile;
        EXPECT_EQ(r.err, "") << c.expectFile;
    }
    // A dump writes nothing into the user's folder.
    EXPECT_TRUE(fs::is_empty(home + "/prefs"));
}

TEST_F(DumpTest, ScriptsWrapByDisplayColumnsInBothModes) {
    ASSERT_TRUE(gemini.ok());
    const std::string page = base + "/scripts";
    for (const char* mode : {"--unicode", "--latin1"}) {
        for (const char* columns : {"40", "20"}) {
            const std::string name =
                std::string("scripts") + (mode[2] == 'u' ? "-unicode-" : "-latin1-") + columns;
            ProgramResult r = dump({"--dump-lines", page, "--columns", columns, mode});
            EXPECT_EQ(r.exitCode, 0) << name << r.err;
            EXPECT_EQ(r.out, expected(name + ".lines", gemini.port(), r.out)) << name;
        }
    }
    // Without preferences the page is shown in Unicode; the preferences can say otherwise.
    auto plainDump = [&] {
        return runProgram({FARLANDER_BINARY, "--dump", page}, {{"FARLANDER_HOME", home}, {"LANGUAGE", ""}})
            .out;
    };
    EXPECT_EQ(plainDump(), dump({"--dump", page, "--unicode"}).out);
    EXPECT_NE(plainDump().find("\xCE\x9A\xCE\xB1\xCE\xBB"), std::string::npos);
    fs::create_directories(home + "/prefs");
    writeFileAtomic(home + "/prefs/Farlander.prefs", "UnicodeText=0\n");
    EXPECT_EQ(plainDump(), dump({"--dump", page, "--latin1"}).out);
    // A reply in Latin-1 is converted before it is shown.
    EXPECT_EQ(
        dump({"--dump", "gemini://127.0.0.1:" + std::to_string(gemini.port()) + "/latin1", "--unicode"}).out,
        "Caf\xC3\xA9 cr\xC3\xA8me, \xC2\xA9 1999\n");
}

TEST_F(DumpTest, OutcomesOtherThanAPageHaveTheirExitCodes) {
    TestServer http(httpHandler());
    ASSERT_TRUE(http.ok());
    std::string web = "http://127.0.0.1:" + std::to_string(http.port());
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err;  // expected standard error, or a file name ending in ".err"
    } cases[] = {
        {{"--dump", base + "/input"}, 3, "Your name?\n", ""},
        {{"--dump", base + "/cert"}, 5, "Identity please\n", ""},
        {{"--dump", base + "/missing"}, 1, "", "missing.err"},
        {{"--dump", base + "/loop"}, 1, "", "too-many.err"},
        {{"--dump", base + "/away"}, 1, "", "unsupported.err"},
        {{"--dump", web + "/nothing"}, 1, "", "http-404.err"},
        {{"--dump", base + "/file"},
         4,
         "",
         "farlander: " + base + "/file is not text; save it with --output FILE\n"},
        {{"--dump", "gemini://127.0.0.1:1/"}, 1, "", "refused.err"},
        {{"--dump", "BOOK:del:x"},
         2,
         "",
         "farlander: bookmark commands change the bookmarks; a dump changes nothing (see --help)\n"},
        {{"--dump", "HOME", "--columns", "9"},
         2,
         "",
         "farlander: --columns takes a number from 10 to 100000 (see --help)\n"},
        {{"--dump", "HOME", "extra"}, 2, "", "farlander: give one address (see --help)\n"},
    };
    for (const auto& c : cases) {
        ProgramResult r = dump(c.args);
        std::string label = c.args[1];
        EXPECT_EQ(r.exitCode, c.code) << label << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << label;
        bool file = c.err.size() > 4 && c.err.compare(c.err.size() - 4, 4, ".err") == 0;
        EXPECT_EQ(r.err, file ? expected(c.err, gemini.port(), r.err) : c.err) << label;
    }
}

TEST_F(DumpTest, DownloadsGoToTheOutputFileAndIdentitiesArePresented) {
    std::string file = home + "/download.bin";
    ProgramResult r = dump({"--dump", base + "/file", "--output", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string saved;
    EXPECT_TRUE(readWholeFile(file, saved));
    EXPECT_EQ(saved, testBinary(70000, 3));

    // An identity for the host and port is presented by the dump's fetch.
    setEnvironment("FARLANDER_HOME", home);
    ASSERT_TRUE(createIdentity("127.0.0.1", gemini.port(), "/", "Dump Tester"));
    freeIdentities();
    r = dump({"--dump", base + "/cert"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Hello Dump Tester\n");
}

TEST_F(DumpTest, CtrlCStopsAHangingFetch) {
    ProgramResult r =
        dump({"--dump", base + "/hang"}, [&] { return gemini.base().waitForEvent("hang", 1, 0); });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 20) << r.err;
}

}  // namespace
