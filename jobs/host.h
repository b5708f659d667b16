// SPDX-License-Identifier: BSD-3-Clause
// What the front ends need of the system around the jobs, done by the files layer: the
// standard descriptors, folders, file identity, outputs left by a program that is ending,
// and the processors a file may run on. The functions are the files layer's own, named
// here for the layers above it.
#pragma once

#include "stream.h"

#include <memory>
#include <string>
#include <string_view>

namespace kpz {

// Opens the null device onto any of the standard descriptors (0, 1, 2) that is closed, so
// that no file the program opens later takes their place. Called first thing in main().
void ensureStandardDescriptors();
// A stream on a copy of descriptor fd (standard input or output), so that closing the
// stream leaves the caller's descriptor open; null when it cannot be copied (errno says
// why). Writes go out whole unless the device refuses.
std::unique_ptr<Stream> standardStream(int fd, bool forWriting);
// Whether the file at path, or the file open on descriptor other, is the file open on
// descriptor fd (through links); false when either cannot be told.
bool isFileOnDescriptor(const std::string& path, int fd);
bool sameFileOnDescriptors(int a, int b);

bool isDirectory(const std::string& path);
// name in folder, with one separator between them.
std::string joinPath(std::string_view folder, std::string_view name);

// Removes every named temporary output still in progress; for the handlers of signals
// that end the program. Unnamed outputs need nothing: the system drops them.
void removePendingOutputs();

// Processors this process may run on (its affinity mask where the system has one); at
// least 1.
unsigned usableProcessors();
// Threads on the whole machine that are running or ready to run at this moment, the
// calling one left out; 0 where the system does not tell.
unsigned otherRunnableThreads();

#ifdef _WIN32
namespace win {
// UTF-8 text as UTF-16 (false when it is not valid UTF-8), and back.
bool widen(std::string_view utf8, std::wstring& wide);
std::string narrow(std::wstring_view wide);
} // namespace win
#endif

} // namespace kpz
