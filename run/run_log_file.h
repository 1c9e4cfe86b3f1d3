#pragma once

#include <ctime>
#include <mutex>
#include <optional>

#include "platform/open_file.h"
#include "platform/result.h"
#include "text/types.h"

namespace qj {

// The whole run log of one run, kept as a file beside the articles: `folder` + the run's start time
// ("2024-05-01 09.05.07.txt", with " (2)" and so on when another run started in the same second),
// GBK, CR LF, every line as the run logged it. The window shows only the last lines of a long run;
// this file keeps them all. The file (and its folder) is made with the first line; each line is one
// write, so a kill leaves every line logged before it. Safe for the run's workers.
class RunLogFile {
public:
    RunLogFile(Text folder, const std::tm& startedAt);

    // Appends a whole line. The first failure is returned (later lines are dropped silently: the
    // run says it once).
    [[nodiscard]] Result<void> Append(const Text& line);

    // The file's path once it was made; empty before.
    Text Path() const;

private:
    Result<void> Open();

    const Text folder_;
    const std::tm startedAt_;
    mutable std::mutex mutex_;
    OpenFile file_;
    Text path_;
    bool failed_ = false;
};

// The file name of a run started at `when`, without the number that tells runs of one second apart.
Text RunLogFileStem(const std::tm& when);

}  // namespace qj
