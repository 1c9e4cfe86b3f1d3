#pragma once

#include "app/window_model.h"
#include "text/types.h"

namespace qj {

// The update page: the program's version in 透明标签_当前版本 at once, then the published version
// notice in 编辑框_最新版本. The window handles its events during the fetch; when another showing
// begins meanwhile, the later one writes the notice.
void ShowVersionTexts(WindowModel& window, const Text& programVersion);

}  // namespace qj
