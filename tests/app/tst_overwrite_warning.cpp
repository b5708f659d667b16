// SPDX-License-Identifier: BSD-3-Clause
// The overwrite-warning option: the menu item flips it, and a compression batch replaces
// existing files without asking while it is off, from the next file on when it changes
// during a batch.
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QTemporaryDir>
#include <QtTest>

class OverwriteWarningTest : public QObject {
    Q_OBJECT

  private slots:
    void menuItemFlipsTheMark();
    void offReplacesWithoutAsking();
    void switchedOffDuringABatch();
    void longNameFitsTheScreen();

  private:
    static void present(AppWindows& w) {
        w.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
    static void runBatch(AppWindows& w, ModalHelper& helper) {
        QTest::mouseClick(w.form.ui().CompressButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);
    }
};

void OverwriteWarningTest::menuItemFlipsTheMark() {
    AppWindows w;
    QAction* item = w.form.ui().OverWarnMI;
    QVERIFY(item->isChecked());
    for (bool expected : {false, true, false}) {
        item->trigger();
        QCOMPARE(item->isChecked(), expected);
    }
    w.form.OverWarnMIClick();
    QVERIFY(item->isChecked());
}

void OverwriteWarningTest::offReplacesWithoutAsking() {
    QTemporaryDir dir;
    const QString source = dir.filePath("take.wav"), output = dir.filePath("take.kpz");
    const QByteArray data = toneBytes(20000);
    writeFile(source, data);
    writeFile(output, "old contents");

    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->trigger();
    QVERIFY(!w.form.ui().OverWarnMI->isChecked());
    ModalHelper helper;
    helper.chooseFiles({source});
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(readFile(output), expectedCompressed(data, "take.wav"));
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
}

void OverwriteWarningTest::switchedOffDuringABatch() {
    QTemporaryDir dir;
    const QByteArray first = noiseBytes(700000), second = toneBytes(30000);
    writeFile(dir.filePath("a.wav"), first);
    writeFile(dir.filePath("b.wav"), second);
    writeFile(dir.filePath("a.kpz"), "old a");
    writeFile(dir.filePath("b.kpz"), "old b");

    AppWindows w;
    present(w);
    ModalHelper helper;
    // Let the helper act at each output flush, where the batch lets the window handle input.
    auto show = w.form.state().hooks.showProgress;
    w.form.state().hooks.showProgress = [&](kpz::Direction d) {
        show(d);
        helper.check();
    };
    // The first file asks; while it is being written the user switches the warning off,
    // and the second file is replaced without a question.
    helper.chooseFiles({dir.filePath("a.wav"), dir.filePath("b.wav")})
        .press(QMessageBox::Ok)
        .when([] { return true; }, [&] { w.form.ui().OverWarnMI->trigger(); });
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Overwrite 'a.kpz'?"));
    QCOMPARE(readFile(dir.filePath("a.kpz")), expectedCompressed(first, "a.wav"));
    QCOMPARE(readFile(dir.filePath("b.kpz")), expectedCompressed(second, "b.wav"));
    QVERIFY(!w.form.ui().OverWarnMI->isChecked());
}

// A 250-byte name cannot wrap: the question cuts it in the middle, keeps the end that tells
// names apart, and stays within the screen.
void OverwriteWarningTest::longNameFitsTheScreen() {
    QTemporaryDir dir;
    const QString stem = QString(238, 'a') + " take 17";
    QCOMPARE((stem + ".kpz").toUtf8().size(), 250);
    writeFile(dir.filePath(stem + ".wav"), toneBytes(20000));
    writeFile(dir.filePath(stem + ".kpz"), "old contents");

    AppWindows w;
    present(w);
    ModalHelper helper;
    QString text, toolTip;
    QRect frame, room;
    helper.chooseFiles({dir.filePath(stem + ".wav")})
        .answerWindow("QMessageBox", [&](QWidget* window) {
            auto* box = static_cast<QMessageBox*>(window);
            text = box->text();
            frame = box->frameGeometry();
            room = box->screen()->availableGeometry();
            box->button(QMessageBox::Cancel)->click();
        });
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY2(text.startsWith("Overwrite 'aaa") && text.endsWith(" take 17.kpz'?") &&
                 text.contains(QChar(0x2026)),
             qPrintable(text));
    QVERIFY2(frame.width() <= room.width(),
             qPrintable(QString("%1 > %2").arg(frame.width()).arg(room.width())));
    QCOMPARE(readFile(dir.filePath(stem + ".kpz")), QByteArray("old contents"));
}

QTEST_MAIN(OverwriteWarningTest)
#include "tst_overwrite_warning.moc"
