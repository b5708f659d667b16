// TMainForm: the compression batch. Each chosen file becomes a .kpz file: header, then
// the coded payload written by the codec, with the display refreshed at every flush.
#include "Unit1.h"

#include "Unit5.h"
#include "container.h"
#include "encoder.h"
#include "messages.h"
#include "ui_Unit1.h"

#include <QAbstractItemView>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include <string>

namespace {

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

void TMainForm::CompressFiles() {
    PackerState& s = *state_;
    if (s.busy) return;
    resetDisplay();

    if (auto* nameEdit = CompressDialog->findChild<QLineEdit*>("fileNameEdit")) nameEdit->clear();
    if (CompressDialog->exec() != QDialog::Accepted) return;
    const QStringList files = CompressDialog->selectedFiles();
    if (files.isEmpty()) return;

    setBusy();
    setStatusText("Compressing...");

    // Size pass: the batch bar counts 4 KiB units of every file. A file that cannot be
    // opened now is reported when its turn comes.
    s.batchTotalUnits = 0;
    s.batchDoneUnits = 0;
    for (const QString& path : files) {
        kpz::File probe;
        if (!probe.openRead(localPath(path))) continue;
        const int64_t length = probe.length();
        if (length > 0)
            s.batchTotalUnits += static_cast<uint32_t>(static_cast<uint64_t>(length) / 4096);
        probe.close();
    }

    s.blockLength = kpz::kBlockLength;
    recordStartTime();

    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i)
        if (!compressOne(files[i], i, count)) return;

    ui_->BatchProgressBar->setValue(100);
    setIdle();
    setStatusText("Compressing... Done");
}

bool TMainForm::compressOne(const QString& path, int index, int count) {
    PackerState& s = *state_;
    ui_->CurrentFileBox->setText(QFileInfo(path).fileName());
    ui_->BatchBox->setText("File " + numberText(index + 1) + " of " + numberText(count));

    kpz::resetEncoder(s);

    const std::string source = localPath(path);
    if (!s.sourceFile.openRead(source)) {
        endBatchWithError(kpz::msg::kOpenSourceFailed);
        return false;
    }
    // The header holds 32-bit sizes and at most 255 name bytes: refuse what it cannot
    // describe before anything is written.
    const int64_t length = s.sourceFile.length();
    if (length < 0) {
        endBatchWithError(kpz::msg::kSourceReadError);
        return false;
    }
    if (static_cast<uint64_t>(length) > kpz::kMaxSourceSize) {
        endBatchWithError(kpz::msg::kTooLarge);
        return false;
    }
    const std::string storedName = kpz::storedNameFor(kpz::namePart(source));
    if (storedName.size() > kpz::kMaxNameLength) {
        endBatchWithError(kpz::msg::kNameTooLong);
        return false;
    }

    std::string destination = kpz::compressedName(source);
    if (ui_->OtherMI->isChecked() && !s.destinationFolder.isEmpty())
        destination = localPath(s.destinationFolder) + std::string(kpz::namePart(destination));

    if (!createOutput(source, destination)) return false;

    const int64_t sizeNow = s.sourceFile.length();
    if (sizeNow < 0 || static_cast<uint64_t>(sizeNow) > kpz::kMaxSourceSize) {
        endBatchWithError(sizeNow < 0 ? kpz::msg::kSourceReadError : kpz::msg::kTooLarge);
        return false;
    }
    s.sourceSize = static_cast<uint32_t>(sizeNow);

    // Options are read per file, so a change made during the batch applies from here on.
    if (ui_->PwUseMI->isChecked()) {
        s.passwordOn = true;
        const QString code = PasswordForm && PasswordForm->Code ? PasswordForm->Code->text() : "0";
        s.passwordCode = static_cast<uint16_t>(code.toLongLong() & 0xFFFF);
    } else {
        s.passwordOn = false;
    }
    // A failing destination shows up at the first flush, which reports it.
    kpz::writeHeader(s.destFile, s.passwordOn, s.sourceSize, storedName);
    s.destWritten += static_cast<uint32_t>(storedName.size());

    s.source = &s.sourceFile;
    s.destination = &s.destFile;
    const kpz::EncodeOutcome outcome = kpz::encodeFile(s);
    s.source = nullptr;
    s.destination = nullptr;

    if (outcome == kpz::EncodeOutcome::ReadError) {
        endBatchWithError(kpz::msg::kSourceReadError);
        return false;
    }
    // The closing flush may have failed to write, or let the user confirm a cancel.
    if (outcome == kpz::EncodeOutcome::Cancelled || s.cancelRequested) {
        abortSteps();
        return false;
    }

    s.sourceProcessed = s.sourceSize;
    const int64_t written = s.destFile.length();
    s.destWritten = written < 0 ? s.destWritten : static_cast<uint32_t>(written);
    showFileEnd(kpz::Direction::Compressing);

    s.sourceFile.close();
    // Data the system could not store is a failed file, not a finished one.
    if (!s.destFile.close()) {
        endBatchWithError(kpz::msg::kWriteFailed);
        return false;
    }
    s.batchDoneUnits += s.sourceSize / 4096;
    return true;
}

// Ends the batch after a failure: the message in a box, then in the status line.
bool TMainForm::createOutput(const std::string& source, const std::string& destination) {
    PackerState& s = *state_;
    // Creating the output truncates it; when that is the input itself (a .kpz compressed
    // beside itself, a stored name equal to its own file, or a link) the input would be lost.
    if (destination == source || kpz::sameFile(source, destination)) {
        endBatchWithError(kpz::msg::kSameFile);
        return false;
    }

    if (ui_->OverWarnMI->isChecked() && kpz::fileExists(destination)) {
        const QString shownName = QFileInfo(QFile::decodeName(destination.c_str())).fileName();
        QMessageBox box(QMessageBox::NoIcon, "File Exists", "Overwrite '" + shownName + "'?",
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Ok) {
            s.sourceFile.close();
            setIdle();
            setStatusText("Aborted!");
            return false;
        }
    }

    if (!s.destFile.create(destination)) {
        endBatchWithError(kpz::msg::kOpenDestinationFailed);
        return false;
    }
    return true;
}

void TMainForm::endBatchWithError(const QString& text) {
    showError(text);
    state_->sourceFile.close();
    state_->destFile.close();
    setIdle();
    setStatusText(text);
    state_->cancelRequested = false;
}

void TMainForm::abortSteps() {
    state_->sourceFile.close();
    state_->destFile.close();
    setStatusText("Aborted!");
    setIdle();
    state_->cancelRequested = false;
}
