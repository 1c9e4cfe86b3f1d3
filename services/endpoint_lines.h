#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// An HTTP proxy as the user wrote it: "http://[user:password@]host:port" or "host:port".
struct ProxyAddress {
    Text hostPort;  // "127.0.0.1:7890"
    Text user;      // percent-escapes decoded; empty: no credentials
    Text password;

    // For the run log: host, port and user, never the password.
    Text Shown() const;
};

struct ProxyReading {
    std::optional<ProxyAddress> proxy;  // nullopt: direct (nothing typed) or unreadable
    Text error;                         // why it cannot be used (GBK); empty when it can
};

// Reads a proxy typed by the user; blanks around it do not count, an empty text means direct.
ProxyReading ReadProxyAddress(std::string_view typed);

// One line of the backup endpoint box: "API地址 [密钥 [模型 [代理]]]", fields separated by blanks.
// "-" in the first three fields, or a field left out, means the main setting's value. The fourth
// field is a proxy of the line's own, "-" (or nothing) for the proxy box, or "直连"/"direct" for no
// proxy at all.
struct EndpointLine {
    int lineNumber = 0;  // in the box, from 1
    Text baseUrl;        // empty: the main API地址
    Text key;            // empty: the main key
    Text model;          // empty: the main model
    enum class Proxy { kCommon, kDirect, kOwn } proxyChoice = Proxy::kCommon;
    ProxyAddress ownProxy;  // with kOwn
};

struct EndpointLines {
    std::vector<EndpointLine> endpoints;
    std::vector<Text> problems;  // one run-log line per line that cannot be used (GBK, no key in it)
};

// Reads the backup endpoint box. Empty lines and lines starting with "#" are skipped; a line that
// cannot be used is left out with a problem saying which line and why.
EndpointLines ReadEndpointLines(const Text& box);

// A key for the run log: its first three and last four characters ("sk-…a1b2"), or "（无）".
Text MaskedKey(const Text& key);

// An address for the run log, its secrets masked: the user name of "user:password@" as a key
// (MaskedKey), the password as "***", and the value of every query or fragment parameter whose name
// speaks of a key, token, secret, password, signature or credentials ("key", "api_key",
// "access_token", ...; letters in any case) as a key. The rest stays as written.
Text MaskedUrl(std::string_view url);

}  // namespace qj
