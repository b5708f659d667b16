// SPDX-License-Identifier: BSD-3-Clause
// Runs started from the desktop entries: the marker argument, the batch on the files the
// file manager passed with each output beside its file, and the notification that ends
// the run.
#include "desktop_launch.h"

#include "Unit1.h"
#include "desktop_notice.h"
#include "system_path.h"
#include "ui_Unit1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <cstring>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

namespace {
// The arguments as Windows passed them, in UTF-16, without the marker: once the marker has
// left argv, Qt gives the 8-bit ones, in the ANSI code page, which may lack a name's
// characters.
QStringList wideArgumentsWithoutMarker() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList arguments;
    for (int i = 0; args && i < count; ++i)
        if (i != 1) arguments << QString::fromWCharArray(args[i]);
    LocalFree(args);
    return arguments;
}
} // namespace
#endif

namespace desktop_launch {

Action takeMarker(int& argc, char** argv) {
    if (argc < 2) return Action::None;
    Action action = Action::None;
    if (std::strcmp(argv[1], kMarker) == 0) action = Action::Restore;
    if (std::strcmp(argv[1], kCompressMarker) == 0) action = Action::Compress;
    if (action == Action::None) return action;
    for (int i = 1; i < argc; ++i)
        argv[i] = argv[i + 1]; // argv[argc] is the terminating null pointer
    --argc;
    return action;
}

QStringList prepareRun(TMainForm& form, Action action) {
    if (action == Action::None || !form.state().startedWithParameter) return {};
#ifdef _WIN32
    const QStringList arguments =
        form.commandLineArguments ? form.commandLineArguments() : wideArgumentsWithoutMarker();
#else
    const QStringList arguments =
        form.commandLineArguments ? form.commandLineArguments() : QCoreApplication::arguments();
#endif
    // Full paths are taken now, since a relative one names the file from where the program
    // was started and the restore moves the working directory.
    QStringList files;
    for (const QString& argument : arguments.mid(1))
        if (!argument.isEmpty()) files << systemPath(argument);
    if (files.isEmpty()) return {};

    // The files of one folder make one batch, run as if chosen in the file dialog: a
    // restore writes into the folder of its files, a compression beside each file. Files
    // from several folders (a search's results) make one batch per folder, in order, and
    // the run stops at the first batch that fails or is cancelled.
    QList<QStringList> batches;
    QStringList folders;
    for (const QString& file : files) {
        const QString folder = QFileInfo(file).absolutePath();
        qsizetype at = folders.indexOf(folder);
        if (at < 0) {
            at = folders.size();
            folders << folder;
            batches << QStringList();
        }
        batches[at] << file;
    }
    form.commandLineRun = [&form, batches, action] {
        PackerState& s = form.state();
        s.startedWithParameter = false; // the batches take their files as from the dialog
        for (const QStringList& batch : batches) {
            if (action == Action::Restore)
                form.decompressBatch(batch);
            else
                form.compressBatch(batch);
            if (form.batchFailed()) break;
        }
        s.startedWithParameter = true;
    };
    return files;
}

namespace {

QString shownName(const QString& path) {
    return TMainForm::displayName(QFileInfo(path).fileName());
}

// The file named in the Current File box: the one the run stopped at.
QString stoppedAt(TMainForm& form) {
    const QLabel* box = form.ui().CurrentFileBox;
    return box->toolTip().isEmpty() ? box->text() : box->toolTip();
}

// The name stored in a compressed file, which its restore took; empty when unreadable.
QString storedName(TMainForm& form, const QString& source) {
    kpz::RestoreJob job(form.state());
    if (job.open(filePathBytes(source)).ok() && job.readHeader().ok())
        return filePathText(job.outputName());
    return {};
}

} // namespace

bool reportOutcome(TMainForm& form, const QStringList& sources, Action action) {
    if (sources.isEmpty() || action == Action::None) return false;
    const bool restoring = action == Action::Restore;
    const QString verb = restoring ? "restore" : "compress";
    // A run the user stopped did not fail: it says what was left undone.
    if (form.batchCancelled())
        return platform::showDesktopNotice(
            restoring ? "Restore cancelled" : "Compression cancelled",
            stoppedAt(form) +
                (sources.size() > 1 ? " and the files after it were not " : " was not ") +
                (restoring ? "restored." : "compressed."));
    if (form.batchFailed())
        return platform::showDesktopNotice("Could not " + verb + ' ' + stoppedAt(form),
                                           form.statusText());

    // Outputs land in the folder of their files: the working directory for a restore.
    const QString folder = TMainForm::displayName(QDir::toNativeSeparators(
        restoring ? QDir::currentPath() : QFileInfo(sources.last()).absolutePath()));
    QString summary;
    if (sources.size() > 1) {
        summary =
            QString(restoring ? "Restored %1 files" : "Compressed %1 files").arg(sources.size());
    } else if (restoring) {
        const QString restored = storedName(form, sources.first());
        summary = "Restored " + (restored.isEmpty() ? shownName(sources.first())
                                                    : TMainForm::displayName(restored));
    } else {
        summary = "Compressed " + shownName(sources.first());
    }
    QStringList names;
    for (const QString& source : sources.mid(0, 3))
        names << shownName(source);
    if (sources.size() > 3) names << "…";
    return platform::showDesktopNotice(summary, "From " + names.join(", ") + ", into " + folder);
}

} // namespace desktop_launch
