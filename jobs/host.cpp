// SPDX-License-Identifier: BSD-3-Clause
// The system services the front ends see through host.h that the files layer has no single
// call for.
#include "host.h"

#include "file_io.h"
#include "output_file.h"
#include "paths.h"
#ifdef _WIN32
#include "windows_text.h"
#endif

namespace kpz {

std::unique_ptr<Stream> standardStream(int fd, bool forWriting) {
    auto file = std::make_unique<File>();
    if (!file->adoptCopy(fd, forWriting)) return nullptr;
    return file;
}

bool isFileOnDescriptor(const std::string& path, int fd) {
    FileIdentity a, b;
    return fileIdentity(path, a) && descriptorIdentity(fd, b) && a == b;
}

bool sameFileOnDescriptors(int a, int b) {
    FileIdentity x, y;
    return descriptorIdentity(a, x) && descriptorIdentity(b, y) && x == y;
}

} // namespace kpz
