// SPDX-License-Identifier: BSD-3-Clause
// TAboutForm: the about window.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QTimer;

class TAboutForm : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutForm(QWidget* parent = nullptr);

    QLabel* title = nullptr;  // the splash picture
    QLabel* Label1 = nullptr; // the version text over it
    // Ticks once a second from creation on; tests may shorten the interval.
    QTimer* Timer = nullptr;
    // Timer ticks since the window was last activated; it closes at the tenth.
    int32_t tickCount = 0;

    // Places the window relative to the main window; runs each time it is shown.
    void Position();
    // Restarts the ten-tick count; runs each time the window becomes active.
    void EnableTimer();
    void CloseOnTimer();
    void titleClick();
    // Any key that produces a character closes the window.
    void FormKeyPress(QChar& key);

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void closeIfShown();
    bool pressedOnTitle_ = false;
};

// Created once at start-up and kept until the program ends.
extern TAboutForm* AboutForm;
