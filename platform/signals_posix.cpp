#include "platform/signals.h"

#include <signal.h>

#include <csignal>

namespace qj {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
std::atomic<std::atomic<bool>*> g_stop{nullptr};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free,
              "set from a signal handler");

void OnInterrupt(int) {
    g_interrupted = 1;
    if (std::atomic<bool>* stop = g_stop.load()) {
        stop->store(true);
    }
}

}  // namespace

InterruptWatch::InterruptWatch(std::atomic<bool>& stop) {
    g_interrupted = 0;
    g_stop.store(&stop);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

InterruptWatch::~InterruptWatch() {
    End();
}

bool InterruptWatch::End() {
    if (watching_) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        g_stop.store(nullptr);
        watching_ = false;
    }
    return g_interrupted != 0;
}

bool InterruptWatch::Interrupted() const {
    return g_interrupted != 0;
}

namespace {

void IgnoreUnlessHandled(int signalNumber) {
    struct sigaction current = {};
    if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        signal(signalNumber, SIG_IGN);
    }
}

}  // namespace

void IgnoreBrokenPipes() {
    IgnoreUnlessHandled(SIGPIPE);
}

void IgnoreFileSizeLimitSignal() {
    IgnoreUnlessHandled(SIGXFSZ);
}

}  // namespace qj
