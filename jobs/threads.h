// SPDX-License-Identifier: BSD-3-Clause
// How many threads a compression may take: the front ends decide, from their settings and
// what the machine has free (read with usableProcessors and otherRunnableThreads, host.h),
// and pass the count to the job. The rule itself is no system call.
#pragma once

namespace kpz {

// What the user asked for: the machine's choice, or a fixed count (KPZ_THREADS=1 or 2 for
// kpz).
enum class ThreadSetting { Auto, One, Two };

// Threads for one file when busyThreads threads of this program are already busy with
// files (this one among them), processors are usable and otherRunnable threads of other
// work are ready to run: two only while a processor is free for the second thread and,
// for Auto, for the other work too. Two threads that share a processor with other work
// lose to one: the part that waits for its turns holds up the whole file.
unsigned threadsForFile(ThreadSetting setting, unsigned busyThreads, unsigned processors,
                        unsigned otherRunnable);

} // namespace kpz
