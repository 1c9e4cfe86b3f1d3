#pragma once

#include <ctime>
#include <mutex>
#include <optional>
#include <span>

#include "platform/file_system.h"
#include "platform/open_file.h"
#include "text/types.h"

namespace qj {

// Where a keyword taken by a run ended up.
enum class KeywordOutcome { kWritten, kFailed, kSkipped, kReturned };

// One row of the run report: one keyword taken. Texts are GBK.
struct ReportRow {
    std::time_t when = 0;  // when its outcome was settled
    Text keyword{};
    KeywordOutcome outcome = KeywordOutcome::kWritten;
    Text reason{};                          // why it failed or went back; empty for a written or skipped one
    Text endpoint{};                        // the endpoint that answered last, as the run log names it
    int tries = 0;                          // requests made for it, continuations included
    std::optional<long long> characters{};  // of its article, counted as the length check counts
    std::optional<long long> promptTokens{};
    std::optional<long long> completionTokens{};
    Text fileName{};  // of its article in the output folder
};

// A column of the report: its heading and how a row fills its cell (GBK; empty for nothing). The
// report has the columns of ReportColumns() in their order: a feature that adds figures to a row
// adds a field to ReportRow and its column to that table.
struct ReportColumn {
    const char* heading;
    Text (*cell)(const ReportRow& row);
};
std::span<const ReportColumn> ReportColumns();

// The text of an outcome in the report: 已写入, 失败, 跳过, 放回列表.
const char* OutcomeText(KeywordOutcome outcome);

// A CSV cell (UTF-8): quoted when it holds a comma, a quotation mark or a line break; a text that a
// spreadsheet would take for a formula (=, +, -, @ first) gets an apostrophe in front.
std::string CsvCell(std::string_view utf8);

// The report of one run: a CSV file in UTF-8 with a byte-order mark (so that Excel reads it as
// such), a heading line, then one line per keyword, written to the file as it comes so that a
// program killed mid-run leaves the rows written so far readable. Safe for the run's workers.
class RunReport {
public:
    // Makes `folder` when missing and starts folder/<start time>.csv there ("20240501-083015.csv";
    // with "-2", "-3"... when a report of that second exists).
    [[nodiscard]] Result<void> Open(const Text& folder, std::time_t start);
    bool IsOpen() const { return file_.IsOpen(); }
    const Text& path() const { return path_; }

    [[nodiscard]] Result<void> Add(const ReportRow& row);

private:
    std::mutex mutex_;
    OpenFile file_;
    Text path_;
};

}  // namespace qj
