// SPDX-License-Identifier: BSD-3-Clause
// Where the password comes from: the terminal (-p), a file (--password-file) or the
// environment variable KPZ_PASSWORD.
#pragma once

#include "file_tasks.h"
#include "options.h"
#include "report.h"

namespace kpzcli {

// Gets the password the options ask for, if any. Returns false after reporting why when
// one was asked for but could not be had.
bool obtainPassword(const Options& options, const Reporter& report, Password& password);

} // namespace kpzcli
