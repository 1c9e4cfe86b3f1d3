// The article checks on a large output folder: the duplicate check per article with 10,000 and
// 100,000 earlier articles (the time must hardly grow), the start of a run over 100,000 articles,
// and the pass of a 5,000-word list over articles.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bench/bench_report.h"
#include "checks/banned_words.h"
#include "checks/duplicate_index.h"
#include "platform/program_folder.h"
#include "tests/checks/random_articles.h"

namespace {

// Different articles of about 4 KB, made once.
const std::vector<qj::Text>& Articles() {
    static const std::vector<qj::Text> articles = [] {
        std::mt19937 random(11);
        std::vector<qj::Text> made;
        for (int i = 0; i < 256; ++i) {
            made.push_back(qj::testing::RandomArticle(random, 2000));
        }
        return made;
    }();
    return articles;
}

// The check of one new article (its fingerprint and the lookup) in an index of range(0) earlier
// articles; the article is withdrawn again so that the index keeps its size.
void BM_DuplicateCheck(benchmark::State& state) {
    qj::DuplicateIndex index("/nonexistent/", "/nonexistent/index.txt", 3);
    std::mt19937_64 random(5);
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        static_cast<void>(index.Admit(random(), "earlier" + std::to_string(i) + ".txt", "earlier"));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        const qj::Text& article = Articles()[next++ % Articles().size()];
        benchmark::DoNotOptimize(index.Admit(qj::ArticleFingerprint(article), "new.txt", "new"));
        index.Withdraw("new.txt");
    }
}
BENCHMARK(BM_DuplicateCheck)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// 5,000 words of two to four characters, half of them with a replacement, over 1 MB of articles.
void BM_BannedWordPass(benchmark::State& state) {
    std::mt19937 random(9);
    std::vector<qj::BannedWord> words;
    for (int i = 0; i < 5000; ++i) {
        qj::BannedWord word;
        for (int c = std::uniform_int_distribution<int>(2, 4)(random); c > 0; --c) {
            word.word += qj::testing::RandomHanzi(random);
        }
        if (i % 2) {
            word.replacement = "**";
        }
        words.push_back(word);
    }
    const qj::BannedWords list(words);
    qj::Text text;
    while (text.size() < (1u << 20)) {
        text += Articles()[text.size() % Articles().size()];
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.Apply(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BannedWordPass)->Unit(benchmark::kMillisecond);

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A folder of 100,000 small articles: the first start reads every one, a later start reads the
// index file and the folder's names.
void StartOverLargeFolder() {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("qj-bench-checks-" + std::to_string(::getpid()));
    const qj::Text folder = qj::TextFromNativePath(root / "articles") + "/";
    const qj::Text indexFile = qj::TextFromNativePath(root / "index.txt");
    std::filesystem::create_directories(root / "articles");
    std::mt19937 random(3);
    for (int i = 0; i < 100'000; ++i) {
        std::ofstream(qj::NativePath(folder + "关键词" + std::to_string(i) + ".txt"), std::ios::binary)
            << qj::testing::RandomArticle(random, 60);
    }
    auto start = std::chrono::steady_clock::now();
    qj::DuplicateIndex first(folder, indexFile, 3);
    const std::size_t read = first.Open().read;
    const double firstStart = Milliseconds(std::chrono::steady_clock::now() - start);
    double best = 1e9;
    std::size_t articles = 0;
    for (int round = 0; round < 3; ++round) {
        start = std::chrono::steady_clock::now();
        qj::DuplicateIndex later(folder, indexFile, 3);
        articles = later.Open().articles;
        best = std::min(best, Milliseconds(std::chrono::steady_clock::now() - start));
    }
    std::filesystem::remove_all(root);
    std::printf("duplicate index first start, %zu articles read: %.0f ms\n", read, firstStart);
    std::printf("duplicate index start at %zuk articles: %.0f ms\n", articles / 1000, best);
}

}  // namespace

int main(int argc, char** argv) {
    const auto report = qj::bench::RunAll(argc, argv);
    const double at10k = report.SecondsOf("BM_DuplicateCheck/10000");
    const double at100k = report.SecondsOf("BM_DuplicateCheck/100000");
    std::printf("duplicate check per article at 100k articles: %.0f us\n", at100k * 1e6);
    std::printf("duplicate check growth 10k->100k: %.1f\n", at10k > 0 ? at100k / at10k : 0.0);
    const double pass = report.SecondsOf("BM_BannedWordPass");
    std::printf("banned-word pass over 5000 words: %.0f MB/s\n", pass > 0 ? (1u << 20) / pass / 1e6 : 0.0);
    StartOverLargeFolder();
    return 0;
}
