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

#include "run/keyword_queue.h"
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

Tally LinesOf(const Bytes& contents, ListEncoding encoding) {
    Tally tally;
    const std::size_t bom = FormatIn(contents, encoding).bomLength;
    for (const Bytes& line : ListLines(std::string_view(contents).substr(bom), encoding)) {
        ++tally[line];
    }
    return tally;
}

Bytes LineOf(const Text& keyword, ListEncoding encoding) {
    return LineFromKeyword(keyword, encoding) + LineEndOf("", encoding);
}

// A run as the job makes it, driven by a seeded generator: up to three keywords in flight, each
// finished or put back; now and then the list is written, or a line appended to the file as a user
// would. What only the run knows (keywords finished, lines appended) goes into side files right
// after the queue step it follows, so a kill inside the queue never separates the two.
void SimulatedRun(const JobPaths& paths, ListEncoding encoding, unsigned seed, const Text& finishedFile,
                  const Text& appendedFile) {
    std::mt19937 random(seed);
    KeywordQueue queue(paths, std::chrono::hours(1));
    std::vector<Text> inFlight;
    int appended = 0;
    for (int step = 0; step < 400; ++step) {
        const unsigned roll = random() % 100;
        if (roll < 6) {
            ASSERT_TRUE(queue.Flush());
        } else if (roll < 10) {
            const Bytes line = LineOf("追加" + std::to_string(appended++), encoding);
            ASSERT_TRUE(AppendToFile(paths.keywordList, line));
            ASSERT_TRUE(AppendToFile(appendedFile, line));
        } else if (inFlight.size() < 3 && roll < 55) {
            const Result<KeywordQueue::Taken> next = queue.TakeNextKeyword();
            ASSERT_TRUE(next);
            const KeywordQueue::Taken& taken = *next;
            if (taken.kind == KeywordQueue::Taken::Kind::kEnd) {
                break;
            }
            inFlight.push_back(taken.keyword);
        } else if (!inFlight.empty()) {
            const std::size_t pick = random() % inFlight.size();
            const Text keyword = inFlight[pick];
            inFlight.erase(inFlight.begin() + static_cast<std::ptrdiff_t>(pick));
            if (roll % 4 == 0) {
                ASSERT_TRUE(queue.Return(keyword));
            } else {
                ASSERT_TRUE(queue.Finish(keyword));
                ASSERT_TRUE(AppendToFile(finishedFile, LineOf(keyword, encoding)));
            }
        }
    }
}

class KillAtEveryStep : public ::testing::TestWithParam<ListEncoding> {};

TEST_P(KillAtEveryStep, EveryKeywordEndsUpExactlyOnce) {
    const ListEncoding encoding = GetParam();
    testing::TemporaryHome home;
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    const JobPaths paths = JobPathsIn(ProgramFolder());
    const Text finishedFile = ProgramPath("finished.txt");
    const Text appendedFile = ProgramPath("appended.txt");
    // Duplicates, so that a recovery that counts lines or matches by name alone goes wrong.
    // Each list with its mark, which the list keeps whatever happens (GBK has none).
    Bytes list = encoding == ListEncoding::kUtf8      ? "\xEF\xBB\xBF"
                 : encoding == ListEncoding::kUtf16Le ? "\xFF\xFE"
                                                      : "";
    for (int i = 0; i < 24; ++i) {
        list += LineOf("关键词" + std::to_string(i % 7), encoding);
    }
    const Tally original = LinesOf(list, encoding);
    const unsigned seed = 7 + static_cast<unsigned>(encoding) * 4;

    auto reset = [&] {
        for (const Text& file : {paths.journal, finishedFile, appendedFile}) {
            std::filesystem::remove(NativePath(file));
        }
        ASSERT_TRUE(ReplaceFileContents(paths.keywordList, list));
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
    auto run = [&] { SimulatedRun(paths, encoding, seed, finishedFile, appendedFile); };
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
        EXPECT_TRUE(queue.Recover());
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
                ASSERT_TRUE(AppendToFile(paths.journal, "+" + list.substr(list.size() - 5, 3)));
            }
            if (recoveryKilledAt > 0 && !diesAt(recover, recoveryKilledAt)) {
                break;
            }
            ASSERT_FALSE(HasFailure());

            KeywordQueue next(paths, std::chrono::hours(1));
            ASSERT_TRUE(next.Recover());
            const Bytes after = ReadFileBytes(paths.keywordList).value_or("");
            EXPECT_EQ(FormatIn(after, encoding), FormatIn(list, encoding)) << "the list keeps its byte-order mark";
            EXPECT_EQ(next.Format().encoding, encoding) << "read in its own encoding after the kill";
            Tally expected = original;
            for (const auto& [line, count] : LinesOf(ReadFileBytes(appendedFile).value_or(""), encoding)) {
                expected[line] += count;
            }
            Tally found = LinesOf(after, encoding);
            for (const auto& [line, count] : LinesOf(ReadFileBytes(finishedFile).value_or(""), encoding)) {
                found[line] += count;
            }
            ASSERT_EQ(found, expected);

            // And the list is whole again: the next run takes every keyword left in it.
            int left = 0;
            for (const auto& [line, count] : LinesOf(after, encoding)) {
                left += count;
            }
            int taken = 0;
            for (KeywordQueue::Taken t = *next.TakeNextKeyword(); t.kind == KeywordQueue::Taken::Kind::kKeyword;
                 t = *next.TakeNextKeyword()) {
                ASSERT_TRUE(next.Finish(t.keyword));
                ++taken;
            }
            ASSERT_TRUE(next.Flush());
            EXPECT_EQ(taken, left);
            EXPECT_EQ(ReadFileBytes(paths.keywordList).value_or(""),
                      list.substr(0, FormatIn(list, encoding).bomLength));
            EXPECT_EQ(ReadFileBytes(paths.journal).value_or(""), "");
        }
    }
    // Nothing left behind by the writes that a kill cut short.
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(ProgramPath("OpenAi")))) {
        EXPECT_FALSE(entry.path().native().ends_with(".tmp")) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(EachEncoding, KillAtEveryStep,
                         ::testing::Values(ListEncoding::kGbk, ListEncoding::kUtf8, ListEncoding::kUtf16Le),
                         [](const auto& info) {
                             return std::string(info.param == ListEncoding::kGbk    ? "Gbk"
                                                : info.param == ListEncoding::kUtf8 ? "Utf8"
                                                                                    : "Utf16Le");
                         });

}  // namespace
}  // namespace qj
