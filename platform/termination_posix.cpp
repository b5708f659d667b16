// SPDX-License-Identifier: BSD-3-Clause
// Cleanup on the signals that end the window program: they are blocked in every thread and
// taken by one thread of their own, so that the cleanup runs as ordinary code, never inside
// a signal handler that may have interrupted a lock it needs.
#include "termination.h"

#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <thread>

namespace platform {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void cleanUpOnSignal(sigset_t signals, void (*cleanup)()) {
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
    cleanup();
    // Dies by the same signal, with its default action.
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig); // not reached: the default action ends the process
}

} // namespace

void cleanUpOnTermination(void (*cleanup)()) {
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : kEndingSignals) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (current.sa_handler != SIG_IGN) sigaddset(&signals, sig);
    }
    // Blocked before any other thread exists, so every later thread inherits it.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(cleanUpOnSignal, signals, cleanup).detach();
}

} // namespace platform
