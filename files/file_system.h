// SPDX-License-Identifier: BSD-3-Clause
// Internal to files/: the few system calls that file.cpp builds File's policy on, one
// definition per system (file_posix.cpp, file_windows.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace kpz::sys {

// Opens an existing file for reading; refuses folders. -1 with errno set on failure.
int openForReading(const std::string& path);
// Opens path for writing from its start: created new when exclusive (failing when the name
// exists), else created or truncated. -1 with errno set on failure.
int openForWriting(const std::string& path, unsigned mode, bool exclusive);
// One read of up to count bytes: the bytes read, 0 at the end, -1 with errno set.
// Interrupted calls are made again.
int64_t readSome(int fd, void* buffer, uint32_t count);
// One write of up to count bytes: the bytes stored (0: the device took none), -1 with
// errno set. Interrupted calls are made again.
int64_t writeSome(int fd, const void* data, uint32_t count);
// Closes fd; false when the system reports that buffered data was lost.
bool closeDescriptor(int fd);

} // namespace kpz::sys
