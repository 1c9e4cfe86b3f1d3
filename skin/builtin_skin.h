#pragma once

#include <string_view>

namespace qj {

// The skin the program carries: a style sheet (UTF-8) giving every window of the process one look,
// light panels with blue accents. It styles widget classes only, never single widgets, and leaves
// the text colour of labels and the text and base colours of edit boxes alone, so colours a window
// gives its own controls stay as they are.
std::string_view BuiltInSkin();

}  // namespace qj
