// The program's icon, for its windows.
#pragma once

#include <QIcon>

QIcon programIcon();
