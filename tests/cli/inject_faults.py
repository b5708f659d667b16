#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Fails each system call of a kpz run in turn and checks what the run leaves behind.

For every scenario (compress, restore, each replacing an older output, each with --rm) the
script first counts the system calls a clean run makes (strace -f -c), then runs the
scenario again in a fresh folder once per call name and occurrence, with that one
occurrence failed by strace's fault injection. After each run:

  exit 0:     the folder holds exactly the expected files, byte for byte (the output the
              clean run made, the restored original), and the input is gone exactly when
              --rm was given;
  non-zero:   the folder holds exactly what it held before, byte for byte (inputs and older
              outputs untouched, no temporary or partial file), and stderr says something;
              or, with --rm, when only the removal failed: the input is there as before,
              the output is complete and right, and stderr says the input was kept. A file
              of several members is restored member by member: a failure may leave the
              members before the failed one restored, each complete and right.

Each scenario runs twice: as the system gives it, where outputs are created without a
name (O_TMPFILE), and with that creation refused as file systems without unnamed files
refuse it, so that kpz writes under a random temporary name and renames.

Two more checks for --rm: the input goes only after the output and its folder were
flushed to disk (fsync or fdatasync of the output after its last write, and of the folder
after the output got its name), and an input replaced by another file after it was read
(here: while kpz is held just after naming its output) is not removed.

A failure the program cannot see (say, the close of a descriptor it only read) may still
end in exit 0: that is fine as long as the outputs are right.

Usage: inject_faults.py KPZ [--cap N] [--jobs N] [--only TEXT] [--call NAME] [--verbose]
Exits 0 when every injected failure was handled, 1 when one was not, 77 when strace is
missing or cannot trace here (the test is then skipped).
"""

import argparse
import concurrent.futures
import math
import os
import random
import re
import signal
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77

# Calls whose failure says nothing about file handling: memory, threads, signals, the
# process itself. Failing them tests the C library and the loader, not kpz.
NOT_INJECTED = {
    "execve", "brk", "mmap", "munmap", "mprotect", "madvise", "mremap", "arch_prctl",
    "set_tid_address", "set_robust_list", "rseq", "prlimit64", "rt_sigaction",
    "rt_sigprocmask", "rt_sigreturn", "rt_sigtimedwait", "sigaltstack", "clone", "clone3",
    "exit", "exit_group", "futex", "getpid", "gettid", "getuid", "geteuid", "getgid",
    "getegid", "sched_getaffinity", "sched_yield", "tgkill", "kill", "restart_syscall",
}

# Writes fail as on a full disk; every other call with an I/O error.
NO_SPACE = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "fallocate",
            "copy_file_range", "sendfile"}

OLD_BYTES = b"an older file that must survive any failure\n" * 3


def audio_like(size, seed):
    """Interleaved 16-bit stereo: two sines with a little noise, deterministic per seed."""
    rng = random.Random(seed)
    samples = []
    for frame in range(size // 4 + 1):
        for amplitude, step in ((9000, 0.031), (7000, 0.047)):
            samples.append(int(amplitude * math.sin(frame * step + seed)) + rng.randint(-40, 40))
    return struct.pack("<%dh" % len(samples), *samples)[:size]


class Scenario:
    def __init__(self, name, before, args, after, named_after=0, members=None):
        self.name = name
        self.before = before  # file name -> bytes, the folder before the run
        self.args = args
        self.after = after  # file name -> bytes, the folder after a successful run
        # With --rm, the removal comes after the output got its name: when it fails, the
        # input stays beside its complete output.
        self.kept = dict(before, **after) if "--rm" in args else None
        # The outputs of a file with several members, in their order: the folder after a
        # failure may hold the first ones.
        self.members = members or []
        self.restored_in_part = [
            dict(before, **{m: after[m] for m in self.members[:k]})
            for k in range(1, len(self.members))]
        # When not 0: the occurrence of openat that creates the unnamed output, refused in
        # every run of the scenario.
        self.named_after = named_after

    def strace_options(self, call=None, n=0, error=""):
        """strace's options for a run failing occurrence n of call (no call: none)."""
        traced = {call} if call else set()
        injections = []
        refused = "inject=openat:error=EOPNOTSUPP:when=%d" % self.named_after
        if self.named_after:
            traced.add("openat")
            if call == "openat":
                # One rule per call: a later occurrence is failed through the rule's step
                # (with EOPNOTSUPP, which is as much a failure as any).
                refused += "+%d" % (n - self.named_after)
            injections += ["-e", refused]
        if call and not (self.named_after and call == "openat"):
            injections += ["-e", "inject=%s:error=%s:when=%d" % (call, error, n)]
        if not call:
            return injections  # every call traced, for counting them
        return ["-e", "trace=" + ",".join(sorted(traced))] + injections


def folder_state(folder):
    state = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isfile(path) and not os.path.islink(path):
            with open(path, "rb") as f:
                state[name] = f.read()
        else:
            state[name] = None  # anything but a regular file is a stray
    return state


def describe_difference(found, wanted):
    """What differs between two folder states, in words; empty when they are equal."""
    notes = []
    for name in sorted(set(found) | set(wanted)):
        if name not in found:
            notes.append("%s missing" % name)
        elif name not in wanted:
            size = "not a file" if found[name] is None else "%d bytes" % len(found[name])
            notes.append("stray %s (%s)" % (name, size))
        elif found[name] != wanted[name]:
            notes.append("%s differs (%d bytes, wanted %d)" % (
                name, len(found[name] or b""), len(wanted[name])))
    return "; ".join(notes)


def run_kpz(kpz, folder, args, strace_args, timeout=60):
    env = {k: v for k, v in os.environ.items() if k != "KPZ_PASSWORD"}
    env["LC_ALL"] = "C"
    return subprocess.run(strace_args + [kpz] + args, cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=timeout)


def prepare(base, scenario):
    folder = tempfile.mkdtemp(prefix="run-", dir=base)
    for name, data in scenario.before.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def count_calls(kpz, base, scenario):
    """The calls a clean run makes, by name, with how often each is made."""
    folder = prepare(base, scenario)
    counts_file = os.path.join(base, "counts-" + scenario.name.replace("/", "-"))
    result = run_kpz(kpz, folder, scenario.args, ["strace", "-f", "-c", "-U", "calls,name",
                                                  "-o", counts_file] + scenario.strace_options())
    problem = check(scenario, folder, result)
    shutil.rmtree(folder)
    if result.returncode != 0 or problem:
        sys.exit("clean run of %s failed (exit %d): %s %s" % (
            scenario.name, result.returncode, problem, result.stderr.decode(errors="replace")))
    counts = {}
    with open(counts_file) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 2 and fields[0].isdigit() and fields[1] != "total":
                counts[fields[1]] = int(fields[0])
    return counts


def occurrences(count, cap):
    """Every occurrence up to cap; beyond it the first ones and a spread up to the last,
    since the calls at the end of a run (closes, the rename, the removal) matter most."""
    if count <= cap:
        return list(range(1, count + 1))
    spread = min(10, cap // 2)
    first = list(range(1, cap - spread + 1))
    rest = count - len(first)
    tail = sorted({len(first) + math.ceil(rest * (i + 1) / spread) for i in range(spread)})
    return first + tail


# How an injected failure ended, for the summary.
OUTCOMES = ("done", "undone", "kept", "in part")


def outcome(scenario, folder, result):
    """Which of OUTCOMES the run ended in: exit 0, failed with nothing changed, failed
    with the input kept beside its output, failed with the first members restored."""
    state = folder_state(folder)
    if result.returncode == 0:
        return "done"
    if state == scenario.kept:
        return "kept"
    if state in scenario.restored_in_part:
        return "in part"
    return "undone"


def check(scenario, folder, result):
    """Empty when the run kept its promise, else what went wrong."""
    state = folder_state(folder)
    if result.returncode == 0:
        difference = describe_difference(state, scenario.after)
        return "exit 0 but " + difference if difference else ""
    problems = []
    if result.returncode < 0:
        problems.append("killed by signal %d" % -result.returncode)
    difference = describe_difference(state, scenario.before)
    if difference and state in scenario.restored_in_part:
        pass
    elif difference and state == scenario.kept:
        if b"kept" not in result.stderr and b"removed" not in result.stderr:
            problems.append("exit %d, input kept beside its output, without saying so" %
                            result.returncode)
    elif difference:
        problems.append("exit %d but %s" % (result.returncode, difference))
    if not result.stderr.strip():
        problems.append("exit %d without a message" % result.returncode)
    return "; ".join(problems)


def inject(kpz, base, scenario, call, n):
    error = "ENOSPC" if call in NO_SPACE else "EIO"
    folder = prepare(base, scenario)
    strace = ["strace", "-f", "-o", "/dev/null"] + scenario.strace_options(call, n, error)
    try:
        result = run_kpz(kpz, folder, scenario.args, strace)
        problem = check(scenario, folder, result)
        ended = outcome(scenario, folder, result)
        message = result.stderr.decode(errors="replace").strip().splitlines()
        # A run strace could not make tested nothing, however clean the folder.
        failed = [line for line in message if line.startswith("strace: ")]
        if failed:
            problem = "strace failed: " + failed[0]
    except subprocess.TimeoutExpired:
        problem, ended, message = "hung (no end within 60 s)", "undone", []
    shutil.rmtree(folder, ignore_errors=True)
    return scenario.name, call, n, error, problem, ended, message[0] if message else ""


def unnamed_creation(kpz, base, scenario):
    """The occurrence of openat that creates the output without a name; 0 when the run
    makes none or several."""
    folder = prepare(base, scenario)
    trace_file = os.path.join(base, "openat-" + scenario.name.replace("/", "-"))
    run_kpz(kpz, folder, scenario.args, ["strace", "-o", trace_file, "-e", "trace=openat"])
    shutil.rmtree(folder)
    with open(trace_file) as f:
        calls = [line for line in f if line.startswith("openat(")]
    found = [i + 1 for i, line in enumerate(calls) if "O_TMPFILE" in line]
    return found[0] if len(found) == 1 else 0


def input_name(scenario):
    return next(name for name in scenario.before if name not in scenario.after)


def output_name(scenario):
    return next(name for name in scenario.after if name not in scenario.before)


def check_flush_order(kpz, base, scenario):
    """Empty when the --rm run flushed its output and the output's folder before it
    removed the input, else what it left out."""
    folder = prepare(base, scenario)
    trace_file = os.path.join(base, "order-" + scenario.name.replace("/", "-"))
    calls = "openat,write,pwrite64,fsync,fdatasync,syncfs,linkat,rename,renameat,renameat2," \
            "unlink,unlinkat"
    run_kpz(kpz, folder, scenario.args, ["strace", "-f", "-y", "-o", trace_file, "-e",
                                         "trace=" + calls] + scenario.strace_options())
    folder_path = os.path.realpath(folder)
    shutil.rmtree(folder)
    source, output = input_name(scenario), output_name(scenario)
    output_fd, last_write, named, removed = None, None, None, None
    file_syncs, folder_syncs = [], []
    with open(trace_file) as f:
        lines = [line.split(None, 1)[1] for line in f if " " in line]
    for i, line in enumerate(lines):
        call = line.split("(", 1)[0]
        fd = re.match(r"\w+\((\d+)<([^>]*)>", line)
        if call == "openat" and ("O_TMPFILE" in line or ".kpz-" in line):
            created = re.search(r"= (\d+)", line)
            output_fd = created.group(1) if created else None
        elif call in ("write", "pwrite64") and fd and fd.group(1) == output_fd:
            last_write = i
        elif call in ("fsync", "fdatasync") and fd:
            if fd.group(2) == folder_path:
                folder_syncs.append(i)
            elif fd.group(1) == output_fd or fd.group(2) == os.path.join(folder_path, output):
                file_syncs.append(i)
        elif call == "syncfs":
            file_syncs.append(i)
            folder_syncs.append(i)
        elif call in ("linkat", "rename", "renameat", "renameat2") and \
                line.rstrip().endswith("= 0") and '"%s"' % output in line:
            named = i
        elif call in ("unlink", "unlinkat") and '"%s"' % source in line:
            removed = i
    if removed is None or named is None or last_write is None:
        return "could not follow the run (removal %s, naming %s, last write %s)" % (
            removed, named, last_write)
    problems = []
    if not any(last_write < i < removed for i in file_syncs):
        problems.append("%s removed with %s not flushed to disk after its last write" %
                        (source, output))
    if not any(named < i < removed for i in folder_syncs):
        problems.append("%s removed with the folder not flushed after %s got its name" %
                        (source, output))
    return "; ".join(problems)


def check_swapped_input(kpz, base, scenario):
    """Empty when an input replaced by another file after it was read is kept, else what
    happened. kpz is held right after its output gets its name, the input is replaced by
    a copy of itself (same bytes, another file), then kpz goes on."""
    folder = prepare(base, scenario)
    source, output = input_name(scenario), output_name(scenario)
    # The final name comes from a rename: an unnamed output is linked to a random name
    # first, closed, then renamed. The signal comes once the call has done its work.
    hold = ["-e", "trace=rename,renameat,renameat2",
            "-e", "inject=rename,renameat,renameat2:signal=SIGSTOP:when=1"]
    env = {k: v for k, v in os.environ.items() if k != "KPZ_PASSWORD"}
    process = subprocess.Popen(["strace", "-f", "-o", "/dev/null"] + hold + [kpz] + scenario.args,
                               cwd=folder, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    held = None
    deadline = time.monotonic() + 60
    while held is None and time.monotonic() < deadline and process.poll() is None:
        try:
            with open("/proc/%d/task/%d/children" % (process.pid, process.pid)) as f:
                children = f.read().split()
            if children and os.path.exists(os.path.join(folder, output)):
                with open("/proc/%s/stat" % children[0]) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] in "tT":
                        held = int(children[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
        time.sleep(0.01)
    problem = ""
    if held is None:
        problem = "could not hold kpz after it named its output"
    else:
        replacement = os.path.join(folder, "replacement")
        with open(replacement, "wb") as f:
            f.write(scenario.before[source])
        os.rename(replacement, os.path.join(folder, source))
        os.kill(held, signal.SIGCONT)
    _, err = process.communicate(timeout=60)
    if not problem:
        state = folder_state(folder)
        if source not in state:
            problem = "exit %d, %s removed though it was replaced after being read" % (
                process.returncode, source)
        elif process.returncode == 0 or not err.strip():
            problem = "exit %d, %s kept without saying so" % (process.returncode, source)
    shutil.rmtree(folder)
    return problem


def strace_works(base):
    if shutil.which("strace") is None:
        return "strace is not installed (apt-get install strace)"
    probe = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "inject=getppid:error=EIO",
                            sys.executable, "-c", "import os; os.getppid()"],
                           cwd=base, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if probe.returncode != 0:
        return "strace cannot trace here: " + probe.stderr.decode(errors="replace").strip()
    return ""


def make_scenarios(kpz, base):
    scenarios = []
    for size_name, size in (("small", 3001), ("large", 1_200_001)):
        original = audio_like(size, 7)
        # The outputs a clean run makes: the reference for every successful run.
        folder = prepare(base, Scenario("reference", {"a.wav": original}, [], {}))
        reference = {}
        for label, extra in (("checked", []), ("plain", ["--no-check"])):
            result = run_kpz(kpz, folder, ["-q", "-f"] + extra + ["a.wav"], [])
            if result.returncode != 0:
                sys.exit("kpz could not compress: " + result.stderr.decode(errors="replace"))
            with open(os.path.join(folder, "a.kpz"), "rb") as f:
                reference[label] = f.read()
        shutil.rmtree(folder)
        packed = reference["checked"]
        rows = [
            ("compress", {"a.wav": original}, ["-q", "a.wav"],
             {"a.wav": original, "a.kpz": packed}),
            ("compress-replace", {"a.wav": original, "a.kpz": OLD_BYTES}, ["-q", "-f", "a.wav"],
             {"a.wav": original, "a.kpz": packed}),
            ("compress-rm", {"a.wav": original}, ["-q", "--rm", "a.wav"], {"a.kpz": packed}),
            ("restore", {"a.kpz": packed}, ["-d", "-q", "a.kpz"],
             {"a.kpz": packed, "a.wav": original}),
            ("restore-replace", {"a.kpz": packed, "a.wav": OLD_BYTES}, ["-d", "-q", "-f", "a.kpz"],
             {"a.kpz": packed, "a.wav": original}),
            ("restore-rm", {"a.kpz": packed}, ["-d", "-q", "--rm", "a.kpz"], {"a.wav": original}),
            ("restore-rm-no-check", {"a.kpz": reference["plain"]}, ["-d", "-q", "--rm", "a.kpz"],
             {"a.wav": original}),
        ]
        if size_name == "small":
            # Two members: each is restored and named in turn.
            other = audio_like(1001, 8)
            folder = prepare(base, Scenario("reference", {"a.wav": original, "b.bin": other},
                                            [], {}))
            packed_both = subprocess.run([kpz, "-c", "a.wav", "b.bin"], cwd=folder,
                                         stdout=subprocess.PIPE, check=True).stdout
            shutil.rmtree(folder)
            scenarios.append(Scenario("restore-members-rm/small", {"ab.kpz": packed_both},
                                      ["-d", "-q", "--rm", "ab.kpz"],
                                      {"a.wav": original, "b.bin": other},
                                      members=["a.wav", "b.bin"]))
        for name, before, args, after in rows:
            unnamed = Scenario("%s/%s" % (name, size_name), before, args, after)
            scenarios.append(unnamed)
            creation = unnamed_creation(kpz, base, unnamed)
            if not creation:
                sys.exit("%s: no single unnamed output created" % unnamed.name)
            scenarios.append(Scenario("%s/%s/named" % (name, size_name), before, args, after,
                                      creation))
    return scenarios


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("kpz")
    parser.add_argument("--cap", type=int, default=40, help="occurrences tried per call")
    parser.add_argument("--jobs", type=int, default=2, help="runs side by side")
    parser.add_argument("--only", default="", help="scenarios whose name contains this")
    parser.add_argument("--call", default="", help="this call name only")
    parser.add_argument("--verbose", action="store_true", help="print every injection")
    options = parser.parse_args()
    kpz = os.path.abspath(options.kpz)

    base = tempfile.mkdtemp(prefix="kpz-faults-")
    try:
        reason = strace_works(base)
        if reason:
            print("SKIPPED: " + reason)
            return SKIP
        started = time.monotonic()
        scenarios = [s for s in make_scenarios(kpz, base) if options.only in s.name]
        work = []
        for scenario in scenarios:
            counts = count_calls(kpz, base, scenario)
            calls = sorted(c for c in counts if c not in NOT_INJECTED and
                           (not options.call or c == options.call))
            if options.verbose:
                print("%s: %s" % (scenario.name,
                                  " ".join("%s×%d" % (c, counts[c]) for c in calls)))
            for call in calls:
                for n in occurrences(counts[call], options.cap):
                    # Earlier openat calls fail the same way whatever creates the output.
                    if call == "openat" and n <= scenario.named_after:
                        continue
                    work.append((scenario, call, n))
        tried = {s.name: dict.fromkeys(OUTCOMES, 0) for s in scenarios}
        violations = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
            for name, call, n, error, problem, ended, message in pool.map(
                    lambda w: inject(kpz, base, *w), work):
                tried[name][ended] += 1
                line = "%-34s %s #%d (%s): %s" % (name, call, n, error, problem or "ok")
                if problem:
                    violations.append(line + ("  [stderr: %s]" % message if message else ""))
                if options.verbose:
                    print(line + ("  [%s]" % message if message else ""))
        print("Injected failures per scenario, by how the run ended (exit 0; failed with\n"
              "nothing changed; failed with the input kept beside its output; failed with\n"
              "the first members restored):")
        print("  %-34s %6s %6s %6s %6s %7s" % (("scenario", "all") + OUTCOMES))
        for name, ends in tried.items():
            print("  %-34s %6d %6d %6d %6d %7d" % ((name, sum(ends.values())) +
                                                  tuple(ends[o] for o in OUTCOMES)))
        print("%d injected failures in %.0f s; %d not handled" % (
            len(work), time.monotonic() - started, len(violations)))
        for scenario in scenarios:
            if "--rm" not in scenario.args or scenario.members:
                continue
            problem = check_flush_order(kpz, base, scenario)
            print("%-34s flushed before removal: %s" % (scenario.name, problem or "ok"))
            if problem:
                violations.append("%-34s %s" % (scenario.name, problem))
            if not scenario.named_after:
                problem = check_swapped_input(kpz, base, scenario)
                print("%-34s input replaced before removal: %s" % (scenario.name,
                                                                   problem or "ok"))
                if problem:
                    violations.append("%-34s %s" % (scenario.name, problem))
        print("%d problems found in %.0f s" % (len(violations), time.monotonic() - started))
        for line in violations:
            print("VIOLATION " + line)
        return 1 if violations else 0
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
