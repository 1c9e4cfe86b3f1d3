// The run report as a spreadsheet reads it: UTF-8 with a byte-order mark, one line per row, cells
// quoted where they must be, every row in the file as soon as it is added.

#include "checks/run_report.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

// The rows of a CSV file: cells split at commas outside quotes, "" inside quotes one quote.
std::vector<std::vector<std::string>> ParseCsv(std::string_view csv) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
                rows.back().back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                rows.back().back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back();  // behind the last line break
    return rows;
}

TEST(RunReportTest, RowsAreInTheFileAsTheyComeAndReadBackCellForCell) {
    testing::TemporaryHome home;
    const Text folder = ProgramPath("OpenAi/运行报告");
    const std::time_t start = 1714523415;
    RunReport report;
    ASSERT_TRUE(report.Open(folder, start));
    RunReport second;  // started in the same second
    ASSERT_TRUE(second.Open(folder, start));
    EXPECT_NE(second.path(), report.path());
    EXPECT_TRUE(second.path().ends_with("-2.csv")) << second.path();

    ReportRow written{.when = start + 5,
                      .keyword = "泡脚, \"好处\"",
                      .outcome = KeywordOutcome::kWritten,
                      .endpoint = "端点2",
                      .tries = 3,
                      .characters = 812,
                      .promptTokens = 20,
                      .completionTokens = 900,
                      .fileName = "泡脚, _好处_.txt"};
    ReportRow failed{.when = start + 6,
                     .keyword = "=1+2",
                     .outcome = KeywordOutcome::kFailed,
                     .reason = "与【甲】的文章重复\r\n第二行",
                     .tries = 2};
    ASSERT_TRUE(report.Add(written));
    ASSERT_TRUE(report.Add(failed));
    // Nothing is held back: what a killed program had added is in the file.
    const Bytes bytes = ReadFileBytes(report.path()).value();
    ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
    const auto rows = ParseCsv(std::string_view(bytes).substr(3));
    ASSERT_EQ(rows.size(), 3u);
    std::vector<std::string> headings;
    for (const ReportColumn& column : ReportColumns()) {
        headings.push_back(AnsiToUtf8(column.heading));
    }
    EXPECT_EQ(rows[0], headings);
    const auto utf8 = [](const Text& text) { return AnsiToUtf8(text); };
    EXPECT_EQ(rows[1], (std::vector<std::string>{rows[1][0], utf8("泡脚, \"好处\""), utf8("已写入"), "", utf8("端点2"),
                                                 "3", "812", "20", "900", utf8("泡脚, _好处_.txt")}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{rows[2][0], "'=1+2", utf8("失败"),
                                                 utf8("与【甲】的文章重复\r\n第二行"), "", "2", "", "", "", ""}));
    EXPECT_EQ(rows[1][0].size(), 19u);  // 2024-05-01 08:30:20
    EXPECT_EQ(rows[1][0][4], '-');
}

}  // namespace
}  // namespace qj
