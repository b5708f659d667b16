// SPDX-License-Identifier: BSD-3-Clause
// A path from the command line as the system reads it.
#pragma once

#include <QString>

// The absolute path of given, its folder resolved by the system (links and ".." as the
// system follows them, not as text), relative to the working directory. The name itself is
// kept, a link included. The path unresolved when its folder does not exist.
QString systemPath(const QString& given);
