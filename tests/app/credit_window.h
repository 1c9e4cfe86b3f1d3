#pragma once

// A window in memory with the credit query's controls at hand.

#include "app/control_names.h"
#include "window/window_model.h"

namespace qj::testing {

// The interface chosen and the key given as a click on 查询余额 leaves them, and what the label and
// the button say.
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
