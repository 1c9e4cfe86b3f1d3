#include "app/handlers.h"
#include "app/process_state.h"
#include "app/control_names.h"

namespace qj {

namespace {

struct ClickHandler {
    const char* control;
    void (*handler)(WindowModel&);
};

constexpr ClickHandler kClickHandlers[] = {
    {control::kButtonStart, OnStartClicked},
    {control::kButtonStop, OnStopClicked},
    {control::kButtonSaveSettings, OnSaveSettingsClicked},
    {control::kButtonImportKeywords, OnImportKeywordsClicked},
    {control::kButtonViewOutput, OnViewOutputClicked},
    {control::kButtonViewFailedKeywords, OnViewFailedKeywordsClicked},
    {control::kButtonQueryCredit, OnQueryCreditClicked},
    {control::kButtonTest, OnTestClicked},
    {control::kButtonRequeueFailed, OnRequeueFailedClicked},
};

bool Enabled(const WindowModel& window, const Text& control) {
    return window.HasControl(control) && window.GetNumber(control, kPropDisabled) == 0;
}

// The check boxes a run honours keyword by keyword: a click tells a run going on at once.
struct SwitchBox {
    const char* control;
    std::shared_ptr<LiveSwitch> RunSwitches::*live;
};

constexpr SwitchBox kSwitchBoxes[] = {
    {control::kCheckPreview, &RunSwitches::preview},
    {control::kCheckSaveAsHtml, &RunSwitches::asHtml},
    {control::kCheckSkipExisting, &RunSwitches::skipExisting},
};

}  // namespace

void HandleClick(WindowModel& window, const Text& control) {
    if (!Enabled(window, control)) {
        return;
    }
    for (const SwitchBox& box : kSwitchBoxes) {
        if (control == box.control) {
            (LiveRunSwitches().*box.live)->Set(window.GetNumber(control, kPropChecked) != 0);
            return;
        }
    }
    for (const ClickHandler& entry : kClickHandlers) {
        if (control == entry.control) {
            entry.handler(window);
            return;
        }
    }
}

void HandlePageSwitch(WindowModel& window, const Text& control, int page) {
    if (control == control::kTabMain) {
        OnMainPageSwitched(window, page);
    }
}

void HandleDoubleClick(WindowModel& window, const Text& control) {
    if (control == control::kListAdverts && Enabled(window, control)) {
        OnAdvertListDoubleClicked(window);
    }
}

WindowEvents MainWindowEvents() {
    return WindowEvents{
        .clicked = HandleClick,
        .pageSwitched = HandlePageSwitch,
        .doubleClicked = HandleDoubleClick,
    };
}

}  // namespace qj
