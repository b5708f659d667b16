// SPDX-License-Identifier: BSD-3-Clause
// Faults met by the window program's batches, as tables: Exit or a confirmed cancel at each
// point where a batch lets the window handle input, a write that fails in a file's final
// flush, and compressed files whose header cannot be true.
#include "check_trailer.h"
#include "container.h"
#include "file_io.h"
#include "messages.h"
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QLineEdit>
#include <QPushButton>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class Point { MidFile, LastFlush, AfterFile };

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

// Counts a's flushes and runs action once, at the chosen point of a (the first file).
// Compression's last flush is the one that brings the output to its full size; a restore's
// is the one that passes the stored size. AfterFile queues the action at that flush, so it
// is handled at the next chance the batch gives, once the file is finished.
struct FlushTrigger {
    FlushTrigger(TMainForm& form, Point point, uint32_t fullSize, std::function<void()> action) {
        PackerState& s = form.state();
        auto show = s.hooks.showProgress;
        s.hooks.showProgress = [=, &form, &s, this](kpz::Direction d) {
            show(d);
            ++flushes;
            if (fired) return;
            const bool last = s.destWritten >= fullSize;
            if (point == Point::MidFile ? flushes == 1 && !last : last) {
                fired = true;
                if (point == Point::AfterFile)
                    QMetaObject::invokeMethod(&form, action, Qt::QueuedConnection);
                else
                    action();
            }
        };
    }
    int flushes = 0;
    bool fired = false;
};

// The stored size in a header.
uint32_t le32ToSize(const QByteArray& file) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(uint8_t(file[1 + i])) << (8 * i);
    return v;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void exitDuringBatch_data();
    void exitDuringBatch();
    void cancelAtEachMessagePoint_data();
    void cancelAtEachMessagePoint();
    void writeFailsInFinalFlush_data();
    void writeFailsInFinalFlush();
    void implausibleHeader_data();
    void implausibleHeader();

  private:
    // Two inputs: a, large enough for several flushes, and b. Returns a's data.
    QByteArray prepare(bool compressing);
    QString path(const QString& name) const { return dir_->filePath(name); }
    static void present(AppWindows& w) {
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString savedDirectory_;
};

void FaultsTest::init() {
    savedDirectory_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void FaultsTest::cleanup() {
    kpz::clearFaultPlan();
    QDir::setCurrent(savedDirectory_);
    dir_.reset();
}

QByteArray FaultsTest::prepare(bool compressing) {
    const QByteArray a = noiseBytes(1300000, 21); // three flushes either way
    const QByteArray b = toneBytes(5000);
    if (compressing) {
        writeFile(path("a.wav"), a);
        writeFile(path("b.wav"), b);
    } else {
        writeFile(path("a.kpz"), expectedCompressed(a, "a.wav"));
        writeFile(path("b.kpz"), expectedCompressed(b, "b.wav"));
    }
    return a;
}

namespace {

// The points in a batch where the window breathes, in both directions; with byCloseBox,
// also rows where the window's close box stands in for Exit.
void addPointRows(bool byCloseBox) {
    QTest::addColumn<bool>("compressing");
    QTest::addColumn<int>("point");
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("compressing, mid-file flush") << true << int(Point::MidFile) << false;
    QTest::newRow("compressing, last flush") << true << int(Point::LastFlush) << false;
    QTest::newRow("restoring, mid-file flush") << false << int(Point::MidFile) << false;
    QTest::newRow("restoring, last flush") << false << int(Point::LastFlush) << false;
    QTest::newRow("restoring, after the file") << false << int(Point::AfterFile) << false;
    if (!byCloseBox) return;
    QTest::newRow("compressing, mid-file flush, close box") << true << int(Point::MidFile) << true;
    QTest::newRow("restoring, mid-file flush, close box") << false << int(Point::MidFile) << true;
}

} // namespace

void FaultsTest::exitDuringBatch_data() {
    addPointRows(true);
}

// Exit (or the close box) while a batch runs: the batch stops at once with "Aborted!",
// without a question, and then the program ends; the next file is never started.
void FaultsTest::exitDuringBatch() {
    QFETCH(bool, compressing);
    QFETCH(int, point);
    QFETCH(bool, closeBox);
    const QByteArray a = prepare(compressing);
    const uint32_t full =
        static_cast<uint32_t>(compressing ? expectedCompressed(a, "a.wav").size() : a.size());

    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushTrigger trigger(w.form, Point(point), full, [&w, closeBox] {
        if (closeBox)
            w.form.close();
        else
            w.form.ui().Exit1->trigger();
    });
    const QString ext = compressing ? ".wav" : ".kpz";
    helper.chooseFiles({path("a" + ext), path("b" + ext)});

    QString statusAtQuit;
    bool busyAtQuit = true;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &w.form, [&] {
        statusAtQuit = w.form.statusText();
        busyAtQuit = w.form.state().busy;
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    watchdog.start(20000);
    QTimer::singleShot(0, &w.form, [&] {
        QTest::mouseClick(compressing ? w.form.ui().CompressButton : w.form.ui().DecompressButton,
                          Qt::LeftButton);
    });
    const int code = QCoreApplication::exec();

    QCOMPARE(code, 0);
    QVERIFY(trigger.fired);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(helper.boxes.isEmpty());
    QCOMPARE(statusAtQuit, QString("Aborted!"));
    QVERIFY(!busyAtQuit);
    QVERIFY(!QFile::exists(path(compressing ? "b.kpz" : "b.wav")));
}

void FaultsTest::cancelAtEachMessagePoint_data() {
    addPointRows(false);
}

// A cancel confirmed at each point the batch lets the window breathe: "Aborted!", the
// window idle, no output at all unless the point was after the file was complete (then
// the whole file), and the next file never started.
void FaultsTest::cancelAtEachMessagePoint() {
    QFETCH(bool, compressing);
    QFETCH(int, point);
    const QByteArray a = prepare(compressing);
    const QByteArray expected = compressing ? expectedCompressed(a, "a.wav") : a;

    AppWindows w;
    present(w);
    ModalHelper helper;
    FlushTrigger trigger(w.form, Point(point), uint32_t(expected.size()),
                         [&w] { w.form.CancelButtonClick(); });
    const QString ext = compressing ? ".wav" : ".kpz";
    helper.chooseFiles({path("a" + ext), path("b" + ext)}).press(QMessageBox::Yes);
    QTest::mouseClick(compressing ? w.form.ui().CompressButton : w.form.ui().DecompressButton,
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);

    QVERIFY(trigger.fired);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Really abort the current process?"));
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 1 of 2"));
    QVERIFY(!w.form.state().busy);
    QVERIFY(!w.form.state().cancelRequested);

    const QString output = path(compressing ? "a.kpz" : "a.wav");
    if (Point(point) == Point::AfterFile)
        QCOMPARE(readFile(output), expected);
    else
        QVERIFY(!QFile::exists(output));
    QVERIFY(!QFile::exists(path(compressing ? "b.kpz" : "b.wav")));
}

void FaultsTest::writeFailsInFinalFlush_data() {
    QTest::addColumn<bool>("compressing");
    QTest::newRow("compressing") << true;
    QTest::newRow("restoring") << false;
}

// The last write of a file several flushes long stops short: the failure is shown, the
// batch ends "Aborted!", nothing is left under the file's name and the next file is never
// started.
void FaultsTest::writeFailsInFinalFlush() {
    QFETCH(bool, compressing);
    const QByteArray a = prepare(compressing);
    const QByteArray expected = compressing ? expectedCompressed(a, "a.wav") : a;

    AppWindows w;
    present(w);
    w.form.ui().OverWarnMI->setChecked(false);
    ModalHelper helper;
    const QString ext = compressing ? ".wav" : ".kpz";
    // 100 bytes before the end of a's output: inside its final flush, past every full one.
    helper.chooseFiles({path("a" + ext), path("b" + ext)},
                       [&] { kpz::installFaultPlan({.writeStopsAt = expected.size() - 100}); });
    helper.press(QMessageBox::Ok);
    QTest::mouseClick(compressing ? w.form.ui().CompressButton : w.form.ui().DecompressButton,
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString(kpz::msg::kWriteFailed));
    QCOMPARE(w.form.statusText(), QString("Aborted!"));
    QVERIFY(!w.form.state().busy);
    QVERIFY(!QFile::exists(path(compressing ? "a.kpz" : "a.wav")));
    QVERIFY(!QFile::exists(path(compressing ? "b.kpz" : "b.wav")));
}

void FaultsTest::implausibleHeader_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    const QByteArray packed = expectedCompressed(toneBytes(20000), "x.wav");
    const QByteArray payload = packed.mid(9 + 5);
    const QString unknown = kpz::msg::kUnknownFormat, damaged = kpz::msg::kDamaged;
    auto header = [](uint32_t size, uint32_t nameLength, const QByteArray& name) {
        return QByteArray("C") + le32(size) + le32(nameLength) + name;
    };
    QTest::newRow("name length 256")
        << header(20000, 256, QByteArray(256, 'n')) + payload << unknown;
    QTest::newRow("name length 2^31") << header(20000, 0x80000000u, "x.wav") + payload << unknown;
    QTest::newRow("name length 2^32-1") << header(20000, 0xFFFFFFFFu, "x.wav") + payload << unknown;
    QTest::newRow("name longer than the file") << header(20000, 200, "x.wav") << unknown;
    QTest::newRow("stored size 2^32-1") << header(0xFFFFFFFFu, 5, "x.wav") + payload << damaged;
    // The smallest stored size whose blocks cannot fit in the payload at their tightest.
    uint32_t tooLarge = 0;
    while (kpz::minimumPayloadBytes(tooLarge) <= uint64_t(payload.size()))
        tooLarge += 64;
    QTest::newRow("stored size just past what the payload holds")
        << header(tooLarge, 5, "x.wav") + payload << damaged;
    QTest::newRow("stored size the payload just holds, as silence")
        << header(tooLarge - 64, 5, "x.wav") + QByteArray(payload.size(), '\0') << QString();
    QTest::newRow("stored size of a password file 2^32-1")
        << QByteArray("?") + le32(0xFFFFFFFFu) + le32(5) + "x.wav" + payload << damaged;
    // A check value after the payload that the restored bytes do not match: the blocks
    // decode, only the check value tells.
    uint8_t trailer[kpz::kTrailerBytes];
    kpz::encodeTrailer(0x0123456789ABCDEFull, trailer);
    const QByteArray wrongCheck(reinterpret_cast<const char*>(trailer), kpz::kTrailerBytes);
    QTest::newRow("check value that does not match") << packed + wrongCheck << damaged;
    QTest::newRow("password file whose check value does not match")
        << QByteArray("?") + packed.mid(1) + wrongCheck
        << QString(kpz::msg::kWrongPasswordOrDamaged);
}

// Such a file is refused with its message before any output is made, and the batch ends;
// a header at the very edge of plausible is still accepted.
void FaultsTest::implausibleHeader() {
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    writeFile(path("bad.kpz"), file);
    AppWindows w;
    present(w);
    ModalHelper helper;
    helper.chooseFiles({path("bad.kpz")});
    if (file.startsWith('?'))
        helper.answerWindow("TPasswordForm", [](QWidget* modal) {
            auto* f = static_cast<TPasswordForm*>(modal);
            QTest::keyClicks(f->PasswordEdit, "ABC");
            QTest::mouseClick(f->OkButton, Qt::LeftButton);
        });
    if (!message.isEmpty()) helper.press(QMessageBox::Ok);
    QTest::mouseClick(w.form.ui().DecompressButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(!w.form.state().busy);
    if (message.isEmpty()) { // the control row: a true header is accepted and restores
        QVERIFY(helper.boxes.isEmpty());
        QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
        const QByteArray restored = readFile(path("x.wav"));
        QCOMPARE(restored.size(), qsizetype(le32ToSize(file)));
        QVERIFY(restored.count('\0') == restored.size());
        return;
    }
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, message);
    QCOMPARE(w.form.statusText(), message);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"bad.kpz"});
    QCOMPARE(readFile(path("bad.kpz")), file);
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
