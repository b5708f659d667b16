// SPDX-License-Identifier: BSD-3-Clause
// Runs started from the desktop entry: the marker argument, the restore beside the .kpz
// file, and the notification that ends the run.
#include "desktop_launch.h"

#include "Unit1.h"
#include "desktop_notice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace desktop_launch {

bool takeMarker(int& argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], kMarker) != 0) return false;
    for (int i = 1; i < argc; ++i)
        argv[i] = argv[i + 1]; // argv[argc] is the terminating null pointer
    --argc;
    return true;
}

QString restoreBesideSource(TMainForm& form) {
    if (!form.state().startedWithParameter) return {};
    QStringList arguments =
        form.commandLineArguments ? form.commandLineArguments() : QCoreApplication::arguments();
    if (arguments.value(1).isEmpty()) return {};
    // The full path is taken before the working directory moves, since a relative one
    // names the file from where the program was started.
    const QString source = QDir::cleanPath(QDir::current().absoluteFilePath(arguments[1]));
    arguments[1] = source;
    form.commandLineArguments = [arguments] { return arguments; };
    QDir::setCurrent(QFileInfo(source).absolutePath());
    return source;
}

bool reportOutcome(TMainForm& form, const QString& source) {
    const QString sourceName = TMainForm::displayName(QFileInfo(source).fileName());
    // A restore the user stopped did not fail: it says what was left undone.
    if (form.batchCancelled())
        return platform::showDesktopNotice("Restore cancelled", sourceName + " was not restored.");
    if (form.batchFailed())
        return platform::showDesktopNotice("Could not restore " + sourceName, form.statusText());

    // The restored file's name is the one stored in the header; it went to the working
    // directory, which is the source's folder unless that could not be entered.
    QString restored;
    {
        kpz::RestoreJob job(form.state());
        bool passwordOn = false;
        if (job.open(QFile::encodeName(source).toStdString()).ok() &&
            job.readMarker(passwordOn).ok() && job.readHeader().ok())
            restored = QFile::decodeName(job.outputName().c_str());
    }
    const QString folder = TMainForm::displayName(QDir::toNativeSeparators(QDir::currentPath()));
    const QString summary = restored.isEmpty() ? "Restored " + sourceName
                                               : "Restored " + TMainForm::displayName(restored);
    return platform::showDesktopNotice(summary, "From " + sourceName + ", into " + folder);
}

} // namespace desktop_launch
