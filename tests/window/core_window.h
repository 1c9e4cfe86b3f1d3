#pragma once

// A window for tests below the application: the controls of the main window that the core
// addresses by name, with the kinds, parents, line modes and check states the main window gives
// them (a test of the application compares them with the main window's table), held in memory.

#include <span>

#include "window/control_names.h"
#include "window/control_table.h"
#include "window/memory_window.h"

namespace qj::testing {

inline ControlTable CoreControls() {
    using namespace control;
    namespace k = kind;
    static const ControlRow rows[] = {
        {.name = kCheckSaveAsHtml, .kind = k::kCheck, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kRadioInterfaceTwo, .kind = k::kRadio, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kRadioInterfaceOne, .kind = k::kRadio, .parent = kTabMain, .page = page::kChatGpt, .checked = true},
        {.name = kRadioInterfaceThree, .kind = k::kRadio, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kButtonTest, .kind = k::kButton, .parent = kTabMain, .page = page::kWenxin},
        {.name = kEditWenxinSecretKey, .kind = k::kEdit, .parent = kTabMain, .page = page::kWenxin},
        {.name = kEditWenxinApiKey, .kind = k::kEdit, .parent = kTabMain, .page = page::kWenxin},
        {.name = kCheckPreview, .kind = k::kCheck, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kLabelCredit, .kind = k::kLabel, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kButtonQueryCredit, .kind = k::kButton, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kEditOpenAiKey, .kind = k::kEdit, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kButtonStart, .kind = k::kButton},
        {.name = kListAdverts, .kind = k::kList, .parent = kGroupAdverts},
        {.name = kEditLatestVersion, .kind = k::kEdit, .parent = kGroupUpdate, .multiLine = true},
        {.name = kLabelCurrentVersion, .kind = k::kLabel, .parent = kGroupUpdate},
        {.name = kEditRunLog, .kind = k::kEdit, .multiLine = true},
        {.name = kEditInterfaceThreeBaseUrl, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kEditInterfaceThreeModel, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kEditInterfaceThreeTemperature, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kEditInterfaceThreePrompt,
         .kind = k::kEdit,
         .parent = kTabMain,
         .page = page::kInterfaceThree,
         .multiLine = true},
        {.name = kEditInterfaceThreeSystemPrompt,
         .kind = k::kEdit,
         .parent = kTabMain,
         .page = page::kInterfaceThree,
         .multiLine = true},
        {.name = kEditConcurrency, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kEditRetryCount, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kCheckSkipExisting, .kind = k::kCheck, .parent = kTabMain, .page = page::kChatGpt},
        {.name = kProgressRun, .kind = k::kProgress},
        {.name = kEditInterfaceThreeProxy, .kind = k::kEdit, .parent = kTabMain, .page = page::kInterfaceThree},
        {.name = kEditInterfaceThreeBackups,
         .kind = k::kEdit,
         .parent = kTabMain,
         .page = page::kInterfaceThree,
         .multiLine = true},
    };
    return rows;
}

class CoreWindow : public MemoryWindow {
public:
    CoreWindow() : MemoryWindow(CoreControls()) {}
};

// A window in memory with the credit query's controls at hand: the interface chosen and the key
// given as a click on 查询余额 leaves them, and what the label and the button say.
template <class Window>
class CreditControls : public Window {
public:
    using Window::Window;

    void Choose(int interfaceNumber, const Text& key) {
        this->SetNumber(interfaceNumber == 1 ? control::kRadioInterfaceOne : control::kRadioInterfaceTwo, kPropChecked,
                        1);
        this->SetText(control::kEditOpenAiKey, kPropContent, key);
        this->SetText(control::kButtonQueryCredit, kPropCaption, "查询中..");
    }
    Text Label() const { return this->GetText(control::kLabelCredit, kPropContent); }
    Text Caption() const { return this->GetText(control::kButtonQueryCredit, kPropCaption); }
};

}  // namespace qj::testing
