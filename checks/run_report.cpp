#include "checks/run_report.h"

#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/local_time.h"
#include "platform/program_folder.h"
#include "text/code_page.h"

namespace qj {

namespace {

Text Number(const std::optional<long long>& value) {
    return value ? std::to_string(*value) : Text();
}

Text TimeText(std::time_t when) {
    const std::tm t = LocalTime(when);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

const std::array<ReportColumn, 10> kColumns{{
    {"时间", [](const ReportRow& r) { return TimeText(r.when); }},
    {"关键词", [](const ReportRow& r) { return r.keyword; }},
    {"结果", [](const ReportRow& r) { return Text(OutcomeText(r.outcome)); }},
    {"原因", [](const ReportRow& r) { return r.reason; }},
    {"端点", [](const ReportRow& r) { return r.endpoint; }},
    {"请求次数", [](const ReportRow& r) { return r.tries > 0 ? std::to_string(r.tries) : Text(); }},
    {"字数", [](const ReportRow& r) { return Number(r.characters); }},
    {"输入Token", [](const ReportRow& r) { return Number(r.promptTokens); }},
    {"输出Token", [](const ReportRow& r) { return Number(r.completionTokens); }},
    {"文件名", [](const ReportRow& r) { return r.fileName; }},
}};

std::string CsvLine(const std::vector<Text>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += CsvCell(AnsiToUtf8(cells[i]));
    }
    return line + "\r\n";
}

}  // namespace

std::span<const ReportColumn> ReportColumns() {
    return kColumns;
}

const char* OutcomeText(KeywordOutcome outcome) {
    switch (outcome) {
        case KeywordOutcome::kWritten:
            return "已写入";
        case KeywordOutcome::kFailed:
            return "失败";
        case KeywordOutcome::kSkipped:
            return "跳过";
        case KeywordOutcome::kReturned:
            break;
    }
    return "放回列表";
}

std::string CsvCell(std::string_view utf8) {
    std::string cell;
    if (!utf8.empty() && std::string_view("=+-@").find(utf8.front()) != std::string_view::npos) {
        cell.push_back('\'');
    }
    cell.append(utf8);
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (const char c : cell) {
        quoted += c;
        if (c == '"') {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

Result<void> RunReport::Open(const Text& folder, std::time_t start) {
    std::lock_guard lock(mutex_);
    if (Result<void> e = EnsureFolder(folder); !e) {
        return e;
    }
    const std::tm t = LocalTime(start);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    const Text base = folder + (folder.ends_with('/') ? "" : "/") + stamp;
    for (int n = 1;; ++n) {
        path_ = base;
        if (n > 1) {
            path_ += '-' + std::to_string(n);
        }
        path_ += ".csv";
        if (file_.Open(NativePath(path_), OpenFile::Mode::kCreateNew)) {
            break;
        }
        if (file_.Error() != EEXIST || n == 100) {
            return FileFailure(path_, file_.Error());
        }
    }
    std::vector<Text> headings;
    for (const ReportColumn& column : kColumns) {
        headings.emplace_back(column.heading);
    }
    std::string opening = "\xEF\xBB\xBF";  // UTF-8's byte-order mark
    opening += CsvLine(headings);
    if (!file_.WriteAll(opening)) {
        const int error = file_.Error();
        file_.Close();
        return FileFailure(path_, error);
    }
    return Success();
}

Result<void> RunReport::Add(const ReportRow& row) {
    std::vector<Text> cells;
    for (const ReportColumn& column : kColumns) {
        cells.push_back(column.cell(row));
    }
    const std::string line = CsvLine(cells);
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) {
        return Success();
    }
    // One write per row: a kill leaves whole rows, at worst the end of the last one missing.
    if (!file_.WriteAll(line)) {
        return FileFailure(path_, file_.Error());
    }
    return Success();
}

}  // namespace qj
