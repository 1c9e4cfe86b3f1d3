#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// What a million tokens cost with one model, as a line of the price table gives it.
struct ModelPrice {
    Text model;  // the name as written; with `prefix`, without its closing "*"
    bool prefix = false;
    double inputPerMillion = 0;
    double outputPerMillion = 0;
    Text currency;             // as written: 美元, 元, USD...
    double batchFactor = 1.0;  // what the provider's batch interface charges of the price
};

// The price table: one model a line, fields separated by blanks or tabs in this order: the model's
// name (a name ending in "*" stands for every model whose name starts with what comes before it),
// the input and the output price per million tokens, the currency, and optionally the factor the
// batch interface charges (0.5, or 50%; 1 when left out). Lines starting with "#" are comments.
struct PriceTable {
    std::vector<ModelPrice> rows;
    TextList problems;  // one log line for each line that cannot be used

    // The row for a model: the one that names it whole, else the longest prefix that fits it; ASCII
    // letters match in either case. Null when none does.
    const ModelPrice* Find(std::string_view model) const;
};

// Reads a price table from the bytes of its file (GBK, UTF-8 or UTF-16 with its mark).
PriceTable ParsePriceTable(std::string_view fileBytes);

// The file the program writes when there is none yet: how to write a line, and a few lines of
// prices with the dates they were taken from the providers' price lists. GBK, CR LF.
Bytes DefaultPriceTableFile();

// The price table of the program folder.
inline constexpr const char* kPriceTableTail = "\xBC\xDB\xB8\xF1.txt";  // 价格.txt

struct PriceTableRead {
    PriceTable table;
    bool created = false;              // the file was missing and has been written
    std::optional<Error> failure;  // it could not be read, or not be written when missing
};
// Reads the price table; a missing one is written with DefaultPriceTableFile first (and those
// prices are used even when it cannot be written). An existing file, whatever it holds, is never
// written.
PriceTableRead LoadPriceTable(const Text& path);

}  // namespace qj
