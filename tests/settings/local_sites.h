#pragma once

#include <string>

#include "settings/deployment.h"

namespace qj::testing {

// Origins for the deployment's addresses; an empty one keeps its default.
struct LocalSites {
    std::string openAi{};
    std::string relayOne{};
    std::string relayTwo{};
    std::string relayTwoApi{};
    std::string wenxin{};
    std::string mainSite{};
    std::string secondarySite{};
};

// The default deployment with the given values in place of the defaults (an empty one keeps it).
inline Deployment DeploymentWith(const LocalSites& sites) {
    Deployment d = DefaultDeployment();
    const auto put = [](Text& field, const std::string& value) {
        if (!value.empty()) {
            field = value;
        }
    };
    put(d.openAi, sites.openAi);
    put(d.relayOne, sites.relayOne);
    put(d.relayTwo, sites.relayTwo);
    put(d.relayTwoApi, sites.relayTwoApi);
    put(d.wenxin, sites.wenxin);
    put(d.mainSite, sites.mainSite);
    put(d.secondarySite, sites.secondarySite);
    return d;
}

// The origin of a local server's port.
inline std::string LocalOrigin(int port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

}  // namespace qj::testing
