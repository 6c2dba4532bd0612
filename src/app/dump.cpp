#include "app/dump.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "browser/navigate.h"
#include "identity/identity.h"
#include "net/child.h"
#include "net/exchange.h"
#include "net/known_hosts.h"
#include "page/builtin.h"
#include "page/parser.h"
#include "platform/process.h"
#include "platform/task.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "store/bookmarks.h"
#include "store/history.h"
#include "store/visited.h"
#include "text/charset.h"
#include "text/locale.h"
#include "url/url.h"

const char* const DUMP_HELP =
    "\n"
    "Without a window:\n"
    "  --dump URL             fetch URL and print its display lines as UTF-8\n"
    "  --dump-lines URL       print the page model instead: style, source line, link\n"
    "                         and text of each display line, separated by tabs\n"
    "  --columns N            wrap at N columns (default 80, at least 10)\n"
    "  --output FILE          save a download (a reply that is not text) to FILE\n"
    "  --unicode, --latin1    show the text in Unicode, or transliterated to ISO-8859-1\n"
    "                         (default: as the preferences say; without them, Unicode)\n"
    "\n"
    "Exit codes of a dump: 0 page shown, 1 network, server or redirect error,\n"
    "2 usage error, 3 input requested, 4 download refused or failed,\n"
    "5 client certificate required, 6 server certificate changed (the pinned\n"
    "and the new key on standard error; the known hosts are never written),\n"
    "20 stopped by Ctrl-C.\n";

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
    for (const PageLine& line : page.lines) {
        const char* text = line.text ? line.text : "";
        if (pageModel) {
            out += std::to_string(line.style);
            out += '\t';
            out += std::to_string(line.sourceLine);
            out += '\t';
            if (line.linkUrl) appendEscapedDisplay(out, line.linkUrl);
            out += '\t';
            if (page.unicode) {
                appendEscapedUtf8(out, text);
            } else {
                appendEscapedDisplay(out, text);
            }
        } else if (page.unicode) {
            out += text;
        } else {
            appendDisplayAsUtf8(out, text);
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
    const bool unicode = options.unicode >= 0 ? options.unicode != 0 : settings.unicodeText != 0;
    parseNetBuf(page, address, options.columns, text, ParseOptions{isVisited, unicode});
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
        knownHostsClose();
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
    FetchOptions fetchOptions;
    for (;;) {
        UrlRecord request;
        if (!parseUrl(url.c_str(), request))
            return usage("the address is empty or longer than 328 characters");
        FetchExchange& exchange = fetchExchange();
        switch (routeAddress(request, settings, exchange.tlsAvailable.load(), false)) {
            case ROUTE_BOOK_COMMAND:
                return usage("bookmark commands change the bookmarks; a dump changes nothing");
            case ROUTE_IDENTITY_COMMAND:
                return usage("identity commands change the identities; a dump changes nothing");
            case ROUTE_BUILTIN: {
                PageText page = builtinPageText(builtinPageOf(request.url));
                if (!page) return usage("no such built-in page");
                printDocument(stdout, request, *page, options);
                return DUMP_SHOWN;
            }
            case ROUTE_NOT_HERE:
            case ROUTE_DESKTOP:
                return usage("ftp and mailto addresses belong to other programs");
            case ROUTE_NEEDS_TLS:
                std::fprintf(stderr, "%s\n", messageText(MSG_NOTICE_NO_TLS));
                return DUMP_FAILED;
            case ROUTE_FETCH:
                break;
        }
        UrlRecord address = request;  // the copy carries no body
        if (!childStartFetch(std::move(request), fetchOptions)) {
            std::fprintf(stderr, "%s: TCP/IP\n", messageText(MSG_ERR_COULD_NOT_OPEN));
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
                std::fprintf(stderr, "%s: TCP/IP\n", messageText(MSG_ERR_COULD_NOT_OPEN));
                return DUMP_FAILED;
            }
        }
        const char* result = exchange.result;
        switch (outcomeAction(exchange.status)) {
            case OUTCOME_PAGE:
                printDocument(stdout, address,
                              std::string_view(result ? result : "", result ? exchange.resultLength : 0),
                              options);
                return DUMP_SHOWN;
            case OUTCOME_INPUT:
                std::printf("%s\n", exchange.prompt);
                return DUMP_INPUT;
            case OUTCOME_DOWNLOADED:
                if (downloadTaken) return DUMP_SHOWN;
                std::fprintf(stderr, "farlander: %s is not text; save it with --output FILE\n", address.url);
                return DUMP_DOWNLOAD;
            case OUTCOME_REDIRECT: {
                RedirectAction action = redirectDecide(redirects, exchange.redirectTarget);
                if (action != REDIRECT_FOLLOW) {
                    printError(address, messageText(redirectErrorMessage(action)), options);
                    return DUMP_FAILED;
                }
                url = exchange.redirectTarget;
                // Across hosts a redirect goes without the identity.
                fetchOptions.withoutIdentity =
                    fetchOptions.withoutIdentity || redirectLeavesHost(address, url.c_str());
                continue;
            }
            case OUTCOME_CERT_CHANGED:
                // As it is, so that no fingerprint is wrapped.
                std::fprintf(stderr, "%s\n",
                             knownHostChangeText(exchange.pinnedKey, exchange.seenKey,
                                                 static_cast<int64_t>(std::time(nullptr)))
                                 .c_str());
                return DUMP_CERT_CHANGED;
            case OUTCOME_CERTIFICATE:
                std::printf("%s\n", headerMeta(result).c_str());
                return DUMP_CERTIFICATE;
            case OUTCOME_ERROR_PAGE:
                printError(address, result ? result : "", options);
                return DUMP_FAILED;
            case OUTCOME_LOCAL_ERROR:
                std::fprintf(stderr, "%s\n", result ? result : "");
                return downloadAsked ? DUMP_DOWNLOAD : DUMP_FAILED;
        }
        return DUMP_FAILED;
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
        } else if (arg == "--unicode" || arg == "--latin1") {
            options.unicode = arg == "--unicode" ? 1 : 0;
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
    // visited list for the list pages, the identities, the known hosts (checked, and
    // new ones pinned in memory only). Nothing is written back.
    localeInit();
    prefsLoad();
    visitedRead();
    bookmarkInit();
    loadIdentities();
    knownHostsOpen(knownHostsPath(), false);
    TaskHandle self = session.self;
    startBreakWatcher([self] { taskSendSignal(self, TASK_BREAK_MASK); });
    if (!childInit()) {
        std::fprintf(stderr, "%s: child process\n", messageText(MSG_ERR_COULD_NOT_OPEN));
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
            std::fprintf(stderr, "%s: TCP/IP\n", messageText(MSG_ERR_COULD_NOT_OPEN));
            return DUMP_FAILED;
        }
    }
    return fetchAndPrint(options);
}
