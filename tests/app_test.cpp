// Command line, start-up and shutdown of the program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "net/exchange.h"
#include "platform/spawn.h"
#include "support/private_home.h"
#include "support/servers.h"
#include "support/tls_server.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct ArgsOutcome {
    int code;
    std::string start;
    int screen;
    std::string out;
};

ArgsOutcome runArgs(const std::vector<std::string>& words) {
    std::vector<const char*> argv{"farlander"};
    for (const auto& w : words)
        argv.push_back(w.c_str());
    startAddress() = "HOME";
    startupScreenChoice = -1;
    testing::internal::CaptureStdout();
    int code = readCliArgs(static_cast<int>(argv.size()), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    return {code, startAddress(), startupScreenChoice, out};
}

const std::string VALID_ARGS = "Valid Args: WINDOW/S, SCREEN/S, URL/K\n";

TEST(CliArgs, TemplateAndLinuxForms) {
    const std::string long329(329, 'a');
    struct Case {
        std::vector<std::string> words;
        int code;
        std::string start;
        int screen;
    } cases[] = {
        {{}, ARGS_CONTINUE, "HOME", -1},
        {{"WINDOW"}, ARGS_CONTINUE, "HOME", 0},
        {{"screen"}, ARGS_CONTINUE, "HOME", 1},
        {{"WINDOW", "SCREEN"}, ARGS_CONTINUE, "HOME", 1},
        {{"Screen", "window"}, ARGS_CONTINUE, "HOME", 1},  // SCREEN wins in any order
        {{"URL=gemini://host/a%20b"}, ARGS_CONTINUE, "gemini://host/a%20b", -1},
        {{"url", "gemini://h/%s%n"}, ARGS_CONTINUE, "gemini://h/%s%n", -1},
        {{"Url=x", "WINDOW"}, ARGS_CONTINUE, "x", 0},
        {{"--url=gopher://h/"}, ARGS_CONTINUE, "gopher://h/", -1},
        {{"--url", "nex://h/"}, ARGS_CONTINUE, "nex://h/", -1},
        {{"--screen", "--window"}, ARGS_CONTINUE, "HOME", 1},
        {{"gemini://bare.example/"}, ARGS_CONTINUE, "gemini://bare.example/", -1},
        {{"--window", "spartan://h/"}, ARGS_CONTINUE, "spartan://h/", 0},
        {{"URL=" + long329}, ARGS_CONTINUE, std::string(328, 'a'), -1},
        // Failures print the template and leave everything as it was.
        {{"URL"}, RETURN_FAIL, "HOME", -1},
        {{"--url"}, RETURN_FAIL, "HOME", -1},
        {{"URL="}, RETURN_FAIL, "HOME", -1},
        {{"a", "b"}, RETURN_FAIL, "HOME", -1},
        {{"URL=a", "b"}, RETURN_FAIL, "HOME", -1},
        {{"--frobnicate"}, RETURN_FAIL, "HOME", -1},
        {{"WINDOW", "-x"}, RETURN_FAIL, "HOME", -1},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const auto& w : c.words)
            label.append("[").append(w, 0, 40).append("]");
        ArgsOutcome got = runArgs(c.words);
        EXPECT_EQ(got.code, c.code) << label;
        EXPECT_EQ(got.start, c.start) << label;
        EXPECT_EQ(got.screen, c.screen) << label;
        EXPECT_EQ(got.out, c.code == RETURN_FAIL ? VALID_ARGS : "") << label;
    }
}

TEST(CliArgs, HelpAndVersionGoToStandardOutput) {
    ArgsOutcome help = runArgs({"--help"});
    EXPECT_EQ(help.code, RETURN_OK);
    EXPECT_NE(help.out.find("URL"), std::string::npos);
    ArgsOutcome version = runArgs({"--version"});
    EXPECT_EQ(version.code, RETURN_OK);
    EXPECT_EQ(version.out, "Farlander 0.11 (18.02.2024)\n");
    EXPECT_STREQ(VERSION_TAG, "$VER: Farlander 0.11 [Linux] (18.02.2024)");
}

TEST(Program, ExitCodesAndMessages) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err;
    } cases[] = {
        {{"SCREEN", "URL=gemini://h/", "--bad"}, 20, VALID_ARGS, ""},
        {{"--version"}, 0, "Farlander 0.11 (18.02.2024)\n", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{FARLANDER_BINARY};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProgramResult r = runProgram(argv, {{"FARLANDER_HOME", testing::TempDir()}});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.code) << argv.size();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(Program, WithoutADisplayItSaysSo) {
    fs::path home = fs::path(testing::TempDir()) / "farlander-no-display";
    fs::remove_all(home);
    fs::create_directories(home / "prefs" / "identities");
    fs::permissions(home / "prefs" / "identities", static_cast<fs::perms>(0755));
    // None, one that nobody serves, one that cannot be a display, a toolkit that is not there.
    const std::vector<std::pair<std::string, std::string>> displays[] = {
        {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
        {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":987"}, {"WAYLAND_DISPLAY", ""}},
        {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", "no display"}, {"WAYLAND_DISPLAY", ""}},
        {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", "127.0.0.1:987"}, {"WAYLAND_DISPLAY", ""}},
        {{"QT_QPA_PLATFORM", "nosuchplatform"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
    };
    for (auto environment : displays) {
        // What an interrupted write left behind is gone after any start.
        std::ofstream(home / "prefs" / "bookmarks.txt.tmp-0123abcd") << "half";
        environment.emplace_back("FARLANDER_HOME", home.string());
        ProgramResult r = runProgram({FARLANDER_BINARY}, environment);
        EXPECT_EQ(r.exitCode, 20) << environment[1].second;
        EXPECT_EQ(r.err, "Could not open: display\n") << environment[1].second;
        EXPECT_FALSE(fs::exists(home / "prefs" / "bookmarks.txt.tmp-0123abcd"));
    }
    EXPECT_EQ(fs::status(home / "prefs" / "identities").permissions() & fs::perms::mask,
              fs::perms::owner_all);
    fs::remove_all(home);
}

// The real program against a TLS server: a break ends it with 20 whether it shows a page
// (drawn once the screenshot is written), waits for a server that never answers, or sits
// in the input dialog of a question; what it visited is saved on the way out.
TEST(Program, ABreakEndsItWhateverItIsDoing) {
    const struct {
        std::string reply;
        bool screenshot;
        bool visited;
    } cases[] = {
        {"20 text/gemini\r\n# A real page\nServed to the program.\n", true, true},
        {"", false, false},
        {"10 Your name?\r\n", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        TlsServer server(TlsServerOptions{}, [reply = c.reply](TlsServerConnection& connection) {
            connection.server().base().record(connection.readLine());
            if (!reply.empty()) connection.write(reply);
            connection.server().base().markEvent("asked");
            if (reply.empty()) connection.readLine();  // silent until the program goes
        });
        ASSERT_TRUE(server.ok());
        PrivateHome home("program");
        const std::string shot = home.path + "/shot.png";
        std::vector<std::pair<std::string, std::string>> environment{{"FARLANDER_HOME", home.path}};
        if (c.screenshot) environment.emplace_back("FARLANDER_SCREENSHOT", shot);
        const std::string url = "gemini://127.0.0.1:" + std::to_string(server.port()) + "/";
        std::optional<std::chrono::steady_clock::time_point> asked;
        ProgramResult r = runProgram({FARLANDER_BINARY, "URL=" + url}, environment, {}, 60000, [&] {
            if (c.screenshot) return fs::exists(shot);
            if (!asked && server.base().waitForEvent("asked", 1, 0)) asked = std::chrono::steady_clock::now();
            // A moment for the dialog to open.
            return asked && std::chrono::steady_clock::now() > *asked + std::chrono::milliseconds(300);
        });
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 20) << r.err;
        EXPECT_EQ(server.base().records().size(), 1u);
        EXPECT_EQ(readWholeFile(home.path + "/prefs/visited.txt"), c.visited ? url + "\n" : "");
    }
}

TEST(Program, FatalErrorReportsAndClosesEverything) {
    testing::internal::CaptureStderr();
    fetchExchange().quitRequested = false;
    int code = fatalError("child process");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open: child process\n");
    EXPECT_EQ(code, RETURN_FAIL);
    EXPECT_TRUE(fetchExchange().quitRequested);
    cleanUp();  // a second clean-up finds nothing left to close
}

}  // namespace
