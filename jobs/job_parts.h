// SPDX-License-Identifier: BSD-3-Clause
// The parts of a file job that the front ends never see: the files behind it and the
// member a restore is at. For the jobs' own sources only.
#pragma once

#include "file_io.h"
#include "file_job.h"
#include "member_input.h"
#include "output_file.h"

#include <sys/stat.h>

namespace kpz {

struct FileJob::Files {
    File source;
    struct stat attributes {};
    FileIdentity identity;     // the source read, as a file on disk
    bool haveIdentity = false; // false: the source is never removed
    OutputFile output;
};

struct RestoreJob::Member {
    Header header;
    MemberEnd end;
};

} // namespace kpz
