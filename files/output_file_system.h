// SPDX-License-Identifier: BSD-3-Clause
// Internal to files/: the system calls that output_file.cpp builds the output policy on,
// one definition per system (output_file_posix.cpp, output_file_windows.cpp). Each returns
// false or -1 with errno set on failure, EEXIST where a name is taken.
#pragma once

#include "file_info.h"

#include <cstdint>
#include <string>

namespace kpz::sys {

// Whether path is short enough to be a name on this system; ENAMETOOLONG when not.
bool outputNameFits(const std::string& path);
// A file without a name in folder, open for reading and writing, that the system drops when
// it is closed; -1 with EOPNOTSUPP where the file system (or system) has none.
int createUnnamed(const std::string& folder);
// Whether errno from createUnnamed means only that the file system has no unnamed files.
bool noUnnamedFiles(int error);
// A new file under path, open for reading and writing; never follows a link.
int createExclusive(const std::string& path);
// Marks a named output to be removed by the system when it is closed, whatever ends the
// program; false where the system cannot (the output then stays named until removed).
bool dropOnClose(int fd);
// Undoes dropOnClose, so the output survives its close.
bool keepOnClose(int fd);
// Gives the unnamed output on fd the name path.
bool linkUnnamed(int fd, const std::string& path);
// Gives the output on fd the permission bits and the access and modification times of from.
bool copyAttributes(int fd, const FileInfo& from);
// Whether something (a file, a link, anything) has the name path.
bool nameTaken(const std::string& path);
// Brings write errors the system kept back to light; toDisk flushes the contents to the
// disk as well.
bool flushOutput(int fd, bool toDisk);
// Moves the file named from to the name to; without replace, EEXIST when to is taken.
// writeThrough: the new name is on disk when this returns, where the system can say so.
bool moveName(const std::string& from, const std::string& to, bool replace, bool writeThrough);
// Flushes the folder that holds path, so that a name just given there survives a crash.
bool flushFolderOf(const std::string& path);
// Removes the name path (the file goes once no one has it open).
void removeName(const std::string& path);
// 64 bits from the system's random source; false when it has none to give.
bool randomBits(uint64_t& bits);
// The process's number, for names when randomBits fails.
uint64_t processNumber();

} // namespace kpz::sys
