// Fetch throughput over loopback and the latency of Stop. Needs the tests' support
// servers (tests/support/*.cpp and the tests folder on the include path); without
// them this file builds nothing.
#if __has_include("support/servers.h") && __has_include("support/tls_server.h")

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "net/child.h"
#include "net/exchange.h"
#include "net/fetch.h"
#include "settings/settings.h"
#include "support/servers.h"
#include "support/tls_server.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

// One fetch on this thread; a download goes to downloadPath. Returns the status.
int32_t fetchOnce(const std::string& url, const ProxyRoute& proxy, const std::string& downloadPath,
                  size_t* resultLength) {
    auto exchange = std::make_unique<FetchExchange>();
    if (parseUrl(url.c_str(), exchange->request) != 1) return -1;
    exchange->proxy = proxy;
    int32_t status = -1;
    netGetFile(*exchange, status, [&](FetchExchange& ex) {
        ex.downloadName = downloadPath;
        ex.downloadAccepted = true;
    });
    if (resultLength) *resultLength = exchange->resultLength;
    return status;
}

// Serves "20 <mime>\r\n" and then size bytes, written 1 MiB at a time.
TlsHandler geminiBody(const char* mime, size_t size) {
    auto block = std::make_shared<std::string>(testBinary(kMiB, 3));
    return [block, mime, size](TlsServerConnection& connection) {
        connection.readLine();
        if (!connection.write(std::string("20 ") + mime + "\r\n")) return;
        for (size_t sent = 0; sent < size; sent += block->size()) {
            size_t n = std::min(block->size(), size - sent);
            if (!connection.write(std::string_view(*block).substr(0, n))) return;
        }
    };
}

void BM_GeminiTlsDownloadToFile(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) * kMiB;
    TlsServer server(TlsServerOptions{}, geminiBody("application/octet-stream", size));
    if (!server.ok()) {
        state.SkipWithError("no TLS server");
        return;
    }
    std::string url = "gemini://127.0.0.1:" + std::to_string(server.port()) + "/file";
    std::filesystem::path target = std::filesystem::temp_directory_path() / "farlander-bench-download.bin";
    for (auto _ : state) {
        if (fetchOnce(url, ProxyRoute{}, target.string(), nullptr) != FETCH_DOWNLOAD ||
            std::filesystem::file_size(target) != size) {
            state.SkipWithError("download failed");
            break;
        }
        headlessReset();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    std::filesystem::remove(target);
}
BENCHMARK(BM_GeminiTlsDownloadToFile)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_GeminiTlsPageIntoMemory(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) * kMiB;
    TlsServer server(TlsServerOptions{}, geminiBody("text/gemini", size));
    if (!server.ok()) {
        state.SkipWithError("no TLS server");
        return;
    }
    std::string url = "gemini://127.0.0.1:" + std::to_string(server.port()) + "/page";
    for (auto _ : state) {
        size_t length = 0;
        if (fetchOnce(url, ProxyRoute{}, "", &length) != FETCH_PAGE || length < size) {
            state.SkipWithError("page failed");
            break;
        }
        headlessReset();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_GeminiTlsPageIntoMemory)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainPageIntoMemory(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) * kMiB;
    const std::string reply = "20 text/gemini\r\n" + testBinary(size, 4);
    TestServer server([&reply](TestConnection& connection) {
        connection.readLine();
        connection.send(reply);
    });
    ProxyRoute proxy;
    proxy.useGemProxy = true;
    std::snprintf(proxy.gemProxyHost, sizeof proxy.gemProxyHost, "%s", "127.0.0.1");
    proxy.gemProxyPort = server.port();
    for (auto _ : state) {
        size_t length = 0;
        if (fetchOnce("gemini://example.org/page", proxy, "", &length) != FETCH_PAGE ||
            length != reply.size()) {
            state.SkipWithError("page failed");
            break;
        }
        headlessReset();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_PlainPageIntoMemory)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// From sendChildBreak to its return, with the fetch blocked in a receive.
void BM_StopLatencyDuringReceive(benchmark::State& state) {
    TestServer server([](TestConnection& connection) {
        connection.readLine();
        connection.send("20 text/gemini\r\n");
        connection.server().markEvent("sent");
        connection.holdUntilClosed();
    });
    settings.useGemProxy = 1;
    settings.gemProxyAll = 1;
    std::snprintf(settings.gemProxyHost, sizeof settings.gemProxyHost, "%s", "127.0.0.1");
    settings.gemProxyPort = server.port();
    if (!childInit() || !childWaitReady()) {
        state.SkipWithError("no network task");
        childCleanUp();
        return;
    }
    int round = 0;
    for (auto _ : state) {
        UrlRecord record;
        parseUrl("gemini://example.org/hold", record);
        if (!childStartFetch(std::move(record)) || !server.waitForEvent("sent", ++round)) {
            state.SkipWithError("fetch did not start");
            break;
        }
        // Let the network task settle into its receive.
        server.waitForEvent("never", 1, 2);
        auto begin = std::chrono::steady_clock::now();
        sendChildBreak();
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        headlessReset();
    }
    childCleanUp();
    settings.useGemProxy = 0;
}
BENCHMARK(BM_StopLatencyDuringReceive)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);

}  // namespace

#endif
