// SPDX-License-Identifier: BSD-3-Clause
// The application title: the text of the program's task-bar entry.
#include "app_title.h"

#include <QPointer>
#include <QWidget>

namespace {
QString& titleText() {
    static QString text;
    return text;
}
QPointer<QWidget>& mainWindow() {
    static QPointer<QWidget> window;
    return window;
}
} // namespace

void setApplicationTitle(const QString& title) {
    titleText() = title;
    if (mainWindow()) mainWindow()->setWindowTitle(title);
}

QString applicationTitle() {
    return titleText();
}

void setApplicationMainWindow(QWidget* window) {
    mainWindow() = window;
    if (window && !titleText().isEmpty()) window->setWindowTitle(titleText());
}
