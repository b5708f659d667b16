// SPDX-License-Identifier: BSD-3-Clause
// The parts of a file job that the front ends never see: the files behind it and the
// member a restore is at. For the jobs' own sources only.
#pragma once

#include "file_info.h"
#include "file_io.h"
#include "file_job.h"
#include "member_input.h"
#include "output_file.h"

namespace kpz {

struct FileJob::Files {
    File source;
    FileInfo attributes; // the source read, as a file on disk
    // false: the source is never removed (standard input kept in a temporary file has an
    // identity of its own, and is never removed either)
    bool haveIdentity = false;
    OutputFile output;
};

struct RestoreJob::Member {
    Header header;
    MemberEnd end;
};

} // namespace kpz
