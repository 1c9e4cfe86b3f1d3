// The price table, the accounts of a run, the cap and the estimate.

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "cost/cost_ledger.h"
#include "cost/price_table.h"
#include "cost/run_estimate.h"
#include "cost/token_estimate.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

TEST(PriceTableTest, ReadsLinesInEitherEncodingAndFindsTheRowOfAModel) {
    const Text table =
        "# 注释\r\n"
        "\r\n"
        "gpt-4o*\t2.5\t10\t美元\t0.5\r\n"
        "gpt-4o-mini*  0.15  0.6  美元  50%\r\n"
        "　deepseek-chat　2　8　元\r\n"  // full-width blanks, as an input method types them
        "gpt-4o-mini-2024-07-18 0.1 0.4 美元\r\n"
        "broken 1 2\r\n"
        "bad-price x 2 元\r\n"
        "bad-factor 1 2 元 1.5\r\n";
    for (const Bytes& file : {Bytes(table), "\xEF\xBB\xBF" + AnsiToUtf8(table), AnsiToUtf8(table)}) {
        const PriceTable prices = ParsePriceTable(file);
        ASSERT_EQ(prices.rows.size(), 4u);
        ASSERT_EQ(prices.problems.size(), 3u);
        EXPECT_EQ(prices.problems[0].find("价格.txt第7行无法使用，已跳过："), 0u) << prices.problems[0];
        // A whole name wins; else the longest prefix; letters in any case.
        EXPECT_DOUBLE_EQ(prices.Find("gpt-4o-mini-2024-07-18")->inputPerMillion, 0.1);
        EXPECT_DOUBLE_EQ(prices.Find("GPT-4o-mini-2025")->inputPerMillion, 0.15);
        EXPECT_DOUBLE_EQ(prices.Find("gpt-4o-mini")->batchFactor, 0.5);
        EXPECT_DOUBLE_EQ(prices.Find("gpt-4o-2024-08-06")->outputPerMillion, 10);
        EXPECT_EQ(prices.Find("deepseek-chat")->currency, "元");
        EXPECT_DOUBLE_EQ(prices.Find("deepseek-chat")->batchFactor, 1.0);
        EXPECT_EQ(prices.Find("deepseek-chat-v2"), nullptr);  // no "*": the whole name only
        EXPECT_EQ(prices.Find("gpt-4"), nullptr);
    }
}

TEST(PriceTableTest, IsWrittenOnceWithDatedExamplesAndNeverOverwritten) {
    testing::TemporaryHome home;
    const Text path = ProgramPath(kPriceTableTail);
    const PriceTableRead first = LoadPriceTable(path);
    ASSERT_FALSE(first.failure);
    EXPECT_TRUE(first.created);
    EXPECT_TRUE(first.table.problems.empty());
    EXPECT_NE(first.table.Find("gpt-4o-mini"), nullptr);
    EXPECT_EQ(ReadFileBytes(path), DefaultPriceTableFile());
    // Every example names the date its price was taken from.
    const Text file = DefaultPriceTableFile();
    for (const ModelPrice& row : first.table.rows) {
        const std::size_t at = file.find("\r\n" + row.model);
        ASSERT_NE(at, Text::npos);
        const std::size_t comment = file.rfind("\r\n# ", at - 1);
        EXPECT_NE(file.substr(comment, at - comment).find("20"), Text::npos) << row.model;
    }

    // The user's file, even an empty one, stays as it is.
    for (const Bytes& own : {Bytes("my-model 1 2 元\r\n"), Bytes()}) {
        ASSERT_TRUE(ReplaceFileContents(path, own));
        const PriceTableRead again = LoadPriceTable(path);
        EXPECT_FALSE(again.created);
        EXPECT_EQ(again.table.rows.size(), own.empty() ? 0u : 1u);
        EXPECT_EQ(ReadFileBytes(path), own);
    }
}

// Whatever the requests, the sums per keyword, per endpoint and for the run agree with each other
// and with the requests, also when several workers account at once.
TEST(CostLedgerTest, SumsAgreeWithTheRequestsWhateverTheirOrder) {
    const PriceTable prices = ParsePriceTable("a* 1 2 美元 0.5\r\nb 3 4 元\r\n");
    CostLedger ledger(prices);
    struct Request {
        Text keyword;
        int endpoint;
        Text model;
        RequestUsage usage;
        bool batch;
    };
    std::mt19937 random(5);
    std::vector<Request> requests;
    for (int i = 0; i < 4000; ++i) {
        requests.push_back(
            {"关键词" + std::to_string(random() % 50),
             static_cast<int>(random() % 3) + 1,
             std::vector<Text>{"a-1", "b", "c"}[random() % 3],
             {static_cast<long long>(random() % 500), static_cast<long long>(random() % 3000), random() % 4 == 0},
             random() % 2 == 0});
    }
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            for (std::size_t i = static_cast<std::size_t>(w); i < requests.size(); i += 4) {
                const Request& r = requests[i];
                ledger.Add(r.keyword, r.endpoint, r.model, r.usage, r.batch);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }

    CostFigures expected;
    std::map<Text, CostFigures> byKeyword;
    for (const Request& r : requests) {
        CostFigures one;
        one.tokens = {r.usage.input, r.usage.output, 1, r.usage.estimated ? 1 : 0};
        if (const ModelPrice* price = prices.Find(r.model)) {
            one.money.Add(price->currency,
                          (r.usage.input * price->inputPerMillion + r.usage.output * price->outputPerMillion) *
                              (r.batch ? price->batchFactor : 1) / 1e6);
        } else {
            one.unpricedRequests = 1;
        }
        expected += one;
        byKeyword[r.keyword] += one;
    }
    const CostFigures total = ledger.Total();
    EXPECT_EQ(total.tokens.input, expected.tokens.input);
    EXPECT_EQ(total.tokens.output, expected.tokens.output);
    EXPECT_EQ(total.tokens.estimatedRequests, expected.tokens.estimatedRequests);
    EXPECT_EQ(total.unpricedRequests, expected.unpricedRequests);
    for (const char* currency : {"美元", "元"}) {
        EXPECT_NEAR(total.money.In(currency), expected.money.In(currency), 1e-9);
    }
    CostFigures endpoints;
    for (const auto& [number, figures] : ledger.Endpoints()) {
        endpoints += figures;
    }
    EXPECT_EQ(endpoints.tokens.Total(), total.tokens.Total());
    for (const auto& [keyword, figures] : byKeyword) {
        const CostFigures taken = ledger.TakeKeyword(keyword);
        EXPECT_EQ(taken.tokens.Total(), figures.tokens.Total()) << keyword;
        EXPECT_NEAR(taken.money.In("元"), figures.money.In("元"), 1e-9);
        EXPECT_EQ(ledger.TakeKeyword(keyword).tokens.requests, 0);  // taken once
    }

    const TextList lines = ledger.ClosingLines();
    ASSERT_EQ(lines.size(), 5u);  // three endpoints, the run, the model without a price
    EXPECT_EQ(
        lines[3].find("本次任务用量：输入Token " + std::to_string(expected.tokens.input) + "，输出Token " +
                      std::to_string(expected.tokens.output) + "（其中" +
                      std::to_string(expected.tokens.estimatedRequests) + "个请求的用量是估算的），费用 " +
                      FormatAmount(total.money.In("美元")) + " 美元 + " + FormatAmount(total.money.In("元")) + " 元"),
        0u)
        << lines[3];
    EXPECT_EQ(lines[4], "价格表 价格.txt 中没有模型 c 的价格，它们的请求没有计入费用");
}

TEST(CostCapTest, ReadsTheBoxAndCountsInTheRightCurrency) {
    EXPECT_FALSE(ReadCostCap("  ").cap);
    EXPECT_TRUE(ReadCostCap("  ").error.empty());
    for (const char* wrong : {"abc", "0", "-3", "元5"}) {
        EXPECT_FALSE(ReadCostCap(wrong).cap) << wrong;
        EXPECT_FALSE(ReadCostCap(wrong).error.empty()) << wrong;
    }
    const CostCap plain = *ReadCostCap(" 5 ").cap;
    const CostCap dollars = *ReadCostCap("0.5美元").cap;
    EXPECT_EQ(dollars.currency, "美元");
    Money spent;
    spent.Add("元", 4.99);
    spent.Add("美元", 0.5);
    EXPECT_FALSE(CapReached(plain, spent, "元"));
    EXPECT_TRUE(CapReached(dollars, spent, "元"));
    spent.Add("元", 0.01);
    EXPECT_TRUE(CapReached(plain, spent, "元"));
    EXPECT_FALSE(CapReached(plain, spent, "美元"));
}

TEST(RunEstimateTest, MultipliesTheKeywordsByWhatEarlierArticlesTook) {
    // A Chinese character is about a token, Latin text about one per four bytes.
    EXPECT_EQ(EstimateTokens("泡脚的好处"), 5);
    EXPECT_EQ(EstimateTokens("abcdefgh"), 2);
    EXPECT_EQ(EstimateTokens("写abc"), 2);
    EXPECT_EQ(EstimateTokens(""), 0);

    ArticleTokenHistory history;
    history.Add("m", 100, 1900);
    history.Add("m", 300, 2700);
    history.Add("other", 1, 1);
    const std::optional<ArticleTokens> average = history.Average("m");
    ASSERT_TRUE(average);
    EXPECT_DOUBLE_EQ(average->input + average->output, 2500);
    EXPECT_FALSE(history.Average("new"));

    const PriceTable prices = ParsePriceTable("m 1 2 美元 0.5\r\n");
    EXPECT_EQ(
        RunEstimateLine(1000, "m", average, prices.Find("m"), false),
        "预计用量：关键词1000个，每篇约2500 Token（模型 m 以往2篇的平均），共约250.0万 Token，费用约 4.8000 美元");
    EXPECT_NE(RunEstimateLine(1000, "m", average, prices.Find("m"), true).find("费用约 2.4000 美元（批量接口价格）"),
              Text::npos);
    EXPECT_EQ(RunEstimateLine(10, "new", std::nullopt, nullptr, false),
              "预计用量：关键词10个，每篇约1650 Token（没有模型 new 以往的记录，按默认值估算），共约16500 Token；"
              "价格表 价格.txt 中没有这个模型的价格，无法估算费用");
}

}  // namespace
}  // namespace qj
