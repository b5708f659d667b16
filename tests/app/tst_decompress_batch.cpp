// SPDX-License-Identifier: BSD-3-Clause
// The decompression batch, driven through the real window, file dialog, password prompt
// and message boxes; and the command-line run.
#include "app_title.h"
#include "check_trailer.h"
#include "file_io.h"
#include "messages.h"
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

constexpr uint16_t kCodeOfAbc = 48709; // the word "ABC" scrambles with

void runBatch(AppWindows& w, ModalHelper& helper) {
    QTest::mouseClick(w.form.ui().DecompressButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
}

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

// What the password prompt looked like when it opened.
struct Prompt {
    QString caption;
    QString text;
    QString code;
};

// Answers the next password prompt: types the password and presses OK, or Cancel.
void answerPrompt(ModalHelper& helper, const QString& typed, QList<Prompt>& seen, bool ok = true) {
    helper.answerWindow("TPasswordForm", [typed, ok, &seen](QWidget* modal) {
        auto* f = static_cast<TPasswordForm*>(modal);
        seen << Prompt{f->windowTitle(), f->PasswordEdit->text(), f->Code->text()};
        QTest::keyClicks(f->PasswordEdit, typed);
        QTest::mouseClick(ok ? f->OkButton : f->CancelButton, Qt::LeftButton);
    });
}

// What a failures row does to the files beyond writing them.
enum class FailureSetup {
    Plain,
    SourceVanishes, // b.kpz is deleted once the files are chosen
    OutputIsFolder, // a folder has the restored file's name
    OutputIsFifo,   // a FIFO has the restored file's name: refused without opening it
    OutputIsOlder,  // an older file of 9,000 bytes has the restored file's name
};

void verifyIdleAfterBatch(AppWindows& w) {
    Ui::TMainForm& ui = w.form.ui();
    QVERIFY(!w.form.state().busy);
    QVERIFY(!w.form.state().cancelRequested);
    QVERIFY(ui.CompressButton->isVisible());
    QVERIFY(ui.DecompressButton->isVisible());
    QVERIFY(!ui.CancelButton->isVisible());
    QCOMPARE(applicationTitle(), QString("Brisko Packer"));
}

void verifyPasswordFormRestored(AppWindows& w, const QString& text, const QString& code) {
    QCOMPARE(w.password.windowTitle(), QString("Enter New Password"));
    QCOMPARE(w.password.PasswordEdit->text(), text);
    QCOMPARE(w.password.Code->text(), code);
}

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

} // namespace

Q_DECLARE_METATYPE(FailureSetup)
Q_DECLARE_METATYPE(kpz::FaultPlan)

class DecompressBatchTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void bothBatchesWithPassword();
    void mixedBatchAndWrongPassword();
    void wrongPasswordRunsOutOfPayload();
    void passwordPromptCancelled_data();
    void passwordPromptCancelled();
    void cancelledDialogLeavesDisplayReset();
    void overwritePrompt_data();
    void overwritePrompt();
    void failures_data();
    void failures();
    void cancelDuringDecoding();
    void linkUnderStoredNameIsReplacedNotFollowed();
    void cancelAfterLastFileShown();
    void commandLineRun();
    void everyMemberIsRestored();
    void wrongPasswordsNeverPassACheckValue();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString savedDirectory_;
    QString path(const QString& name) const { return dir_->filePath(name); }
    static void present(AppWindows& w) {
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
};

void DecompressBatchTest::init() {
    savedDirectory_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void DecompressBatchTest::cleanup() {
    kpz::clearFaultPlan();
    QDir::setCurrent(savedDirectory_);
    dir_.reset();
}

// A password set through the dialog protects what the window compresses, and the window
// restores every file exactly with it, whatever its size.
void DecompressBatchTest::bothBatchesWithPassword() {
    const QList<QPair<QString, QByteArray>> sources = {
        {"s_empty.wav", {}},
        {"s_one.wav", QByteArray(1, '\x7f')},
        {"s_63.wav", noiseBytes(63, 2)},
        {"s_65.wav", toneBytes(65)},
        {"s_4097.bun", noiseBytes(4097, 3)},
        {"s_noise.wav", noiseBytes(1300001, 4)}, // spans several refills and flushes
        {"s_tone.acd", toneBytes(700003)},
    };
    QStringList wavs, kpzs;
    for (const auto& [name, data] : sources) {
        writeFile(path(name), data);
        wavs << path(name);
        kpzs << path(QFileInfo(name).completeBaseName() + ".kpz");
    }

    AppWindows w;
    present(w);
    {
        ModalHelper setPassword;
        setPassword.answerWindow("TPasswordForm", [](QWidget* modal) {
            auto* f = static_cast<TPasswordForm*>(modal);
            QTest::keyClicks(f->PasswordEdit, "abc");
            QTest::mouseClick(f->OkButton, Qt::LeftButton);
        });
        w.form.ui().PwUseMI->trigger();
        QVERIFY(setPassword.finished());
    }
    QVERIFY(w.form.ui().PasswordMode->isVisible());

    ModalHelper helper;
    helper.chooseFiles(wavs);
    QTest::mouseClick(w.form.ui().CompressButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
    for (int i = 0; i < sources.size(); ++i) {
        const QByteArray packed = readFile(kpzs[i]);
        QCOMPARE(packed.at(0), '?');
        QCOMPARE(packed, expectedCompressed(sources[i].second, sources[i].first.toStdString(), true,
                                            kCodeOfAbc));
        QVERIFY(QFile::remove(wavs[i]));
    }

    QDir::setCurrent(QDir::tempPath());
    QList<Prompt> prompts;
    helper.chooseFiles(kpzs);
    for (int i = 0; i < sources.size(); ++i)
        answerPrompt(helper, "abc", prompts);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(QDir::currentPath(), QDir(dir_->path()).canonicalPath());
    for (int i = 0; i < sources.size(); ++i) {
        QCOMPARE(readFile(wavs[i]), sources[i].second);
        QCOMPARE(prompts[i].caption,
                 "Password Required for '" + QFileInfo(kpzs[i]).fileName() + "'");
        QCOMPARE(prompts[i].text, QString());
        QCOMPARE(prompts[i].code, QString("0"));
    }
    QCOMPARE(prompts.size(), sources.size());
    verifyPasswordFormRestored(w, "ABC", "-16827");
    QVERIFY(w.form.ui().PwUseMI->isChecked());

    Ui::TMainForm& ui = w.form.ui();
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(ui.BatchBox->text(), QString("File 7 of 7"));
    QCOMPARE(ui.CurrentFileBox->text(), QString("s_tone.kpz"));
    QCOMPARE(ui.BatchProgressBar->value(), 100);
    QCOMPARE(ui.FileProgressBar->value(), 100);
    const qint64 packedSize = QFileInfo(kpzs.last()).size();
    QCOMPARE(ui.SourceCounterLabel->text(), QString::number(packedSize / 1024) + "K");
    QCOMPARE(ui.DestCounterLabel->text(), QString::number(700003 / 1024) + "K");
    QCOMPARE(ui.RatioLabel->text(),
             QString::number(100 - (100 * (packedSize / 256)) / (700003 / 256)) + "%");
    verifyIdleAfterBatch(w);
}

// Only files marked "?" prompt. A wrong password that still decodes to the stored size
// (noise is coded at full width, so any block header asks for no more bits) gives the
// right length, other content, and no message.
void DecompressBatchTest::mixedBatchAndWrongPassword() {
    const QByteArray a = toneBytes(5000), b = noiseBytes(70001, 5), c = toneBytes(130),
                     d = noiseBytes(9999, 6);
    writeFile(path("a.kpz"), expectedCompressed(a, "a.wav"));
    writeFile(path("b.kpz"), expectedCompressed(b, "b.wav", true, kCodeOfAbc));
    writeFile(path("c.kpz"), expectedCompressed(c, "c.wav"));
    writeFile(path("d.kpz"), expectedCompressed(d, "d.wav", true, kCodeOfAbc));

    AppWindows w;
    present(w);
    ModalHelper helper;
    QList<Prompt> prompts;
    helper.chooseFiles({path("a.kpz"), path("b.kpz"), path("c.kpz"), path("d.kpz")});
    answerPrompt(helper, "ABC", prompts);
    answerPrompt(helper, "ABD", prompts);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(prompts.size(), 2);
    QCOMPARE(prompts[0].caption, QString("Password Required for 'b.kpz'"));
    QCOMPARE(prompts[1].caption, QString("Password Required for 'd.kpz'"));
    QCOMPARE(readFile(path("a.wav")), a);
    QCOMPARE(readFile(path("b.wav")), b);
    QCOMPARE(readFile(path("c.wav")), c);
    const QByteArray wrong = readFile(path("d.wav"));
    QCOMPARE(wrong.size(), d.size());
    QVERIFY(wrong != d);
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    // The option stays off and the prompt's password is not kept.
    verifyPasswordFormRestored(w, "", "0");
    QVERIFY(w.form.ui().PwNoneMI->isChecked());
    verifyIdleAfterBatch(w);
}

// With a wrong password the block headers of a compressible file come out as wide fields,
// and the payload runs out before the stored size: that is reported, not shown as done.
void DecompressBatchTest::wrongPasswordRunsOutOfPayload() {
    const QByteArray a = toneBytes(200000), b = toneBytes(3000);
    writeFile(path("a.kpz"), expectedCompressed(a, "a.wav", true, kCodeOfAbc));
    writeFile(path("b.kpz"), expectedCompressed(b, "b.wav"));
    AppWindows w;
    present(w);
    ModalHelper helper;
    QList<Prompt> prompts;
    helper.chooseFiles({path("a.kpz"), path("b.kpz")});
    answerPrompt(helper, "ABD", prompts);
    helper.press(QMessageBox::Ok);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    const QString message("Wrong password, or compressed file is damaged or truncated!");
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, message);
    QCOMPARE(helper.boxes[0].caption, QString("Unexpected Error"));
    QCOMPARE(w.form.statusText(), message);
    QVERIFY(!QFile::exists(path("a.wav")));
    QVERIFY(!QFile::exists(path("b.wav")));
    verifyIdleAfterBatch(w);

    // The right password restores it.
    helper.chooseFiles({path("a.kpz")});
    answerPrompt(helper, "abc", prompts);
    runBatch(w, helper);
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(readFile(path("a.wav")), a);
}

void DecompressBatchTest::passwordPromptCancelled_data() {
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("close box") << true;
}

// Cancelling the prompt ends the batch: nothing is created or replaced for that file, the
// files after it are untouched, and the compression password is back in the dialog.
void DecompressBatchTest::passwordPromptCancelled() {
    QFETCH(bool, byCloseBox);
    const QByteArray a = toneBytes(3000);
    writeFile(path("a.kpz"), expectedCompressed(a, "a.wav"));
    writeFile(path("b.kpz"), expectedCompressed(toneBytes(4000), "b.wav", true, 1));
    writeFile(path("c.kpz"), expectedCompressed(toneBytes(5000), "c.wav"));
    writeFile(path("b.wav"), "old contents");

    AppWindows w;
    present(w);
    w.password.PasswordEdit->setText("QQ");
    const QString code = w.password.Code->text();
    ModalHelper helper;
    QList<Prompt> prompts;
    helper.chooseFiles({path("a.kpz"), path("b.kpz"), path("c.kpz")});
    helper.answerWindow("TPasswordForm", [&](QWidget* modal) {
        auto* f = static_cast<TPasswordForm*>(modal);
        prompts << Prompt{f->windowTitle(), f->PasswordEdit->text(), f->Code->text()};
        QTest::keyClicks(f->PasswordEdit, "typed");
        if (byCloseBox)
            f->close();
        else
            QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(prompts.size(), 1);
    QCOMPARE(prompts[0].text, QString());
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    QCOMPARE(readFile(path("a.wav")), a);
    QCOMPARE(readFile(path("b.wav")), QByteArray("old contents"));
    QVERIFY(!QFile::exists(path("c.wav")));
    verifyPasswordFormRestored(w, "QQ", code);
    verifyIdleAfterBatch(w);
}

void DecompressBatchTest::cancelledDialogLeavesDisplayReset() {
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();
    ui.DestCounterLabel->setText("12K");
    ui.FileProgressBar->setValue(100);
    ui.BatchBox->setText("File 1 of 1");
    w.form.setStatusText("Decompressing... Done");
    const QString before = QDir::currentPath();

    ModalHelper helper;
    helper.cancelFileDialog();
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString());
    QCOMPARE(ui.DestCounterLabel->text(), QString("0K"));
    QCOMPARE(ui.FileProgressBar->value(), 0);
    QCOMPARE(ui.BatchBox->text(), QString("None"));
    QCOMPARE(QDir::currentPath(), before);
    verifyIdleAfterBatch(w);
}

void DecompressBatchTest::overwritePrompt_data() {
    QTest::addColumn<bool>("warning");
    QTest::addColumn<int>("answer"); // button pressed, or NoButton when no prompt is expected
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QString>("status");
    QTest::newRow("OK replaces") << true << int(QMessageBox::Ok) << true << "Decompressing... Done";
    QTest::newRow("Cancel ends the batch")
        << true << int(QMessageBox::Cancel) << false << "Aborted!";
    QTest::newRow("warning off") << false << int(QMessageBox::NoButton) << true
                                 << "Decompressing... Done";
}

void DecompressBatchTest::overwritePrompt() {
    QFETCH(bool, warning);
    QFETCH(int, answer);
    QFETCH(bool, replaced);
    const QByteArray data = toneBytes(9001);
    writeFile(path("take1.kpz"), expectedCompressed(data, "take1.wav"));
    writeFile(path("take2.kpz"), expectedCompressed(data, "take2.wav"));
    writeFile(path("take1.wav"), "old contents, longer than nothing");

    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(warning);
    ModalHelper helper;
    helper.chooseFiles({path("take1.kpz"), path("take2.kpz")});
    if (answer != QMessageBox::NoButton) helper.press(QMessageBox::StandardButton(answer));
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    if (answer != QMessageBox::NoButton) {
        QCOMPARE(helper.boxes.size(), 1);
        QCOMPARE(helper.boxes[0].text, QString("Overwrite 'take1.wav'?"));
        QCOMPARE(helper.boxes[0].caption, QString("File Exists"));
        QCOMPARE(helper.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(helper.boxes[0].icon, QMessageBox::NoIcon);
    } else {
        QVERIFY(helper.boxes.isEmpty());
    }
    QCOMPARE(readFile(path("take1.wav")),
             replaced ? data : QByteArray("old contents, longer than nothing"));
    QCOMPARE(QFile::exists(path("take2.wav")), replaced);
    QTEST(w.form.statusText(), "status");
    verifyIdleAfterBatch(w);
}

void DecompressBatchTest::failures_data() {
    QTest::addColumn<QByteArray>("badFile"); // contents of b.kpz
    QTest::addColumn<FailureSetup>("setup");
    QTest::addColumn<kpz::FaultPlan>("faults"); // installed once the files are chosen
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("status");

    using enum FailureSetup;
    const kpz::FaultPlan none;
    // a.kpz takes four reads: marker, fixed header, name, one refill; then b.kpz its three
    // header reads and its refills, of which the third comes after a flush.
    const kpz::FaultPlan firstRefillFails{.readFailsAt = 8};
    const kpz::FaultPlan laterRefillFails{.readFailsAt = 10};
    const kpz::FaultPlan shortWrite{.writeStopsAt = 600000};
    const QByteArray tone = toneBytes(3000);
    const QByteArray big = noiseBytes(1300000, 9); // compressed: more than one refill
    const QByteArray bigPacked = expectedCompressed(big, "b.wav");
    const QString unknown = kpz::msg::kUnknownFormat;
    QTest::newRow("wrong marker") << QByteArray("X") + expectedCompressed(tone, "b.wav").mid(1)
                                  << Plain << none << unknown << unknown;
    QTest::newRow("empty file") << QByteArray() << Plain << none << unknown << unknown;
    QTest::newRow("header ends early")
        << QByteArray("C\x10\x00\x00\x00\x05\x00", 7) << Plain << none << unknown << unknown;
    QTest::newRow("name length above 255")
        << QByteArray("C") + le32(4) + le32(256) + QByteArray(256, 'n') + QByteArray(8, '\0')
        << Plain << none << unknown << unknown;
    QTest::newRow("name ends early") << QByteArray("C") + le32(0) + le32(20) + QByteArray("b.wa")
                                     << Plain << none << unknown << unknown;
    QTest::newRow("source vanished") << expectedCompressed(tone, "b.wav") << SourceVanishes << none
                                     << kpz::msg::kOpenSourceFailed << kpz::msg::kOpenSourceFailed;
    QTest::newRow("output is a folder")
        << expectedCompressed(tone, "b.wav") << OutputIsFolder << none
        << kpz::msg::kOpenDestinationFailed << kpz::msg::kOpenDestinationFailed;
    QTest::newRow("output is a FIFO")
        << expectedCompressed(tone, "b.wav") << OutputIsFifo << none
        << kpz::msg::kOpenDestinationFailed << kpz::msg::kOpenDestinationFailed;
    QTest::newRow("empty stored name")
        << expectedCompressed(tone, "") << Plain << none << kpz::msg::kOpenDestinationFailed
        << kpz::msg::kOpenDestinationFailed;
    QTest::newRow("stored name is the compressed file")
        << expectedCompressed(tone, "b.kpz") << Plain << none << kpz::msg::kSameFile
        << kpz::msg::kSameFile;
    QTest::newRow("read error on the first refill")
        << bigPacked << Plain << firstRefillFails << kpz::msg::kSourceReadError
        << kpz::msg::kSourceReadError;
    QTest::newRow("read error on a later refill")
        << bigPacked << Plain << laterRefillFails << kpz::msg::kSourceReadError
        << kpz::msg::kSourceReadError;
    QTest::newRow("short write") << bigPacked << OutputIsOlder << shortWrite
                                 << kpz::msg::kWriteFailed << "Aborted!";
    QTest::newRow("payload far too short")
        << bigPacked.left(50000) << Plain << none << kpz::msg::kDamaged << kpz::msg::kDamaged;
    QTest::newRow("payload ends early") << bigPacked.left(bigPacked.size() - 40000) << OutputIsOlder
                                        << none << kpz::msg::kDamaged << kpz::msg::kDamaged;
}

// Each failure in the middle of three files: its box, the status line, the window idle;
// the file before restored, the file after untouched, the compressed file unchanged.
void DecompressBatchTest::failures() {
    QFETCH(QByteArray, badFile);
    QFETCH(FailureSetup, setup);
    QFETCH(kpz::FaultPlan, faults);
    QFETCH(QString, message);

    const QByteArray tiny("\x01\x00\x00\x00", 4);
    writeFile(path("a.kpz"), expectedCompressed(tiny, "a.wav"));
    writeFile(path("b.kpz"), badFile);
    writeFile(path("c.kpz"), expectedCompressed(toneBytes(3000), "c.wav"));
    if (setup == FailureSetup::OutputIsFolder) QVERIFY(QDir(dir_->path()).mkdir("b.wav"));
    if (setup == FailureSetup::OutputIsFifo) {
#ifdef Q_OS_WIN
        QSKIP("Windows file systems hold no FIFOs");
#else
        QCOMPARE(::mkfifo(qPrintable(path("b.wav")), 0644), 0);
#endif
    }
    const QByteArray older = toneBytes(9000);
    if (setup == FailureSetup::OutputIsOlder) writeFile(path("b.wav"), older);

    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(false);
    ModalHelper helper;
    auto afterAccept = [&] {
        if (setup == FailureSetup::SourceVanishes) QFile::remove(path("b.kpz"));
        kpz::installFaultPlan(faults);
    };
    helper.chooseFiles({path("a.kpz"), path("b.kpz"), path("c.kpz")}, afterAccept);
    helper.press(QMessageBox::Ok);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, message);
    QCOMPARE(helper.boxes[0].caption, QString("Unexpected Error"));
    QCOMPARE(helper.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(helper.boxes[0].icon, QMessageBox::NoIcon);
    QTEST(w.form.statusText(), "status");
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 2 of 3"));
    verifyIdleAfterBatch(w);

    QCOMPARE(readFile(path("a.wav")), tiny);
    QVERIFY(!QFile::exists(path("c.wav")));
    if (setup != FailureSetup::SourceVanishes) QCOMPARE(readFile(path("b.kpz")), badFile);
    const QFileInfo restored(path("b.wav"));
    // A failed restore leaves nothing partial under the name, and an older file there
    // exactly as it was.
    if (setup == FailureSetup::OutputIsFolder)
        QVERIFY(restored.isDir());
    else if (setup == FailureSetup::OutputIsFifo)
        QVERIFY(!restored.isFile() && restored.exists());
    else if (setup == FailureSetup::OutputIsOlder)
        QCOMPARE(readFile(path("b.wav")), older);
    else
        QVERIFY(!restored.exists());
}

// A dangling symbolic link under the stored name points out of the folder: the restored
// file replaces the link, and nothing is created where it pointed.
void DecompressBatchTest::linkUnderStoredNameIsReplacedNotFollowed() {
    const QByteArray a = toneBytes(3000);
    writeFile(path("a.kpz"), expectedCompressed(a, "a.wav"));
    QVERIFY(QDir(dir_->path()).mkdir("outside"));
    QVERIFY(QFile::link(path("outside/planted.wav"), path("a.wav")));
    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(false);
    ModalHelper helper;
    helper.chooseFiles({path("a.kpz")});
    runBatch(w, helper);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QVERIFY(!QFileInfo(path("a.wav")).isSymLink());
    QCOMPARE(readFile(path("a.wav")), a);
    QVERIFY(!QFile::exists(path("outside/planted.wav")));
}

void DecompressBatchTest::cancelDuringDecoding() {
    const QByteArray big = noiseBytes(3 * 1024 * 1024, 11);
    const QByteArray small = toneBytes(5000);
    writeFile(path("a.kpz"), expectedCompressed(big, "a.wav"));
    writeFile(path("b.kpz"), expectedCompressed(small, "b.wav"));
    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushCounter flushes(w.form, helper);
    helper.chooseFiles({path("a.kpz"), path("b.kpz")})
        .when([&] { return flushes.count >= 1; },
              [&w] { QTest::keyClick(w.form.focusWidget(), Qt::Key_Escape); })
        .press(QMessageBox::Yes);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Really abort the current process?"));
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    verifyIdleAfterBatch(w);
    QVERIFY(!QFile::exists(path("a.wav")));
    QVERIFY(!QFile::exists(path("b.wav")));

    helper.chooseFiles({path("b.kpz")});
    runBatch(w, helper);
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(readFile(path("b.wav")), small);
}

// A cancel confirmed while a finished file's figures are shown keeps that file whole and
// stops before the next one.
void DecompressBatchTest::cancelAfterLastFileShown() {
    const QByteArray a = toneBytes(3000), b = toneBytes(4000);
    writeFile(path("a.kpz"), expectedCompressed(a, "a.wav"));
    writeFile(path("b.kpz"), expectedCompressed(b, "b.wav"));
    AppWindows w;
    present(w);
    ModalHelper helper;
    bool posted = false;
    auto show = w.form.state().hooks.showProgress;
    // a.kpz has a single flush; queue the cancel after it has let the window breathe, so
    // it is handled at the next chance, once the file is finished.
    w.form.state().hooks.showProgress = [&, show](kpz::Direction d) {
        show(d);
        if (posted) return;
        posted = true;
        QMetaObject::invokeMethod(
            &w.form,
            [&w] {
                QCOMPARE(w.form.ui().FileProgressBar->value(), 100);
                w.form.CancelButtonClick();
            },
            Qt::QueuedConnection);
    };
    helper.chooseFiles({path("a.kpz"), path("b.kpz")}).press(QMessageBox::Yes);
    runBatch(w, helper);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    QCOMPARE(readFile(path("a.wav")), a);
    QVERIFY(!QFile::exists(path("b.wav")));
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 1 of 2"));
    verifyIdleAfterBatch(w);
}

// Started with a parameter: no dialog, the parameter taken against the working directory,
// the output in the working directory under the name part of the stored name.
void DecompressBatchTest::commandLineRun() {
    QVERIFY(QDir(dir_->path()).mkpath("work"));
    QVERIFY(QDir(dir_->path()).mkpath("store"));
    const QByteArray data = noiseBytes(600001, 12);
    const QByteArray packed = expectedCompressed(data, "C:\\Audio\\take.wav", true, kCodeOfAbc);
    writeFile(path("store/take.kpz"), packed);
    QVERIFY(QDir::setCurrent(path("work")));

    AppWindows w;
    present(w);
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [] {
        return QStringList{"brisko-packer", "../store/take.kpz", "ignored.kpz"};
    };
    ModalHelper helper;
    QList<Prompt> prompts;
    answerPrompt(helper, "abc", prompts);
    w.form.DecompressFiles();
    QVERIFY(helper.finished());

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(prompts.size(), 1);
    QCOMPARE(prompts[0].caption, QString("Password Required for 'take.kpz'"));
    QCOMPARE(readFile(path("work/take.wav")), data);
    QCOMPARE(QDir(path("work")).entryList(QDir::Files), QStringList{"take.wav"});
    QCOMPARE(QDir(path("store")).entryList(QDir::Files), QStringList{"take.kpz"});
    QCOMPARE(QDir::currentPath(), QDir(path("work")).canonicalPath());
    Ui::TMainForm& ui = w.form.ui();
    QCOMPARE(ui.BatchBox->text(), QString("File 1 of 1"));
    QCOMPARE(ui.CurrentFileBox->text(), QString("take.kpz"));
    QCOMPARE(w.form.state().batchTotalUnits, uint32_t(packed.size() / 4096));
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    verifyIdleAfterBatch(w);
}

// A file made of two compressed files one after the other restores both.
void DecompressBatchTest::everyMemberIsRestored() {
    const QByteArray a = toneBytes(3000), b = noiseBytes(5001);
    writeFile(path("ab.kpz"), expectedCompressed(a, "a.wav") + expectedCompressed(b, "b.wav"));
    AppWindows w;
    present(w);
    ModalHelper helper;
    helper.chooseFiles({path("ab.kpz")});
    runBatch(w, helper);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(readFile(path("a.wav")), a);
    QCOMPARE(readFile(path("b.wav")), b);
}

// A scrambled file with a check value, read with wrong passwords spread over the codes:
// none restores anything.
void DecompressBatchTest::wrongPasswordsNeverPassACheckValue() {
    const QByteArray a = toneBytes(700);
    kpz::ContentHash hash;
    hash.add(a.constData(), static_cast<size_t>(a.size()));
    uint8_t trailer[kpz::kTrailerBytes];
    kpz::encodeTrailer(hash.value(), trailer);
    writeFile(path("a.kpz"),
              expectedCompressed(a, "a.wav", true, kCodeOfAbc) +
                  QByteArray(reinterpret_cast<const char*>(trailer), sizeof trailer));
    AppWindows w;
    present(w);
    const QString message("Wrong password, or compressed file is damaged or truncated!");
    for (int i = 0; i < 40; ++i) {
        ModalHelper helper;
        QList<Prompt> prompts;
        helper.chooseFiles({path("a.kpz")});
        answerPrompt(helper, "wrong" + QString::number(i * 7919), prompts);
        helper.press(QMessageBox::Ok);
        runBatch(w, helper);
        QCOMPARE(w.form.statusText(), message);
        QVERIFY(!QFile::exists(path("a.wav")));
    }
}

QTEST_MAIN(DecompressBatchTest)
#include "tst_decompress_batch.moc"
