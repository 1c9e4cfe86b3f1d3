#pragma once

#include "settings/ini_file.h"
#include "text/types.h"

namespace qj {

// The addresses this installation talks to and shows: origins (scheme, host, optional port, no
// trailing slash), GBK. Compiled-in defaults; the section [部署] of 配置.ini may override each one.
struct Deployment {
    Text openAi;         // key OpenAI: completion and credit-grant URLs, Host lines
    Text relayOne;       // key 接口一中转站: interface one Origin/Referer, usage text
    Text relayTwo;       // key 接口二中转站: interface two Origin/Referer, usage text
    Text relayTwoApi;    // key 接口二API: interface two balance URL and its Host line
    Text wenxin;         // key 文心: Wenxin token and generation URLs
    Text mainSite;       // key 官网: the maker's main site (about text, notices fallback, blog label)
    Text secondarySite;  // key 副站: the maker's secondary site (notices)
};

inline constexpr const char* kDeploymentSection = "\xB2\xBF\xCA\xF0";  // 部署

Deployment DefaultDeployment();

// The defaults with the overrides of the settings file (trailing slashes dropped); a missing file
// or key keeps the default. The program never writes them.
Deployment ReadDeployment(const Text& iniPath);
Deployment ReadDeployment(const IniDocument& settings);

}  // namespace qj
