#pragma once

#include "settings/ini_file.h"
#include "window/window_model.h"

namespace qj {

// Handlers of the main window. They run on the window's thread and address the window they are
// given, so the Qt window and the in-memory window share them.

// The created sequence: version, about text in the run log, control states from 配置.ini (a
// settings file that cannot be read, or that is not GBK, is named in the run log).
void OnMainWindowCreated(WindowModel& window);
// The same with 配置.ini already read.
void OnMainWindowCreated(WindowModel& window, const IniRead& settings);

// What the run log says of the settings file as it was read: that it could not be read (a missing
// one is normal), or that it is not GBK.
void LogSettingsFileNotes(const IniRead& settings);

void OnStartClicked(WindowModel& window);
void OnStopClicked(WindowModel& window);
void OnSaveSettingsClicked(WindowModel& window);
void OnImportKeywordsClicked(WindowModel& window);
void OnViewOutputClicked(WindowModel& window);
void OnViewFailedKeywordsClicked(WindowModel& window);
void OnQueryCreditClicked(WindowModel& window);
void OnTestClicked(WindowModel& window);
void OnRequeueFailedClicked(WindowModel& window);
void OnMainPageSwitched(WindowModel& window, int page);
void OnAdvertListDoubleClicked(WindowModel& window);

// Events by control name, as the windows report them. A click on a disabled control, or on a
// control without a handler, does nothing.
void HandleClick(WindowModel& window, const Text& control);
void HandlePageSwitch(WindowModel& window, const Text& control, int page);
void HandleDoubleClick(WindowModel& window, const Text& control);

// The three above, ready to hand to a window.
WindowEvents MainWindowEvents();

}  // namespace qj
