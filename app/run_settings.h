#pragma once

#include "app/process_state.h"
#include "run/run_inputs.h"
#include "settings/deployment.h"
#include "settings/setting_reader.h"

namespace qj {

// The one place that knows which settings a run reads: the run's inputs from the main window's
// settings by name, the same whether the window shows them (at the click on 开始) or only 配置.ini
// holds them (the batch mode), with the deployment's hosts and the files of the program folder.
// Numbers are bounded as the boxes say; interface three's settings are resolved and checked here
// (why they cannot work is kept for the run to say, as it always has, with the first keyword). The
// switches a run honours keyword by keyword are set from the settings and handed to the run as
// they are, so that whoever holds them may change them while the run goes on.
RunInputs ReadRunInputs(const SettingReader& settings, const Deployment& deployment, const Text& programFolder,
                        const RunSwitches& switches);

// Interface three's settings as typed.
InterfaceThreeSettings ReadChatSettings(const SettingReader& settings);

// The article checks' settings as typed.
CheckSettingsText ReadCheckSettingsText(const SettingReader& settings);

// The interface the radio boxes choose.
Interface ChosenInterface(const SettingReader& settings);

}  // namespace qj
