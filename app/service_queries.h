#pragma once

#include "services/credit_query.h"
#include "window/window_model.h"

namespace qj {

// The queries of the main window's service buttons: what they read from the window and how their
// answers show there.

// What 查询余额 asks, read from the window's interface choice, key and interface-three address.
CreditQueryInputs CreditQueryInputsFrom(const WindowModel& window, const Deployment& deployment);

// One whole query on the calling thread, read from the window and shown there: the result in
// 透明标签3 and the button's caption back, or the failure message box after the caption is back.
void QueryCredit(WindowModel& window, const Deployment& deployment);

// The same with the query on a worker thread of its own that nobody waits for (several may run at
// once); it shows its answer in the window before it ends. The window must outlive the worker (the
// program's window lives until the process ends).
void StartCreditQuery(WindowModel& window, const Deployment& deployment);

// Workers of StartCreditQuery that have not ended yet.
int RunningCreditQueries();

// The Wenxin test with the two keys of the window; the window keeps handling its events during
// each exchange, and a refused token is logged in its run log.
void RunWenxinTest(WindowModel& window, const Deployment& deployment);

}  // namespace qj
