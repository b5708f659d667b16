// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: what both batches share: the size pass, the file shown as under way, the
// output step with the overwrite question, and the one way a batch ends.
#include "Unit1.h"

#include "host.h"
#include "messages.h"
#include "problem_text.h"
#include "system_path.h"
#include "text.h"
#include "threads.h"
#include "ui_Unit1.h"

#include <QFileInfo>
#include <QMessageBox>

#include <filesystem>
#include <system_error>

std::string TMainForm::localPath(const QString& path) {
    return ::localPath(path);
}

void TMainForm::countBatchUnits(const QStringList& files) {
    PackerState& s = *state_;
    // The batch bar counts 4 KiB units of every file. A file that cannot be looked at now
    // is reported when its turn comes.
    s.batchTotalUnits = 0;
    s.batchDoneUnits = 0;
    for (const QString& path : files) {
        std::error_code error;
        const std::filesystem::path file(localPath(path));
        if (!std::filesystem::is_regular_file(file, error)) continue;
        const uintmax_t size = std::filesystem::file_size(file, error);
        if (!error) s.batchTotalUnits += static_cast<uint32_t>(size / 4096);
    }
}

void TMainForm::startLedger(const QStringList& files) {
    ledger_ = std::make_unique<kpz::RunLedger>();
    for (const QString& path : files)
        ledger_->addInput(localPath(path));
}

void TMainForm::showFileStart(const QString& path, int index, int count) {
    ui_->BatchBox->setText("File " + numberText(index + 1) + " of " + numberText(count));
    showName(ui_->CurrentFileBox, displayName(QFileInfo(path).fileName()));
    writeFailureShown_ = false;
}

QString TMainForm::displayName(const QString& name) {
    return QString::fromStdString(kpz::displayText(::localPath(name)));
}

kpz::ReplaceQuestion TMainForm::replaceQuestion() {
    return [this](const std::string& path) { return askReplace(path); };
}

unsigned TMainForm::compressionThreads() const {
    // One file at a time: a second thread whenever a processor is free for it.
    return kpz::threadsForFile(kpz::ThreadSetting::Auto, 1, kpz::usableProcessors(),
                               kpz::otherRunnableThreads());
}

kpz::Replace TMainForm::askReplace(const std::string& destination) {
    if (!ui_->OverWarnMI->isChecked()) return kpz::Replace::Yes;
    const QString shownName = boxName(displayName(QFileInfo(pathText(destination)).fileName()));
    QMessageBox box(QMessageBox::NoIcon, "File Exists", "Overwrite '" + shownName + "'?",
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? kpz::Replace::Yes : kpz::Replace::Cancel;
}

void TMainForm::endBatch(const kpz::Outcome& outcome, bool passwordOn) {
    PackerState& s = *state_;
    // A failed write was shown by the flush that met it; the batch then ends as cancelled.
    const bool aborted = outcome.problem == kpz::Problem::Cancelled ||
                         (outcome.problem == kpz::Problem::WriteFailed && writeFailureShown_);
    if (aborted) {
        setStatusText("Aborted!");
        // A failed write was shown in its own box when the flush met it.
        if (outcome.problem == kpz::Problem::WriteFailed) batchFailure_ = kpz::msg::kWriteFailed;
    } else {
        // The file an output was already written from, in a box that stays within the screen.
        const QString other = boxName(displayName(QFileInfo(pathText(outcome.detail)).fileName()));
        const QString text = problemText(outcome, passwordOn, other);
        showError(text);
        setStatusText(text);
        batchFailure_ = text;
    }
    setIdle();
    s.cancelRequested = false;
    batchFailed_ = true;
    batchCancelled_ = outcome.problem == kpz::Problem::Cancelled;
}
