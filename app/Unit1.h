// TMainForm: the main window, owner of the packer state and of the two batches.
#pragma once

#include "codec_state.h"
#include "file_io.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>
#include <memory>

class QFileDialog;
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

    kpz::File sourceFile;
    kpz::File destFile;

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
    QFileDialog* CompressDialog = nullptr;
    QFileDialog* DecompressDialog = nullptr;

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

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormKeyPress(QChar key);
    void showError(const QString& text);
    void setRatio(uint32_t raw, uint32_t packed);
    // One step of the compression batch; returns false when the batch has ended.
    bool compressOne(const QString& path, int index, int count);
    void endBatchWithError(const QString& text);
    // Refuses an output that is its own input, asks before replacing an existing file when
    // the overwrite warning is on, and creates the output. False when the batch has ended.
    bool createOutput(const std::string& source, const std::string& destination);
    // One step of the decompression batch; returns false when the batch has ended.
    bool decompressOne(const QString& path, int index, int count);
    // Asks for the password of a protected file; false when the user cancelled.
    bool askPassword(const QString& fileName);
    void connectPasswordOption();
    void abortSteps();

    std::unique_ptr<Ui::TMainForm> ui_;
    std::unique_ptr<PackerState> state_;
    QLabel* statusPanel_ = nullptr;
};

// Failure boxes, prompts and the status line use these captions.
inline constexpr const char* kErrorCaption = "Unexpected Error";
