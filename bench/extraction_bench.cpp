// The extraction of a streamed reply of interface two against a plain byte scan for the same
// markers over the same bytes.
#include <string.h>

#include <cstdio>

#include "bench/bench_report.h"
#include "text/regex_matcher.h"
#include "text/text_helpers.h"
#include "text/unescape.h"

namespace {

const std::string kLeft = "[{\"text\": \"";

// 500 events of about 200 bytes each, pieces with \uXXXX escapes and escaped line feeds.
std::string MakeStreamedReply() {
    static const char* const kPieces[] = {"\\u4f60\\u597d", "\\n",    " world",  "\\u6ce1\\u811a",
                                          "abc def",        "\\n\\n", "\\u3002", "%u4e2d"};
    std::string reply;
    for (int i = 0; i < 500; ++i) {
        reply +=
            "data: {\"id\": \"cmpl-6kQ2x9bR7sT1uV3wX5yZ8aB0cD4eF\", \"object\": \"text_completion\", "
            "\"created\": 1676543210, \"choices\": [{\"text\": \"";
        reply += kPieces[i % 8];
        reply +=
            "\", \"index\": 0, \"logprobs\": null, \"finish_reason\": null}], \"model\": \"text-davinci-003\"}\n\n";
    }
    reply += "data: [DONE]\n\n";
    return reply;
}

const std::string& Reply() {
    static const std::string reply = MakeStreamedReply();
    return reply;
}

void BM_Extraction(benchmark::State& state) {
    const std::string& reply = Reply();
    for (auto _ : state) {
        qj::TextList pieces;
        qj::AllTextsBetween(reply, kLeft, "\"", pieces);
        qj::Text text;
        for (const qj::Text& piece : pieces) {
            text += qj::UnescapeUnicode(qj::ReplaceAll(piece, "\\n", "\r\n"));
        }
        benchmark::DoNotOptimize(qj::TrimLineBreaks(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_Extraction);

void BM_ByteScan(benchmark::State& state) {
    const std::string& reply = Reply();
    for (auto _ : state) {
        size_t found = 0;
        const char* p = reply.data();
        const char* end = reply.data() + reply.size();
        while (p < end) {
            const void* left = memmem(p, static_cast<size_t>(end - p), kLeft.data(), kLeft.size());
            if (!left) {
                break;
            }
            const char* piece = static_cast<const char*>(left) + kLeft.size();
            const void* right = memchr(piece, '"', static_cast<size_t>(end - piece));
            if (!right) {
                break;
            }
            found += static_cast<size_t>(static_cast<const char*>(right) - piece);
            p = piece;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ByteScan);

// A global search of a short pattern over a subject of `range(0)` bytes with a match every line:
// the time per byte must not grow with the subject.
void BM_RegexGlobalSearch(benchmark::State& state) {
    qj::Text subject;
    while (subject.size() < static_cast<std::size_t>(state.range(0))) {
        subject += "泡脚可以促进血液循环 abc123\r\n";
    }
    for (auto _ : state) {
        qj::RegexMatcher matcher;
        benchmark::DoNotOptimize(matcher.Run("[a-z]+\\d+", subject));
        benchmark::DoNotOptimize(matcher.MatchCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
}
BENCHMARK(BM_RegexGlobalSearch)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const auto report = qj::bench::RunAll(argc, argv);
    std::printf("reply: %zu bytes, 500 events\n", Reply().size());
    std::printf("extraction ratio: %.1f\n", qj::bench::Ratio(report, "BM_Extraction", "BM_ByteScan"));
    // Time per byte on 1 MB over time per byte on 64 KB.
    std::printf("regex global search growth 64K->1M: %.1f\n",
                qj::bench::Ratio(report, "BM_RegexGlobalSearch/1048576", "BM_RegexGlobalSearch/65536") / 16);
    return 0;
}
