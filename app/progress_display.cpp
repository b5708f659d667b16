// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: counters, bars, ratio, times and the task-bar title while a batch runs.
#include "Unit1.h"

#include "app_title.h"
#include "ui_Unit1.h"

#include <QCoreApplication>

QString TMainForm::numberText(int32_t value) {
    return QString::number(value);
}

QString TMainForm::spanText(int32_t hours, int32_t minutes, int32_t seconds) {
    QString text;
    if (hours != 0) text += numberText(hours) + " h";
    if (minutes != 0) text += " " + numberText(minutes) + " min";
    text += " " + numberText(seconds) + " s";
    return text;
}

void TMainForm::resetDisplay() {
    setStatusText(QString());
    ui_->SourceCounterLabel->setText("0K");
    ui_->DestCounterLabel->setText("0K");
    ui_->FileProgressBar->setValue(0);
    ui_->RatioLabel->setText("0%");
    ui_->BatchProgressBar->setValue(0);
    ui_->CurrentFileBox->setText("None");
    ui_->CurrentFileBox->setToolTip(QString());
    ui_->BatchBox->setText("None");
    ui_->ElapsedLabel->setText("0 s");
    ui_->EstimatedLabel->setText("0 s");
}

void TMainForm::recordStartTime() {
    const QTime now = timeOfDay();
    state_->startHour = static_cast<uint8_t>(now.hour());
    state_->startMinute = static_cast<uint8_t>(now.minute());
    state_->startSecond = static_cast<uint8_t>(now.second());
}

// The share saved, from the uncompressed and compressed byte counts. Both are divided by
// 256 before the product so that it stays within 32 bits for any 32-bit count.
void TMainForm::setRatio(uint32_t raw, uint32_t packed) {
    if (raw / 256 != 0 && raw >= packed)
        ui_->RatioLabel->setText(
            numberText(static_cast<int32_t>(100 - (packed / 256) * 100 / (raw / 256))) + "%");
    if (raw < packed) ui_->RatioLabel->setText("0%");
}

// Runs after each output flush, which has already counted its bytes in destWritten.
void TMainForm::showProgress(kpz::Direction direction) {
    PackerState& s = *state_;
    const bool compressing = direction == kpz::Direction::Compressing;
    ui_->SourceCounterLabel->setText(numberText(static_cast<int32_t>(s.sourceProcessed / 1024)) +
                                     "K");
    ui_->DestCounterLabel->setText(numberText(static_cast<int32_t>(s.destWritten / 1024)) + "K");

    if (compressing) {
        if (s.sourceSize / 256 != 0)
            ui_->FileProgressBar->setValue(
                static_cast<int>((s.sourceProcessed / 256) * 100 / (s.sourceSize / 256)));
    } else if (s.originalSize / 256 != 0) {
        ui_->FileProgressBar->setValue(
            static_cast<int>((s.destWritten / 256) * 100 / (s.originalSize / 256)));
    }

    if (compressing)
        setRatio(s.sourceProcessed, s.destWritten);
    else
        setRatio(s.destWritten, s.sourceProcessed);

    if (s.batchTotalUnits != 0)
        ui_->BatchProgressBar->setValue(static_cast<int>(
            ((s.sourceProcessed / 4096) + s.batchDoneUnits) * 100 / s.batchTotalUnits));

    if (applicationActive())
        setApplicationTitle("Brisko Packer");
    else
        setApplicationTitle("(" + numberText(ui_->BatchProgressBar->value()) + "%) " +
                            (compressing ? "Compressing..." : "Decompressing..."));

    showTimes();
    QCoreApplication::processEvents();
}

void TMainForm::showFileEnd(kpz::Direction direction) {
    PackerState& s = *state_;
    ui_->SourceCounterLabel->setText(numberText(static_cast<int32_t>(s.sourceProcessed / 1024)) +
                                     "K");
    ui_->DestCounterLabel->setText(numberText(static_cast<int32_t>(s.destWritten / 1024)) + "K");
    ui_->FileProgressBar->setValue(100);
    if (direction == kpz::Direction::Compressing)
        setRatio(s.sourceProcessed, s.destWritten);
    else
        setRatio(s.destWritten, s.sourceProcessed);
}

// Elapsed time from the recorded start, and the time left by the batch bar's share.
// Minutes and seconds of the difference may be negative; their weighted sum is still
// right, and a negative hour difference means the batch has passed midnight.
void TMainForm::showTimes() {
    PackerState& s = *state_;
    const QTime now = timeOfDay();
    s.spanHours = static_cast<int8_t>(now.hour() - s.startHour);
    if (s.spanHours < 0) s.spanHours = static_cast<int8_t>(s.spanHours + 24);
    s.spanMinutes = static_cast<int8_t>(now.minute() - s.startMinute);
    s.spanSeconds = static_cast<int8_t>(now.second() - s.startSecond);
    const int32_t elapsed = s.spanSeconds + 60 * s.spanMinutes + 3600 * s.spanHours;

    int32_t remaining = 0;
    const int32_t p = ui_->BatchProgressBar->value();
    if (p != 0) remaining = (elapsed * 100) / p - elapsed;

    // The parts are kept in the 8-bit span fields; the texts use the full values, so an
    // estimate of 128 hours or more still reads right.
    auto show = [&s](int32_t span, QLabel* label) {
        const int32_t hours = span / 3600;
        const int32_t rest = span - 3600 * hours;
        const int32_t minutes = rest / 60;
        const int32_t seconds = rest - 60 * minutes;
        s.spanHours = static_cast<int8_t>(hours);
        s.spanMinutes = static_cast<int8_t>(minutes);
        s.spanSeconds = static_cast<int8_t>(seconds);
        label->setText(spanText(hours, minutes, seconds));
    };
    show(remaining, ui_->EstimatedLabel);
    show(elapsed, ui_->ElapsedLabel);
}
