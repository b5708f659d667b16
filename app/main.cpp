// SPDX-License-Identifier: BSD-3-Clause
// Start of the program: the application, its title, the five windows, the message loop.
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "app_title.h"
#include "command_line.h"
#include "desktop_launch.h"
#include "font_warmup.h"
#include "host.h"
#include "program_icon.h"
#include "termination.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QStyle>

#include <exception>

int main(int argc, char* argv[]) {
    // Before anything is opened: a closed descriptor 1 or 2 would be taken by an output.
    kpz::ensureStandardDescriptors();
    // Before any thread: ended from outside, the program leaves no output in progress.
    platform::cleanUpOnTermination(kpz::removePendingOutputs);
    // The toolkit reads only its options in front; the files after them, with a desktop
    // entry's marker or "--", are the program's alone.
    CommandLine line = readCommandLine(argc, argv);
    const desktop_launch::Action fromDesktop = line.action;
    // The font configuration is read on a second thread while the application connects to
    // the display. That thread then lists the fonts, while this one does what needs no
    // fonts: the window icon's pictures, and the style's icon for the menu bar's overflow
    // button, the first picture read without a named format, which loads every image
    // format plugin. The main window's first text waits for the fonts.
    platform::FontWarmUp fonts;
    QApplication app(line.toolkitArgc, line.toolkitArgv.data());
    fonts.applicationReady();
    const QIcon icon = programIcon();
    QApplication::style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
    fonts.wait();
    int status = 0;
    try {
        setApplicationTitle("Brisko Packer");

        // Created once, in this order, and kept until the program ends; the first is the
        // main window and the only one shown at start.
        TMainForm mainForm;
        mainForm.setWindowIcon(icon);
        const QStringList arguments = line.arguments;
        mainForm.commandLineArguments = [arguments] { return arguments; };
        mainForm.state().startedWithParameter = arguments.size() > 1;
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
