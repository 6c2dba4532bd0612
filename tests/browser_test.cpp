// The browser end to end, in-process: the real window offscreen, the network task,
// the local test servers, and every dialog answered by a script.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "browser/navigate.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "page/linestyle.h"
#include "page/parser.h"
#include "platform/desktop.h"
#include "platform/gui.h"
#include "settings/settings.h"
#include "settings/themes.h"
#include "shell/window.h"
#include "store/history.h"
#include "store/visited.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "support/window_fixture.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "view/view.h"

namespace fs = std::filesystem;

namespace {

std::string pathOf(const std::string& requestLine) {
    std::string line = requestLine.substr(0, requestLine.find('\r'));
    size_t hostStart = line.find("://");
    size_t slash = hostStart == std::string::npos ? std::string::npos : line.find('/', hostStart + 3);
    return slash == std::string::npos ? "/" : line.substr(slash);
}

std::string longPage() {
    std::string body = "20 text/gemini\r\n# Long\n=> /second the second page\n";
    for (int i = 0; i < 300; ++i)
        body += "row " + std::to_string(i) + "\n";
    return body;
}

// A small capsule: each path answers one reply.
void capsule(TlsServerConnection& connection) {
    std::string line = connection.readLine();
    connection.server().base().record(line);
    std::string path = pathOf(line);
    std::string reply;
    if (path == "/") {
        reply = "20 text/gemini\r\n# Welcome\nhello from the capsule\n=> /second the second page\n";
    } else if (path == "/second") {
        reply = "20 text/gemini\r\nthis is the second page\n";
    } else if (path == "/long") {
        reply = longPage();
    } else if (path.rfind("/ask", 0) == 0 && path.find('?') == std::string::npos) {
        reply = "10 Your name?\r\n";
    } else if (path.rfind("/ask", 0) == 0) {
        reply = "20 text/gemini\r\nanswer was " + path.substr(path.find('?') + 1) + "\n";
    } else if (path == "/greek") {
        reply =
            "20 text/gemini\r\n\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1\n"
            "=> /caf\xC3\xA9 a link to an IRI\n";
    } else if (path == "/odd") {
        reply = "20 text/gemini; charset=x-no-such-charset\r\nplain\n";
    } else if (path == "/web") {
        reply = "30 http://127.0.0.1:1/elsewhere\r\n";
    } else if (path == "/once") {
        reply = "30 /second\r\n";
    } else if (path == "/file.bin") {
        reply = "20 application/octet-stream\r\n" + testBinary(70000, 3);
    } else if (path == "/private") {
        reply = connection.peerCommonName().empty()
                    ? "60 Certificate needed\r\n"
                    : "20 text/gemini\r\nhello " + connection.peerCommonName() + "\n";
    } else if (path == "/big") {
        std::string body = "20 text/gemini\r\n";
        while (body.size() < 30u * 1024 * 1024)
            body += "A line of a very large page, long enough to wrap once at eighty columns or so.\n";
        reply = body;
    } else if (path == "/oneline") {
        reply = "20 text/gemini\r\n" + std::string(5u * 1024 * 1024, 'w') + "\n";
    } else if (path == "/binary") {
        reply = "20 text/gemini\r\n" + testBinary(200000, 9);
    } else if (path == "/never") {
        connection.readLine();  // waits until the client goes
        return;
    } else {
        reply = "51 Not found\r\n";
    }
    connection.write(reply);
}

std::string local(const char* scheme, int port, const std::string& rest) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

}  // namespace

class BrowserTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        startNetwork();
        TlsServerOptions options;
        options.requestClientCertificate = true;
        server = std::make_unique<TlsServer>(options, capsule);
        ASSERT_TRUE(server->ok());
        if (!fetchExchange().tlsAvailable.load()) GTEST_SKIP() << "no TLS";
    }
    void TearDown() override {
        if (server) server->stop();
        WindowTest::TearDown();
    }
    std::string url(const std::string& path) { return local("gemini", server->port(), path); }
    // Loads url and waits until the fetch and what follows it are done.
    void open(const std::string& address) {
        loadPage(address.c_str());
        ASSERT_TRUE(settle());
    }
    std::unique_ptr<TlsServer> server;
};

TEST_F(BrowserTest, TypedAddressLinkClickBackAndForward) {
    guiSimulateUrlTyping(url("/"), true);
    ASSERT_TRUE(runUntil([] { return findLine("hello from the capsule") >= 0; }));
    EXPECT_EQ(guiGadgetText(GAD_URL), url("")) << "a bare / is not shown";
    int link = findLine("the second page");
    ASSERT_GE(link, 0);
    EXPECT_EQ(lineStyle(link), STYLE_LINK);

    // Click the link row.
    const ViewMetrics& m = viewMetrics();
    int x = m.textLeft + 3 * m.charWidth + 2, y = m.textTop + (link - viewState().topLine) * m.lineHeight + 2;
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTDOWN, x, y);
    guiSimulateMouse(WMSG_MOUSEBUTTONS, SELECTUP, x, y);
    ASSERT_TRUE(runUntil([] { return findLine("this is the second page") >= 0; }));
    EXPECT_TRUE(guiGadgetEnabled(GAD_BACK));
    EXPECT_FALSE(guiGadgetEnabled(GAD_FORWARD));

    guiSimulateKey(KEY_LEFT, QUAL_ALT);
    ASSERT_TRUE(runUntil([] { return findLine("hello from the capsule") >= 0; }));
    EXPECT_EQ(lineStyle(findLine("the second page")), STYLE_VISITED) << "the followed link is visited now";
    EXPECT_FALSE(guiGadgetEnabled(GAD_BACK));
    EXPECT_TRUE(guiGadgetEnabled(GAD_FORWARD));
    guiSimulateButton(GAD_FORWARD);
    ASSERT_TRUE(runUntil([] { return findLine("this is the second page") >= 0; }));
    EXPECT_EQ(historyCount(), 2u);
}

TEST_F(BrowserTest, ReadingPositionSurvivesBackForwardAndReload) {
    open(url("/long"));
    scrollPageDown(120, true);
    int32_t saved = currentEntry()->savedLine;
    ASSERT_GT(saved, 0);
    open(url("/second"));
    EXPECT_EQ(viewState().topLine, 0);
    goBack();
    ASSERT_TRUE(settle());
    EXPECT_EQ(currentPage()->model.lines[viewState().topLine].sourceLine, saved);
    int served = static_cast<int>(server->base().records().size());
    guiSimulateMenu(commandCode(CMD_RELOAD));  // Reload: fetched again, same place
    ASSERT_TRUE(runUntil([&] { return static_cast<int>(server->base().records().size()) > served; }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(currentPage()->model.lines[viewState().topLine].sourceLine, saved);
}

TEST_F(BrowserTest, InputPromptComposesTheQuery) {
    std::string prompt;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::INPUT) {
            prompt = call.title;
            a.text = "h\xC3\xA9 l%o?";
        }
        return a;
    });
    open(url("/ask"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(prompt, "Your name?");
    EXPECT_EQ(currentPage()->address.url, url("/ask?h%c3%a9%20l%25o%3f"));
    EXPECT_GE(findLine("answer was h%c3%a9%20l%25o%3f"), 0);
}

TEST(QueryUrl, AnswerJoinsTheAddressUnlessItWouldReach328) {
    struct Row {
        std::string url, answer, composed;
    };
    const std::string near = "gemini://h/" + std::string(310, 'p');  // 321 characters
    const Row rows[] = {
        {"gemini://h/a", "x y", "gemini://h/a?x%20y"},
        {"gemini://h/a?", "q", "gemini://h/a?q"},
        {"gemini://h/a", "a/b?c#d[e]", "gemini://h/a?a%2fb%3fc%23d%5be%5d"},
        {near, "12345", near + "?12345"},  // 327 characters
        {near, "123456", near + "?"},      // 328 would be reached: the answer is dropped
        {"gemini://h/" + std::string(317, 'p'), "x", "gemini://h/" + std::string(317, 'p')},
    };
    for (const Row& row : rows) {
        char out[URL_MAX + 1];
        composeQueryUrl(row.url.c_str(), row.answer, out);
        EXPECT_EQ(std::string(out), row.composed) << row.url.size() << " " << row.answer;
    }
}

TEST_F(BrowserTest, CertificateRequestCreatesAnIdentity) {
    headlessSetResponder([](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::REQUESTER && call.buttons.size() == 3) a.button = 1;  // Edit CN
        if (call.what == ShellCall::INPUT) a.text = "tester";
        return a;
    });
    open(url("/private"));
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("hello tester"), 0);
    EXPECT_EQ(server->lastPeerCommonName(), "tester");
}

// The file's bytes are compared where the fetch writes them (fetch and dump tests); here,
// what the window does: the page on show stays, and only a saved file counts as visited.
TEST_F(BrowserTest, DownloadAcceptedAndDeclined) {
    fs::path target = fs::path(home) / "saved.bin";
    open(url("/"));
    for (bool accept : {false, true}) {
        headlessSetResponder([&](const ShellCall& call) {
            ShellAnswer a;
            if (call.what == ShellCall::SAVE_FILE && accept) a.text = target.string();
            return a;
        });
        open(url("/file.bin"));
        EXPECT_GE(findLine("hello from the capsule"), 0) << "the page on show stays";
        EXPECT_EQ(isVisited(url("/file.bin")), accept);
        EXPECT_EQ(fs::exists(target), accept);
    }
}

TEST_F(BrowserTest, StopEndsASilentServerAndTheNextLoadWorks) {
    open(url("/"));
    open(url("/second"));
    loadPage(url("/never").c_str());
    ASSERT_TRUE(runUntil([&] { return server->base().records().size() >= 3; }));
    EXPECT_TRUE(guiGadgetEnabled(GAD_STOP));
    guiSimulateButton(GAD_STOP);
    ASSERT_TRUE(runUntil([] { return !childFetchPending(); }, 2000));
    EXPECT_EQ(currentStatus(), "Stopped");
    EXPECT_GE(findLine("this is the second page"), 0) << "the page on show stays";
    EXPECT_FALSE(guiGadgetEnabled(GAD_STOP));
    goBack();
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("hello from the capsule"), 0);
}

TEST_F(BrowserTest, ThemeChangeRestartsTheWindowOnTheSamePage) {
    open(url("/second"));
    guiSimulateMenu(commandCode(CMD_THEME, THEME_UCHU));
    int result = 0;
    ASSERT_TRUE(runUntil([&] {
        runGUIStep(0, result);
        return result == GUI_RESTART;
    }));
    EXPECT_EQ(settings.theme, THEME_UCHU);
    restartWindow();
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("this is the second page"), 0);
    EXPECT_TRUE(guiMenuChecked(commandCode(CMD_THEME, THEME_UCHU)));
}

TEST_F(BrowserTest, HugeAndOddPagesAreShownAndStayScrollable) {
    struct Case {
        const char* path;
        int minLines;
    };
    for (Case c : {Case{"/big", 300000}, Case{"/oneline", 5 * 1024 * 1024 / 80}, Case{"/binary", 100}}) {
        SCOPED_TRACE(c.path);
        loadPage(url(c.path).c_str());
        // The window keeps answering while the page comes: a scroll of the page on
        // show goes through at once.
        guiSimulateKey(KEY_DOWN, 0);
        ASSERT_TRUE(settle(60000));
        EXPECT_EQ(currentPage()->address.url, url(c.path));
        EXPECT_GE(currentPage()->model.lineCount, c.minLines);
        // (The key may have reached the new page already, if it came in the same turn.)
        const int top = viewState().topLine;
        scrollPageDown(viewMetrics().rows - 1, true);
        EXPECT_EQ(viewState().topLine, top + viewMetrics().rows - 1);
    }
    TestServer gopher([](TestConnection& connection) {
        connection.readLine();
        std::string menu;
        for (int i = 0; i < 100000; ++i)
            menu += "0Item " + std::to_string(i) + "\t/item" + std::to_string(i) + "\t127.0.0.1\t70\r\n";
        connection.send(menu + ".\r\n");
    });
    loadPage(local("gopher", gopher.port(), "/1/").c_str());
    ASSERT_TRUE(settle(60000));
    EXPECT_GE(currentPage()->model.linkCount, 100000);
}

TEST_F(BrowserTest, GopherSearchAndSpartanPromptAndUpload) {
    TestServer gopher(gopherHandler());
    TestServer spartan(spartanEchoHandler());
    fs::path upload = fs::path(home) / "up.txt";
    std::ofstream(upload) << "file body";
    int spartanChoice = 1;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::INPUT)
            a.text = call.maxChars == INPUT_MAX ? "two words" : "typed \xC3\xA9";
        if (call.what == ShellCall::REQUESTER) a.button = spartanChoice == 1 ? 0 : 1;
        if (call.what == ShellCall::UPLOAD_FILE) a.text = upload.string();
        return a;
    });
    handleGopherSearch(local("gopher", gopher.port(), "/7/search").c_str());
    ASSERT_TRUE(settle());
    ASSERT_FALSE(gopher.records().empty());
    EXPECT_EQ(gopher.records().back(), "/search\ttwo words\r\n");

    handleSpartanPrompt(local("spartan", spartan.port(), "/echo").c_str());
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("typed \xC3\xA9"), 0) << "sent as UTF-8, shown as UTF-8";
    spartanChoice = 0;
    handleSpartanPrompt(local("spartan", spartan.port(), "/echo").c_str());
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("received 9 bytes"), 0);
    EXPECT_EQ(spartan.records().back(), "127.0.0.1 /echo 9\r\n");
}

TEST_F(BrowserTest, EveryEndWithoutAFetchFreesTheControls) {
    // Spaces around a typed address and the scheme's case do not matter, and the page
    // takes the keyboard after Return.
    guiSimulateUrlTyping("  GEMINI://127.0.0.1:" + std::to_string(server->port()) + "/  ", true);
    ASSERT_TRUE(runUntil([] { return findLine("hello from the capsule") >= 0; }));
    EXPECT_TRUE(guiPageHasFocus());

    // A redirect that goes to the desktop starts no fetch.
    std::vector<std::string> opened;
    setDesktopUrlOpenerForTesting([&](const std::string& address) { opened.push_back(address); });
    settings.useOpenUrl[OPENURL_HTTP] = 1;
    open(url("/web"));
    EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:1/elsewhere"});
    setDesktopUrlOpenerForTesting(nullptr);
    for (int id : {GAD_RELOAD, GAD_HOME, GAD_BOOK})
        EXPECT_TRUE(guiGadgetEnabled(id)) << id;
    EXPECT_FALSE(guiGadgetEnabled(GAD_STOP));
    EXPECT_EQ(guiPointer(), POINTER_NORMAL);

    // A prompt answered with nothing: the field shows the page on show again.
    guiSimulateUrlTyping(url("/ask"), true);
    ASSERT_TRUE(settle());
    EXPECT_GE(findLine("hello from the capsule"), 0);
    EXPECT_EQ(guiGadgetText(GAD_URL), url(""));
    EXPECT_TRUE(guiGadgetEnabled(GAD_RELOAD));
}

TEST_F(BrowserTest, StopAndLocalErrorsEndARedirectChain) {
    open(url("/"));
    redirectCount() = REDIRECT_LIMIT;  // as in the middle of a chain
    loadPage(url("/never").c_str());
    ASSERT_TRUE(runUntil([&] { return server->base().records().size() >= 2; }));
    stopCommand();
    EXPECT_EQ(redirectCount(), 0);

    redirectCount() = REDIRECT_LIMIT;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::SAVE_FILE) a.text = home + "/no/such/folder/file.bin";
        return a;
    });
    open(url("/file.bin"));  // the file cannot be made: a local error
    EXPECT_EQ(redirectCount(), 0);
    // So the next single redirect is followed.
    open(url("/once"));
    EXPECT_GE(findLine("this is the second page"), 0);
}

TEST_F(BrowserTest, SearchTextReachesTheServerAsTypedAndEscapeAnswersNoPrompt) {
    TestServer gopher(gopherHandler());
    TestServer spartan(spartanEchoHandler());
    std::string answer = "hello w\xC3\xB6rld 100% %41";
    int uploadsAsked = 0;
    headlessSetResponder([&](const ShellCall& call) {
        ShellAnswer a;
        if (call.what == ShellCall::INPUT) a.text = answer;
        if (call.what == ShellCall::UPLOAD_FILE) ++uploadsAsked;
        return a;  // a requester is dismissed (Escape)
    });
    const std::string search = local("gopher", gopher.port(), "/7/search");
    handleGopherSearch(search.c_str());
    ASSERT_TRUE(settle());
    ASSERT_EQ(gopher.records().size(), 1u);
    EXPECT_EQ(gopher.records().back(), "/search\thello w\xC3\xB6rld 100% A\r\n");

    // Too long once encoded (each letter is six characters then): nothing is sent cut
    // short, and the status line says so.
    answer.clear();
    for (int i = 0; i < 50; ++i)
        answer += "\xC3\xB6";
    handleGopherSearch(search.c_str());
    ASSERT_TRUE(settle());
    EXPECT_EQ(gopher.records().size(), 1u);
    EXPECT_EQ(currentStatus(), messageText(MSG_STATUS_ANSWER_TOO_LONG));

    // Escape on the Spartan prompt's choice asks for nothing and sends nothing.
    handleSpartanPrompt(local("spartan", spartan.port(), "/echo").c_str());
    ASSERT_TRUE(settle());
    EXPECT_EQ(uploadsAsked, 0);
    EXPECT_TRUE(spartan.records().empty());
}

TEST_F(BrowserTest, UnicodeTextModeLinksAndSwitch) {
    open(url("/greek"));
    EXPECT_GE(findLine("\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7"), 0) << "Greek letters, not dots";
    const size_t served = server->base().records().size();
    // The other display is the same text parsed again: nothing is fetched.
    runCommand(CMD_UNICODE_TEXT);
    EXPECT_EQ(settings.unicodeText, 0);
    EXPECT_GE(findLine("\xB7\xB7\xB7\xB7"), 0);
    EXPECT_FALSE(guiMenuChecked(commandCode(CMD_UNICODE_TEXT)));
    runCommand(CMD_UNICODE_TEXT);
    EXPECT_GE(findLine("\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7"), 0);
    EXPECT_EQ(server->base().records().size(), served);

    // A link to an IRI is requested as its escaped UTF-8, and shown so.
    const int link = findLine("a link to an IRI");
    ASSERT_GE(link, 0);
    EXPECT_STREQ(currentPage()->model.lines[link].linkUrl, url("/caf%c3%a9").c_str());
    pageMouse(viewMetrics().textLeft + 3 * viewMetrics().charWidth + 2,
              viewMetrics().textTop + (link - viewState().topLine) * viewMetrics().lineHeight + 2,
              SELECTDOWN);
    pageMouse(viewMetrics().textLeft + 3 * viewMetrics().charWidth + 2,
              viewMetrics().textTop + (link - viewState().topLine) * viewMetrics().lineHeight + 2, SELECTUP);
    ASSERT_TRUE(settle());
    EXPECT_EQ(pathOf(server->base().records().back()), "/caf%c3%a9");

    // A character set this system does not know: shown as UTF-8, and said so.
    open(url("/odd"));
    EXPECT_GE(findLine("plain"), 0);
    EXPECT_EQ(currentStatus(), messageText(MSG_STATUS_UNKNOWN_CHARSET));
}
