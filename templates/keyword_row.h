#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// A line of the keyword list may hold more fields behind the keyword, separated by tabs (as a
// spreadsheet copies its cells). A first line that starts with this mark names the columns, the
// keyword's first: "#列：关键词<TAB>分类<TAB>标签".
inline constexpr std::string_view kColumnHeaderMark = "#\xC1\xD0\xA3\xBA";         // #列：
inline constexpr std::string_view kColumnHeaderMarkAscii = "#\xC1\xD0:";           // #列: (ASCII colon)
inline constexpr std::string_view kKeywordFieldName = "\xB9\xD8\xBC\xFC\xB4\xCA";  // 关键词
inline constexpr std::string_view kColumnNumberPrefix = "\xC1\xD0";                // 列, as in {列2}

// The names a header line gives the columns, in order; an empty name leaves that column to its
// number alone.
struct KeywordColumns {
    std::vector<Text> names;
};

// The columns a line names when it is a header line (GBK text of the line), nullopt otherwise.
// Names are separated by tabs; a header typed by hand without a tab may separate them by blanks
// (spaces, full-width spaces) or commas.
std::optional<KeywordColumns> ReadColumnHeader(std::string_view line);

// One keyword of the list with the fields of its line. The whole line is what the list, the
// journal and the failure list hold; the keyword (the first field) names the article's file and
// stands in the log.
class KeywordRow {
public:
    KeywordRow() = default;
    // The line as the program's text; `columns` as the list's header names them (none: numbers only).
    KeywordRow(Text line, const KeywordColumns* columns);

    const Text& keyword() const { return fields_.front(); }
    const Text& line() const { return line_; }
    // Whether the line holds fields beyond the keyword.
    bool HasColumns() const { return fields_.size() > 1; }

    // A field by name: the keyword's own name (关键词), a name of the header, or 列N for the N-th
    // column (列1 being the keyword). nullopt when no column has that name; an empty text when the
    // column exists but this line leaves it empty or lacks it.
    std::optional<Text> Field(std::string_view name) const;
    // The field's value when the line has one that is not empty, else `fallback` (publishing takes
    // 分类 and 标签 from the row this way).
    Text FieldOr(std::string_view name, const Text& fallback) const;

private:
    Text line_;
    std::vector<Text> fields_{Text()};  // the first is the keyword
    std::vector<Text> names_;           // of the header, when there was one
};

}  // namespace qj
