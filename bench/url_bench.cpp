// Address parsing and link resolution as a page of links drives them.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "page/parser.h"
#include "store/visited.h"
#include "url/url.h"

namespace {

// A mix of the references a Gemini capsule's pages hold.
std::vector<std::string> linkMix() {
    std::vector<std::string> links;
    for (int i = 0; i < 64; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 8) {
            case 0:
                links.push_back("entry-" + n + ".gmi");
                break;
            case 1:
                links.push_back("../archive/" + n + "/index.gmi");
                break;
            case 2:
                links.push_back("/tags/topic" + n + ".gmi");
                break;
            case 3:
                links.push_back("gemini://other" + n + ".example.org/");
                break;
            case 4:
                links.push_back("?search%20term" + n);
                break;
            case 5:
                links.push_back("https://www.example.com/page/" + n);
                break;
            case 6:
                links.push_back("./notes/" + n + "/../draft.gmi");
                break;
            default:
                links.push_back("//mirror.example.net/gemlog/" + n + ".gmi");
                break;
        }
    }
    return links;
}

// Resolving and styling every link of a page against a visited list of 1000 entries.
void BM_ResolvePageLinks(benchmark::State& state) {
    visitedClear();
    for (int i = 0; i < 1000; ++i)
        visitedAdd("gemini://capsule.example.org/gemlog/entry-" + std::to_string(i) + ".gmi");
    const VisitedCheck check = isVisited;
    const std::vector<std::string> links = linkMix();
    char dest[URL_MAX + 1];
    int length = 0;
    for (auto _ : state) {
        UrlRecord base;
        parseUrl("gemini://capsule.example.org/gemlog/2024/index.gmi", base);
        for (const std::string& link : links) {
            const LinkKind kind =
                resolveLink(dest, &length, link.data(), static_cast<int>(link.size()), base, 0, nullptr, 0);
            const int32_t style =
                linkStyle(kind, std::string_view(dest, static_cast<size_t>(length)), base, check);
            benchmark::DoNotOptimize(style);
            benchmark::DoNotOptimize(dest);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(links.size()));
    visitedClear();
}
BENCHMARK(BM_ResolvePageLinks);

void BM_ResolveGopherMenu(benchmark::State& state) {
    UrlRecord base;
    parseUrl("gopher://hole.example.org/1/phlog", base);
    const std::string selector = "/phlog/2024/some entry with spaces.txt";
    char dest[URL_MAX + 1];
    int length = 0;
    for (auto _ : state) {
        const int style = resolveLink(dest, &length, selector.data(), static_cast<int>(selector.size()), base,
                                      '0', "hole.example.org", 70);
        benchmark::DoNotOptimize(style);
        benchmark::DoNotOptimize(dest);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResolveGopherMenu);

void BM_ParseUrl(benchmark::State& state) {
    const char* const texts[] = {
        "gemini://capsule.example.org/gemlog/2024/../2023/index.gmi",
        "spartan://spartan.example.org/form?some%20query text",
        "gopher://hole.example.org/0/phlog/entry%20one.txt",
        "Capsule.Example.org:1966/search?q=a b/c",
    };
    for (auto _ : state) {
        for (const char* text : texts) {
            UrlRecord record;
            benchmark::DoNotOptimize(parseUrl(text, record));
            benchmark::DoNotOptimize(record.url);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_ParseUrl);

}  // namespace
