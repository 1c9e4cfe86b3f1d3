#include "batch/batch_lines.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

using Json = nlohmann::json;

Text HexOf(std::uint64_t value) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(value));
    return digits;
}

const Json* Member(const Json& object, const char* name) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(name);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::string StringOf(const Json* value) {
    return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// "code：message" of an error object (either may be missing), GBK on one line.
Text ErrorText(const Json* error) {
    if (error == nullptr) {
        return {};
    }
    if (error->is_string()) {
        return WireToGbk(error->get<std::string>());
    }
    const Text code = WireToGbk(StringOf(Member(*error, "code")));
    const Text message = WireToGbk(StringOf(Member(*error, "message")));
    const Text joined = code.empty() ? message : message.empty() ? code : code + "：" + message;
    return ReplaceAll(ReplaceAll(joined, "\r", " "), "\n", " ");
}

// One line of a result file; false when it is no JSON object with a custom_id.
bool ReadResultLine(std::string_view line, Text& customId, BatchLineResult& result) {
    const Json value = Json::parse(line, nullptr, false);
    customId = StringOf(Member(value, "custom_id"));
    if (value.is_discarded() || customId.empty()) {
        return false;
    }
    const Json* response = Member(value, "response");
    const Json* body = response != nullptr ? Member(*response, "body") : nullptr;
    if (response != nullptr) {
        const Json* status = Member(*response, "status_code");
        result.status = status != nullptr && status->is_number_integer() ? status->get<int>() : 0;
    }
    if (body != nullptr) {
        // A body that came as text (some services send it so) is the reply itself.
        result.body =
            body->is_string() ? body->get<std::string>() : body->dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    result.error = ErrorText(Member(value, "error"));
    if (result.error.empty() && body != nullptr && body->is_object()) {
        result.error = ErrorText(Member(*body, "error"));
    }
    result.ok = result.error.empty() && result.status >= 200 && result.status <= 299 && body != nullptr;
    if (!result.ok && result.error.empty()) {
        result.error = result.status != 0 ? "服务返回了错误（HTTP " + std::to_string(result.status) + "）"
                                          : Text("批量任务没有给出这一行的结果");
    }
    if (!result.ok && result.status != 0 && FindText(result.error, "HTTP ") == kNotFound) {
        result.error += "（HTTP " + std::to_string(result.status) + "）";
    }
    return true;
}

}  // namespace

Text CustomIdOf(std::string_view keyword) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a, 64 bits
    for (const char byte : keyword) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return "qj-" + HexOf(hash);
}

void MakeUniqueCustomIds(TextList& ids) {
    std::map<Text, int> seen;
    for (Text& id : ids) {
        const int count = ++seen[id];
        if (count > 1) {
            // The suffixed id may itself be taken already (a keyword that hashes to it): count on.
            Text candidate;
            for (int n = count;; ++n) {
                candidate = id + "-" + std::to_string(n);
                if (!seen.contains(candidate)) {
                    break;
                }
            }
            ++seen[candidate];
            id = candidate;
        }
    }
}

std::string BatchRequestBody(std::string_view directBody) {
    // In the order the direct request has its fields.
    nlohmann::ordered_json body = nlohmann::ordered_json::parse(directBody, nullptr, false);
    if (!body.is_object()) {
        return std::string(directBody);
    }
    body.erase("stream");
    body.erase("stream_options");
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string BatchInputLine(std::string_view customId, std::string_view chatPath, std::string_view body) {
    const auto quoted = [](std::string_view text) {
        return Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    return "{\"custom_id\":" + quoted(customId) + ",\"method\":\"POST\",\"url\":" + quoted(chatPath) +
           ",\"body\":" + std::string(body) + "}\n";
}

bool PartCutter::Take(std::size_t bytes) {
    if (lines_ > 0 && (lines_ >= maxLines_ || bytes_ + bytes > maxBytes_)) {
        return false;
    }
    ++lines_;
    bytes_ += bytes;
    return true;
}

BatchResults::BatchResults(std::string_view outputFile, std::string_view errorFile) {
    Index(outputFile);
    Index(errorFile);
}

namespace {

// The custom_id of a result line, found by a scan that steps over the nested reply without
// reading it: the key at the line's top level, its value a string without escapes (as every id of
// this program is). Empty when there is none, or when the scan cannot tell.
std::string_view ScannedCustomId(std::string_view line) {
    constexpr std::string_view kKey = "\"custom_id\"";
    int depth = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            if (depth == 1 && line.substr(at).starts_with(kKey)) {
                std::size_t value = line.find_first_not_of(" \t", at + kKey.size());
                if (value == std::string_view::npos || line[value] != ':') {
                    return {};
                }
                value = line.find_first_not_of(" \t", value + 1);
                if (value == std::string_view::npos || line[value] != '"') {
                    return {};
                }
                const std::size_t close = line.find_first_of("\"\\", value + 1);
                return close == std::string_view::npos || line[close] != '"'
                           ? std::string_view()
                           : line.substr(value + 1, close - value - 1);
            }
            // Past the string: an escaped quote does not end it.
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                at += line[at] == '\\' ? 1 : 0;
            }
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return {};
}

}  // namespace

void BatchResults::Index(std::string_view file) {
    for (std::size_t from = 0; from < file.size();) {
        std::size_t end = file.find('\n', from);
        if (end == std::string_view::npos) {
            end = file.size();
        }
        const std::string_view line = TrimAsciiBlanks(file.substr(from, end - from));
        from = end + 1;
        if (line.empty()) {
            continue;
        }
        Text customId(ScannedCustomId(line));
        if (customId.empty()) {
            // An id written with escapes, or none at all: the whole line must tell.
            customId = StringOf(Member(Json::parse(line, nullptr, false), "custom_id"));
        }
        if (customId.empty()) {
            ++unreadable_;
        } else {
            lines_[customId].push_back(line);
        }
    }
}

std::optional<BatchLineResult> BatchResults::Find(const Text& customId) const {
    const auto found = lines_.find(customId);
    if (found == lines_.end()) {
        return std::nullopt;
    }
    std::optional<BatchLineResult> first;
    for (const std::string_view line : found->second) {
        Text id;
        BatchLineResult result;
        if (ReadResultLine(line, id, result)) {
            if (result.ok) {
                return result;
            }
            if (!first) {
                first = std::move(result);
            }
        }
    }
    return first;
}

}  // namespace qj
