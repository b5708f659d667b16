// TMainForm: the decompression batch. Each chosen .kpz file is restored under the name
// stored in its header: header check, password prompt for protected files, the decoded
// payload cut to the stored size, with the display refreshed at every flush.
#include "Unit1.h"

#include "Unit5.h"
#include "container.h"
#include "decoder.h"
#include "messages.h"
#include "ui_Unit1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include <string>

namespace {

// A protected file whose payload runs out before its stored size: far more often the
// wrong password (its scrambled block headers ask for more bits than there are) than damage.
const char* const kWrongPasswordOrDamaged =
    "Wrong password, or compressed file is damaged or truncated!";

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Hands back a byte already taken from a stream before the rest of it, so the header
// reader sees the whole header although the marker was read (and answered) first.
class ReplayedByte final : public kpz::Stream {
  public:
    ReplayedByte(uint8_t byte, kpz::Stream& rest) : byte_(byte), rest_(rest) {}

    int32_t read(void* buffer, uint32_t count) override {
        if (!pending_ || count == 0) return rest_.read(buffer, count);
        pending_ = false;
        auto* bytes = static_cast<uint8_t*>(buffer);
        bytes[0] = byte_;
        if (count == 1) return 1;
        const int32_t n = rest_.read(bytes + 1, count - 1);
        return n < 0 ? -1 : n + 1;
    }
    uint32_t write(const void*, uint32_t) override { return 0; }

  private:
    uint8_t byte_;
    kpz::Stream& rest_;
    bool pending_ = true;
};

} // namespace

void TMainForm::DecompressFiles() {
    PackerState& s = *state_;
    if (s.busy) return;
    resetDisplay();

    if (auto* nameEdit = DecompressDialog->findChild<QLineEdit*>("fileNameEdit")) nameEdit->clear();
    QStringList files;
    if (!s.startedWithParameter) {
        if (DecompressDialog->exec() != QDialog::Accepted) return;
        files = DecompressDialog->selectedFiles();
        if (files.isEmpty()) return;
        // Outputs are named relative to the working directory: make it the folder of the
        // chosen files, so they are restored beside them.
        QDir::setCurrent(QFileInfo(files.first()).absolutePath());
    } else {
        const QStringList arguments =
            commandLineArguments ? commandLineArguments() : QCoreApplication::arguments();
        files << QDir::cleanPath(QDir::current().absoluteFilePath(arguments.value(1)));
    }

    setBusy();
    setStatusText("Decompressing...");

    s.batchTotalUnits = 0;
    s.batchDoneUnits = 0;
    if (!s.startedWithParameter) {
        for (const QString& path : files) {
            kpz::File probe;
            if (!probe.openRead(localPath(path))) continue;
            const int64_t length = probe.length();
            if (length > 0)
                s.batchTotalUnits += static_cast<uint32_t>(static_cast<uint64_t>(length) / 4096);
            probe.close();
        }
    }
    recordStartTime();

    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i)
        if (!decompressOne(files[i], i, count)) return;

    ui_->BatchProgressBar->setValue(100);
    setIdle();
    setStatusText("Decompressing... Done");
}

bool TMainForm::decompressOne(const QString& path, int index, int count) {
    PackerState& s = *state_;
    ui_->BatchBox->setText("File " + numberText(index + 1) + " of " + numberText(count));
    ui_->CurrentFileBox->setText(QFileInfo(path).fileName());

    kpz::resetDecoder(s);

    const std::string source = localPath(path);
    if (!s.sourceFile.openRead(source)) {
        endBatchWithError(kpz::msg::kOpenSourceFailed);
        return false;
    }
    const int64_t length = s.sourceFile.length();
    if (length < 0) {
        endBatchWithError(kpz::msg::kSourceReadError);
        return false;
    }
    if (s.startedWithParameter)
        s.batchTotalUnits = static_cast<uint32_t>(static_cast<uint64_t>(length) / 4096);

    // The marker alone decides whether the file needs a password; it is checked and
    // answered before the rest of the header is read.
    uint8_t marker = 0;
    const int32_t got = s.sourceFile.read(&marker, 1);
    if (got < 0) {
        endBatchWithError(kpz::msg::kSourceReadError);
        return false;
    }
    if (got == 0 || (marker != kpz::kMarkerPlain && marker != kpz::kMarkerPassword)) {
        endBatchWithError(kpz::msg::kUnknownFormat);
        return false;
    }
    s.passwordOn = marker == kpz::kMarkerPassword;
    if (s.passwordOn && !askPassword(QFileInfo(path).fileName())) {
        s.sourceFile.close();
        setStatusText("Aborted!");
        setIdle();
        return false;
    }

    // A header that ends early or names more than 255 bytes is no header of ours.
    kpz::Header header;
    ReplayedByte headerStream(marker, s.sourceFile);
    const kpz::HeaderStatus status = kpz::readHeader(headerStream, header);
    if (status != kpz::HeaderStatus::Ok) {
        endBatchWithError(status == kpz::HeaderStatus::ReadError ? kpz::msg::kSourceReadError
                                                                 : kpz::msg::kUnknownFormat);
        return false;
    }
    s.originalSize = header.originalSize;
    s.sourceProcessed += header.nameLength;

    // A payload too short for the stored size cannot restore it; refuse the file before
    // any output is created or replaced.
    const int64_t payload = length - int64_t{kpz::kHeaderFixedBytes} - header.nameLength;
    if (payload < 0 ||
        static_cast<uint64_t>(payload) < kpz::minimumPayloadBytes(header.originalSize)) {
        endBatchWithError(kpz::msg::kDamaged);
        return false;
    }

    // Only the name part of the stored name counts, so a stored folder or drive never
    // sends the output elsewhere. Without a chosen folder the output goes to the working
    // directory.
    const std::string name = kpz::safeOutputName(header.storedName);
    if (name.empty()) {
        endBatchWithError(kpz::msg::kOpenDestinationFailed);
        return false;
    }
    std::string output;
    if (ui_->OtherMI->isChecked() && !s.destinationFolder.isEmpty())
        output = localPath(s.destinationFolder) + name;
    else
        output = localPath(QDir::currentPath()) + "/" + name;

    if (!createOutput(source, output)) return false;

    s.blockLength = kpz::kBlockLength;
    s.source = &s.sourceFile;
    s.destination = &s.destFile;
    kpz::refillInput(s);
    kpz::DecodeOutcome outcome = kpz::DecodeOutcome::ReadError;
    if (s.bytesRead >= 0) outcome = kpz::decodeFile(s);
    s.source = nullptr;
    s.destination = nullptr;

    if (outcome == kpz::DecodeOutcome::ReadError) {
        endBatchWithError(kpz::msg::kSourceReadError);
        return false;
    }
    // The output keeps the blocks restored before the damage; nothing past it is written.
    if (outcome == kpz::DecodeOutcome::Damaged) {
        endBatchWithError(s.passwordOn ? kWrongPasswordOrDamaged : kpz::msg::kDamaged);
        return false;
    }
    // A failed write (already reported) or a confirmed cancel.
    if (outcome == kpz::DecodeOutcome::Cancelled || s.cancelRequested) {
        abortSteps();
        return false;
    }

    // The decoder wrote whole blocks past the stored size; cut the surplus.
    if (!s.destFile.setLength(s.originalSize)) {
        endBatchWithError(kpz::msg::kWriteFailed);
        return false;
    }

    s.sourceProcessed = static_cast<uint32_t>(length);
    const int64_t written = s.destFile.length();
    s.destWritten = written < 0 ? s.originalSize : static_cast<uint32_t>(written);
    showFileEnd(kpz::Direction::Decompressing);

    QCoreApplication::processEvents();

    s.sourceFile.close();
    // Data the system could not store is a failed file, not a finished one.
    if (!s.destFile.close()) {
        endBatchWithError(kpz::msg::kWriteFailed);
        return false;
    }
    s.batchDoneUnits += s.sourceProcessed / 4096;

    // A cancel confirmed while the finished file's figures were shown.
    if (s.cancelRequested) {
        setStatusText("Aborted!");
        setIdle();
        s.cancelRequested = false;
        return false;
    }
    return true;
}

bool TMainForm::askPassword(const QString& fileName) {
    PackerState& s = *state_;
    if (!PasswordForm) return false;
    // The prompt borrows the dialog; the password set for compression is put back after.
    const QString savedText = PasswordForm->PasswordEdit->text();
    const QString savedCode = PasswordForm->Code->text();
    PasswordForm->setPasswordText(QString());
    PasswordForm->setWindowTitle("Password Required for '" + fileName + "'");
    const int result = PasswordForm->exec();
    PasswordForm->setWindowTitle("Enter New Password");
    s.passwordCode = PasswordForm->codeWord();
    PasswordForm->setPasswordText(savedText);
    PasswordForm->Code->setText(savedCode);
    return result == QDialog::Accepted;
}
