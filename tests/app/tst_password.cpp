// SPDX-License-Identifier: BSD-3-Clause
// The password dialog and the password option: layout, the code of what is typed, the
// mask, keys that must not close the dialog, placement, and the option's transitions.
#include "modal_helper.h"
#include "password.h"
#include "ui_Unit1.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Types text as key presses; characters beyond ASCII come as keys that carry only text.
void typeText(QWidget* target, const QString& text) {
    for (QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(target, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void showMainWindow(AppWindows& w) {
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
}

// Opens the dialog through "Use..." and hands it to answer while it is shown.
void openAndAnswer(AppWindows& w, const std::function<void(TPasswordForm*)>& answer,
                   QStringList* unexpected = nullptr) {
    ModalHelper helper;
    helper.answerWindow("TPasswordForm",
                        [&](QWidget* modal) { answer(static_cast<TPasswordForm*>(modal)); });
    w.form.ui().PwUseMI->trigger();
    QVERIFY(helper.finished());
    if (unexpected)
        *unexpected = helper.unexpected;
    else
        QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
}

void typeAndPress(TPasswordForm* f, const QString& typed, QPushButton* button) {
    f->PasswordEdit->selectAll();
    QTest::keyClick(f->PasswordEdit, Qt::Key_Backspace);
    QTest::keyClicks(f->PasswordEdit, typed);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class PasswordTest : public QObject {
    Q_OBJECT

  private slots:
    void dialogLayout();
    void codeOfTypedText_data();
    void codeOfTypedText();
    void codeFollowsEditsAndWrites();
    void hidePassword();
    void enterAndEscapeCloseNothing();
    void placedBesideMainWindow();
    void promptLeavesFileInSight_data();
    void promptLeavesFileInSight();
    void optionTransitions_data();
    void optionTransitions();
    void doubleClickOnLabelOpensDialog();
};

void PasswordTest::dialogLayout() {
    AppWindows w;
    TPasswordForm& f = w.password;
    QCOMPARE(f.windowTitle(), QString("Enter New Password"));
    QCOMPARE(f.size(), QSize(281, 75));
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QVERIFY(f.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(f.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                 Qt::WindowContextHelpButtonHint)));

    QCOMPARE(f.PasswordEdit->geometry(), QRect(8, 8, 169, 21));
    QCOMPARE(f.PasswordEdit->maxLength(), 16);
    QCOMPARE(f.PasswordEdit->text(), QString());
    QCOMPARE(f.OkButton->geometry(), QRect(192, 8, 81, 25));
    QCOMPARE(f.OkButton->text(), QString("OK"));
    QCOMPARE(f.CancelButton->geometry(), QRect(192, 40, 81, 25));
    QCOMPARE(f.CancelButton->text(), QString("Cancel"));
    for (QPushButton* b : {f.OkButton, f.CancelButton})
        QVERIFY(!b->isDefault() && !b->autoDefault());
    QCOMPARE(f.CheckBox->geometry(), QRect(8, 48, 121, 17));
    QCOMPARE(f.CheckBox->text(), QString("Hide Password"));
    QVERIFY(f.CheckBox->isChecked());
    QVERIFY(!(f.CheckBox->focusPolicy() & Qt::TabFocus));
    QCOMPARE(f.Code->geometry(), QRect(136, 48, 41, 17));
    QCOMPARE(f.Code->text(), QString("0"));
    QVERIFY(f.Code->alignment() & Qt::AlignRight);

    // Tab goes edit, OK, Cancel and round again, past the check box.
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    f.PasswordEdit->setFocus();
    QList<QWidget*> visited;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    QCOMPARE(visited, (QList<QWidget*>{f.OkButton, f.CancelButton, f.PasswordEdit}));
    QVERIFY(!f.Code->isVisible());
    f.hide();
}

void PasswordTest::codeOfTypedText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown"); // the edit's text after typing
    QTest::addColumn<QString>("code");
    QTest::newRow("empty") << ""
                           << ""
                           << "0";
    QTest::newRow("one letter") << "A"
                                << "A"
                                << "65";
    QTest::newRow("ABC") << "ABC"
                         << "ABC"
                         << "-16827";
    QTest::newRow("lower case is upper-cased") << "abc"
                                               << "ABC"
                                               << "-16827";
    QTest::newRow("accented letter") << QString::fromUtf8("é") << QString::fromUtf8("É") << "-55";
    QTest::newRow("y diaeresis to 0x9F")
        << QString::fromUtf8("ÿ") << QString::fromUtf8("Ÿ") << "-97";
    QTest::newRow("mixed") << QString::fromUtf8("aéš") << QString::fromUtf8("AÉŠ") << "4936";
    QTest::newRow("sharp s keeps its length")
        << QString::fromUtf8("ß") << QString::fromUtf8("ß") << "-33";
    QTest::newRow("no Windows-1252 byte counts as ?")
        << QString::fromUtf8("ж") << QString::fromUtf8("ж") << "63";
    QTest::newRow("sixteen characters wrap") << "zzzzzzzzzzzzzzzz"
                                             << "ZZZZZZZZZZZZZZZZ"
                                             << "11888";
    QTest::newRow("seventeenth character refused") << "password123456789"
                                                   << "PASSWORD12345678"
                                                   << "-21350";
}

void PasswordTest::codeOfTypedText() {
    QFETCH(QString, typed);
    AppWindows w;
    showMainWindow(w);
    openAndAnswer(w, [&](TPasswordForm* f) {
        typeText(f->PasswordEdit, typed);
        QTEST(f->PasswordEdit->text(), "shown");
        QTEST(f->Code->text(), "code");
        QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QTEST(w.password.Code->text(), "code");
    QTEST(w.password.PasswordEdit->text(), "shown");
}

// Deleting and pasting recompute the code too; a program write does even when the text
// stays the same.
void PasswordTest::codeFollowsEditsAndWrites() {
    AppWindows w;
    QLineEdit* edit = w.password.PasswordEdit;
    w.password.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.password));
    edit->setFocus();
    QTest::keyClicks(edit, "abcd");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(w.password.Code->text(), QString("-16827"));
    QTest::keyClick(edit, Qt::Key_Home);
    edit->insert("a"); // as a paste does
    QCOMPARE(edit->text(), QString("AABC"));
    edit->clear();
    QCOMPARE(w.password.Code->text(), QString("0"));

    edit->setText("ABC");
    w.password.Code->setText("5");
    w.password.setPasswordText("ABC");
    QCOMPARE(w.password.Code->text(), QString("-16827"));
    QCOMPARE(w.password.codeWord(), uint16_t(48709));
    w.password.hide();
}

void PasswordTest::hidePassword() {
    AppWindows w;
    TPasswordForm& f = w.password;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QTest::keyClicks(f.PasswordEdit, "secret");
    QCOMPARE(f.PasswordEdit->displayText(), QString("??????"));
    QTest::mouseClick(f.CheckBox, Qt::LeftButton);
    QVERIFY(!f.CheckBox->isChecked());
    QCOMPARE(f.PasswordEdit->displayText(), QString("SECRET"));
    QTest::mouseClick(f.CheckBox, Qt::LeftButton);
    QCOMPARE(f.PasswordEdit->displayText(), QString("??????"));
    QCOMPARE(f.PasswordEdit->text(), QString("SECRET"));
    QCOMPARE(f.Code->text(), QString::number(int16_t(kpz::passwordCode("SECRET"))));
    f.hide();
}

void PasswordTest::enterAndEscapeCloseNothing() {
    AppWindows w;
    showMainWindow(w);
    bool stillOpen = false;
    int returnsSeen = -1;
    openAndAnswer(w, [&](TPasswordForm* f) {
        QSignalSpy returns(f->PasswordEdit, &QLineEdit::returnPressed);
        QTest::keyClicks(f->PasswordEdit, "ab");
        for (QWidget* target :
             std::initializer_list<QWidget*>{f->PasswordEdit, f->OkButton, f->CancelButton, f}) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
            QTest::keyClick(target, Qt::Key_Escape);
        }
        stillOpen = f->isVisible() && QApplication::activeModalWidget() == f;
        returnsSeen = static_cast<int>(returns.count());
        QCOMPARE(f->PasswordEdit->text(), QString("AB"));
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QVERIFY(stillOpen);
    QCOMPARE(returnsSeen, 0);                             // Enter never reached the edit
    QCOMPARE(w.password.PasswordEdit->text(), QString()); // Cancel put the old text back
    QVERIFY(w.form.ui().PwNoneMI->isChecked());
}

// Each time the dialog becomes active it sits 40 right of and 147 below the main window,
// with the focus in the edit.
void PasswordTest::placedBesideMainWindow() {
    AppWindows w;
    w.form.move(120, 90);
    showMainWindow(w);
    const QPoint expected = w.form.pos() + QPoint(40, 147);
    QWidget* focused = nullptr;
    openAndAnswer(w, [&](TPasswordForm* f) {
        QTRY_VERIFY(f->isActiveWindow());
        // A window manager may carry the move out after the activation, and frame the
        // dialog where it was first shown until then: the place is the one it settles on.
        QTRY_COMPARE(f->pos(), expected);
        focused = QApplication::focusWidget();
        f->move(300, 300);
        f->CancelButton->setFocus();
        // Away and back, as after switching to another application.
#ifdef Q_OS_WIN
        // Windows keeps its own active window, which setActiveWindow does not move while
        // the dialog is modal: the dialog hears of the switch as the system tells it.
        QEvent away(QEvent::WindowDeactivate);
        QApplication::sendEvent(f, &away);
        QEvent back(QEvent::WindowActivate);
        QApplication::sendEvent(f, &back);
#else
        QApplication::setActiveWindow(&w.form);
        QVERIFY(!f->isActiveWindow());
        QApplication::setActiveWindow(f);
#endif
        QTRY_VERIFY(f->isActiveWindow());
        QTRY_COMPARE(f->pos(), expected);
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QCOMPARE(focused, w.password.PasswordEdit);
}

void PasswordTest::promptLeavesFileInSight_data() {
    QTest::addColumn<QPoint>("at"); // where the main window is, as a share of the room left
    QTest::newRow("middle") << QPoint(50, 30);
    QTest::newRow("low on the screen") << QPoint(50, 95);
    QTest::newRow("off the bottom") << QPoint(50, 150);
    QTest::newRow("off the right") << QPoint(160, 50);
    QTest::newRow("off the top left") << QPoint(-60, -60);
}

// Asking for a file's password, the dialog (whose caption, with the file's name, the title
// bar may cut) leaves the Current File line in sight, and stays on the screen wherever the
// main window is.
void PasswordTest::promptLeavesFileInSight() {
    QFETCH(QPoint, at);
    QTemporaryDir dir;
    const QString file = dir.filePath("a rather long name for a take.kpz");
    writeFile(file, expectedCompressed(toneBytes(4000), "take.wav", true, 1234));

    AppWindows w;
    const QRect room = w.form.screen()->availableGeometry();
    const QSize spare = room.size() - w.form.frameGeometry().size();
    w.form.move(room.topLeft() +
                QPoint(spare.width() * at.x() / 100, spare.height() * at.y() / 100));
    showMainWindow(w);
    Ui::TMainForm& ui = w.form.ui();
    QRect dialog, line;
    QString shown;
    ModalHelper helper;
    const auto lineNow = [&] {
        return QRect(ui.Label7->mapToGlobal(QPoint(0, 0)), ui.Label7->size())
            .united(QRect(ui.CurrentFileBox->mapToGlobal(QPoint(0, 0)), ui.CurrentFileBox->size()));
    };
    helper.answerWindow("TPasswordForm", [&](QWidget* modal) {
        QTRY_VERIFY(modal->isActiveWindow());
        // A window manager may carry the dialog's move out after its activation: the place
        // checked is the one it settles on (or where it is after the wait, when it is wrong,
        // which the checks below report).
        static_cast<void>(QTest::qWaitFor([&] {
            const QRect frame = modal->frameGeometry();
            return room.contains(frame) &&
                   !(room.contains(lineNow()) && frame.intersects(lineNow()));
        }));
        dialog = modal->frameGeometry();
        line = lineNow();
        shown = ui.CurrentFileBox->toolTip().isEmpty() ? ui.CurrentFileBox->text()
                                                       : ui.CurrentFileBox->toolTip();
        static_cast<TPasswordForm*>(modal)->CancelButton->click();
    });
    w.form.decompressBatch({file});
    QVERIFY(helper.finished());
    QCOMPARE(shown, QFileInfo(file).fileName());
    QVERIFY2(room.contains(dialog), qPrintable(QString("dialog at %1,%2 %3x%4")
                                                   .arg(dialog.x())
                                                   .arg(dialog.y())
                                                   .arg(dialog.width())
                                                   .arg(dialog.height())));
    if (room.contains(line)) QVERIFY(!dialog.intersects(line));
    QVERIFY(!w.password.keepInSight); // the option's own dialog is placed as before
}

void PasswordTest::optionTransitions_data() {
    QTest::addColumn<QString>("before"); // password in force before, "" for Off
    QTest::addColumn<QString>("action"); // ok:<text>, cancel:<text>, close:<text>, none
    QTest::addColumn<QString>("after");  // password in force after, "" for Off
    QTest::newRow("Off, OK with a password") << ""
                                             << "ok:abc"
                                             << "ABC";
    QTest::newRow("On, OK with a new password") << "XY"
                                                << "ok:abc"
                                                << "ABC";
    QTest::newRow("On, OK emptied") << "XY"
                                    << "ok:"
                                    << "";
    QTest::newRow("Off, OK empty") << ""
                                   << "ok:"
                                   << "";
    QTest::newRow("On, Cancel after editing") << "XY"
                                              << "cancel:qqq"
                                              << "XY";
    QTest::newRow("Off, Cancel after editing") << ""
                                               << "cancel:qqq"
                                               << "";
    QTest::newRow("On, close box after editing") << "XY"
                                                 << "close:qqq"
                                                 << "XY";
    QTest::newRow("On, None") << "XY"
                              << "none"
                              << "";
    QTest::newRow("Off, None") << ""
                               << "none"
                               << "";
}

void PasswordTest::optionTransitions() {
    QFETCH(QString, before);
    QFETCH(QString, action);
    QFETCH(QString, after);
    AppWindows w;
    showMainWindow(w);
    Ui::TMainForm& ui = w.form.ui();
    if (!before.isEmpty())
        openAndAnswer(w, [&](TPasswordForm* f) { typeAndPress(f, before, f->OkButton); });

    QString shownOnOpen;
    QString captionOnOpen;
    const QString kind = action.section(':', 0, 0);
    const QString typed = action.section(':', 1);
    if (kind == "none") {
        ui.PwNoneMI->trigger();
    } else {
        openAndAnswer(w, [&](TPasswordForm* f) {
            shownOnOpen = f->PasswordEdit->text();
            captionOnOpen = f->windowTitle();
            if (kind == "close") {
                QTest::keyClicks(f->PasswordEdit, typed);
                f->close();
            } else {
                typeAndPress(f, typed, kind == "ok" ? f->OkButton : f->CancelButton);
            }
        });
        QCOMPARE(shownOnOpen, before);
        QCOMPARE(captionOnOpen, QString("Enter New Password"));
    }

    const bool on = !after.isEmpty();
    QCOMPARE(ui.PwUseMI->isChecked(), on);
    QCOMPARE(ui.PwNoneMI->isChecked(), !on);
    QCOMPARE(ui.PasswordMode->isVisible(), on);
    QCOMPARE(w.password.PasswordEdit->text(), after);
    QCOMPARE(w.password.Code->text(),
             QString::number(int16_t(kpz::passwordCode(after.toLatin1().toStdString()))));

    // "Use..." afterwards opens with the password in force (empty when Off).
    openAndAnswer(w, [&](TPasswordForm* f) {
        shownOnOpen = f->PasswordEdit->text();
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QCOMPARE(shownOnOpen, after);
}

void PasswordTest::doubleClickOnLabelOpensDialog() {
    AppWindows w;
    showMainWindow(w);
    Ui::TMainForm& ui = w.form.ui();
    openAndAnswer(w, [&](TPasswordForm* f) { typeAndPress(f, "k", f->OkButton); });
    QVERIFY(ui.PasswordMode->isVisible());
    QPalette::ColorRole role = ui.PasswordMode->foregroundRole();
    QCOMPARE(ui.PasswordMode->palette().color(role), QColor(Qt::red));

    ModalHelper helper;
    QString shown;
    helper.answerWindow("TPasswordForm", [&](QWidget* modal) {
        auto* f = static_cast<TPasswordForm*>(modal);
        shown = f->PasswordEdit->text();
        typeAndPress(f, "", f->OkButton);
    });
    QTest::mouseDClick(ui.PasswordMode, Qt::LeftButton);
    QTRY_VERIFY(helper.finished());
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(shown, QString("K"));
    QVERIFY(!ui.PasswordMode->isVisible());
    QVERIFY(ui.PwNoneMI->isChecked() && !ui.PwUseMI->isChecked());
}

QTEST_MAIN(PasswordTest)
#include "tst_password.moc"
