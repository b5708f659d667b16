// SPDX-License-Identifier: BSD-3-Clause
// The main window at start: controls, menus, dialogs and defaults; idle and busy layouts;
// confirm cancel from Escape and the Cancel button; the about window.
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void controls_data();
    void controls();
    void menuItems_data();
    void menuItems();
    void windowAndDialogs();
    void startState();
    void confirmCancel_data();
    void confirmCancel();
    void escapeWhileIdleAsksNothing();
    void aboutIsModal();
    void enterClicksTheFocusedButton_data();
    void enterClicksTheFocusedButton();
    void screenReaderNames_data();
    void screenReaderNames();
    void keptOnScreen_data();
    void keptOnScreen();
};

void MainWindowTest::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("right");
    struct Row {
        const char* name;
        QRect geometry;
        const char* text;
        bool visible;
        bool right;
    };
    const Row rows[] = {
        {"Bevel2", {8, 8, 345, 137}, "", true, false},
        {"Label1", {24, 16, 105, 17}, "Destination Folder:", true, false},
        {"DestFolderLabel", {128, 16, 209, 17}, "Same as Source", true, true},
        {"PasswordMode", {224, 32, 113, 17}, "Password Encryption", false, true},
        {"Label6", {24, 48, 89, 17}, "Batch Progress: ", true, false},
        {"BatchBox", {112, 48, 225, 17}, "None", true, true},
        {"BatchProgressBar", {24, 68, 313, 16}, "", true, false},
        {"Label5", {24, 96, 113, 17}, "Elapsed Time:", true, false},
        {"ElapsedLabel", {136, 96, 201, 17}, "0 s", true, true},
        {"EstimatedText", {24, 112, 113, 17}, "Estimated Time Left:", true, false},
        {"EstimatedLabel", {136, 112, 201, 17}, "0 s", true, true},
        {"Bevel1", {8, 152, 345, 129}, "", true, false},
        {"Label7", {24, 160, 73, 17}, "Current File: ", true, false},
        {"CurrentFileBox", {96, 160, 241, 17}, "None", true, true},
        {"FileProgressBar", {24, 180, 313, 16}, "", true, false},
        {"Label2", {24, 208, 153, 17}, "Source Processed:", true, false},
        {"SourceCounterLabel", {232, 208, 105, 17}, "0K", true, true},
        {"Label3", {24, 224, 153, 17}, "Destination Size:", true, false},
        {"DestCounterLabel", {232, 224, 105, 17}, "0K", true, true},
        {"Label4", {24, 248, 153, 17}, "Compression Ratio:", true, false},
        {"RatioLabel", {232, 248, 105, 17}, "0%", true, true},
        {"CompressButton", {24, 296, 145, 25}, "&Compress Files...", true, false},
        {"DecompressButton", {192, 296, 145, 25}, "&Decompress Files...", true, false},
        {"CancelButton", {136, 296, 89, 25}, "Cancel", false, false},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << r.name << r.geometry << r.text << r.visible << r.right;
}

void MainWindowTest::controls() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, right);
    AppWindows w;
    w.form.show();
    auto* widget = w.form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QTEST(widget->geometry(), "geometry");
    QTEST(widget->isVisible(), "visible");
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(bool(label->alignment() & Qt::AlignRight), right);
        // The text fits the label in the window's font.
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(name));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), text);
    } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
    }
}

void MainWindowTest::menuItems_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<int>("check"); // -1 not checkable, 0 unchecked, 1 checked
    QTest::newRow("CompressfilesMI") << "CompressfilesMI"
                                     << "FileMenu"
                                     << "&Compress Files..."
                                     << "F2" << -1;
    QTest::newRow("DecompressFilesMI") << "DecompressFilesMI"
                                       << "FileMenu"
                                       << "&Decompress Files..."
                                       << "F3" << -1;
    QTest::newRow("Exit1") << "Exit1"
                           << "FileMenu"
                           << "&Exit"
                           << "" << -1;
    QTest::newRow("SameAsSourceMI") << "SameAsSourceMI"
                                    << "DestinationFolderMI"
                                    << "&Same as Source"
                                    << "" << 1;
    QTest::newRow("OtherMI") << "OtherMI"
                             << "DestinationFolderMI"
                             << "Other..."
                             << "" << 0;
    QTest::newRow("PwNoneMI") << "PwNoneMI"
                              << "PasswordMI"
                              << "&None"
                              << "" << 1;
    QTest::newRow("PwUseMI") << "PwUseMI"
                             << "PasswordMI"
                             << "&Use..."
                             << "" << 0;
    QTest::newRow("OverWarnMI") << "OverWarnMI"
                                << "OptionsMenu"
                                << "&Overwrite Warning"
                                << "" << 1;
    QTest::newRow("BriefHelp1") << "BriefHelp1"
                                << "HelpMenu"
                                << "Browse &Help..."
                                << "" << -1;
    QTest::newRow("About1") << "About1"
                            << "HelpMenu"
                            << "&About..."
                            << "" << -1;
}

void MainWindowTest::menuItems() {
    QFETCH(QString, name);
    QFETCH(QString, menu);
    QFETCH(int, check);
    AppWindows w;
    auto* action = w.form.findChild<QAction*>(name);
    QVERIFY(action);
    QTEST(action->text(), "text");
    QTEST(action->shortcut().toString(), "shortcut");
    QCOMPARE(action->isCheckable(), check >= 0);
    if (check >= 0) QCOMPARE(action->isChecked(), check == 1);
    auto* owner = w.form.findChild<QMenu*>(menu);
    QVERIFY(owner && owner->actions().contains(action));
}

void MainWindowTest::windowAndDialogs() {
    AppWindows w;
    w.form.show();
    Ui::TMainForm& ui = w.form.ui();
    QCOMPARE(w.form.windowTitle(), QString("Brisko Packer"));
    QCOMPARE(ui.centralwidget->size(), QSize(361, 331));
    QCOMPARE(ui.StatusBar->height(), 19);
    QCOMPARE(w.form.minimumSize(), w.form.maximumSize()); // not resizable
    QVERIFY(!(w.form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!ui.StatusBar->isSizeGripEnabled());

    QStringList menus;
    for (QAction* a : ui.MainMenu1->actions())
        menus << a->text();
    QCOMPARE(menus, QStringList({"&File", "&Options", "&Help"}));
    QCOMPARE(ui.DestinationFolderMI->title(), QString("Destination &Folder"));
    QCOMPARE(ui.PasswordMI->title(), QString("&Password"));

    QFileDialog* compress = w.form.CompressDialog();
    QCOMPARE(compress->objectName(), QString("CompressDialog"));
    QCOMPARE(compress->windowTitle(), QString("Compress"));
    QCOMPARE(compress->fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(compress->nameFilters(),
             QStringList({"Waves (*.wav) (*.wav)", "Cakewalk Bundles (*.bun) (*.bun)",
                          "Acid Audio Embedded (*.acd) (*.acd)", "All Files (*.*) (*)"}));
    QCOMPARE(compress->selectedNameFilter(), QString("Waves (*.wav)"));
    QCOMPARE(w.form.DecompressDialog()->windowTitle(), QString("Decompress"));
    QCOMPARE(w.form.DecompressDialog()->nameFilters(),
             QStringList({"Brisko Packer Files (*.kpz) (*.kpz)"}));
}

void MainWindowTest::startState() {
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    const PackerState& s = w.form.state();
    QVERIFY(!s.busy);
    QVERIFY(!s.cancelRequested);
    QVERIFY(!s.firstActivation);      // window tests start past it (AppWindows)
    QVERIFY(!s.startedWithParameter); // the test runs without parameters
    QCOMPARE(s.bufferLength, 262144);
    QVERIFY(s.destinationFolder.isEmpty());
    QCOMPARE(s.tables.powersOfTwo[15], uint16_t(0x8000)); // tables built
    QCOMPARE(w.form.statusText(), QString());
    QCOMPARE(QApplication::focusWidget(), w.form.ui().CompressButton);
    QCOMPARE(w.password.Code->text(), QString("0"));
}

void MainWindowTest::confirmCancel_data() {
    QTest::addColumn<bool>("byEscape");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("requested");
    QTest::newRow("Escape, No") << true << int(QMessageBox::No) << false;
    QTest::newRow("Escape, Yes") << true << int(QMessageBox::Yes) << true;
    QTest::newRow("Cancel button, No") << false << int(QMessageBox::No) << false;
    QTest::newRow("Cancel button, Yes") << false << int(QMessageBox::Yes) << true;
}

void MainWindowTest::confirmCancel() {
    QFETCH(bool, byEscape);
    QFETCH(int, answer);
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    Ui::TMainForm& ui = w.form.ui();
    w.form.setBusy();
    QVERIFY(ui.CancelButton->isVisible());
    QVERIFY(!ui.CompressButton->isVisible() && !ui.DecompressButton->isVisible());
    QCOMPARE(QApplication::focusWidget(), ui.CancelButton);

    ModalHelper helper;
    helper.press(QMessageBox::StandardButton(answer));
    if (byEscape)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    else
        QTest::mouseClick(ui.CancelButton, Qt::LeftButton);
    QVERIFY(helper.finished());
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Really abort the current process?"));
    QCOMPARE(helper.boxes[0].caption, QString("Cancel Requested"));
    QTEST(w.form.state().cancelRequested, "requested");
    QVERIFY(w.form.state().busy); // only the batch acts on the request

    w.form.setIdle();
    QCOMPARE(w.form.focusWidget(), ui.CompressButton);
    QVERIFY(!ui.CancelButton->isVisible());
}

void MainWindowTest::escapeWhileIdleAsksNothing() {
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    ModalHelper helper;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::mouseClick(w.form.ui().CancelButton, Qt::LeftButton); // hidden: no effect
    w.form.CancelButtonClick();
    QTest::qWait(50);
    QVERIFY(helper.boxes.isEmpty());
    QVERIFY(helper.unexpected.isEmpty());
    QVERIFY(!w.form.state().cancelRequested);
}

void MainWindowTest::aboutIsModal() {
    AppWindows w;
    w.form.show();
    ModalHelper helper;
    bool sawModal = false;
    helper.closeWindow("TAboutForm");
    QTimer::singleShot(0, [&] { sawModal = QApplication::activeModalWidget() == &w.about; });
    w.form.ui().About1->trigger();
    QVERIFY(helper.finished());
    QVERIFY(sawModal);
    QVERIFY(!w.about.isVisible());
}

void MainWindowTest::enterClicksTheFocusedButton_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("dialog");
    QTest::newRow("Compress, Return") << "CompressButton" << int(Qt::Key_Return) << "Compress";
    QTest::newRow("Compress, keypad Enter") << "CompressButton" << int(Qt::Key_Enter) << "Compress";
    QTest::newRow("Decompress, Return")
        << "DecompressButton" << int(Qt::Key_Return) << "Decompress";
}

// Enter on a focused command button clicks it, as Space does.
void MainWindowTest::enterClicksTheFocusedButton() {
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(QString, dialog);
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    auto* target = w.form.findChild<QPushButton*>(button);
    target->setFocus();
    QString opened;
    ModalHelper helper;
    helper.answerWindow("QFileDialog", [&](QWidget* window) {
        opened = window->windowTitle();
        static_cast<QDialog*>(window)->reject();
    });
    QTest::keyClick(target, Qt::Key(key));
    QTRY_VERIFY(helper.finished());
    QCOMPARE(opened, dialog);
}

void MainWindowTest::screenReaderNames_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption"); // the label a screen reader reads with it
    struct Row {
        const char* window;
        const char* control;
        const char* caption;
    };
    const Row rows[] = {
        {"", "Bevel2", ""},
        {"", "Bevel1", ""},
        {"", "DestFolderLabel", "Label1"},
        {"", "BatchBox", "Label6"},
        {"", "BatchProgressBar", ""},
        {"", "ElapsedLabel", "Label5"},
        {"", "EstimatedLabel", "EstimatedText"},
        {"", "CurrentFileBox", "Label7"},
        {"", "FileProgressBar", ""},
        {"", "SourceCounterLabel", "Label2"},
        {"", "DestCounterLabel", "Label3"},
        {"", "RatioLabel", "Label4"},
        {"", "CompressButton", ""},
        {"", "DecompressButton", ""},
        {"PasswordForm", "PasswordEdit", ""},
        {"PasswordForm", "CheckBox", ""},
        {"DestFolderForm", "DestFolder", ""},
        {"DestFolderForm", "DestDrive", "Label2"},
        {"HelpForm", "RichEdit", ""},
        {"AboutForm", "", ""},
        {"AboutForm", "title", ""},
    };
    for (const Row& r : rows)
        QTest::newRow(qPrintable(QString(r.window) + ' ' + r.control))
            << r.window << r.control << r.caption;
}

// Every control that shows something has a name for screen readers, and each value box is
// labelled by its caption.
void MainWindowTest::screenReaderNames() {
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, caption);
    AppWindows w;
    QWidget* top =
        window.isEmpty() ? static_cast<QWidget*>(&w.form) : w.form.findChild<QWidget*>(window);
    QVERIFY(top);
    QWidget* widget = control.isEmpty() ? top : top->findChild<QWidget*>(control);
    QVERIFY(widget);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(control));
    if (caption.isEmpty()) return;
    QStringList labels;
    for (const auto& [other, relation] : accessible->relations(QAccessible::Label))
        labels << other->object()->objectName();
    QCOMPARE(labels, QStringList{caption});
}

void MainWindowTest::keptOnScreen_data() {
    QTest::addColumn<QPoint>("at"); // where the window is put, as a share of the room left
    QTest::addColumn<bool>("moves");
    QTest::newRow("middle") << QPoint(50, 50) << false;
    QTest::newRow("past the bottom") << QPoint(50, 103) << true;
    QTest::newRow("past the right") << QPoint(120, 50) << true;
    QTest::newRow("past the top left") << QPoint(-10, -5) << true;
}

// A window that reaches past the screen's edge once framed (centred on a small or scaled
// screen before its frame was known) is brought onto it, whole; one that fits stays.
void MainWindowTest::keptOnScreen() {
    QFETCH(QPoint, at);
    QFETCH(bool, moves);
    AppWindows w;
    const QRect room = w.form.screen()->availableGeometry();
    const QSize spare = room.size() - w.form.frameGeometry().size();
    const QPoint put =
        room.topLeft() + QPoint(spare.width() * at.x() / 100, spare.height() * at.y() / 100);
    w.form.move(put);
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    QTRY_VERIFY2(room.contains(w.form.frameGeometry()),
                 qPrintable(QString("at %1,%2").arg(w.form.x()).arg(w.form.y())));
    QCOMPARE(w.form.pos() != put, moves);
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
