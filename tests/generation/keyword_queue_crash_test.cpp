// The queue's promise under a kill: whatever step of a run the process dies at, the next run finds
// every keyword exactly once, settled or in the list.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "generation/keyword_queue.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

int g_stepsLeft = -1;  // a simulated run dies when this reaches zero

void CountDownToKill() {
    if (g_stepsLeft > 0 && --g_stepsLeft == 0) {
        ::_exit(0);
    }
}

using Tally = std::map<Bytes, int>;

Tally LinesOf(const Bytes& contents, bool utf8) {
    Tally tally;
    const std::size_t bom = DetectListFormat(contents).bomLength;
    for (const Text& line : ListLines(contents.substr(bom), utf8)) {
        ++tally[line];
    }
    return tally;
}

// A run as the job makes it, driven by a seeded generator: up to three keywords in flight, each
// finished or put back; now and then the list is written, or a line appended to the file as a user
// would. What only the run knows (keywords finished, lines appended) goes into side files right
// after the queue step it follows, so a kill inside the queue never separates the two.
void SimulatedRun(const JobPaths& paths, bool utf8, unsigned seed, const Text& finishedFile, const Text& appendedFile) {
    std::mt19937 random(seed);
    KeywordQueue queue(paths, std::chrono::hours(1));
    std::vector<Text> inFlight;
    int appended = 0;
    for (int step = 0; step < 400; ++step) {
        const unsigned roll = random() % 100;
        if (roll < 6) {
            ASSERT_FALSE(queue.Flush());
        } else if (roll < 10) {
            const Bytes line = LineFromKeyword("追加" + std::to_string(appended++), utf8) + "\r\n";
            ASSERT_FALSE(AppendToFile(paths.keywordList, line));
            ASSERT_FALSE(AppendToFile(appendedFile, line));
        } else if (inFlight.size() < 3 && roll < 55) {
            const KeywordQueue::Taken taken = queue.TakeNextKeyword();
            ASSERT_NE(taken.kind, KeywordQueue::Taken::Kind::kError);
            if (taken.kind == KeywordQueue::Taken::Kind::kEnd) {
                break;
            }
            inFlight.push_back(taken.keyword);
        } else if (!inFlight.empty()) {
            const std::size_t pick = random() % inFlight.size();
            const Text keyword = inFlight[pick];
            inFlight.erase(inFlight.begin() + static_cast<std::ptrdiff_t>(pick));
            if (roll % 4 == 0) {
                ASSERT_FALSE(queue.Return(keyword));
            } else {
                ASSERT_FALSE(queue.Finish(keyword));
                ASSERT_FALSE(AppendToFile(finishedFile, LineFromKeyword(keyword, utf8) + "\r\n"));
            }
        }
    }
}

class KillAtEveryStep : public ::testing::TestWithParam<bool> {};

TEST_P(KillAtEveryStep, EveryKeywordEndsUpExactlyOnce) {
    const bool utf8 = GetParam();
    testing::TemporaryHome home;
    ASSERT_FALSE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    const Text finishedFile = ProgramPath("finished.txt");
    const Text appendedFile = ProgramPath("appended.txt");
    // Duplicates, so that a recovery that counts lines or matches by name alone goes wrong.
    Bytes list = utf8 ? "\xEF\xBB\xBF" : "";
    for (int i = 0; i < 24; ++i) {
        list += LineFromKeyword("关键词" + std::to_string(i % 7), utf8) + "\r\n";
    }
    const Tally original = LinesOf(list, utf8);
    const unsigned seed = utf8 ? 7 : 11;

    auto reset = [&] {
        for (const Text& file : {paths.journal, finishedFile, appendedFile}) {
            std::filesystem::remove(NativePath(file));
        }
        ASSERT_FALSE(ReplaceFileContents(paths.keywordList, list));
    };
    // Runs `work` in a child process that dies before disk change `at`; false when it got to its end.
    auto diesAt = [](const std::function<void()>& work, int at) {
        const pid_t child = ::fork();
        if (child == 0) {
            g_stepsLeft = at;
            KeywordQueue::SetBeforeDiskChange(CountDownToKill);
            work();
            ::_exit(::testing::Test::HasFailure() ? 1 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    auto run = [&] { SimulatedRun(paths, utf8, seed, finishedFile, appendedFile); };
    // The disk changes of the whole run, counted on a run that is not killed.
    reset();
    g_stepsLeft = 0;
    KeywordQueue::SetBeforeDiskChange(+[] { --g_stepsLeft; });
    run();
    KeywordQueue::SetBeforeDiskChange(nullptr);
    const int steps = -g_stepsLeft;
    ASSERT_GT(steps, 60);
    auto recover = [&] {
        KeywordQueue queue(paths, std::chrono::hours(1));
        std::optional<FileError> error;
        queue.Recover(&error);
        EXPECT_FALSE(error);
    };

    for (int killAt = 1; killAt <= steps + 1; ++killAt) {
        // The recovery after a kill may be killed too; tried at every step for some of the kills.
        for (int recoveryKilledAt = 0; recoveryKilledAt == 0 || killAt % 6 == 0; ++recoveryKilledAt) {
            SCOPED_TRACE("killed before disk change " + std::to_string(killAt) + ", then before step " +
                         std::to_string(recoveryKilledAt) + " of the recovery");
            reset();
            diesAt(run, killAt);
            if (killAt % 3 == 0 && std::filesystem::exists(NativePath(paths.journal))) {
                // As if the kill had cut a record short.
                ASSERT_FALSE(AppendToFile(paths.journal, "+" + list.substr(list.size() - 5, 3)));
            }
            if (recoveryKilledAt > 0 && !diesAt(recover, recoveryKilledAt)) {
                break;
            }
            ASSERT_FALSE(HasFailure());

            KeywordQueue next(paths, std::chrono::hours(1));
            std::optional<FileError> error;
            next.Recover(&error);
            ASSERT_FALSE(error);
            const Bytes after = ReadFileBytes(paths.keywordList).value_or("");
            EXPECT_EQ(after.starts_with("\xEF\xBB\xBF"), utf8) << "the list keeps its byte-order mark";
            Tally expected = original;
            for (const auto& [line, count] : LinesOf(ReadFileBytes(appendedFile).value_or(""), utf8)) {
                expected[line] += count;
            }
            Tally found = LinesOf(after, utf8);
            for (const auto& [line, count] : LinesOf(ReadFileBytes(finishedFile).value_or(""), utf8)) {
                found[line] += count;
            }
            ASSERT_EQ(found, expected);

            // And the list is whole again: the next run takes every keyword left in it.
            int left = 0;
            for (const auto& [line, count] : LinesOf(after, utf8)) {
                left += count;
            }
            int taken = 0;
            for (KeywordQueue::Taken t = next.TakeNextKeyword(); t.kind == KeywordQueue::Taken::Kind::kKeyword;
                 t = next.TakeNextKeyword()) {
                ASSERT_FALSE(next.Finish(t.keyword));
                ++taken;
            }
            ASSERT_FALSE(next.Flush());
            EXPECT_EQ(taken, left);
            EXPECT_EQ(ReadFileBytes(paths.keywordList).value_or(""), utf8 ? "\xEF\xBB\xBF" : "");
            EXPECT_EQ(ReadFileBytes(paths.journal).value_or(""), "");
        }
    }
    // Nothing left behind by the writes that a kill cut short.
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(ProgramPath("OpenAi")))) {
        EXPECT_FALSE(entry.path().native().ends_with(".tmp")) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(GbkAndUtf8Lists, KillAtEveryStep, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Utf8" : "Gbk"; });

}  // namespace
}  // namespace qj
