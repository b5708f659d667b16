// SPDX-License-Identifier: BSD-3-Clause
// The compression batch, driven through the real window, file dialog and message boxes.
#include "app_title.h"
#include "file_io.h"
#include "messages.h"
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// Runs one batch from the Compress button while the helper answers.
void runBatch(AppWindows& w, ModalHelper& helper) {
    QTest::mouseClick(w.form.ui().CompressButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
}

// Counts the output flushes the display has been shown for, and lets the helper act at
// each, as a person's key press or click would be handled there.
struct FlushCounter {
    FlushCounter(TMainForm& form, ModalHelper& helper) {
        auto show = form.state().hooks.showProgress;
        form.state().hooks.showProgress = [this, show, &helper](kpz::Direction d) {
            ++count;
            show(d);
            helper.check();
        };
    }
    int count = 0;
};

// What a failures row does to the files beyond writing them.
enum class FailureSetup {
    Plain,
    SourceVanishes,           // the source is deleted once the files are chosen
    SourceIs4GiB,             // the source is grown, sparse, to 4 GiB
    DestinationIsFolder,      // a folder has the output's name
    DestinationLinksToSource, // the output's name is a symbolic link to the source
};

void verifyIdleAfterBatch(AppWindows& w) {
    Ui::TMainForm& ui = w.form.ui();
    QVERIFY(!w.form.state().busy);
    QVERIFY(!w.form.state().cancelRequested);
    QVERIFY(ui.CompressButton->isVisible());
    QVERIFY(ui.DecompressButton->isVisible());
    QVERIFY(!ui.CancelButton->isVisible());
    QCOMPARE(w.form.focusWidget(), ui.CompressButton);
    QCOMPARE(applicationTitle(), QString("Brisko Packer"));
}

} // namespace

Q_DECLARE_METATYPE(FailureSetup)
Q_DECLARE_METATYPE(kpz::FaultPlan)

class CompressBatchTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void batchOfSeveralFiles();
    void headerBytes();
    void cancelledDialogLeavesDisplayReset();
    void escapeAnsweredNoThenYes();
    void cancelDuringClosingFlushOfLastFile();
    void overwritePrompt_data();
    void overwritePrompt();
    void failures_data();
    void failures();
    void commandsDuringBatch();
    void oneOutputPerBatch();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }
    // Shows the window and brings it to the front, as after a user's click.
    static void present(AppWindows& w) {
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
};

void CompressBatchTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void CompressBatchTest::cleanup() {
    kpz::clearFaultPlan();
    dir_.reset();
}

void CompressBatchTest::batchOfSeveralFiles() {
    struct Source {
        QString name;
        QByteArray data;
        QString output;
    };
    const QList<Source> sources = {
        {"a_noise.wav", noiseBytes(1300000), "a_noise.kpz"}, // output spans several flushes
        {"b_empty.wav", {}, "b_empty.kpz"},
        {"c_short.bun", toneBytes(100), "c_short.kpz"},
        {"d_tone.final.acd", toneBytes(700001), "d_tone.final.kpz"},
        {"e_noext", toneBytes(300000), "e_noext.kpz"},
    };
    QStringList paths;
    for (const Source& s : sources) {
        writeFile(path(s.name), s.data);
        paths << path(s.name);
    }

    AppWindows w;
    present(w);
    w.form.applicationActive = [] { return false; };
    ModalHelper helper;
    FlushCounter flushes(w.form, helper);
    QStringList titles;
    QList<int> batchBar;
    auto show = w.form.state().hooks.showProgress;
    w.form.state().hooks.showProgress = [&](kpz::Direction d) {
        show(d);
        titles << w.form.windowTitle();
        batchBar << w.form.ui().BatchProgressBar->value();
    };

    helper.chooseFiles(paths);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    for (const Source& s : sources)
        QCOMPARE(readFile(path(s.output)), expectedCompressed(s.data, s.name.toStdString()));

    Ui::TMainForm& ui = w.form.ui();
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
    QCOMPARE(ui.BatchBox->text(), QString("File 5 of 5"));
    QCOMPARE(ui.CurrentFileBox->text(), QString("e_noext"));
    QCOMPARE(ui.BatchProgressBar->value(), 100);
    QCOMPARE(ui.FileProgressBar->value(), 100);
    const qint64 lastOut = QFileInfo(path("e_noext.kpz")).size();
    QCOMPARE(ui.SourceCounterLabel->text(), QString::number(300000 / 1024) + "K");
    QCOMPARE(ui.DestCounterLabel->text(), QString::number(lastOut / 1024) + "K");
    QCOMPARE(ui.RatioLabel->text(),
             QString::number(100 - (100 * (lastOut / 256)) / (300000 / 256)) + "%");
    verifyIdleAfterBatch(w);

    // In the background the title carried the batch share, which only grew.
    QVERIFY(flushes.count >= 7);
    QVERIFY(titles.first().endsWith("%) Compressing..."));
    QVERIFY(std::is_sorted(batchBar.begin(), batchBar.end()));
    QVERIFY(std::any_of(batchBar.begin(), batchBar.end(), [](int v) { return v > 0 && v < 100; }));
}

// Two sources named a.wav in different folders: the header bytes stand on their own.
void CompressBatchTest::headerBytes() {
    QVERIFY(QDir(dir_->path()).mkdir("one"));
    QVERIFY(QDir(dir_->path()).mkdir("two"));
    writeFile(path("one/a.wav"), {});
    writeFile(path("two/a.wav"), QByteArray("\x01\x00\x00\x00", 4));
    AppWindows w;
    present(w);
    ModalHelper helper;
    helper.chooseFiles({path("one/a.wav"), path("two/a.wav")});
    runBatch(w, helper);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(readFile(path("one/a.kpz")).toHex(' '),
             QByteArray("43 00 00 00 00 05 00 00 00 61 2e 77 61 76 00 00 00 00"));
    QCOMPARE(readFile(path("two/a.kpz")).toHex(' '),
             QByteArray("43 04 00 00 00 05 00 00 00 61 2e 77 61 76 70 01 00 00 00 00 00 00 00 00"));
    // The empty source: nothing to compare, so the ratio shows "0%".
    QCOMPARE(w.form.ui().RatioLabel->text(), QString("0%"));
}

void CompressBatchTest::cancelledDialogLeavesDisplayReset() {
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();
    ui.SourceCounterLabel->setText("12K");
    ui.RatioLabel->setText("40%");
    ui.BatchProgressBar->setValue(100);
    ui.CurrentFileBox->setText("x.wav");
    ui.ElapsedLabel->setText(" 3 s");
    w.form.setStatusText("Compressing... Done");

    ModalHelper helper;
    helper.cancelFileDialog();
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString());
    QCOMPARE(ui.SourceCounterLabel->text(), QString("0K"));
    QCOMPARE(ui.RatioLabel->text(), QString("0%"));
    QCOMPARE(ui.BatchProgressBar->value(), 0);
    QCOMPARE(ui.CurrentFileBox->text(), QString("None"));
    QCOMPARE(ui.ElapsedLabel->text(), QString("0 s"));
    verifyIdleAfterBatch(w);
    QCOMPARE(w.form.CompressDialog()->windowTitle(), QString("Compress"));
}

void CompressBatchTest::escapeAnsweredNoThenYes() {
    const QByteArray big = noiseBytes(3 * 1024 * 1024);
    writeFile(path("a.wav"), big);
    writeFile(path("b.wav"), toneBytes(5000));
    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushCounter flushes(w.form, helper);
    int flushesAtNo = -1;
    auto pressEscape = [&w] {
        QWidget* target = w.form.focusWidget() ? w.form.focusWidget() : &w.form;
        QTest::keyClick(target, Qt::Key_Escape);
    };

    helper.chooseFiles({path("a.wav"), path("b.wav")})
        .when([&] { return flushes.count >= 1; }, pressEscape)
        .press(QMessageBox::No)
        .when(
            [&] {
                if (flushesAtNo < 0) flushesAtNo = flushes.count;
                return flushes.count >= flushesAtNo + 2;
            },
            [&] {
                QVERIFY(!w.form.state().cancelRequested); // No left the batch going
                pressEscape();
            })
        .press(QMessageBox::Yes);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 2);
    for (const SeenBox& box : helper.boxes) {
        QCOMPARE(box.text, QString("Really abort the current process?"));
        QCOMPARE(box.caption, QString("Cancel Requested"));
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::Yes);
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    verifyIdleAfterBatch(w);

    // Nothing partial is left under a final name: neither a nor b has an output.
    QVERIFY(!QFile::exists(path("a.kpz")));
    QVERIFY(!QFile::exists(path("b.kpz")));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // The request does not carry over: the next batch runs to the end.
    helper.chooseFiles({path("b.wav")});
    runBatch(w, helper);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
    QCOMPARE(readFile(path("b.kpz")), expectedCompressed(toneBytes(5000), "b.wav"));
}

void CompressBatchTest::cancelDuringClosingFlushOfLastFile() {
    writeFile(path("only.wav"), toneBytes(2000)); // a single flush, the closing one
    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushCounter flushes(w.form, helper);
    helper.chooseFiles({path("only.wav")})
        .when([&] { return flushes.count >= 1; }, [&w] { w.form.CancelButtonClick(); })
        .press(QMessageBox::Yes);
    runBatch(w, helper);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(flushes.count, 1);
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    verifyIdleAfterBatch(w);
}

void CompressBatchTest::overwritePrompt_data() {
    QTest::addColumn<bool>("warning");
    QTest::addColumn<int>("answer"); // button pressed, or NoButton when no prompt is expected
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QString>("status");
    QTest::newRow("OK replaces") << true << int(QMessageBox::Ok) << true << "Compressing... Done";
    QTest::newRow("Cancel ends the batch")
        << true << int(QMessageBox::Cancel) << false << "Aborted!";
    QTest::newRow("warning off") << false << int(QMessageBox::NoButton) << true
                                 << "Compressing... Done";
}

void CompressBatchTest::overwritePrompt() {
    QFETCH(bool, warning);
    QFETCH(int, answer);
    QFETCH(bool, replaced);
    const QByteArray data = toneBytes(9000);
    writeFile(path("take1.wav"), data);
    writeFile(path("take1.kpz"), "old contents");
    writeFile(path("take2.wav"), data);

    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(warning);
    ModalHelper helper;
    helper.chooseFiles({path("take1.wav"), path("take2.wav")});
    if (answer != QMessageBox::NoButton) helper.press(QMessageBox::StandardButton(answer));
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    if (answer != QMessageBox::NoButton) {
        QCOMPARE(helper.boxes.size(), 1);
        QCOMPARE(helper.boxes[0].text, QString("Overwrite 'take1.kpz'?"));
        QCOMPARE(helper.boxes[0].caption, QString("File Exists"));
        QCOMPARE(helper.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(helper.boxes[0].icon, QMessageBox::NoIcon);
    } else {
        QVERIFY(helper.boxes.isEmpty());
    }
    QCOMPARE(readFile(path("take1.kpz")),
             replaced ? expectedCompressed(data, "take1.wav") : QByteArray("old contents"));
    QCOMPARE(QFile::exists(path("take2.kpz")), replaced);
    QTEST(w.form.statusText(), "status");
    verifyIdleAfterBatch(w);
}

void CompressBatchTest::failures_data() {
    QTest::addColumn<QString>("badName");
    QTest::addColumn<QByteArray>("badData");
    QTest::addColumn<QString>("badOutput"); // where the failing file's output would go
    QTest::addColumn<FailureSetup>("setup");
    QTest::addColumn<kpz::FaultPlan>("faults"); // installed once the files are chosen
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("status");

    using enum FailureSetup;
    const kpz::FaultPlan none;
    // a.wav takes two reads (its data, then the end); b's second fails.
    const kpz::FaultPlan readError{.readFailsAt = 4};
    // Past a's 24 bytes and b's header.
    const kpz::FaultPlan shortWrite{.writeStopsAt = 100};
    const QByteArray big = noiseBytes(1500000);
    QTest::newRow("source vanished")
        << "b.wav" << toneBytes(3000) << "b.kpz" << SourceVanishes << none
        << kpz::msg::kOpenSourceFailed << kpz::msg::kOpenSourceFailed;
    QTest::newRow("destination is a folder")
        << "b.wav" << toneBytes(3000) << "b.kpz" << DestinationIsFolder << none
        << kpz::msg::kOpenDestinationFailed << kpz::msg::kOpenDestinationFailed;
    QTest::newRow("read error") << "b.wav" << big << "b.kpz" << Plain << readError
                                << kpz::msg::kSourceReadError << kpz::msg::kSourceReadError;
    QTest::newRow("short write mid-file")
        << "b.wav" << big << "b.kpz" << Plain << shortWrite << kpz::msg::kWriteFailed << "Aborted!";
    QTest::newRow("short write in closing flush")
        << "b.wav" << toneBytes(3000) << "b.kpz" << Plain << shortWrite << kpz::msg::kWriteFailed
        << "Aborted!";
    QTest::newRow("compressed beside itself") << "b.kpz" << toneBytes(3000) << "b.kpz" << Plain
                                              << none << kpz::msg::kSameFile << kpz::msg::kSameFile;
    QTest::newRow("destination links to the source")
        << "b.wav" << toneBytes(3000) << "b.kpz" << DestinationLinksToSource << none
        << kpz::msg::kSameFile << kpz::msg::kSameFile;
    QTest::newRow("4 GiB source") << "b.wav" << QByteArray() << "b.kpz" << SourceIs4GiB << none
                                  << kpz::msg::kTooLarge << kpz::msg::kTooLarge;
}

// Each failure: its box, the status line, the window idle again; the file before it is
// complete, the file after it untouched, the failing source unchanged.
void CompressBatchTest::failures() {
    QFETCH(QString, badName);
    QFETCH(QByteArray, badData);
    QFETCH(QString, badOutput);
    QFETCH(FailureSetup, setup);
    QFETCH(kpz::FaultPlan, faults);
    QFETCH(QString, message);

    const QByteArray tiny("\x01\x00\x00\x00", 4); // a complete output of 24 bytes
    writeFile(path("a.wav"), tiny);
    writeFile(path(badName), badData);
    writeFile(path("c.wav"), toneBytes(3000));
    switch (setup) {
    case FailureSetup::SourceIs4GiB: {
        QFile file(path(badName));
        QVERIFY(file.resize(qint64(4) << 30)); // sparse: takes no room on disk
        break;
    }
    case FailureSetup::DestinationIsFolder:
        QVERIFY(QDir(dir_->path()).mkdir(badOutput));
        // Refused before the overwrite question: a folder is never replaced.
        break;
    case FailureSetup::DestinationLinksToSource:
#ifdef Q_OS_WIN
        // QFile::link makes a shortcut there: a file of its own, not a link to the source.
        QSKIP("needs a symbolic link, which QFile::link does not make on Windows");
#endif
        QVERIFY(QFile::link(path(badName), path(badOutput)));
        break;
    case FailureSetup::Plain:
    case FailureSetup::SourceVanishes:
        break;
    }
    // The source on disk is no longer the data written above.
    const bool sourceReplaced =
        setup == FailureSetup::SourceVanishes || setup == FailureSetup::SourceIs4GiB;
    // Something already stands where the output would go.
    const bool outputOccupied = setup == FailureSetup::DestinationIsFolder ||
                                setup == FailureSetup::DestinationLinksToSource;

    AppWindows w;
    present(w);
    w.form.applicationActive = [] { return false; };
    ModalHelper helper;
    auto afterAccept = [&] {
        if (setup == FailureSetup::SourceVanishes) QFile::remove(path(badName));
        kpz::installFaultPlan(faults);
    };
    const QStringList paths = {path("a.wav"), path(badName), path("c.wav")};
    helper.chooseFiles(paths, afterAccept);
    helper.press(QMessageBox::Ok);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    const SeenBox& box = helper.boxes.last();
    QCOMPARE(box.text, message);
    QCOMPARE(box.caption, QString("Unexpected Error"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QTEST(w.form.statusText(), "status");
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 2 of 3"));
    verifyIdleAfterBatch(w);

    QCOMPARE(readFile(path("a.kpz")), expectedCompressed(tiny, "a.wav"));
    QVERIFY(!QFile::exists(path("c.kpz")));
    if (!sourceReplaced) QCOMPARE(readFile(path(badName)), badData);
    if (setup == FailureSetup::DestinationLinksToSource)
        QVERIFY(QFileInfo(path(badOutput)).isSymLink());
    // A failed file leaves nothing under its output's name, not even a partial file.
    if (badOutput != badName && !outputOccupied) QVERIFY(!QFile::exists(path(badOutput)));
}

// While a batch lets the window breathe: F2 starts nothing, the about window opens and
// holds the batch, and option changes apply from the next file on.
void CompressBatchTest::commandsDuringBatch() {
    const QByteArray first = noiseBytes(1200000, 7);
    const QByteArray second = toneBytes(40000);
    writeFile(path("a.wav"), first);
    writeFile(path("b.wav"), second);
    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushCounter flushes(w.form, helper);
    int flushesBeforeAbout = 0;

    helper.chooseFiles({path("a.wav"), path("b.wav")})
        .when([&] { return flushes.count >= 1; },
              [&] {
                  if (!QApplication::activeWindow()) w.form.activateWindow();
                  QTest::keyClick(&w.form, Qt::Key_F2);
                  w.form.ui().CompressfilesMI->trigger();
                  w.form.CompressFiles();
                  QCOMPARE(w.form.statusText(), QString("Compressing..."));
                  w.form.ui().PwNoneMI->setChecked(false);
                  w.form.ui().PwUseMI->setChecked(true);
                  w.password.Code->setText("-2");
                  flushesBeforeAbout = flushes.count;
                  w.form.ui().About1->trigger();
              })
        .closeWindow("TAboutForm");
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(flushes.count > flushesBeforeAbout);
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
    QCOMPARE(readFile(path("a.kpz")), expectedCompressed(first, "a.wav"));
    const QByteArray protectedOut = readFile(path("b.kpz"));
    QCOMPARE(protectedOut.at(0), '?');
    QCOMPARE(protectedOut, expectedCompressed(second, "b.wav", true, 0xFFFE));
}

// Two sources with one output name in one batch: the first is written, the second is
// refused with a message naming the first, and nothing replaces the first's output.
void CompressBatchTest::oneOutputPerBatch() {
    const QByteArray wav = toneBytes(4000), aiff = toneBytes(6000);
    writeFile(path("song.wav"), wav);
    writeFile(path("song.aiff"), aiff);
    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(false);
    ModalHelper helper;
    helper.chooseFiles({path("song.wav"), path("song.aiff")});
    helper.press(QMessageBox::Ok);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Destination was already written from 'song.wav'!"));
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 2 of 2"));
    QCOMPARE(readFile(path("song.kpz")), expectedCompressed(wav, "song.wav"));
}

QTEST_MAIN(CompressBatchTest)
#include "tst_compress_batch.moc"
