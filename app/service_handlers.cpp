#include "app/control_names.h"
#include "app/handlers.h"

namespace qj {

// The credit query itself is not part of the program yet; the button shows that it was asked.
void OnQueryCreditClicked(WindowModel& window) {
    window.SetText(control::kButtonQueryCredit, kPropCaption, "查询中..");
    window.SetText(control::kLabelCredit, kPropContent, "");
}

// The Wenxin client is not part of the program yet.
void OnTestClicked(WindowModel&) {}

}  // namespace qj
