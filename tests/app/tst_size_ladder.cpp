// SPDX-License-Identifier: BSD-3-Clause
// Both batches of the window program across the sizes where the coder changes its path
// (empty, a few bytes, around one 512 KiB piece, around 8 MiB where a file is split between
// two threads) and, when KPZ_CORPUS_DIR names the music corpus, one piece of real music;
// with and without a password. Each compressed file must be byte for byte what the codec
// makes of the source without a check value (what kpz --no-check writes), and each restore
// must give the source back.
#include "audio_like.h"
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr uint16_t kCodeOfAbc = 48709; // the word "ABC" scrambles with

// The largest size of the ladder; the others are its beginnings.
constexpr qsizetype kLargest = 8 * 1024 * 1024 + 1;

QByteArray corpusFile() {
    const QString folder = qEnvironmentVariable("KPZ_CORPUS_DIR");
    if (folder.isEmpty()) return {};
    // The smallest piece, so the table stays fast.
    const QFileInfoList files = QDir(folder).entryInfoList({"*.wav"}, QDir::Files, QDir::Size);
    return files.isEmpty() ? QByteArray() : readFile(files.last().filePath());
}

} // namespace

class SizeLadderTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup() { QDir::setCurrent(startFolder_); }
    void bothBatches_data();
    void bothBatches();

  private:
    QByteArray audio_;  // made once for every row
    QByteArray corpus_; // empty without a corpus
    QString startFolder_ = QDir::currentPath();
};

void SizeLadderTest::initTestCase() {
    const std::vector<uint8_t> audio = kpztest::audioLike(size_t(kLargest));
    audio_ = QByteArray(reinterpret_cast<const char*>(audio.data()), qsizetype(audio.size()));
    corpus_ = corpusFile();
    if (!qEnvironmentVariableIsEmpty("KPZ_CORPUS_DIR")) QVERIFY(!corpus_.isEmpty());
}

void SizeLadderTest::bothBatches_data() {
    QTest::addColumn<qsizetype>("size"); // of the generated audio; -1 for the corpus piece
    QTest::addColumn<bool>("password");
    constexpr qsizetype kPiece = 512 * 1024, kSplit = 8 * 1024 * 1024;
    const qsizetype sizes[] = {0,          1,          4,      kPiece - 1, kPiece,
                               kPiece + 1, kSplit - 1, kSplit, kSplit + 1};
    for (bool password : {false, true}) {
        const char* with = password ? ", password" : "";
        for (qsizetype size : sizes)
            QTest::addRow("%lld bytes%s", static_cast<long long>(size), with) << size << password;
        if (!qEnvironmentVariableIsEmpty("KPZ_CORPUS_DIR"))
            QTest::addRow("corpus%s", with) << qsizetype(-1) << password;
    }
}

void SizeLadderTest::bothBatches() {
    QFETCH(qsizetype, size);
    QFETCH(bool, password);
    const QByteArray source = size < 0 ? corpus_ : audio_.left(size);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString wav = dir.filePath("take.wav"), kpz = dir.filePath("take.kpz");
    writeFile(wav, source);

    AppWindows w;
    w.form.show();
    ModalHelper helper;
    if (password) {
        helper.answerWindow("TPasswordForm", [](QWidget* modal) {
            auto* f = static_cast<TPasswordForm*>(modal);
            QTest::keyClicks(f->PasswordEdit, "abc");
            QTest::mouseClick(f->OkButton, Qt::LeftButton);
        });
        w.form.ui().PwUseMI->trigger();
        QVERIFY(helper.finished());
    }
    w.form.compressBatch({wav});
    QCOMPARE(w.form.statusText(), QString("Compressing... Done"));
    QVERIFY(readFile(kpz) == expectedCompressed(source, "take.wav", password, kCodeOfAbc));

    QVERIFY(QFile::remove(wav));
    if (password)
        helper.answerWindow("TPasswordForm", [](QWidget* modal) {
            auto* f = static_cast<TPasswordForm*>(modal);
            QTest::keyClicks(f->PasswordEdit, "abc");
            QTest::mouseClick(f->OkButton, Qt::LeftButton);
        });
    w.form.decompressBatch({kpz});
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QVERIFY(helper.finished());
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QVERIFY(readFile(wav) == source);
}

QTEST_MAIN(SizeLadderTest)
#include "tst_size_ladder.moc"
