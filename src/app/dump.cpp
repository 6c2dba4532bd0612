#include "app/dump.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/locale.h"
#include "browser/redirect.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "page/builtin.h"
#include "page/parser.h"
#include "platform/process.h"
#include "platform/task.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "store/bookmarks.h"
#include "store/history.h"
#include "store/visited.h"
#include "url/url.h"
#include "view/charset.h"

const char* const DUMP_HELP =
    "\n"
    "Without a window:\n"
    "  --dump URL             fetch URL and print its display lines as UTF-8\n"
    "  --dump-lines URL       print the page model instead: style, source line, link\n"
    "                         and text of each display line, separated by tabs\n"
    "  --columns N            wrap at N columns (default 80, at least 10)\n"
    "  --output FILE          save a download (a reply that is not text) to FILE\n"
    "\n"
    "Exit codes of a dump: 0 page shown, 1 network, server or redirect error,\n"
    "2 usage error, 3 input requested, 4 download refused or failed,\n"
    "5 client certificate required, 20 stopped by Ctrl-C.\n";

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

int usage(const char* what) {
    std::fprintf(stderr, "farlander: %s (see --help)\n", what);
    return DUMP_USAGE;
}

// Prints the display lines of a page, as the view shows them or as the page model.
void printPage(std::FILE* to, const PageModel& page, bool pageModel) {
    std::string out;
    for (int32_t i = 0; i < page.lineCount; ++i) {
        const PageLine& line = page.lines[static_cast<size_t>(i)];
        if (pageModel) {
            out += std::to_string(line.style);
            out += '\t';
            out += std::to_string(line.sourceLine);
            out += '\t';
            if (line.linkUrl) appendEscapedDisplay(out, line.linkUrl);
            out += '\t';
            appendEscapedDisplay(out, line.text ? line.text : "");
        } else {
            appendDisplayAsUtf8(out, line.text ? line.text : "");
        }
        out += '\n';
        if (out.size() > 65536) {
            std::fwrite(out.data(), 1, out.size(), to);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), to);
    std::fflush(to);
}

void printDocument(std::FILE* to, const UrlRecord& address, std::string_view text,
                   const DumpOptions& options) {
    PageModel page;
    parseNetBuf(page, address, options.columns, text);
    printPage(to, page, options.pageModel);
}

// The error page for text, on standard error.
void printError(const UrlRecord& address, const char* text, const DumpOptions& options) {
    PageText page = getErrorPage(text, address.scheme);
    if (page) {
        printDocument(stderr, address, *page, options);
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
}

// The built-in pages a dump can show; null for the bookmark commands.
PageText builtinPage(const char* name) {
    if (std::strcmp(name, "HOME") == 0) return getHomePage();
    if (std::strcmp(name, "TEST") == 0) return getTestPage();
    if (std::strcmp(name, "HISTORY") == 0) return historyView();
    if (std::strcmp(name, "BOOKVIEW") == 0) return bookmarkView();
    if (std::strcmp(name, "BOOKMAN") == 0) return bookmarkManage();
    return nullptr;
}

// The meta text of a reply's first line ("60 Identity please" gives "Identity please").
std::string headerMeta(const char* reply) {
    if (!reply) return {};
    std::string_view text(reply);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text.size() > 3 ? std::string(text.substr(3)) : std::string();
}

struct DumpSession {
    TaskHandle self;
    bool started = false;

    ~DumpSession() {
        if (started) childCleanUp();
        stopBreakWatcher();
        freeIdentities();
        bookmarkCleanup();
        visitedClear();
        localeCleanup();
    }
};

// Waits for the network task's signals or a break; true on a break.
bool waitOrBreak(uint32_t& got) {
    got = childWaitSignals(TASK_BREAK_MASK);
    return (got & TASK_BREAK_MASK) != 0;
}

int fetchAndPrint(const DumpOptions& options) {
    std::string url = options.url;
    int32_t redirects = 0;
    for (;;) {
        UrlRecord request;
        if (!parseUrl(url.c_str(), request))
            return usage("the address is empty or longer than 328 characters");
        if (request.scheme == SCHEME_INTERNAL) {
            if (startsWith(url, "BOOK:"))
                return usage("bookmark commands change the bookmarks; a dump changes nothing");
            PageText page = builtinPage(request.url);
            if (!page) return usage("no such built-in page");
            printDocument(stdout, request, *page, options);
            return DUMP_SHOWN;
        }
        if (request.scheme == SCHEME_FTP || request.scheme == SCHEME_MAILTO) {
            return usage("ftp and mailto addresses belong to other programs");
        }
        FetchExchange& exchange = fetchExchange();
        if (!exchange.tlsAvailable && !settings.useGemProxy &&
            (request.scheme == SCHEME_GEMINI || request.scheme == SCHEME_HTTPS)) {
            std::fprintf(stderr, "%s\n", getString(139));
            return DUMP_FAILED;
        }
        UrlRecord address = request;  // the copy carries no body
        if (!childStartFetch(std::move(request))) {
            std::fprintf(stderr, "%s: TCP/IP\n", getString(102));
            return DUMP_FAILED;
        }
        bool downloadAsked = false, downloadTaken = false;
        for (;;) {
            uint32_t got;
            if (waitOrBreak(got)) {
                sendChildBreak();
                return DUMP_BREAK;
            }
            ChildSignals sig = childSignals();
            if (got & sig.download && childDownloadPending()) {
                downloadAsked = true;
                downloadTaken = !options.output.empty();
                childAnswerDownload(options.output);
            }
            if (got & sig.done && childTakeDone()) break;
            if (got & sig.exit) {
                std::fprintf(stderr, "%s: TCP/IP\n", getString(102));
                return DUMP_FAILED;
            }
        }
        const char* result = exchange.result;
        switch (exchange.status) {
            case FETCH_PAGE:
                printDocument(stdout, address,
                              std::string_view(result ? result : "", result ? exchange.resultLength : 0),
                              options);
                return DUMP_SHOWN;
            case FETCH_INPUT:
                std::printf("%s\n", exchange.prompt);
                return DUMP_INPUT;
            case FETCH_DOWNLOAD:
                if (downloadTaken) return DUMP_SHOWN;
                std::fprintf(stderr, "farlander: %s is not text; save it with --output FILE\n", address.url);
                return DUMP_DOWNLOAD;
            case FETCH_REDIRECT: {
                RedirectAction action = redirectDecide(redirects, exchange.redirectTarget);
                if (action != REDIRECT_FOLLOW) {
                    printError(address, getString(redirectErrorMessage(action)), options);
                    return DUMP_FAILED;
                }
                url = exchange.redirectTarget;
                continue;
            }
            case FETCH_CERTIFICATE:
                std::printf("%s\n", headerMeta(result).c_str());
                return DUMP_CERTIFICATE;
            case FETCH_NETWORK_ERROR:
            case FETCH_SERVER_ERROR:
                printError(address, result ? result : "", options);
                return DUMP_FAILED;
            default:
                std::fprintf(stderr, "%s\n", result ? result : "");
                return downloadAsked ? DUMP_DOWNLOAD : DUMP_FAILED;
        }
    }
}

}  // namespace

bool dumpRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg(argv[i]);
        if (arg == "--dump" || arg == "--dump-lines" || startsWith(arg, "--dump=")) return true;
    }
    return false;
}

int dumpParseArgs(int argc, const char* const* argv, DumpOptions& options) {
    options = DumpOptions{};
    options.wanted = true;
    bool haveUrl = false;
    auto takeUrl = [&](const char* value) {
        if (haveUrl) return false;
        options.url = value;
        haveUrl = true;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg(argv[i]);
        auto value = [&](std::string_view name, std::string& out) -> int {
            if (arg == name) {
                if (i + 1 >= argc) return 0;
                out = argv[++i];
                return 1;
            }
            if (startsWith(arg, name) && arg.size() > name.size() && arg[name.size()] == '=') {
                out = std::string(arg.substr(name.size() + 1));
                return 1;
            }
            return -1;
        };
        std::string text;
        int got;
        if (arg == "--dump" || arg == "--dump-lines") {
            if (arg == "--dump-lines") options.pageModel = true;
            if (i + 1 < argc && !startsWith(argv[i + 1], "--") && !haveUrl) takeUrl(argv[++i]);
        } else if (startsWith(arg, "--dump=")) {
            if (!takeUrl(argv[i] + 7)) return usage("give one address");
        } else if ((got = value("--columns", text)) >= 0) {
            char* end = nullptr;
            long n = got ? std::strtol(text.c_str(), &end, 10) : 0;
            if (!got || text.empty() || *end != '\0' || n < DUMP_MIN_COLUMNS || n > 100000)
                return usage("--columns takes a number from 10 to 100000");
            options.columns = static_cast<int>(n);
        } else if ((got = value("--output", text)) >= 0) {
            if (!got || text.empty()) return usage("--output takes a file name");
            options.output = text;
        } else if (arg == "--help" || arg == "-h") {
            return 0;
        } else if (startsWith(arg, "-")) {
            return usage("unknown option");
        } else if (!takeUrl(argv[i])) {
            return usage("give one address");
        }
    }
    if (!haveUrl || options.url.empty()) return usage("--dump needs an address");
    return -1;
}

int dumpRun(const DumpOptions& options) {
    DumpSession session;
    session.self = taskCurrent();
    // What the fetch needs of the user's files: the proxy settings, the bookmarks and
    // visited list for the list pages, the identities. Nothing is written back.
    localeInit();
    prefsLoad();
    visitedRead();
    bookmarkInit();
    loadIdentities();
    TaskHandle self = session.self;
    startBreakWatcher([self] { taskSendSignal(self, TASK_BREAK_MASK); });
    if (!childInit()) {
        std::fprintf(stderr, "%s: child process\n", getString(102));
        return DUMP_FAILED;
    }
    session.started = true;
    // Until the network task is ready; a break or its end cuts the wait short.
    for (;;) {
        uint32_t got;
        if (waitOrBreak(got)) return DUMP_BREAK;
        ChildSignals sig = childSignals();
        if (got & sig.ready) break;
        if (got & sig.exit || !childRunning()) {
            std::fprintf(stderr, "%s: TCP/IP\n", getString(102));
            return DUMP_FAILED;
        }
    }
    return fetchAndPrint(options);
}
