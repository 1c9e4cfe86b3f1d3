#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qj {

// The URL as the transport takes it: UTF-8, with spaces, control bytes and bytes of 0x80 and above
// percent-encoded. nullopt unless it begins with "http://" or "https://" (letters in any case).
[[nodiscard]] std::optional<std::string> WireUrl(std::string_view url);

// The parts of an http or https URL in wire form (see WireUrl).
struct UrlParts {
    bool secure = false;  // https
    std::string host;     // as written, without brackets around an IPv6 address; letters lower-cased
    int port = 0;         // the explicit port, or 80 / 443
    bool explicitPort = false;
    std::string target;   // path and query, beginning with "/"; the fragment is not part of it

    // "host" or "host:port" as a Host line and a CONNECT request name the server: the port only
    // when it is not the scheme's own, brackets around an IPv6 address.
    std::string HostPort(bool alwaysWithPort = false) const;
    // "http://host[:port]/target": the whole URL again, as an absolute request target.
    std::string Absolute() const;
};

// nullopt unless the URL is http or https with a host and a valid port (1..65535). User
// information in front of the host ("user:password@") is left out.
[[nodiscard]] std::optional<UrlParts> SplitUrl(std::string_view wireUrl);

// Where a redirect leads: the Location value resolved against the URL that answered with it
// (absolute, scheme-relative "//host/...", absolute-path, query-only or relative; "." and ".."
// segments removed). nullopt when the result is not an http or https URL.
[[nodiscard]] std::optional<std::string> ResolveRedirect(std::string_view base, std::string_view location);

// Redirects that are followed: 301, 302, 303, 307 and 308.
bool IsFollowedRedirect(int status);

// How many redirects one exchange follows before it fails.
inline constexpr int kMaxRedirects = 10;

// Only POST turns into GET (without its body) on a 301, 302 or 303; every other method keeps its
// verb and body, as on a 307 and 308.
bool RedirectDropsBody(int method, int status);

}  // namespace qj
