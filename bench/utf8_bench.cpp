#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "page/utf8.h"

namespace {

constexpr size_t DOCUMENT_SIZE = 10 * 1024 * 1024;

// Prose-like text: lines of 60-100 characters, mostly ASCII words, with some
// accented Latin-1 and Extended-A letters, typographic quotes, ellipses, the
// odd emoji and tab, and CR LF line ends now and then.
std::string mixedDocument() {
    const std::vector<std::string> plainWords = {
        "the",     "small",  "internet", "is",      "a",      "quiet", "place", "where",   "documents",
        "travel",  "over",   "gemini",   "and",     "gopher", "with",  "links", "between", "capsules",
        "reading", "slowly", "without",  "adverts", "of",     "any",   "kind",  "server",  "client",
        "browser", "text",   "page",     "line",    "menu",   "to",    "in",    "it",      "for",
    };
    const std::vector<std::string> specialWords = {
        "caf\xC3\xA9",  // café
        "na\xC3\xAFve",
        "\xC3\xBC"
        "ber",
        "se\xC3\xB1or",
        "\xC5\x9Bwiat",  // świat
        "\xC4\x8Dokol",  // čokol
        "\xC5\x82\xC3\xB3"
        "d\xC5\xBA",  // łódź
        "\xE2\x80\x9Cquoted\xE2\x80\x9D",
        "it\xE2\x80\x99s",
        "wait\xE2\x80\xA6",
        "\xE2\x80\x94",
        "\xF0\x9F\x98\x80",
        "\tindent",
    };
    std::mt19937 random(12345u);
    std::string doc;
    doc.reserve(DOCUMENT_SIZE + 128);
    while (doc.size() < DOCUMENT_SIZE) {
        const size_t lineLength = 60 + random() % 41;
        const size_t start = doc.size();
        while (doc.size() - start < lineLength) {
            if (random() % 8 == 0) {
                doc += specialWords[random() % specialWords.size()];
            } else {
                doc += plainWords[random() % plainWords.size()];
            }
            doc += ' ';
        }
        doc += random() % 10 == 0 ? "\r\n" : "\n";
    }
    doc.resize(DOCUMENT_SIZE);
    return doc;
}

std::string asciiDocument() {
    const std::string line =
        "Plain ASCII prose of a typical width, as found in most gemtext and gopher pages.\n";
    std::string doc;
    doc.reserve(DOCUMENT_SIZE + line.size());
    while (doc.size() < DOCUMENT_SIZE)
        doc += line;
    doc.resize(DOCUMENT_SIZE);
    return doc;
}

void runTranslate(benchmark::State& state, const std::string& doc, bool keepTabs) {
    for (auto _ : state) {
        int32_t length = 0;
        std::unique_ptr<char[]> out = translateUtf8(doc.c_str(), &length, keepTabs);
        benchmark::DoNotOptimize(out.get());
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void BM_Utf8Mixed(benchmark::State& state) {
    static const std::string doc = mixedDocument();
    runTranslate(state, doc, false);
}
BENCHMARK(BM_Utf8Mixed)->Unit(benchmark::kMillisecond);

void BM_Utf8MixedKeepTabs(benchmark::State& state) {
    static const std::string doc = mixedDocument();
    runTranslate(state, doc, true);
}
BENCHMARK(BM_Utf8MixedKeepTabs)->Unit(benchmark::kMillisecond);

void BM_Utf8Ascii(benchmark::State& state) {
    static const std::string doc = asciiDocument();
    runTranslate(state, doc, false);
}
BENCHMARK(BM_Utf8Ascii)->Unit(benchmark::kMillisecond);

}  // namespace
