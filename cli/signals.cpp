// SPDX-License-Identifier: BSD-3-Clause
// Cleanup on the signals that end the program. Outputs are usually unnamed until they are
// complete, and vanish with the process whatever ends it; the named ones, used where the
// file system has no unnamed files, are removed here before the program dies.
#include "signals.h"

#include "host.h"
#include "terminal.h"

#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <thread>

namespace kpzcli {

namespace {

// Signals whose default action ends the program and that arrive from outside. SIGPIPE is
// among them: a reader that went away ends kpz, as it ends other filters, but cleanly.
constexpr int kCleanupSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGPIPE,
                                   SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};

// Waits for a cleanup signal, removes every named temporary output, puts terminal echo
// back, then dies by the same signal so that the parent sees why we stopped. The signals
// are blocked in every thread and taken here, so the cleanup runs as ordinary code.
void cleanupOnSignal(sigset_t signals) {
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
    kpz::removePendingOutputs();
    restoreTerminalAfterSignal();
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig); // not reached: the default action ends the process
}

} // namespace

void installCleanupHandlers() {
    // Past a file size limit, a write then fails with an error that is reported, instead
    // of the signal ending the program in the middle of a file.
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : kCleanupSignals) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (current.sa_handler != SIG_IGN) sigaddset(&signals, sig);
    }
    // Blocked here, before any other thread exists, so every later thread inherits it.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(cleanupOnSignal, signals).detach();
}

} // namespace kpzcli
