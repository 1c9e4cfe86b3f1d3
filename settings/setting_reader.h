#pragma once

#include <map>

#include "settings/ini_file.h"
#include "window/control_table.h"
#include "window/window_model.h"

namespace qj {

// The settings of the main window by name (the control names, which are also the keys of 配置.ini):
// the one way the program reads what a run, a query or a notice needs, whether a window holds the
// settings or only the settings file does.
class SettingReader {
public:
    virtual ~SettingReader() = default;
    // The content of an edit box; empty for a name that is none.
    virtual Text TextOf(const Text& name) const = 0;
    // Whether a check box or radio box is checked; false for a name that is none.
    virtual bool IsChecked(const Text& name) const = 0;
};

// The settings as a window shows them. Read on the window's thread (each read of a toolkit's
// window from another thread would wait for it).
class WindowSettings : public SettingReader {
public:
    explicit WindowSettings(const WindowModel& window) : window_(window) {}
    Text TextOf(const Text& name) const override { return window_.GetText(name, kPropContent); }
    bool IsChecked(const Text& name) const override { return window_.GetNumber(name, kPropChecked) != 0; }

private:
    const WindowModel& window_;
};

// The settings a window of `controls` would show after restoring `document` (RestoreSettings): the
// table's initial states, then every non-empty value of the document in control order, an edit box
// keeping what an edit box keeps (up to a zero byte; one line in a single-line box), a radio box
// that gets checked unchecking the others of its group (same parent and page). No window is made.
class StoredSettings : public SettingReader {
public:
    StoredSettings(ControlTable controls, const IniDocument& document);
    Text TextOf(const Text& name) const override;
    bool IsChecked(const Text& name) const override;

private:
    std::map<Text, Text> texts_;
    std::map<Text, bool> checked_;
};

}  // namespace qj
