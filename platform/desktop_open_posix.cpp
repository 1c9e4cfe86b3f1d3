#include "platform/desktop_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <system_error>
#include <thread>

#include "text/code_page.h"
#include "text/text_helpers.h"

extern char** environ;

namespace qj {

namespace {

constexpr const char* kOpener = "xdg-open";

}  // namespace

bool OpenOnDesktop(const Text& target) {
    std::string argument = AnsiToUtf8(target);
    // A relative path that starts like an option would be taken for one.
    if (FindText(target, "://") == kNotFound && argument.starts_with('-')) {
        argument.insert(0, "./");
    }
    std::string program = kOpener;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    // The opener ends on its own once it has handed the target on; someone must collect it.
    try {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    } catch (const std::system_error&) {
        ::waitpid(pid, nullptr, 0);
    }
    return true;
}

}  // namespace qj
