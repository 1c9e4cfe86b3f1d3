// Indexing and reading a full batch's results (50,000 lines, the most a batch holds) by custom_id against
// merely parsing the same lines as JSON.

#include <nlohmann/json.hpp>

#include <cstdio>

#include "batch/batch_lines.h"
#include "bench/bench_report.h"

namespace {

constexpr int kLines = 50000;

// An output file as a service writes it: each line a whole chat reply of about 1.5 KB.
const std::string& OutputFile() {
    static const std::string file = [] {
        std::string article;
        for (int i = 0; i < 100; ++i) {
            article += "\\u6ce1\\u811a\\u7684\\u597d\\u5904";
        }
        std::string lines;
        for (int i = kLines; i-- > 0;) {
            lines +=
                R"({"id":"batch_req_)" + std::to_string(i) + R"(","custom_id":"qj-)" + std::to_string(i) +
                R"(","response":{"status_code":200,"request_id":"req_1","body":{"id":"chatcmpl-1","object":"chat.completion","choices":[{"index":0,"message":{"role":"assistant","content":")" +
                article +
                R"("},"finish_reason":"stop"}],"usage":{"prompt_tokens":30,"completion_tokens":500,"total_tokens":530}}},"error":null})"
                "\n";
        }
        return lines;
    }();
    return file;
}

void BM_MatchResults(benchmark::State& state) {
    for (auto _ : state) {
        const qj::BatchResults results(OutputFile(), {});
        for (int i = 0; i < kLines; ++i) {
            benchmark::DoNotOptimize(results.Find("qj-" + std::to_string(i)));
        }
    }
}
BENCHMARK(BM_MatchResults)->Unit(benchmark::kMillisecond);

void BM_ParseLines(benchmark::State& state) {
    const std::string& file = OutputFile();
    for (auto _ : state) {
        std::size_t parsed = 0;
        for (std::size_t from = 0; from < file.size();) {
            const std::size_t end = file.find('\n', from);
            parsed += nlohmann::json::parse(std::string_view(file).substr(from, end - from)).size();
            from = end + 1;
        }
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_ParseLines)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const auto report = qj::bench::RunAll(argc, argv);
    std::printf("batch output: %d lines, %zu MB\n", kLines, OutputFile().size() >> 20);
    std::printf("batch results matched over bare JSON parse: %.1f\n",
                qj::bench::Ratio(report, "BM_MatchResults", "BM_ParseLines"));
    return 0;
}
