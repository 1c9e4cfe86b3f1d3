#pragma once

#include <atomic>

namespace qj {

// Set by the Stop button, cleared when a job starts; the job looks at it between keywords.
inline std::atomic<bool> StopRequested{false};

}  // namespace qj
