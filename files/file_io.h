// SPDX-License-Identifier: BSD-3-Clause
// Everything the file layer offers in one include: files and their identity, file
// attributes, the fault plan for tests, and the processor and load probes.
#pragma once

#include "fault_plan.h"
#include "file.h"
#include "file_info.h"
#include "processors.h"
