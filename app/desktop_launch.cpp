// SPDX-License-Identifier: BSD-3-Clause
// Runs started from the desktop entries: the marker argument, the batch on the files the
// file manager passed with each output beside its file, and the notification that ends
// the run.
#include "desktop_launch.h"

#include "Unit1.h"
#include "desktop_notice.h"
#include "system_path.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cstring>

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

namespace {

// What a run from the desktop did, batch by batch: made by prepareRun, filled in as the
// batches run, read by reportOutcome. It lives on the window as a child object, so that
// the two calls need nothing but the window between them.
struct Batch {
    QString folder;
    QStringList files;
    int done = 0;     // files finished, from the first on
    bool ran = false; // false when an earlier batch stopped the run
    bool failed = false;
    bool cancelled = false;
    QString failure; // the failure's message, as the window showed it
};

class RunRecord : public QObject {
  public:
    explicit RunRecord(QObject* parent) : QObject(parent) { setObjectName(kName); }
    static constexpr char kName[] = "desktopRunRecord";
    static RunRecord* of(TMainForm& form) {
        return dynamic_cast<RunRecord*>(
            form.findChild<QObject*>(kName, Qt::FindDirectChildrenOnly));
    }
    QList<Batch> batches;
    QStringList skipped; // .kpz files left out of a compression
};

bool isCompressed(const QString& file) {
    return file.endsWith(".kpz", Qt::CaseInsensitive);
}

} // namespace

QStringList prepareRun(TMainForm& form, Action action) {
    if (action == Action::None || !form.state().startedWithParameter) return {};
    const QStringList arguments =
        form.commandLineArguments ? form.commandLineArguments() : QCoreApplication::arguments();
    // Full paths are taken now, since a relative one names the file from where the program
    // was started and the restore moves the working directory.
    QStringList files;
    for (const QString& argument : arguments.mid(1))
        if (!argument.isEmpty()) files << systemPath(argument);
    if (files.isEmpty()) return {};

    // The files of one folder make one batch, run as if chosen in the file dialog: a
    // restore writes into the folder of its files, a compression beside each file. Files
    // from several folders (a search's results) make one batch per folder, in order, and
    // the run stops at the first batch that fails or is cancelled. A compression leaves
    // out the files that are compressed already: each would be its own output.
    delete RunRecord::of(form);
    auto* record = new RunRecord(&form);
    for (const QString& file : files) {
        if (action == Action::Compress && isCompressed(file)) {
            record->skipped << file;
            continue;
        }
        const QString folder = QFileInfo(file).absolutePath();
        auto batch = std::find_if(record->batches.begin(), record->batches.end(),
                                  [&](const Batch& b) { return b.folder == folder; });
        if (batch == record->batches.end()) {
            Batch added;
            added.folder = folder;
            record->batches.append(added);
            batch = record->batches.end() - 1;
        }
        batch->files << file;
    }
    form.commandLineRun = [&form, record, action] {
        PackerState& s = form.state();
        s.startedWithParameter = false; // the batches take their files as from the dialog
        for (Batch& batch : record->batches) {
            if (action == Action::Restore)
                form.decompressBatch(batch.files);
            else
                form.compressBatch(batch.files);
            batch.ran = true;
            batch.done = form.batchFilesDone();
            batch.cancelled = form.batchCancelled();
            batch.failed = form.batchFailed() && !batch.cancelled;
            if (batch.failed) batch.failure = form.batchFailure();
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

// Names as a sentence lists them: "a", "a and b", "a, b and c", "a, b, c and 2 more".
QString nameList(const QStringList& paths) {
    constexpr int kShown = 3;
    QStringList names;
    for (const QString& path : paths.mid(0, paths.size() > kShown + 1 ? kShown : kShown + 1))
        names << shownName(path);
    const qsizetype more = paths.size() - names.size();
    if (more > 0) names << QString("%1 more").arg(more);
    if (names.size() == 1) return names.first();
    const QString last = names.takeLast();
    return names.join(", ") + " and " + last;
}

QString fileCount(qsizetype count) {
    return QString(count == 1 ? "%1 file" : "%1 files").arg(count);
}

// The name stored in a compressed file, which its restore took; empty when unreadable.
QString storedName(TMainForm& form, const QString& source) {
    kpz::RestoreJob job(form.state());
    if (job.open(localPath(source)).ok() && job.readHeader().ok())
        return pathText(job.outputName());
    return {};
}

} // namespace

bool reportOutcome(TMainForm& form, const QStringList& sources, Action action) {
    const RunRecord* record = RunRecord::of(form);
    if (sources.isEmpty() || action == Action::None || !record) return false;
    const bool restoring = action == Action::Restore;
    const QString done = restoring ? "restored" : "compressed";

    // Each folder's finished files, the file a failure stopped at, and the files the run
    // did not reach. A cancel confirmed once the last file was complete left nothing
    // undone, and the run counts as finished.
    QStringList lines;
    QStringList finished, notDone;
    const Batch* failed = nullptr;
    bool cancelled = false;
    for (const Batch& batch : record->batches) {
        const QStringList made = batch.files.mid(0, batch.done);
        if (!made.isEmpty())
            lines << QString("%1 %2 into %3: %4")
                         .arg(fileCount(made.size()), done,
                              TMainForm::displayName(QDir::toNativeSeparators(batch.folder)),
                              nameList(made));
        finished << made;
        QStringList rest = batch.files.mid(batch.done);
        if (batch.failed && !rest.isEmpty()) {
            failed = &batch;
            rest.removeFirst();
        }
        if (batch.cancelled && !rest.isEmpty()) cancelled = true;
        notDone << rest;
    }
    if (!notDone.isEmpty())
        lines << QString("%1 not %2: %3").arg(fileCount(notDone.size()), done, nameList(notDone));
    if (!record->skipped.isEmpty())
        lines << QString("%1 left out, compressed already: %2")
                     .arg(fileCount(record->skipped.size()), nameList(record->skipped));

    QString summary;
    if (failed) {
        summary = QString("Could not %1 %2")
                      .arg(restoring ? "restore" : "compress",
                           shownName(failed->files.value(failed->done)));
        lines.prepend(failed->failure);
    } else if (cancelled) {
        summary = restoring ? "Restore cancelled" : "Compression cancelled";
    } else if (finished.size() == 1 && record->skipped.isEmpty()) {
        const QString restored = restoring ? storedName(form, finished.first()) : QString();
        summary =
            (restoring ? "Restored " : "Compressed ") +
            (restored.isEmpty() ? shownName(finished.first()) : TMainForm::displayName(restored));
    } else if (finished.isEmpty()) {
        summary = restoring ? "Nothing restored" : "Nothing compressed";
    } else {
        summary =
            QString(restoring ? "Restored %1" : "Compressed %1").arg(fileCount(finished.size()));
    }
    return platform::showDesktopNotice(summary, lines.join('\n'));
}

} // namespace desktop_launch
