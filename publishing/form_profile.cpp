#include "publishing/form_profile.h"

#include "platform/file_system.h"
#include "settings/ini_file.h"
#include "text/code_page.h"
#include "text/regex_matcher.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

bool IsWebAddress(std::string_view url) {
    return FindText(url, "http://", 0, true) == 0 || FindText(url, "https://", 0, true) == 0;
}

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FindText(a, b, 0, true) == 0;
}

// One step's keys; the reason when they cannot be used.
std::optional<Text> ReadStep(const IniDocument& document, const Text& section, FormStep& step) {
    step.url = TrimSpaces(document.Value(section, "地址").value_or(Text()));
    if (!IsWebAddress(step.url)) {
        return "[" + section + "]的地址应以 http:// 或 https:// 开头";
    }
    const Text method = TrimSpaces(document.Value(section, "方法").value_or("POST"));
    if (SameWord(method, "GET")) {
        step.post = false;
    } else if (!SameWord(method, "POST") && !method.empty()) {
        return "[" + section + "]的方法只能是 POST 或 GET";
    }
    step.fields = document.Value(section, "字段").value_or(Text());
    step.successMarker = document.Value(section, "成功标记").value_or(Text());
    step.failureMarker = document.Value(section, "失败标记").value_or(Text());
    return std::nullopt;
}

Text InFormEncoding(std::string_view gbk, FormEncoding encoding) {
    return encoding == FormEncoding::kUtf8 ? GbkToWire(gbk) : Text(gbk);
}

// The fields with each known placeholder replaced by `escape` of its value; literal text as
// written.
template <class Escape>
Text Substitute(std::string_view fields, const FormValues& values, FormEncoding encoding, Escape escape) {
    Text out;
    std::size_t literal = 0;
    for (std::size_t open = FindText(fields, "{"); open != kNotFound; open = FindText(fields, "{", open + 1)) {
        const std::size_t close = FindText(fields, "}", open);
        if (close == kNotFound) {
            break;
        }
        const auto value = values.find(Text(fields.substr(open, close - open + 1)));
        if (value == values.end()) {
            continue;
        }
        out += InFormEncoding(fields.substr(literal, open - literal), encoding);
        out += escape(InFormEncoding(value->second, encoding));
        literal = close + 1;
        open = close;
    }
    out += InFormEncoding(fields.substr(literal), encoding);
    return out;
}

Text FormEscape(std::string_view bytes) {
    return UrlEncode(bytes, true, false);
}

}  // namespace

FormProfileReading ParseFormProfile(std::string_view bytes, const Text& file) {
    const IniDocument document = IniDocument::FromFileBytes(bytes);
    FormProfile profile;
    profile.file = file;
    if (!document.Value("发布", "地址")) {
        return {std::nullopt, "缺少[发布]节的地址"};
    }
    if (std::optional<Text> error = ReadStep(document, "发布", profile.publish)) {
        return {std::nullopt, *error};
    }
    if (profile.publish.successMarker.empty()) {
        return {std::nullopt, "[发布]缺少成功标记：没有它就无法确认文章已经发布"};
    }
    if (document.Value("登录", "地址")) {
        FormStep login;
        if (std::optional<Text> error = ReadStep(document, "登录", login)) {
            return {std::nullopt, *error};
        }
        profile.login = login;
    }
    const Text encoding = TrimSpaces(document.Value("发布", "编码").value_or("GBK"));
    if (SameWord(encoding, "UTF-8") || SameWord(encoding, "UTF8")) {
        profile.encoding = FormEncoding::kUtf8;
    } else if (!SameWord(encoding, "GBK") && !SameWord(encoding, "GB2312") && !encoding.empty()) {
        return {std::nullopt, "[发布]的编码只能是 GBK 或 UTF-8"};
    }
    const Text format = TrimSpaces(document.Value("发布", "格式").value_or("urlencoded"));
    if (SameWord(format, "multipart")) {
        profile.format = FormFormat::kMultipart;
    } else if (!SameWord(format, "urlencoded") && !format.empty()) {
        return {std::nullopt, "[发布]的格式只能是 urlencoded 或 multipart"};
    }
    if (profile.format == FormFormat::kMultipart && !profile.publish.post) {
        return {std::nullopt, "multipart 格式只能用 POST 方法"};
    }
    profile.listUrl = TrimSpaces(document.Value("列表", "地址").value_or(Text()));
    if (!profile.listUrl.empty() && !IsWebAddress(profile.listUrl)) {
        return {std::nullopt, "[列表]的地址应以 http:// 或 https:// 开头"};
    }
    return {profile, {}};
}

FormProfileReading ReadFormProfile(const Text& file) {
    const Result<Bytes> read = ReadFileOrEmpty(file);
    if (!read) {
        return {std::nullopt, "读不出表单配置文件：" + Describe(read.error())};
    }
    const Bytes& bytes = *read;
    if (bytes.empty()) {
        return {std::nullopt, "表单配置文件不存在或是空的：" + file};
    }
    return ParseFormProfile(bytes, file);
}

bool MarkerFound(const Text& marker, const Text& page) {
    if (marker.size() > 2 && marker.starts_with("/") && marker.ends_with("/")) {
        RegexMatcher matcher;
        return matcher.Run(marker.substr(1, marker.size() - 2), page, true, true, false) && matcher.MatchCount() > 0;
    }
    return !marker.empty() && FindText(page, marker) != kNotFound;
}

FormBody BuildFormBody(std::string_view fields, const FormValues& values, FormEncoding encoding, FormFormat format,
                       Text boundary) {
    if (format == FormFormat::kUrlEncoded) {
        return {Substitute(fields, values, encoding, FormEscape), "application/x-www-form-urlencoded"};
    }
    std::vector<std::pair<Text, Text>> parts;
    for (const Text& pair : SplitText(fields, "&")) {
        const std::size_t equals = pair.find('=');
        const std::string_view name = std::string_view(pair).substr(0, equals);
        const std::string_view value = equals == Text::npos ? std::string_view() : std::string_view(pair).substr(equals + 1);
        parts.emplace_back(InFormEncoding(name, encoding),
                           Substitute(value, values, encoding, [](const Text& bytes) { return bytes; }));
    }
    const auto clash = [&] {
        for (const auto& [name, value] : parts) {
            if (name.find(boundary) != Text::npos || value.find(boundary) != Text::npos) {
                return true;
            }
        }
        return false;
    };
    while (clash()) {
        boundary += "-qj";
    }
    Bytes body;
    for (const auto& [name, value] : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return {body, "multipart/form-data; boundary=" + boundary};
}

}  // namespace qj::publishing
