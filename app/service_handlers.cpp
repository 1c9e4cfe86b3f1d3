#include "app/handlers.h"
#include "app/process_state.h"
#include "services/credit_query.h"
#include "services/wenxin_client.h"
#include "window/control_names.h"

namespace qj {

// The button is not disabled: each click starts a query of its own, and the last to end is shown.
void OnQueryCreditClicked(WindowModel& window) {
    window.SetText(control::kButtonQueryCredit, kPropCaption, "查询中..");
    window.SetText(control::kLabelCredit, kPropContent, "");
    StartCreditQuery(window, CurrentDeployment());
}

void OnTestClicked(WindowModel& window) {
    WenxinTest(window, CurrentDeployment());
}

}  // namespace qj
