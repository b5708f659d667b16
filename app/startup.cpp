// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: what the first activation of the main window does. With a file name on the
// command line the program restores that file and ends; otherwise it shows the about
// window once and records the .kpz file type with the system.
#include "Unit1.h"

#include "Unit2.h"
#include "app_title.h"
#include "file_association.h"
#include "version.h"

#include <QCoreApplication>
#include <QMessageBox>

void TMainForm::ShowAbout() {
    // Activations also arrive while this handler waits in a modal window or a running
    // restore; those find the work already under way.
    static bool running = false;
    if (running) return;
    running = true;
    struct Reset {
        ~Reset() { running = false; }
    } reset;

    PackerState& s = *state_;
    if (s.startedWithParameter) {
        // One restore per process, however often the window is activated afterwards.
        if (!s.firstActivation) return;
        s.firstActivation = false;
        if (commandLineRun)
            commandLineRun();
        else
            DecompressFiles();
        QCoreApplication::quit();
        return;
    }
    if (!s.firstActivation) return;

    if (AboutForm) AboutForm->exec();
    s.firstActivation = false;
    setStatusText("Brisko Packer v" BRISKO_VERSION);

    const QString failure = platform::registerFileType(QCoreApplication::applicationFilePath());
    if (!failure.isEmpty()) QMessageBox::critical(this, applicationTitle(), failure);
}
