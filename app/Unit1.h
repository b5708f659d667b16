// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the main window, owner of the packer state and of the two batches.
#pragma once

#include "codec_record.h"
#include "file_job.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>
#include <memory>

class QDragEnterEvent;
class QDropEvent;
class QFileDialog;
class QFont;
class QFontMetrics;
class QLabel;
class QMessageBox;

namespace Ui {
class TMainForm;
}

// The program's working data: the codec's record plus the window's run flags, the
// destination folder, the open files, the batch units and the time fields.
struct PackerState : kpz::CodecState {
    bool busy = false;
    bool startedWithParameter = false;
    bool firstActivation = false;
    QString destinationFolder;

    uint32_t batchTotalUnits = 0; // 4 KiB units of the whole batch
    uint32_t batchDoneUnits = 0;  // 4 KiB units of the files finished so far

    uint8_t startHour = 0, startMinute = 0, startSecond = 0;
    int8_t spanHours = 0, spanMinutes = 0, spanSeconds = 0;
};

class TMainForm : public QMainWindow {
    Q_OBJECT

  public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    PackerState& state() { return *state_; }
    Ui::TMainForm& ui() { return *ui_; }
    // The two file dialogs, made on first use: a start that never opens them (the
    // command-line run above all) does not pay for them.
    QFileDialog* CompressDialog();
    QFileDialog* DecompressDialog();
    // Moves a dialog about to be shown to the middle of this window, within the screen.
    void placeOverWindow(QWidget* dialog) const;
    // Moves this window, frame included, within the screen's free area when it reaches
    // past an edge.
    void keepOnScreen();

    // Creation defaults; run once by the constructor.
    void Initialize();

    void CompressFiles();
    void DecompressFiles();
    // The password option: set or change the password, or turn it off.
    void PwUseMIClick();
    void PwNoneMIClick();
    void CancelButtonClick();
    void Exit1Click();
    void About1Click();
    // Shows the help window, or brings it to the front when it is already open.
    void BriefHelp1Click();
    void OverWarnMIClick();
    // The destination folder option.
    void OtherMIClick();
    void SameAsSourceMIClick();
    // Activation handler: the command-line run, or the splash and the file-type
    // registration on the first activation.
    void ShowAbout();

    void setBusy();
    void setIdle();
    // Asks whether to abort the running batch; Yes sets cancelRequested.
    void confirmCancel();

    QString statusText() const;
    void setStatusText(const QString& text);

    // Progress display.
    static QString numberText(int32_t value);
    static QString spanText(int32_t hours, int32_t minutes, int32_t seconds);
    void resetDisplay();
    void recordStartTime();
    void showProgress(kpz::Direction direction);
    void showFileEnd(kpz::Direction direction);
    void showTimes();

    // Seams for the progress display: the local time of day and whether this program is
    // the active application (the task-bar title shows the percentage only when it isn't).
    std::function<QTime()> timeOfDay;
    std::function<bool()> applicationActive;
    // The program's command line (default: the application's arguments); a run started
    // with a parameter restores the file its first parameter names.
    std::function<QStringList()> commandLineArguments;
    // What a run started with a parameter does on the first activation, when set (a run
    // from the desktop entries); otherwise it restores the file of the first parameter.
    std::function<void()> commandLineRun;

    // Whether the last batch ended in a failure or a cancel (for the command-line run's
    // exit status).
    bool batchFailed() const { return batchFailed_; }
    // Whether it ended because the user cancelled it (which batchFailed also counts).
    bool batchCancelled() const { return batchCancelled_; }
    // How many of the last batch's files were finished, in the order given: the files
    // before the one a failure or a cancel stopped at (and that one too when its outputs
    // were complete before the cancel).
    int batchFilesDone() const { return batchFilesDone_; }
    // The message the last batch's failure was shown with; empty when it did not fail.
    QString batchFailure() const { return batchFailure_; }

    // A name from a file or the file system as it may be shown: control characters escaped.
    static QString displayName(const QString& name);

    // The program's one font, pixel-sized so the fixed layouts do not grow with the
    // screen's resolution.
    static QFont programFont();
    // name, cut in its middle to fit width pixels, the end kept.
    static QString fitName(const QString& name, const QFontMetrics& metrics, int width);
    // Shows a name in a fixed-size label: cut in the middle when too long, the whole name
    // then in the tooltip.
    static void showName(QLabel* label, const QString& name);
    // A name as a message box shows it: within half the screen's width.
    QString boxName(const QString& name) const;

    // Widens a message box so that its caption fits the title bar.
    static void fitCaption(QMessageBox& box);

    // The batches on files chosen outside the dialogs (dropped on the window): the same
    // steps, prompts and options as after the dialog.
    void compressBatch(const QStringList& files);
    void decompressBatch(const QStringList& files);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The close box ends the program as Exit does, also while a batch runs.
    void closeEvent(QCloseEvent* event) override;
    // Files dropped on the window: .kpz files are restored, the others compressed.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void describeForScreenReaders();
    void FormKeyPress(QChar key);
    void showError(const QString& text);
    void setRatio(uint32_t raw, uint32_t packed);
    void showCounters();
    // The times, with the estimate from the batch bar's share batchPercent.
    void showTimes(int32_t batchPercent);

    // Steps both batches share.
    static std::string localPath(const QString& path);
    // Starts the batch's record of its inputs and outputs.
    void startLedger(const QStringList& files);
    // The size pass: the batch bar's units for every file.
    void countBatchUnits(const QStringList& files);
    void showFileStart(const QString& path, int index, int count);
    // The output step of a file: the job's checks, with the overwrite question when the
    // overwrite warning is on.
    // The overwrite question, asked through the Overwrite Warning option.
    kpz::ReplaceQuestion replaceQuestion();
    // Threads for the next file's compression.
    unsigned compressionThreads() const;
    // Asks whether the existing file at destination may be replaced.
    kpz::Replace askReplace(const std::string& destination);
    // The one way a batch ends early: a failure in a box and the status line, a cancel
    // (or a failed write already shown) as "Aborted!".
    void endBatch(const kpz::Outcome& outcome, bool passwordOn = false);

    // One step of the compression batch; returns false when the batch has ended.
    bool compressOne(const QString& path, int index, int count);
    kpz::Outcome finishCompressed(kpz::CompressJob& job);
    // One step of the decompression batch; returns false when the batch has ended.
    bool decompressOne(const QString& path, int index, int count);
    // Where a restored file goes; empty when its stored name cannot name a file.
    // The folder the restore writes into: the chosen one, or the working directory.
    std::string restoreFolder() const;
    kpz::Outcome finishRestored(kpz::RestoreJob& job);
    // Asks for the password of a protected file; false when the user cancelled.
    bool askPassword(const QString& fileName);
    void connectPasswordOption();

    // Runs the batches for dropped files, once the drop itself has been answered.
    void runDroppedFiles(const QStringList& files);

    std::unique_ptr<Ui::TMainForm> ui_;
    QFileDialog* compressDialog_ = nullptr;
    QFileDialog* decompressDialog_ = nullptr;
    std::unique_ptr<PackerState> state_;
    QLabel* statusPanel_ = nullptr;
    bool writeFailureShown_ = false;
    bool framed_ = false; // the window manager's frame has been seen once
    bool batchFailed_ = false;
    bool batchCancelled_ = false;
    int batchFilesDone_ = 0;
    QString batchFailure_;
    // The running batch's inputs and outputs: no batch writes an output twice.
    std::unique_ptr<kpz::RunLedger> ledger_;
};

// Failure boxes, prompts and the status line use these captions.
inline constexpr const char* kErrorCaption = "Unexpected Error";
