// The lines of the batch interface and the record of submissions.

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "batch/batch_lines.h"
#include "batch/batch_record.h"
#include "batch/batch_service.h"

namespace qj {
namespace {

TEST(BatchLinesTest, InputLinesCarryTheDirectBodyWithoutStreaming) {
    TextList ids;
    for (const char* keyword : {"甲", "乙", "甲", "甲", "丙"}) {
        ids.push_back(CustomIdOf(keyword));
    }
    EXPECT_EQ(ids[0], ids[2]);  // stable for a keyword
    MakeUniqueCustomIds(ids);
    EXPECT_EQ(std::set<Text>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(ids[2], ids[0] + "-2");

    const std::string body = BatchRequestBody(
        R"({"model":"m","messages":[{"role":"user","content":"x"}],"stream":true,"stream_options":{"include_usage":true},"temperature":0.7})");
    EXPECT_EQ(body, R"({"model":"m","messages":[{"role":"user","content":"x"}],"temperature":0.7})");
    EXPECT_EQ(BatchInputLine("qj-1", "/v1/chat/completions", body),
              R"({"custom_id":"qj-1","method":"POST","url":"/v1/chat/completions","body":)" + body + "}\n");

    // The chat path a base implies, also behind a longer path and with a query that every URL keeps.
    const BatchEndpoints compatible =
        BatchEndpointsOf("https://dashscope.aliyuncs.com/compatible-mode/v1/chat/completions?x=1");
    EXPECT_EQ(compatible.chatPath, "/v1/chat/completions");
    EXPECT_EQ(compatible.Url("/batches", "limit=5"),
              "https://dashscope.aliyuncs.com/compatible-mode/v1/batches?x=1&limit=5");
    EXPECT_EQ(BatchEndpointsOf("http://127.0.0.1:8080/v4/chat/completions").Url("/files"),
              "http://127.0.0.1:8080/v4/files");

    PartCutter cutter(3, 100);
    EXPECT_TRUE(cutter.Take(500));  // a part holds one line however long
    EXPECT_FALSE(cutter.Take(1));
    cutter.Cut();
    EXPECT_TRUE(cutter.Take(60) && cutter.Take(40));
    EXPECT_FALSE(cutter.Take(1));
    cutter.Cut();
    EXPECT_TRUE(cutter.Take(1) && cutter.Take(1) && cutter.Take(1));
    EXPECT_FALSE(cutter.Take(1));
}

TEST(BatchLinesTest, ResultsAreMatchedByIdWhateverTheOrderAndWhicheverFile) {
    const std::string output =
        R"({"custom_id":"b","response":{"status_code":200,"body":{"choices":[{"message":{"content":"B"}}]}},"error":null})"
        "\n"
        "not json\n"
        R"({"custom_id":"a","response":{"status_code":200,"body":{"choices":[]}},"error":null})"
        "\r\n";
    const std::string errors =
        R"({"custom_id":"c","response":null,"error":{"code":"batch_expired","message":"This request could not be executed."}})"
        "\n"
        R"({"custom_id":"d","response":{"status_code":400,"body":{"error":{"message":"bad"}}},"error":null})"
        "\n"
        R"({"custom_id":"a","response":null,"error":{"code":"x","message":"y"}})"
        "\n";
    const BatchResults results(output, errors);
    EXPECT_EQ(results.unreadable(), 1);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_TRUE(results.Find("a")->ok);  // the reply wins
    EXPECT_TRUE(results.Find("b")->ok);
    EXPECT_EQ(results.Find("b")->body, R"({"choices":[{"message":{"content":"B"}}]})");
    EXPECT_EQ(results.Find("c")->error, "batch_expired：This request could not be executed.");
    EXPECT_EQ(results.Find("d")->error, "bad（HTTP 400）");
    EXPECT_FALSE(results.Find("e"));
}

// Whatever a part holds (keywords with tabs, backslashes, line breaks, lone lead bytes, lines in
// other encodings), the record reads back what it wrote; settled keywords appended later count,
// and a line cut short by a kill does not.
TEST(BatchRecordTest, ReadsBackWhatItWrote) {
    std::mt19937 random(11);
    const std::vector<Text> pieces = {"关键词", "\t", "\\", "\r\n", "a", "\x81", "\\t", " "};
    std::vector<BatchPart> parts;
    for (int p = 0; p < 5; ++p) {
        BatchPart part{"run-" + std::to_string(p),
                       static_cast<PartStage>(p),
                       1700000000 + p,
                       "file-" + std::to_string(p),
                       p > 2 ? "batch_" + std::to_string(p) : "",
                       p > 3 ? "expired" : "",
                       "",
                       "",
                       {}};
        for (int k = 0; k < 30; ++k) {
            Text keyword;
            for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
                keyword += pieces[random() % pieces.size()];
            }
            part.keywords.push_back(
                {"qj-" + std::to_string(k), keyword, random() % 3 == 0 ? Bytes("\xFF\xFE\0x", 4) : Bytes(), false});
        }
        parts.push_back(part);
    }
    Bytes file = BatchRecord::Serialize(parts);
    const auto same = [](const std::vector<BatchPart>& a, const std::vector<BatchPart>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t p = 0; p < a.size(); ++p) {
            EXPECT_EQ(a[p].id, b[p].id);
            EXPECT_EQ(a[p].stage, b[p].stage);
            EXPECT_EQ(a[p].prepared, b[p].prepared);
            EXPECT_EQ(a[p].batchId, b[p].batchId);
            EXPECT_EQ(a[p].endStatus, b[p].endStatus);
            ASSERT_EQ(a[p].keywords.size(), b[p].keywords.size());
            for (std::size_t k = 0; k < a[p].keywords.size(); ++k) {
                EXPECT_EQ(a[p].keywords[k].keyword, b[p].keywords[k].keyword);
                EXPECT_EQ(a[p].keywords[k].line, b[p].keywords[k].line);
                EXPECT_EQ(a[p].keywords[k].done, b[p].keywords[k].done);
            }
        }
    };
    same(BatchRecord::Parse(file), parts);

    file += "\xCD\xEA\xB3\xC9\trun-4\tqj-7\r\n";  // 完成
    parts[4].keywords[7].done = true;
    file += "\xCD\xEA\xB3\xC9\trun-4\tqj-8";  // cut short
    bool torn = false;
    same(BatchRecord::Parse(file, &torn), parts);
    EXPECT_TRUE(torn);
    // Written again, a settled keyword is left out.
    EXPECT_EQ(BatchRecord::Parse(BatchRecord::Serialize(parts))[4].keywords.size(), 29u);
}

}  // namespace
}  // namespace qj
