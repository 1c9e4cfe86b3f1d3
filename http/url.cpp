#include "http/url.h"

#include <vector>

#include "http/default_headers.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

std::string_view SchemeOf(std::string_view url) {
    if (FindText(url, "http://", 0, true) == 0) {
        return "http";
    }
    if (FindText(url, "https://", 0, true) == 0) {
        return "https";
    }
    return {};
}

// The path with "." and ".." segments removed, as a browser and the Linux transport resolve them.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> kept;
    std::size_t at = 1;  // behind the leading "/"
    bool trailingSlash = false;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view segment = path.substr(at, end - at);
        trailingSlash = false;
        if (segment == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            trailingSlash = true;
        } else if (segment == ".") {
            trailingSlash = true;
        } else {
            kept.push_back(segment);
        }
        at = end + 1;
    }
    std::string out;
    for (const std::string_view segment : kept) {
        out.append("/").append(segment);
    }
    if (out.empty() || trailingSlash) {
        out.push_back('/');
    }
    return out;
}

// Whether the reference names a scheme of its own ("ftp:...", "mailto:..."): letters, digits, "+",
// "-" and "." in front of a colon, starting with a letter.
bool HasScheme(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0 || reference.find_first_of("/?#") < colon) {
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = reference[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> WireUrl(std::string_view url) {
    const bool http = FindText(url, "http://", 0, true) == 0;
    const bool https = FindText(url, "https://", 0, true) == 0;
    if (!http && !https) {
        return std::nullopt;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string wire;
    for (const char c : GbkToWire(url)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            wire.push_back('%');
            wire.push_back(kHex[byte >> 4]);
            wire.push_back(kHex[byte & 15]);
        } else {
            wire.push_back(c);
        }
    }
    return wire;
}

std::string UrlParts::HostPort(bool alwaysWithPort) const {
    std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (alwaysWithPort || explicitPort) {
        name.append(":").append(std::to_string(port));
    }
    return name;
}

std::string UrlParts::Absolute() const {
    return (secure ? "https://" : "http://") + HostPort() + target;
}

std::optional<UrlParts> SplitUrl(std::string_view url) {
    const std::string_view scheme = SchemeOf(url);
    if (scheme.empty()) {
        return std::nullopt;
    }
    UrlParts parts;
    parts.secure = scheme == "https";
    url.remove_prefix(scheme.size() + 3);
    const std::size_t authorityEnd = url.find_first_of("/?#");
    std::string_view authority = url.substr(0, authorityEnd);
    std::string_view rest = authorityEnd == std::string_view::npos ? std::string_view() : url.substr(authorityEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view portText;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        parts.host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            portText = after.substr(1);
            parts.explicitPort = true;
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        parts.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            parts.explicitPort = true;
        }
    }
    if (parts.host.empty()) {
        return std::nullopt;
    }
    for (char& c : parts.host) {
        c = LowerAscii(c);
    }
    parts.port = parts.secure ? 443 : 80;
    if (parts.explicitPort) {
        if (portText.empty() || portText.size() > 5) {
            return std::nullopt;
        }
        int port = 0;
        for (const char c : portText) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) {
            return std::nullopt;
        }
        parts.port = port;
    }
    rest = rest.substr(0, rest.find('#'));
    parts.target = rest.starts_with('/') ? std::string(rest) : "/" + std::string(rest);
    return parts;
}

std::optional<std::string> ResolveRedirect(std::string_view base, std::string_view location) {
    location = TrimAscii(location, kSpaceAndTab);
    if (HasScheme(location)) {
        return SplitUrl(location) ? std::optional<std::string>(location) : std::nullopt;
    }
    const std::optional<UrlParts> from = SplitUrl(base);
    if (!from) {
        return std::nullopt;
    }
    std::string resolved;
    if (location.starts_with("//")) {
        resolved = (from->secure ? "https:" : "http:") + std::string(location);
    } else {
        location = location.substr(0, location.find('#'));
        const std::string origin = (from->secure ? "https://" : "http://") + from->HostPort();
        const std::string_view basePath = std::string_view(from->target).substr(0, from->target.find('?'));
        std::string target;
        if (location.empty()) {
            target = from->target;
        } else if (location.starts_with('?')) {
            target = std::string(basePath) + std::string(location);
        } else {
            const std::size_t queryAt = location.find('?');
            const std::string_view path = location.substr(0, queryAt);
            const std::string_view query = queryAt == std::string_view::npos ? "" : location.substr(queryAt);
            std::string joined = path.starts_with('/')
                                     ? std::string(path)
                                     : std::string(basePath.substr(0, basePath.rfind('/') + 1)) + std::string(path);
            target = RemoveDotSegments(joined) + std::string(query);
        }
        resolved = origin + target;
    }
    return SplitUrl(resolved) ? std::optional<std::string>(resolved) : std::nullopt;
}

bool IsFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool RedirectDropsBody(int method, int status) {
    return method == kMethodPost && (status == 301 || status == 302 || status == 303);
}

}  // namespace qj
