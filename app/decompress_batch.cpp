// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the decompression batch. Each chosen .kpz file is restored under the name
// stored in its header through the codec's file job: the password prompt for protected
// files comes between the marker and the rest of the header.
#include "Unit1.h"

#include "Unit5.h"
#include "system_path.h"
#include "ui_Unit1.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRect>

void TMainForm::DecompressFiles() {
    PackerState& s = *state_;
    if (s.busy) return;
    resetDisplay();

    QStringList files;
    if (!s.startedWithParameter) {
        QFileDialog* dialog = DecompressDialog();
        if (auto* nameEdit = dialog->findChild<QLineEdit*>("fileNameEdit")) nameEdit->clear();
        placeOverWindow(dialog);
        if (dialog->exec() != QDialog::Accepted) return;
        files = dialog->selectedFiles();
        if (files.isEmpty()) return;
    } else {
        const QStringList arguments =
            commandLineArguments ? commandLineArguments() : QCoreApplication::arguments();
        files << systemPath(arguments.value(1));
    }
    decompressBatch(files);
}

void TMainForm::decompressBatch(const QStringList& files) {
    PackerState& s = *state_;
    if (s.busy || files.isEmpty()) return;
    resetDisplay();
    // Outputs are named relative to the working directory: make it the folder of the
    // chosen files, so they are restored beside them.
    if (!s.startedWithParameter) setCurrentFolder(QFileInfo(files.first()).path());

    setBusy();
    setStatusText("Decompressing...");
    // A run from the command line counts its one file's units once it is open.
    if (s.startedWithParameter)
        s.batchTotalUnits = s.batchDoneUnits = 0;
    else
        countBatchUnits(files);
    startLedger(files);
    recordStartTime();

    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i)
        if (!decompressOne(files[i], i, count)) return;

    ui_->BatchProgressBar->setValue(100);
    setIdle();
    setStatusText("Decompressing... Done");
}

// One file: open it (its password asked for between the marker and the rest of the
// header when it is protected), prepare the output under the stored name, run the decoder,
// finish; then every further member the same way.
bool TMainForm::decompressOne(const QString& path, int index, int count) {
    PackerState& s = *state_;
    showFileStart(path, index, count);

    kpz::RestoreJob job(s);
    job.setLedger(ledger_.get());
    // A declined prompt stops the batch as a cancel does.
    job.setPasswordQuestion([&](const std::string&) {
        if (!askPassword(QFileInfo(path).fileName()))
            return kpz::PasswordReply{kpz::PasswordReply::Kind::Cancel, 0};
        return kpz::PasswordReply{kpz::PasswordReply::Kind::Given, s.passwordCode};
    });
    kpz::Outcome o = job.open(localPath(path));
    if (o.ok() && s.startedWithParameter)
        s.batchTotalUnits = static_cast<uint32_t>(job.sourceLength() / 4096);
    if (o.ok()) o = job.readHeader();
    // Every member of the file, each under its own stored name.
    job.takeEveryMember();
    bool decoding = false;
    bool committed = false; // the last member's output is complete
    while (o.ok()) {
        o = job.prepareOutputIn(restoreFolder(), replaceQuestion());
        // Only a payload that ends in the wrong place hints at a wrong password.
        decoding = o.ok();
        if (o.ok()) o = job.run();
        committed = false;
        if (o.ok()) {
            o = finishRestored(job);
            // A cancel confirmed while the finished file's figures were shown comes after
            // its output was committed.
            committed = o.ok() || o.problem == kpz::Problem::Cancelled;
        }
        if (!o.ok() || !job.moreMembers()) break;
        o = job.nextMember();
    }
    if (committed && !job.moreMembers()) ++batchFilesDone_;
    if (!o.ok()) endBatch(o, job.passwordOn() && decoding);
    return o.ok();
}

std::string TMainForm::restoreFolder() const {
    const PackerState& s = *state_;
    // Without a chosen folder the output goes to the working directory.
    if (ui_->OtherMI->isChecked() && !s.destinationFolder.isEmpty())
        return localPath(s.destinationFolder);
    return localPath(currentFolder());
}

kpz::Outcome TMainForm::finishRestored(kpz::RestoreJob& job) {
    PackerState& s = *state_;
    s.sourceProcessed = static_cast<uint32_t>(job.sourceLength());
    s.destWritten = s.originalSize;
    showFileEnd(kpz::Direction::Decompressing);
    QCoreApplication::processEvents();

    // Data the system could not store is a failed file, not a finished one.
    kpz::Outcome o = job.finish({});
    if (!o.ok()) return o;
    s.batchDoneUnits += s.sourceProcessed / 4096;
    // A cancel confirmed while the finished file's figures were shown.
    if (s.cancelRequested) o.problem = kpz::Problem::Cancelled;
    return o;
}

bool TMainForm::askPassword(const QString& fileName) {
    PackerState& s = *state_;
    if (!PasswordForm) return false;
    // The prompt borrows the dialog; the password set for compression is put back after.
    const QString savedText = PasswordForm->PasswordEdit->text();
    const QString savedCode = PasswordForm->Code->text();
    PasswordForm->setPasswordText(QString());
    PasswordForm->setWindowTitle("Password Required for '" + displayName(fileName) + "'");
    // The caption may be cut in the title bar: the dialog leaves the Current File line,
    // which names the file, in sight.
    PasswordForm->keepInSight = [this] {
        const QRect caption(ui_->Label7->mapToGlobal(QPoint(0, 0)), ui_->Label7->size());
        const QLabel* box = ui_->CurrentFileBox;
        return caption.united(QRect(box->mapToGlobal(QPoint(0, 0)), box->size()));
    };
    const int result = PasswordForm->exec();
    PasswordForm->keepInSight = nullptr;
    PasswordForm->setWindowTitle("Enter New Password");
    s.passwordCode = PasswordForm->codeWord();
    PasswordForm->setPasswordText(savedText);
    PasswordForm->Code->setText(savedCode);
    return result == QDialog::Accepted;
}
