// SPDX-License-Identifier: BSD-3-Clause
// A path from the command line as the system reads it.
#pragma once

#include <QString>

#include <string>

// The absolute path of given, its folder resolved by the system (links and ".." as the
// system follows them, not as text), relative to the working directory. The name itself is
// kept, a link included. The path unresolved when its folder does not exist.
QString systemPath(const QString& given);

// A path as the file layer takes it, and a path it gives back: UTF-8 on Windows, which the
// layer hands to the system as UTF-16; the system's 8-bit file names elsewhere.
std::string filePathBytes(const QString& path);
QString filePathText(const std::string& path);
