// SPDX-License-Identifier: BSD-3-Clause
// The program's icon, for its windows.
#pragma once

#include <QIcon>

QIcon programIcon();
