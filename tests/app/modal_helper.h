// SPDX-License-Identifier: BSD-3-Clause
// Answers modal windows the way a person would, for the window tests: file dialogs,
// message boxes and other modal windows, plus actions taken while a batch runs.
#pragma once

#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

// The five windows of the program, created in start-up order and registered as globals.
struct AppWindows {
    AppWindows();
    ~AppWindows();
    TMainForm form;
    TAboutForm about{&form};
    TDestFolderForm destFolder{&form};
    THelpForm help{&form};
    TPasswordForm password{&form};
};

struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class ModalHelper : public QObject {
    Q_OBJECT

  public:
    ModalHelper();

    // Steps, taken in the order given.
    // Types the paths (absolute) into the next file dialog and confirms it; then runs
    // afterAccept, before the dialog's caller sees the result.
    ModalHelper& chooseFiles(const QStringList& paths, std::function<void()> afterAccept = {});
    ModalHelper& cancelFileDialog();
    // Presses a button of the next message box.
    ModalHelper& press(QMessageBox::StandardButton button);
    // Closes the next modal window of the given class (other than boxes and file dialogs).
    ModalHelper& closeWindow(const char* className);
    // Hands the next modal window of the given class to answer, which closes it as a
    // person would (typing, clicking a button).
    ModalHelper& answerWindow(const char* className, std::function<void(QWidget*)> answer);
    // Once ready() holds, runs action; it may open modal windows itself, which the steps
    // that follow answer.
    ModalHelper& when(std::function<bool()> ready, std::function<void()> action);

    bool finished() const { return steps_.empty(); }

    // Takes the next step if it is due. Runs on a timer; tests also call it at each output
    // flush, so that actions land exactly where the batch lets the window handle input.
    void check();

    QList<SeenBox> boxes;   // every message box answered or closed, in order
    QStringList unexpected; // modal windows that no step expected; closed so no test hangs

  private:
    enum class Kind { FileDialog, Box, Window, Action };
    struct Step {
        Kind kind{};
        QStringList paths;
        bool accept = true;
        std::function<void()> after;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        QByteArray className;
        std::function<bool()> ready;
        std::function<void(QWidget*)> answer;
    };
    std::deque<Step> steps_;
    QTimer timer_;
    bool inAction_ = false;
};

// Pseudo-random bytes (deterministic), which the codec cannot shrink.
QByteArray noiseBytes(qsizetype size, uint32_t seed = 1);
// A smooth stereo tone, which it can.
QByteArray toneBytes(qsizetype size);
void writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);
// True for a Windows build running under Wine, whose drawing and window management differ
// from Windows' own in ways that some window tests must allow for.
bool runningUnderWine();
// The complete file the codec makes of data stored under name.
QByteArray expectedCompressed(const QByteArray& data, const std::string& name,
                              bool passwordOn = false, uint16_t code = 0);
