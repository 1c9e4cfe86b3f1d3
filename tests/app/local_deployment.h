#pragma once

#include <stdexcept>
#include <string>

#include "app/process_state.h"
#include "local_sites.h"
#include "platform/program_folder.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"

namespace qj::testing {

// Points the deployment at local servers for the life of the object, the way an installation does:
// the values go into the section [部署] of 配置.ini in the program folder (a TemporaryHome) and are
// read as start-up reads them. The defaults come back afterwards.
class LocalDeployment {
public:
    explicit LocalDeployment(const LocalSites& sites) {
        const Text ini = ProgramPath(kSettingsFileTail);
        Write(ini, "OpenAI", sites.openAi);
        Write(ini, "\xBD\xD3\xBF\xDA\xD2\xBB\xD6\xD0\xD7\xAA\xD5\xBE", sites.relayOne);  // 接口一中转站
        Write(ini, "\xBD\xD3\xBF\xDA\xB6\xFE\xD6\xD0\xD7\xAA\xD5\xBE", sites.relayTwo);  // 接口二中转站
        Write(ini,
              "\xBD\xD3\xBF\xDA\xB6\xFE"
              "API",
              sites.relayTwoApi);                             // 接口二API
        Write(ini, "\xCE\xC4\xD0\xC4", sites.wenxin);         // 文心
        Write(ini, "\xB9\xD9\xCD\xF8", sites.mainSite);       // 官网
        Write(ini, "\xB8\xB1\xD5\xBE", sites.secondarySite);  // 副站
        LoadDeployment(ini);
    }
    ~LocalDeployment() { LoadDeployment(ProgramPath("no-deployment.ini")); }

    LocalDeployment(const LocalDeployment&) = delete;
    LocalDeployment& operator=(const LocalDeployment&) = delete;

private:
    static void Write(const Text& ini, const Text& key, const std::string& origin) {
        if (!origin.empty() && !WriteIniValue(ini, kDeploymentSection, key, origin)) {
            throw std::runtime_error("the test deployment cannot be written");
        }
    }
};

}  // namespace qj::testing
