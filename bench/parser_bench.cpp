// Page parser throughput and memory on a large gemtext document: parsed again into
// the same page model (a re-layout), and into a fresh one (a first showing).
//
// Peak memory is only meaningful in a process of its own:
//   farlander_bench --benchmark_filter=BM_ParserPeakMemory
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "page/parser.h"
#include "ui/ui.h"

namespace {

constexpr size_t DOCUMENT_SIZE = 10 * 1024 * 1024;

// A capsule-like page made of these words: headings, paragraphs of one to six
// wrapped lines, links with and without labels, list items, quotes and
// preformatted blocks.
std::string capsulePage(const std::vector<std::string>& words) {
    std::mt19937 random(20240601u);
    auto sentence = [&](std::string& out, size_t length) {
        const size_t start = out.size();
        while (out.size() - start < length) {
            out += words[random() % words.size()];
            out += ' ';
        }
        out.back() = '.';
    };
    std::string text = "20 text/gemini\r\n";
    text.reserve(DOCUMENT_SIZE + 1024);
    int link = 0;
    while (text.size() < DOCUMENT_SIZE) {
        switch (random() % 10) {
            case 0:
                text += "## ";
                sentence(text, 20 + random() % 30);
                text += "\n\n";
                break;
            case 1:
            case 2:
                text += "=> ";
                text += random() % 2 ? "gemini://capsule.example/gemlog/" : "../notes/";
                text += std::to_string(link++);
                text += ".gmi ";
                sentence(text, 10 + random() % 70);
                text += '\n';
                break;
            case 3:
                for (int i = 0; i < 4; ++i) {
                    text += "* ";
                    sentence(text, 20 + random() % 80);
                    text += '\n';
                }
                text += '\n';
                break;
            case 4:
                text += "> ";
                sentence(text, 60 + random() % 200);
                text += "\n\n";
                break;
            case 5:
                text += "```\n";
                for (int i = 0; i < 6; ++i) {
                    text += "    |  ";
                    sentence(text, 20 + random() % 90);
                    text += '\n';
                }
                text += "```\n\n";
                break;
            default:
                sentence(text, 60 + random() % 540);
                text += "\n\n";
                break;
        }
    }
    return text;
}

// Mostly English, with some UTF-8.
const std::string& gemtextDocument() {
    static const std::string doc = [] {
        const std::vector<std::string> words = {
            "the",
            "small",
            "internet",
            "is",
            "a",
            "quiet",
            "place",
            "where",
            "capsules",
            "travel",
            "over",
            "gemini",
            "and",
            "gopher",
            "with",
            "links",
            "between",
            "pages",
            "reading",
            "slowly",
            "without",
            "adverts",
            "server",
            "client",
            "browser",
            "text",
            "line",
            "menu",
            "caf\xC3\xA9",
            "\xE2\x80\x9Cquoted\xE2\x80\x9D",
            "it\xE2\x80\x99s",
            "na\xC3\xAFve",
            "\xC5\x82\xC3\xB3"
            "d\xC5\xBA",
            "wait\xE2\x80\xA6",
        };
        return capsulePage(words);
    }();
    return doc;
}

// Many scripts in one page: Latin with accents, Greek, Cyrillic, Hebrew, Arabic,
// Chinese, Japanese, Korean, emoji with skin tones, combining accents.
const std::string& mixedScriptDocument() {
    static const std::string doc = capsulePage({
        "the",
        "small",
        "internet",
        "caf\xC3\xA9",
        "\xC5\x81\xC3\xB3"
        "d\xC5\xBA",
        "\xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5",
        "\xCE\xB3\xCE\xB5\xCE\xB9\xCE\xAC",
        "\xD0\xBC\xD0\xB8\xD1\x80",
        "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
        "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7",
        "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C",
        "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",
        "\xEC\x95\x88\xEB\x85\x95",
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
        "e\xCC\x81t\xC3\xA9",
        "gemini",
        "\xE2\x80\x9Cquoted\xE2\x80\x9D",
    });
    return doc;
}

UrlRecord pageRecord() {
    UrlRecord record;
    parseUrl("gemini://capsule.example/gemlog/index.gmi", record);
    return record;
}

// Parses doc again and again into the same page model; the figures per run.
void parseRepeatedly(benchmark::State& state, const std::string& doc, bool unicode) {
    const UrlRecord record = pageRecord();
    ParseOptions options;
    options.unicode = unicode;
    PageModel page;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseNetBuf(page, record, 80, doc, options));
        state.PauseTiming();
        headlessReset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
    state.counters["lines"] = page.lineCount;
    state.counters["links"] = page.linkCount;
}

void BM_ParserGemtext10MB(benchmark::State& state) {
    parseRepeatedly(state, gemtextDocument(), false);
}
BENCHMARK(BM_ParserGemtext10MB)->Unit(benchmark::kMillisecond);

// The first showing of a page: a fresh page model, so its storage is new memory.
void BM_ParserGemtext10MBFreshPage(benchmark::State& state) {
    const std::string& doc = gemtextDocument();
    const UrlRecord record = pageRecord();
    for (auto _ : state) {
        PageModel page;
        benchmark::DoNotOptimize(parseNetBuf(page, record, 80, doc));
        state.PauseTiming();
        freePageLines(page);
        headlessReset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}
BENCHMARK(BM_ParserGemtext10MBFreshPage)->Unit(benchmark::kMillisecond);

// A page in many scripts, kept as UTF-8 and wrapped by display columns (1), or
// transliterated to ISO-8859-1 (0). Parsed again into the same page model.
void BM_ParserMixedScripts10MB(benchmark::State& state) {
    parseRepeatedly(state, mixedScriptDocument(), state.range(0) != 0);
}
BENCHMARK(BM_ParserMixedScripts10MB)->ArgName("unicode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One line of 5 MB without a space: every display line is a hard cut, and each cut
// must cost no more than the line it makes.
void BM_ParserOneLongLine5MB(benchmark::State& state) {
    static const std::string doc = [] {
        std::string d("20 text/gemini\r\n");
        d.append(5u * 1024 * 1024, 'w');
        d.push_back('\n');
        return d;
    }();
    parseRepeatedly(state, doc, state.range(0) != 0);
}
BENCHMARK(BM_ParserOneLongLine5MB)->ArgName("unicode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A value of kB from /proc/self/status ("VmRSS", "VmHWM"); -1 when unknown.
int64_t statusKilobytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::stoll(line.substr(key.size() + 1));
    }
    return -1;
}

// One parse; the growth of the resident set's high-water mark above what was
// resident before (the document included) is what the parse needed at its peak.
void BM_ParserPeakMemory(benchmark::State& state) {
    const std::string& doc = gemtextDocument();
    const UrlRecord record = pageRecord();
    int64_t before = 0;
    int64_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PageModel page;
        before = statusKilobytes("VmRSS");
        std::ofstream("/proc/self/clear_refs") << "5";  // resets the high-water mark
        state.ResumeTiming();
        parseNetBuf(page, record, 80, doc);
        state.PauseTiming();
        peak = statusKilobytes("VmHWM");
        freePageLines(page);
        state.ResumeTiming();
    }
    const double documentKb = static_cast<double>(doc.size()) / 1024.0;
    const double extraKb = static_cast<double>(peak - before);
    state.counters["document_MB"] = documentKb / 1024.0;
    state.counters["parse_extra_MB"] = extraKb / 1024.0;
    state.counters["peak_x_document"] = (extraKb + documentKb) / documentKb;
}
BENCHMARK(BM_ParserPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
