#pragma once

#include <array>
#include <atomic>

#include "checks/check_settings.h"
#include "checks/reply_checks.h"
#include "text/types.h"

namespace qj {

// What the checks found during one run, for its closing lines. Safe for the run's workers.
class CheckFigures {
public:
    void Stopped(ArticleCheck check) { ++stopped_[static_cast<int>(check)]; }
    void Continued() { ++continuations_; }
    void Replaced(int occurrences) { replaced_ += occurrences; }

    long long stopped(ArticleCheck check) const { return stopped_[static_cast<int>(check)].load(); }
    long long continuations() const { return continuations_.load(); }
    long long replaced() const { return replaced_.load(); }
    // Whether any check stopped, continued or replaced anything.
    bool Any() const;

    // One line for the run log: each check that was on with the replies it stopped, the
    // continuations asked for, the banned words replaced.
    Text ClosingLine(const CheckSettings& settings, bool bannedWordsOn) const;

private:
    std::array<std::atomic<long long>, kArticleCheckCount> stopped_{};
    std::atomic<long long> continuations_{0};
    std::atomic<long long> replaced_{0};
};

}  // namespace qj
