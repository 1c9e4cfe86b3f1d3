#pragma once

// A program of this build started as a user starts it from a console: arguments, standard output
// and standard error into files, interrupted as a console user interrupts it (SIGTERM; Ctrl+C in
// its console on Windows) or killed outright (SIGKILL; TerminateProcess).

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <filesystem>
#include <string>
#include <vector>

namespace qj::testing {

// The program `relative` names from the folder of the running test program (Windows), or the
// absolute path `absolute` (elsewhere, where the build hands it over as is).
inline std::filesystem::path BuiltProgram([[maybe_unused]] const char* absolute,
                                          [[maybe_unused]] const char* relative) {
#if defined(_WIN32)
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / std::filesystem::path(relative)).lexically_normal();
#else
    return std::filesystem::path(reinterpret_cast<const char8_t*>(absolute));
#endif
}

class ChildProgram {
public:
    // Output goes to `output`, errors to `output` with ".err" appended.
    ChildProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& output) {
#if defined(_WIN32)
        std::wstring command = L"\"" + program.native() + L"\"";
        for (const std::string& arg : args) {
            command += L" " + std::filesystem::path(arg).native();
        }
        SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const auto create = [&](const std::filesystem::path& path) {
            return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        HANDLE out = create(output);
        HANDLE err = create(output.native() + L".err");
        HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        // A console of its own: Ctrl+C pressed there reaches this program and no other.
        PROCESS_INFORMATION info{};
        if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                           nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
            id_ = info.dwProcessId;
        }
        for (HANDLE h : {in, out, err}) {
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
            }
        }
#else
        std::vector<std::string> all{program.native()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (output.native() + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::unsetenv("DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        // The program starts as from a shell: a signal this test process ignores is not ignored there.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGXFSZ);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
#endif
    }

    ~ChildProgram() {
        Kill();
        Wait();
#if defined(_WIN32)
        if (process_) {
            CloseHandle(process_);
        }
#endif
    }

    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool Started() const {
#if defined(_WIN32)
        return process_ != nullptr;
#else
        return pid_ > 0 || ended_;
#endif
    }

    // The exit code (on POSIX 128 + the signal that ended it); -1 when it never started.
    int Wait() {
#if defined(_WIN32)
        if (!process_) {
            return -1;
        }
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
#else
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            Ended(status);
        }
        if (!ended_) {
            return -1;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
#endif
    }

    // False once the program has ended.
    bool Running() {
#if defined(_WIN32)
        return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
#else
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            Ended(status);
        }
        return pid_ > 0;
#endif
    }

    // What a user's Ctrl+C (or a polite stop) does.
    void Interrupt() {
#if defined(_WIN32)
        if (!Running()) {
            return;
        }
        // Join the program's console for as long as it takes to press Ctrl+C there; this
        // process ignores the key meanwhile and afterwards (the event may reach it late).
        SetConsoleCtrlHandler(nullptr, TRUE);
        FreeConsole();
        if (AttachConsole(id_)) {
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            FreeConsole();
        }
#else
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
        }
#endif
    }

    // An end the program cannot see coming.
    void Kill() {
#if defined(_WIN32)
        if (Running()) {
            TerminateProcess(process_, 137);
        }
#else
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
        }
#endif
    }

private:
#if defined(_WIN32)
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
#else
    void Ended(int status) {
        status_ = status;
        ended_ = true;
        pid_ = -1;
    }
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
#endif
};

}  // namespace qj::testing
