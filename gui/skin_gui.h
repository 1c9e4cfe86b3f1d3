#pragma once

namespace qj {

// Gives every window of the process the built-in skin, colours unadjusted. Start-up calls it once,
// after the QApplication exists and before the main window is shown.
void ApplyBuiltInSkin();

}  // namespace qj
