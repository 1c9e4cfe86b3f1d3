#include "settings/deployment.h"

#include "settings/ini_file.h"

namespace qj {

namespace {

struct DeploymentKey {
    const char* key;
    Text Deployment::*field;
};

constexpr DeploymentKey kKeys[] = {
    {"OpenAI", &Deployment::openAi},         {"接口一中转站", &Deployment::relayOne},
    {"接口二中转站", &Deployment::relayTwo}, {"接口二API", &Deployment::relayTwoApi},
    {"文心", &Deployment::wenxin},           {"官网", &Deployment::mainSite},
    {"副站", &Deployment::secondarySite},
};

}  // namespace

Deployment DefaultDeployment() {
    return Deployment{
        .openAi = "https://api.openai.com",
        .relayOne = "https://relay-one.example",
        .relayTwo = "https://relay-two.example",
        .relayTwoApi = "https://api.relay-two.example",
        .wenxin = "https://wenxin.baidu.com",
        .mainSite = "https://qingjian.example",
        .secondarySite = "http://www.qingjian.example",
    };
}

Deployment ReadDeployment(const IniDocument& settings) {
    Deployment loaded = DefaultDeployment();
    for (const DeploymentKey& entry : kKeys) {
        Text value = settings.Value(kDeploymentSection, entry.key).value_or(Text());
        while (!value.empty() && value.back() == '/') {
            value.pop_back();
        }
        if (!value.empty()) {
            loaded.*entry.field = std::move(value);
        }
    }
    return loaded;
}

Deployment ReadDeployment(const Text& iniPath) {
    return ReadDeployment(ReadIniDocument(iniPath).value_or(IniDocument()));
}

}  // namespace qj
