#include "cost/price_table.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "settings/ini_file.h"
#include "text/ascii.h"
#include "text/fields.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// A price or factor as written: digits with an optional fraction, never negative.
std::optional<double> ReadAmount(std::string_view typed) {
    double value = 0;
    const auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), value);
    if (error != std::errc() || end != typed.data() + typed.size() || !std::isfinite(value) || value < 0) {
        return std::nullopt;
    }
    return value;
}

// "0.5" or "50%": more than nothing, at most the whole price.
std::optional<double> ReadFactor(std::string_view typed) {
    const bool percent = typed.ends_with('%');
    std::optional<double> value = ReadAmount(percent ? typed.substr(0, typed.size() - 1) : typed);
    if (value && percent) {
        *value /= 100;
    }
    if (!value || *value <= 0 || *value > 1) {
        return std::nullopt;
    }
    return value;
}

bool SameAsciiInsensitive(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Why a line cannot be a row; empty when `row` holds it.
Text ReadRow(const TextList& fields, ModelPrice& row) {
    if (fields.size() < 4) {
        return "应有模型、输入价格、输出价格、货币四项（批量折扣可省略），这一行只有" + std::to_string(fields.size()) +
               "项";
    }
    if (fields.size() > 5) {
        return "多于五项";
    }
    row.model = fields[0];
    if (row.model.ends_with('*')) {
        row.prefix = true;
        row.model.pop_back();
    }
    const std::optional<double> input = ReadAmount(fields[1]);
    const std::optional<double> output = ReadAmount(fields[2]);
    if (!input || !output) {
        return "价格必须是不小于 0 的数字（例如 0.15），现在是：" + (input ? fields[2] : fields[1]);
    }
    row.inputPerMillion = *input;
    row.outputPerMillion = *output;
    row.currency = fields[3];
    if (fields.size() == 5) {
        const std::optional<double> factor = ReadFactor(fields[4]);
        if (!factor) {
            return "批量折扣必须是大于 0、不大于 1 的数字（例如 0.5）或百分数，现在是：" + fields[4];
        }
        row.batchFactor = *factor;
    }
    return {};
}

}  // namespace

const ModelPrice* PriceTable::Find(std::string_view model) const {
    model = TrimAsciiBlanks(model);
    const ModelPrice* best = nullptr;
    for (const ModelPrice& row : rows) {
        if (!row.prefix) {
            if (SameAsciiInsensitive(row.model, model)) {
                return &row;
            }
        } else if (row.model.size() <= model.size() &&
                   SameAsciiInsensitive(row.model, model.substr(0, row.model.size())) &&
                   (best == nullptr || row.model.size() > best->model.size())) {
            best = &row;
        }
    }
    return best;
}

PriceTable ParsePriceTable(std::string_view fileBytes) {
    const Text text = IniDocument::FromFileBytes(fileBytes).text();
    PriceTable table;
    int number = 0;
    for (const Text& rawLine : SplitText(ReplaceAll(text, "\r\n", "\n"), "\n")) {
        ++number;
        const Text line = ReplaceAll(rawLine, "\r", "");
        const TextList fields = BlankSeparatedFields(line);
        if (fields.empty() || fields[0].starts_with('#')) {
            continue;
        }
        ModelPrice row;
        const Text problem = ReadRow(fields, row);
        if (problem.empty()) {
            table.rows.push_back(std::move(row));
        } else {
            table.problems.push_back(Text(kPriceTableTail) + "第" + std::to_string(number) + "行无法使用，已跳过：" +
                                     problem);
        }
    }
    return table;
}

Bytes DefaultPriceTableFile() {
    static constexpr const char* kLines[] = {
        "# 青笺的价格表：每行一个模型，各项以空格或 Tab 分开，依次是",
        "#   模型名称（以 * 结尾表示所有以此开头的模型）",
        "#   输入价格  输出价格（每百万 Token）",
        "#   货币",
        "#   批量接口的折扣（如 0.5 表示半价；可省略，省略时按原价计）",
        "# 以 # 开头的行是说明。下面的价格只是例子，抄自各服务商当时的价目表（日期写在每行前面），",
        "# 价格常有变动，请按服务商现在的价目表修改。程序只在没有这个文件时写出它，从不改动它。",
        "",
        "# OpenAI，2024-07",
        "gpt-4o-mini*      0.15   0.60   美元   0.5",
        "# OpenAI，2024-10",
        "gpt-4o*           2.50   10.00  美元   0.5",
        "# OpenAI，2025-04",
        "gpt-4.1-mini*     0.40   1.60   美元   0.5",
        "# DeepSeek，2025-02",
        "deepseek-chat     2      8      元",
        "# 阿里云百炼（通义千问），2025-01",
        "qwen-plus*        0.8    2      元     0.5",
        "# Moonshot（Kimi），2024-08",
        "moonshot-v1-8k    12     12     元",
    };
    Bytes file;
    for (const char* line : kLines) {
        file += line;
        file += "\r\n";
    }
    return file;
}

PriceTableRead LoadPriceTable(const Text& path) {
    PriceTableRead read;
    Result<Bytes> bytes = ReadFileBytes(path);
    if (!bytes && bytes.error().kind == ErrorKind::kMissing) {
        bytes = DefaultPriceTableFile();
        if (Result<void> written = ReplaceFileContents(path, *bytes); !written) {
            read.failure = written.error();
        }
        read.created = !read.failure;
    } else if (!bytes) {
        read.failure = bytes.error();
        return read;
    }
    read.table = ParsePriceTable(*bytes);
    return read;
}

}  // namespace qj
