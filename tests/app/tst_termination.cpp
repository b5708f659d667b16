// SPDX-License-Identifier: BSD-3-Clause
// The window program ended from outside in the middle of a batch, where the file system
// has no unnamed files and the output under way has a temporary name: the signal removes
// it, and the program still ends by that signal. The batch runs in a child copy of this
// test, set up as the program sets itself up.
#include "file_io.h"
#include "host.h"
#include "modal_helper.h"
#include "termination.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kChildOption = "--batch-to-interrupt";
constexpr off_t kLongSize = off_t{1} << 30;

// The child: the program's own cleanup, then one batch on a file system without unnamed
// files.
int runBatch(int argc, char** argv) {
    platform::cleanUpOnTermination(kpz::removePendingOutputs);
    int appArgc = 1;
    QApplication app(appArgc, argv);
    AppWindows w;
    kpz::installFaultPlan({.noUnnamedFiles = true});
    const QString file = QString::fromLocal8Bit(argv[argc - 1]);
    if (file.endsWith(".kpz"))
        w.form.decompressBatch({file});
    else
        w.form.compressBatch({file});
    return 0;
}

// A sparse file of size bytes, cheap at any size, starting with head.
bool makeSparse(const QString& path, off_t size, const QByteArray& head = {}) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, head.constData(), size_t(head.size())) == head.size() &&
                    ::ftruncate(fd, size) == 0;
    return ::close(fd) == 0 && ok;
}

} // namespace

class TerminationTest : public QObject {
    Q_OBJECT

  private slots:
    void signalRemovesTheTemporaryOutput_data();
    void signalRemovesTheTemporaryOutput();
};

void TerminationTest::signalRemovesTheTemporaryOutput_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("restoring");
    QTest::newRow("SIGTERM, compressing") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, compressing") << int(SIGINT) << false;
    QTest::newRow("SIGTERM, restoring") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, restoring") << int(SIGINT) << true;
}

void TerminationTest::signalRemovesTheTemporaryOutput() {
    QFETCH(int, signal);
    QFETCH(bool, restoring);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 1 GiB of silence, or its compressed file: the silence codes to zero bits, so the
    // compressed file is its header followed by zeros, sparse too.
    QString input = dir.filePath("long.raw");
    if (restoring) {
        const uint64_t blocks = (uint64_t(kLongSize) + 63) / 64;
        const off_t payload = off_t(2 * (blocks * 40 / 16 + 2));
        const QByteArray header = QByteArray("C\0\0\0\x40\x08\0\0\0", 9) + QByteArray("long.raw");
        input = dir.filePath("long.kpz");
        QVERIFY(makeSparse(input, off_t(header.size()) + payload, header));
    } else {
        QVERIFY(makeSparse(input, kLongSize));
    }
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {kChildOption, input});
    QVERIFY(child.waitForStarted());
    // Wait until the output under its temporary name holds a few megabytes.
    QString temporary;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QFileInfo& entry :
                 QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden))
                if (!before.contains(entry.fileName()) && entry.size() > (4 << 20)) {
                    temporary = entry.fileName();
                    return true;
                }
            return false;
        }(),
        30000);
    QVERIFY2(temporary.startsWith(".kpz-"), qPrintable(temporary));
    ::kill(pid_t(child.processId()), signal);
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), signal);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildOption) == 0) return runBatch(argc, argv);
    QApplication app(argc, argv);
    TerminationTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_termination.moc"
