// SPDX-License-Identifier: BSD-3-Clause
// Start of the program: the application, its title, the five windows, the message loop.
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "app_title.h"
#include "desktop_launch.h"
#include "file_io.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

int main(int argc, char* argv[]) {
    // Before anything is opened: a closed descriptor 1 or 2 would be taken by an output.
    kpz::ensureStandardDescriptors();
    // A desktop entry's marker is not a file to restore; the rest of the program sees the
    // command line without it.
    const desktop_launch::Action fromDesktop = desktop_launch::takeMarker(argc, argv);
    QApplication app(argc, argv);
    int status = 0;
    try {
        setApplicationTitle("Brisko Packer");

        // Created once, in this order, and kept until the program ends; the first is the
        // main window and the only one shown at start.
        TMainForm mainForm;
        TAboutForm aboutForm(&mainForm);
        AboutForm = &aboutForm;
        TDestFolderForm destFolderForm(&mainForm);
        DestFolderForm = &destFolderForm;
        THelpForm helpForm(&mainForm);
        HelpForm = &helpForm;
        TPasswordForm passwordForm(&mainForm);
        PasswordForm = &passwordForm;

        // Opened from the desktop, the files are restored or compressed beside themselves
        // in one run, and the outcome is told in a notification, since the window closes
        // when the run ends.
        const QStringList desktopFiles = desktop_launch::prepareRun(mainForm, fromDesktop);

        mainForm.show();
        app.exec();
        // A restore started from the command line tells its caller whether it succeeded.
        if (mainForm.state().startedWithParameter && mainForm.batchFailed()) status = 1;
        desktop_launch::reportOutcome(mainForm, desktopFiles, fromDesktop);

        AboutForm = nullptr;
        DestFolderForm = nullptr;
        HelpForm = nullptr;
        PasswordForm = nullptr;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Brisko Packer", QString::fromLocal8Bit(e.what()));
        status = 1;
    }
    return status;
}
