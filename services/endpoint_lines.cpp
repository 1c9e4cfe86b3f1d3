#include "services/endpoint_lines.h"

#include <algorithm>
#include <charconv>

#include "services/chat_urls.h"
#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::string_view kFullWidthBlank = "　";
constexpr std::size_t kMostFields = 4;

// Fields separated by ASCII blanks or the full-width blank an input method types, stepping over
// double-byte characters whole so that no trail byte is taken for the start of a blank.
std::vector<Text> Fields(std::string_view line) {
    std::vector<Text> fields;
    Text field;
    const auto close = [&] {
        if (!field.empty()) {
            fields.push_back(std::move(field));
            field.clear();
        }
    };
    for (std::size_t at = 0; at < line.size();) {
        const auto byte = static_cast<unsigned char>(line[at]);
        if (IsAsciiBlank(line[at])) {
            close();
            ++at;
        } else if (line.substr(at).starts_with(kFullWidthBlank)) {
            close();
            at += kFullWidthBlank.size();
        } else if (byte >= 0x81 && byte <= 0xFE && at + 1 < line.size()) {
            field.append(line.substr(at, 2));
            at += 2;
        } else {
            field.push_back(line[at]);
            ++at;
        }
    }
    close();
    return fields;
}

// %XX escapes of a user name or password (a password may hold '@' or ':').
Text PercentDecoded(std::string_view text) {
    Text decoded;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const long value = text[at] == '%' ? HexNumber(text, at + 1, 2) : -1;
        if (value >= 0) {
            decoded.push_back(static_cast<char>(value));
            at += 2;
        } else {
            decoded.push_back(text[at]);
        }
    }
    return decoded;
}

bool IsPlaceholder(const Text& field) {
    return field == "-";
}

bool SaysDirect(const Text& field) {
    return field == "直连" || (field.size() == 6 && FindText(field, "direct", 0, true) == 0);
}

}  // namespace

Text ProxyAddress::Shown() const {
    return user.empty() ? hostPort : user + "@" + hostPort;
}

ProxyReading ReadProxyAddress(std::string_view typed) {
    ProxyReading reading;
    std::string_view text = TrimAsciiBlanks(typed);
    if (text.empty()) {
        return reading;
    }
    const Text shown(text.substr(text.rfind('@') == std::string_view::npos ? 0 : text.rfind('@') + 1));
    if (FindText(text, "http://", 0, true) == 0) {
        text.remove_prefix(7);
    } else if (text.find("://") != std::string_view::npos) {
        reading.error = "代理地址只支持 http://（例如 http://127.0.0.1:7890），现在是：" + shown;
        return reading;
    }
    while (text.ends_with('/')) {
        text.remove_suffix(1);
    }
    ProxyAddress proxy;
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = text.substr(0, at);
        const std::size_t colon = credentials.find(':');
        proxy.user = PercentDecoded(credentials.substr(0, colon));
        if (colon != std::string_view::npos) {
            proxy.password = PercentDecoded(credentials.substr(colon + 1));
        }
        text.remove_prefix(at + 1);
    }
    // host:port, the host possibly an IPv6 address in brackets.
    const std::size_t colon = text.rfind(':');
    const std::size_t bracket = text.rfind(']');
    if (colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket)) {
        reading.error = "代理地址缺少端口（例如 http://127.0.0.1:7890），现在是：" + shown;
        return reading;
    }
    const std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (host.find(':') != std::string_view::npos && !(host.starts_with('[') && host.ends_with(']'))) {
        reading.error = "代理地址中的IPv6地址要写在方括号里（例如 http://[::1]:7890），现在是：" + shown;
        return reading;
    }
    int port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (host.empty() || host.find_first_of("/?# ") != std::string_view::npos || error != std::errc() ||
        end != portText.data() + portText.size() || port < 1 || port > 65535) {
        reading.error = "代理地址应为 http://[用户名:密码@]主机:端口，现在是：" + shown;
        return reading;
    }
    proxy.hostPort = Text(text);
    reading.proxy = std::move(proxy);
    return reading;
}

EndpointLines ReadEndpointLines(const Text& box) {
    EndpointLines lines;
    const Text normalised = ReplaceAll(ReplaceAll(box, "\r\n", "\n"), "\r", "\n");
    int number = 0;
    for (const Text& raw : SplitText(normalised, "\n")) {
        ++number;
        const std::string_view text = TrimAsciiBlanks(raw);
        if (text.empty() || text.starts_with('#')) {
            continue;
        }
        const Text where = "备用接口第" + std::to_string(number) + "行";
        const std::vector<Text> fields = Fields(text);
        if (fields.empty()) {
            continue;
        }
        if (fields.size() > kMostFields) {
            lines.problems.push_back(where + "无法使用，已跳过：多于4项（应为：API地址 密钥 模型 代理，以空格分开）");
            continue;
        }
        EndpointLine line;
        line.lineNumber = number;
        if (!IsPlaceholder(fields[0])) {
            const ChatEndpoints endpoints = ResolveChatEndpoints(fields[0], "");
            if (!endpoints.error.empty()) {
                lines.problems.push_back(where + "无法使用，已跳过：" + endpoints.error);
                continue;
            }
            line.baseUrl = fields[0];
        }
        if (fields.size() > 1 && !IsPlaceholder(fields[1])) {
            line.key = fields[1];
        }
        if (fields.size() > 2 && !IsPlaceholder(fields[2])) {
            line.model = fields[2];
        }
        if (fields.size() > 3 && !IsPlaceholder(fields[3])) {
            if (SaysDirect(fields[3])) {
                line.proxyChoice = EndpointLine::Proxy::kDirect;
            } else {
                ProxyReading proxy = ReadProxyAddress(fields[3]);
                if (!proxy.proxy) {
                    lines.problems.push_back(where + "无法使用，已跳过：" + proxy.error);
                    continue;
                }
                line.proxyChoice = EndpointLine::Proxy::kOwn;
                line.ownProxy = std::move(*proxy.proxy);
            }
        }
        lines.endpoints.push_back(std::move(line));
    }
    return lines;
}

namespace {

// Whether a parameter of an address carries a secret, judged by its name.
bool NamesASecret(std::string_view name) {
    for (const std::string_view word : {"key", "token", "secret", "pass", "pwd", "auth", "sig", "credential"}) {
        if (FindText(name, word, 0, true) != Text::npos) {
            return true;
        }
    }
    return false;
}

// "name=value&name=value" with the values of secret parameters masked.
Text MaskedParameters(std::string_view parameters) {
    Text masked;
    for (std::size_t at = 0; at <= parameters.size();) {
        const std::size_t end = std::min(parameters.find('&', at), parameters.size());
        const std::string_view parameter = parameters.substr(at, end - at);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos && equals + 1 < parameter.size() &&
            NamesASecret(parameter.substr(0, equals))) {
            masked += Text(parameter.substr(0, equals + 1)) + MaskedKey(Text(parameter.substr(equals + 1)));
        } else {
            masked += parameter;
        }
        if (end < parameters.size()) {
            masked += '&';
        }
        at = end + 1;
    }
    return masked;
}

}  // namespace

Text MaskedUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t authorityAt = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", authorityAt), url.size());
    Text masked(url.substr(0, authorityAt));
    std::string_view authority = url.substr(authorityAt, authorityEnd - authorityAt);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = authority.substr(0, at);
        const std::size_t colon = credentials.find(':');
        const std::string_view user = credentials.substr(0, colon);
        masked += user.empty() ? Text() : MaskedKey(Text(user));
        if (colon != std::string_view::npos) {
            masked += ":***";
        }
        authority.remove_prefix(at);
    }
    masked += authority;
    const std::size_t query = std::min(url.find_first_of("?#", authorityEnd), url.size());
    masked += url.substr(authorityEnd, query - authorityEnd);
    // The query, then the fragment, each a list of parameters.
    for (std::size_t at = query; at < url.size();) {
        const std::size_t end = url[at] == '?' ? std::min(url.find('#', at), url.size()) : url.size();
        masked += url[at];
        masked += MaskedParameters(url.substr(at + 1, end - at - 1));
        at = end;
    }
    return masked;
}

Text MaskedKey(const Text& key) {
    if (key.empty()) {
        return "（无）";
    }
    for (const char c : key) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return "（已填写）";
        }
    }
    if (key.size() <= 8) {
        return key.substr(0, 1) + "…";
    }
    return key.substr(0, 3) + "…" + key.substr(key.size() - 4);
}

}  // namespace qj
