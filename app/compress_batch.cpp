// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the compression batch. Each chosen file becomes a .kpz file through the
// codec's file job, with the display refreshed at every flush.
#include "Unit1.h"

#include "Unit5.h"
#include "ui_Unit1.h"

#include <QFileDialog>
#include <QLineEdit>

void TMainForm::CompressFiles() {
    PackerState& s = *state_;
    if (s.busy) return;
    resetDisplay();

    QFileDialog* dialog = CompressDialog();
    if (auto* nameEdit = dialog->findChild<QLineEdit*>("fileNameEdit")) nameEdit->clear();
    placeOverWindow(dialog);
    if (dialog->exec() != QDialog::Accepted) return;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty()) return;
    compressBatch(files);
}

void TMainForm::compressBatch(const QStringList& files) {
    PackerState& s = *state_;
    if (s.busy || files.isEmpty()) return;
    resetDisplay();
    setBusy();
    setStatusText("Compressing...");
    countBatchUnits(files);
    s.blockLength = kpz::kProgramBlockLength;
    startLedger(files);
    recordStartTime();

    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i)
        if (!compressOne(files[i], i, count)) return;

    ui_->BatchProgressBar->setValue(100);
    setIdle();
    setStatusText("Compressing... Done");
}

// One file: open and check the source, prepare the output, run the coder, finish.
bool TMainForm::compressOne(const QString& path, int index, int count) {
    PackerState& s = *state_;
    showFileStart(path, index, count);

    kpz::CompressJob job(s);
    job.setLedger(ledger_.get());
    kpz::Outcome o = job.open(localPath(path));
    if (o.ok()) {
        const bool other = ui_->OtherMI->isChecked() && !s.destinationFolder.isEmpty();
        o = job.prepareOutput(job.outputFor(other ? localPath(s.destinationFolder) : ""),
                              replaceQuestion());
    }
    // Options are read per file, so a change made during the batch applies from here on.
    const bool passwordOn = ui_->PwUseMI->isChecked();
    job.setPassword(
        {passwordOn, PasswordForm && passwordOn ? PasswordForm->codeWord() : uint16_t(0)});
    job.setThreads(compressionThreads());
    if (o.ok()) o = job.run();
    if (o.ok()) o = finishCompressed(job);
    if (o.ok())
        ++batchFilesDone_;
    else
        endBatch(o);
    return o.ok();
}

kpz::Outcome TMainForm::finishCompressed(kpz::CompressJob& job) {
    PackerState& s = *state_;
    s.sourceProcessed = s.sourceSize;
    showFileEnd(kpz::Direction::Compressing);
    // Data the system could not store is a failed file, not a finished one.
    const kpz::Outcome o = job.finish({});
    if (o.ok()) s.batchDoneUnits += s.sourceSize / 4096;
    return o;
}
