// SPDX-License-Identifier: BSD-3-Clause
// The application title: the text of the program's task-bar entry.
#pragma once

#include <QString>

class QWidget;

// On desktops where the task bar lists top-level windows, the entry carries the main
// window's title, so the title is kept here and shown by the window registered as main.
void setApplicationTitle(const QString& title);
QString applicationTitle();
void setApplicationMainWindow(QWidget* window);
