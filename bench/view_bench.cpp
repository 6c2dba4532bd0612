// The text view on an offscreen 80 x 25 window: a one-line scroll, and showing a
// 10 MB page from its text (parse, draw, scroller).
#include <benchmark/benchmark.h>

#include <string>

#include "browser/commands.h"
#include "browser/load.h"
#include "browser/loop.h"
#include "net/child.h"
#include "platform/gui.h"
#include "platform/process.h"
#include "settings/prefs.h"
#include "settings/settings.h"
#include "shell/window.h"
#include "store/cache.h"
#include "store/history.h"
#include "support/tls_server.h"
#include "text/locale.h"
#include "view/view.h"

namespace {

bool openWindow() {
    static bool open = [] {
        prepareHeadlessEnvironment();
        localeInit();
        cacheInit();
        historyInit();
        return guiInit() && winInit(0) && winStart() && pageOpen();
    }();
    return open;
}

PageText bigPage(size_t size) {
    std::string doc = "20 text/gemini\r\n";
    doc.reserve(size + 200);
    int n = 0;
    while (doc.size() < size) {
        if (n % 7 == 3) {
            doc += "=> gemini://example.org/page" + std::to_string(n) + " a link to page " +
                   std::to_string(n) + "\n";
        } else if (n % 11 == 5) {
            doc +=
                "## Caf\xC3\xA9 notes \xE2\x80\x94 \xE2\x80\x9Cpart\xE2\x80\x9D " + std::to_string(n) + "\n";
        } else if (n % 13 == 7) {
            doc += "* a list item with na\xC3\xAFve UTF-8 text\n";
        } else {
            doc += "Line " + std::to_string(n) +
                   " of a long page that wraps over the width of the view at eighty columns, with some more "
                   "words so that it takes two rows.\n";
        }
        ++n;
    }
    return std::make_shared<const std::string>(std::move(doc));
}

void show(const PageText& text) {
    UrlRecord address;
    parseUrl("gemini://example.org/big", address);
    cacheDelete(address.url);
    showPage(address, text);
}

void BM_ScrollOneLine(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no display");
        return;
    }
    show(bigPage(1 << 20));
    bool down = true;
    for (auto _ : state) {
        if (down) {
            scrollPageDown(1, true);
        } else {
            scrollPageUp(1, true);
        }
        if (viewState().topLine >= 10000) down = false;
        if (viewState().topLine == 0) down = true;
    }
    state.counters["rows"] = viewMetrics().rows;
    state.counters["columns"] = viewMetrics().columns;
}
BENCHMARK(BM_ScrollOneLine)->Unit(benchmark::kMicrosecond);

void BM_RenderPage10MB(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no display");
        return;
    }
    PageText text = bigPage(10 * 1024 * 1024);
    for (auto _ : state)
        show(text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
    state.counters["lines"] = currentPage()->model.lineCount;
}
BENCHMARK(BM_RenderPage10MB)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// From Return in the URL field to the page drawn: a 10 MB gemtext page from a local
// TLS server, through the network thread, the parser and the view.
void BM_LoadPage10MBOverTls(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no display");
        return;
    }
    static const std::string reply = "20 text/gemini\r\n" + bigPage(10 * 1024 * 1024)->substr(16);
    TlsServer server(TlsServerOptions{}, [](TlsServerConnection& connection) {
        connection.readLine();
        connection.write(reply);
    });
    if (!server.ok() || !childInit() || !childWaitReady()) {
        state.SkipWithError("no server or network thread");
        return;
    }
    std::string url = "gemini://127.0.0.1:" + std::to_string(server.port()) + "/big";
    int result = 0;
    for (auto _ : state) {
        cacheDelete(url);
        guiSimulateUrlTyping(url, true);
        while (!currentPage()->source || currentPage()->address.url != url || childFetchPending())
            runGUIStep(5, result);
        state.PauseTiming();
        show(bigPage(100));  // something else on show for the next round
        state.ResumeTiming();
    }
    childCleanUp();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_LoadPage10MBOverTls)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// Parse and draw of the awkward pages: a 30 MB page, one 5 MB line, 2 MB of binary
// bytes served as gemtext, a Gopher menu of 100 000 items.
void BM_RenderOddPage(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no display");
        return;
    }
    std::string doc;
    const char* url = "gemini://example.org/odd";
    switch (state.range(0)) {
        case 0:
            doc = "20 text/gemini\r\n" + bigPage(30 * 1024 * 1024)->substr(16);
            break;
        case 1:
            doc = "20 text/gemini\r\n" + std::string(5 * 1024 * 1024, 'w') + "\n";
            break;
        case 2:
            doc = "20 text/gemini\r\n";
            for (uint32_t x = 1; doc.size() < 2 * 1024 * 1024;) {
                x = x * 1103515245u + 12345u;
                doc += static_cast<char>(x >> 24);
            }
            break;
        default:
            url = "gopher://example.org/1/";
            for (int i = 0; i < 100000; ++i)
                doc += "0Item " + std::to_string(i) + "\t/item" + std::to_string(i) + "\texample.org\t70\r\n";
            doc += ".\r\n";
            break;
    }
    PageText text = std::make_shared<const std::string>(std::move(doc));
    UrlRecord address;
    parseUrl(url, address);
    for (auto _ : state) {
        cacheDelete(address.url);
        showPage(address, text);
    }
    state.counters["lines"] = currentPage()->model.lineCount;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}
BENCHMARK(BM_RenderOddPage)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
