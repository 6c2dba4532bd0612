// The command-line dump, run as the real program against the loopback test servers.
// Expected outputs live in tests/data/dump; "@PORT@" stands for the server's port.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "identity/identity.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/spawn.h"
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
    } else if (path == "/file") {
        c.write("20 application/octet-stream\r\n" + testBinary(70000, 3));
    } else if (path == "/hang") {
        c.server().base().markEvent("hang");
        c.readLine();  // until the client goes away
    } else {
        c.write("51 Not found\r\n");
    }
}

class DumpTest : public testing::Test {
  protected:
    void SetUp() override {
        home = testing::TempDir() + "farlander-dump-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home);
        fs::create_directories(home + "/prefs");
    }
    void TearDown() override { fs::remove_all(home); }

    ProgramResult dump(std::vector<std::string> args, const std::function<bool()>& interruptWhen = {}) {
        std::vector<std::string> argv{FARLANDER_BINARY};
        for (auto& a : args) argv.push_back(std::move(a));
        return runProgram(argv, {{"FARLANDER_HOME", home}, {"LANGUAGE", ""}}, {}, 60000, interruptWhen);
    }

    // The expected text; with FARLANDER_UPDATE_EXPECTED set, actual becomes the new
    // expected file (review the difference before committing it).
    std::string expected(const std::string& name, int port, const std::string& actual) {
        std::string path = std::string(FARLANDER_TEST_DATA) + "/dump/" + name;
        if (std::getenv("FARLANDER_UPDATE_EXPECTED")) {
            std::string text = actual;
            std::string p = std::to_string(port);
            for (size_t at; (at = text.find(p)) != std::string::npos;) text.replace(at, p.size(), "@PORT@");
            writeFileAtomic(path, text);
        }
        std::string text;
        EXPECT_TRUE(readWholeFile(path, text)) << name;
        for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
            text.replace(at, 6, std::to_string(port));
        return text;
    }

    std::string home;
};

TEST_F(DumpTest, EveryProtocolPrintsItsDisplayLines) {
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer gemini(options, geminiSite);
    TestServer gopher(gopherHandler()), nex(nexHandler()), finger(fingerHandler()),
        spartan(spartanEchoHandler());
    ASSERT_TRUE(gemini.ok() && gopher.ok() && nex.ok() && finger.ok() && spartan.ok());
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

TEST_F(DumpTest, OutcomesOtherThanAPageHaveTheirExitCodes) {
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer gemini(options, geminiSite);
    TestServer http(httpHandler());
    ASSERT_TRUE(gemini.ok() && http.ok());
    std::string base = "gemini://127.0.0.1:" + std::to_string(gemini.port());
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
    TlsServerOptions options;
    options.requestClientCertificate = true;
    TlsServer gemini(options, geminiSite);
    ASSERT_TRUE(gemini.ok());
    std::string base = "gemini://127.0.0.1:" + std::to_string(gemini.port());
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
    setEnvironment("FARLANDER_HOME", "");
    r = dump({"--dump", base + "/cert"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Hello Dump Tester\n");
}

TEST_F(DumpTest, CtrlCStopsAHangingFetch) {
    TlsServer gemini(TlsServerOptions{}, geminiSite);
    ASSERT_TRUE(gemini.ok());
    ProgramResult r = dump({"--dump", "gemini://127.0.0.1:" + std::to_string(gemini.port()) + "/hang"},
                           [&] { return gemini.base().waitForEvent("hang", 1, 0); });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 20) << r.err;
}

}  // namespace
