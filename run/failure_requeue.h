#pragma once

#include <optional>

#include "run/keyword_queue.h"

namespace qj {

// Moves every keyword of the failure list to the end of the keyword list, in the list's encoding,
// and empties the failure list; the list's other bytes stay as they are. The move is recorded in an
// intent file first, so that a move cut short by a crash is finished, neither lost nor doubled, by
// FinishInterruptedRequeue. The caller makes sure no run works on the lists meanwhile. Returns
// how many keywords moved.
[[nodiscard]] Result<int> RequeueFailedKeywords(const JobPaths& paths, const Text& intentPath);

// The intent file of the lists of a queue, beside them.
Text RequeueIntentPath(const KeywordQueue& queue);

// Finishes a move that a crash cut short; does nothing when there is none.
[[nodiscard]] Result<void> FinishInterruptedRequeue(const JobPaths& paths, const Text& intentPath);

}  // namespace qj
