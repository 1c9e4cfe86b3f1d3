// Publishes the unpublished articles of the program folder (QINGJIAN_HOME) to the sites listed in
// its file 站点.txt, two workers a site, and ends the program on the spot, as a kill would, when a
// post first reaches the step the argument names (sending, created, confirming, recorded).
// Exit code 70 after such an end; 0 when everything was published, 1 otherwise.

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "publishing/publisher.h"
#include "text/code_page.h"

namespace {

using namespace qj;
using namespace qj::publishing;

constexpr int kEndedAtStep = 70;

class EndAtStep : public PublishObserver {
public:
    explicit EndAtStep(const char* step) : step_(step) {}

    void Log(const Text& line) override { std::printf("%s\n", GbkToWire(line).c_str()); }

    void Reached(PublishStep step, const Text& file, const Text&) override {
        static const char* const names[] = {"sending", "created", "confirming", "recorded"};
        if (std::strcmp(names[static_cast<int>(step)], step_) == 0) {
            std::printf("ended at %s of %s\n", step_, GbkToWire(file).c_str());
            std::fflush(stdout);
#if defined(_WIN32)
            TerminateProcess(GetCurrentProcess(), kEndedAtStep);
#endif
            std::_Exit(kEndedAtStep);
        }
    }

private:
    const char* step_;
};

}  // namespace

int main(int argc, char** argv) {
    const Text folder = ProgramFolder();
    const Result<Bytes> sites = ReadFileBytes(folder + "/站点.txt");
    PublishTexts texts;
    texts.sites = sites.value_or(Bytes());
    PublishSettingsReading reading = ReadPublishSettings(texts, folder);
    reading.settings.workersPerSite = 2;
    EndAtStep observer(argc > 1 ? argv[1] : "");
    std::atomic<bool> stop{false};
    Publisher publisher(reading.settings, PublishFiles::InProgramFolder(folder), observer, stop,
                        [](int, const Text&) { return std::chrono::milliseconds(20); });
    if (publisher.Start()) {
        return 1;
    }
    publisher.PublishFolder();
    const PublishSummary summary = publisher.Finish();
    return summary.failed == 0 && summary.left == 0 ? 0 : 1;
}
