// SPDX-License-Identifier: BSD-3-Clause
// What the system tells about a file without reading it: its type, size, identity,
// permission bits and times. The jobs judge sources by it and outputs take the source's
// permission bits and times from it.
#pragma once

#include "file.h"

#include <compare>
#include <cstdint>
#include <string>

namespace kpz {

// A point in time as files carry it: seconds since 1970 and the nanoseconds after them.
struct FileTime {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    auto operator<=>(const FileTime&) const = default;
};

struct FileInfo {
    enum class Type {
        Regular,
        Folder,
        Special, // a FIFO, device, socket or console: no run of bytes with a length
    };
    Type type = Type::Special;
    uint64_t size = 0; // bytes, for a regular file
    FileIdentity identity;
    bool haveIdentity = false; // false where the system cannot tell (a pipe on Windows)
    unsigned permissions = 0;  // the permission bits, set-id and sticky bits included
    FileTime accessed;
    FileTime modified;
    FileTime changed; // the last change to the contents or the attributes
};

// The file at path, through links; false with errno set when it cannot be told.
bool pathInfo(const std::string& path, FileInfo& info);
// The file open on descriptor fd; false with errno set when it cannot be told.
bool descriptorInfo(int fd, FileInfo& info);
// Whether a and b describe the same version of one file: the same file on disk, with the
// same size, modification time and change time to the nanosecond. A file saved in place
// within the same second still differs in its change time.
bool sameVersion(const FileInfo& a, const FileInfo& b);

} // namespace kpz
