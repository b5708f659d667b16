// SPDX-License-Identifier: BSD-3-Clause
// What a step of a file job found: a problem and its particulars, never words. Each front
// end words every problem in one switch.
#pragma once

#include <string>

namespace kpz {

enum class Problem {
    None,
    OpenSource,       // the source could not be opened; error holds errno
    SourceIsFolder,   // a folder given as the source
    SourceNotRegular, // a FIFO, device or socket given as the source
    SourceRead,       // reading the source failed
    TooLarge,         // the source is too large for the header's 32-bit size
    NameTooLong,      // the source's name takes more than 255 bytes
    SizeChanged,      // the source grew or shrank while it was read
    UnknownFormat,    // not a compressed file
    Damaged,          // the payload is cut short or does not decode
    MoreMembers,      // the file holds more members than the caller restores
    NoUsableName,     // the stored name cannot name a file
    PasswordNeeded,   // a protected member, and no password was given
    SameFile,         // the output would replace its own source
    OutputIsFolder,   // a folder is in the way of the output
    OutputIsSpecial,  // a FIFO, device or socket is in the way of the output
    OutputExists,     // an existing file was not to be replaced
    OutputAppeared,   // a file took the output's name while it was written; it was kept
    OutputClaimed,    // an earlier file of the same run has this output; detail names it
    OutputIsInput,    // the output would replace another input of the same run
    OpenDestination,  // the output could not be created; error holds errno
    WriteFailed,      // the output could not be written
    CommitFailed,     // the finished output could not be put in place; error holds errno
    OutputUnsure,     // the output has its name, but a flush or close after that failed;
                      // error holds errno
    Cancelled,        // the user asked to stop
    VerifyMismatch,   // the new file does not restore to its source
    VerifyHeader,     // the new file's header does not describe its source
    CheckMismatch,    // the restored bytes differ from the check value stored after them,
                      // or the payload does not end where the check value lies
    NotProven,        // a restore without a check value that coding again does not repeat
    SpoolFailed,      // standard input could not be kept in a temporary file; error holds errno
    SourceChanged,    // the source's name holds another file than the one read: not removed
    SourceHoldsMore,  // the source holds data past its restored members: not removed
    RemoveFailed,     // the source could not be removed; error holds errno
    StepOutOfOrder,   // a step asked for before the steps it needs, or after a failure;
                      // detail names the step and the stage the job was at
};

struct Outcome {
    Problem problem = Problem::None;
    int error = 0;      // errno, for the problems that come from a system call
    std::string detail; // a path, for the problems that name another file; the step and
                        // stage for StepOutOfOrder

    bool ok() const { return problem == Problem::None; }
};

} // namespace kpz
