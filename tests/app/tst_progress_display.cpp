// SPDX-License-Identifier: BSD-3-Clause
// Counters, bars, ratio, times and task-bar title of the main window's progress display.
#include "app_title.h"
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QtTest>

class ProgressDisplayTest : public QObject {
    Q_OBJECT

  private slots:
    void showProgressFigures_data();
    void showProgressFigures();
    void taskBarTitle_data();
    void taskBarTitle();
    void showProgressLetsTheWindowBreathe();
    void showFileEndCompletesTheFile();
    void showTimes_data();
    void showTimes();
    void resetDisplayRestoresIdleTexts();
    void currentFileShowsTheName_data();
    void currentFileShowsTheName();
    void showProgressRepaintsOnlyWhatChanged();
    void repaintedWindowMatchesAFreshDrawing();
};

void ProgressDisplayTest::showProgressFigures_data() {
    QTest::addColumn<bool>("compressing");
    QTest::addColumn<uint>("size"); // sourceSize or originalSize
    QTest::addColumn<uint>("processed");
    QTest::addColumn<uint>("written");
    QTest::addColumn<uint>("totalUnits");
    QTest::addColumn<uint>("doneUnits");
    QTest::addColumn<QString>("sourceLabel");
    QTest::addColumn<QString>("destLabel");
    QTest::addColumn<int>("fileBar");
    QTest::addColumn<QString>("ratio");
    QTest::addColumn<int>("batchBar");

    // Before each row: file bar 7, batch bar 3, ratio "37%".
    QTest::newRow("halfway") << true << 1048576u << 524288u << 262144u << 512u << 0u << "512K"
                             << "256K" << 50 << "50%" << 25;
    QTest::newRow("second file") << true << 1048576u << 524288u << 262144u << 512u << 128u << "512K"
                                 << "256K" << 50 << "50%" << 50;
    QTest::newRow("output larger") << true << 1000000u << 524288u << 600000u << 0u << 0u << "512K"
                                   << "585K" << 52 << "0%" << 3;
    QTest::newRow("tiny, smaller") << true << 100u << 100u << 20u << 0u << 0u << "0K"
                                   << "0K" << 7 << "37%" << 3;
    QTest::newRow("tiny, larger") << true << 100u << 100u << 120u << 0u << 0u << "0K"
                                  << "0K" << 7 << "0%" << 3;
    // Counters near the 32-bit limit must not overflow the products.
    QTest::newRow("near 4 GiB") << true << 0xFFFFFFFFu << 0xFFFFFF00u << 0x80000000u << 1048575u
                                << 0u << "4194303K"
                                << "2097152K" << 100 << "50%" << 100;
    QTest::newRow("decompressing") << false << 1048576u << 131072u << 524288u << 0u << 0u << "128K"
                                   << "512K" << 50 << "75%" << 3;
}

void ProgressDisplayTest::showProgressFigures() {
    QFETCH(bool, compressing);
    QFETCH(uint, size);
    QFETCH(uint, processed);
    QFETCH(uint, written);
    QFETCH(uint, totalUnits);
    QFETCH(uint, doneUnits);

    AppWindows w;
    Ui::TMainForm& ui = w.form.ui();
    ui.FileProgressBar->setValue(7);
    ui.BatchProgressBar->setValue(3);
    ui.RatioLabel->setText("37%");
    PackerState& s = w.form.state();
    (compressing ? s.sourceSize : s.originalSize) = size;
    s.sourceProcessed = processed;
    s.destWritten = written;
    s.batchTotalUnits = totalUnits;
    s.batchDoneUnits = doneUnits;

    w.form.showProgress(compressing ? kpz::Direction::Compressing : kpz::Direction::Decompressing);

    QTEST(ui.SourceCounterLabel->text(), "sourceLabel");
    QTEST(ui.DestCounterLabel->text(), "destLabel");
    QTEST(ui.FileProgressBar->value(), "fileBar");
    QTEST(ui.RatioLabel->text(), "ratio");
    QTEST(ui.BatchProgressBar->value(), "batchBar");
}

void ProgressDisplayTest::taskBarTitle_data() {
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("compressing");
    QTest::addColumn<QString>("title");
    QTest::newRow("active") << true << true << "Brisko Packer";
    QTest::newRow("background, compressing") << false << true << "(42%) Compressing...";
    QTest::newRow("background, decompressing") << false << false << "(42%) Decompressing...";
}

void ProgressDisplayTest::taskBarTitle() {
    QFETCH(bool, active);
    QFETCH(bool, compressing);
    AppWindows w;
    w.form.applicationActive = [active] { return active; };
    PackerState& s = w.form.state();
    s.batchTotalUnits = 100;
    s.batchDoneUnits = 42;
    w.form.showProgress(compressing ? kpz::Direction::Compressing : kpz::Direction::Decompressing);
    QTEST(applicationTitle(), "title");
    QTEST(w.form.windowTitle(), "title");

    w.form.setIdle();
    QCOMPARE(applicationTitle(), QString("Brisko Packer"));
}

void ProgressDisplayTest::showProgressLetsTheWindowBreathe() {
    AppWindows w;
    bool handled = false;
    QMetaObject::invokeMethod(
        &w.form, [&handled] { handled = true; }, Qt::QueuedConnection);
    w.form.showProgress(kpz::Direction::Compressing);
    QVERIFY(handled);
}

void ProgressDisplayTest::showFileEndCompletesTheFile() {
    AppWindows w;
    Ui::TMainForm& ui = w.form.ui();
    ui.BatchProgressBar->setValue(33);
    ui.ElapsedLabel->setText(" 5 s");
    PackerState& s = w.form.state();
    s.sourceProcessed = 100000;
    s.destWritten = 60000;
    w.form.showFileEnd(kpz::Direction::Compressing);
    QCOMPARE(ui.SourceCounterLabel->text(), QString("97K"));
    QCOMPARE(ui.DestCounterLabel->text(), QString("58K"));
    QCOMPARE(ui.FileProgressBar->value(), 100);
    QCOMPARE(ui.RatioLabel->text(), QString("40%"));
    QCOMPARE(ui.BatchProgressBar->value(), 33);
    QCOMPARE(ui.ElapsedLabel->text(), QString(" 5 s"));
}

void ProgressDisplayTest::showTimes_data() {
    QTest::addColumn<QTime>("start");
    QTest::addColumn<QTime>("now");
    QTest::addColumn<int>("batchBar");
    QTest::addColumn<QString>("elapsed");
    QTest::addColumn<QString>("estimated");
    QTest::newRow("negative minute and second parts")
        << QTime(10, 59, 50) << QTime(11, 0, 10) << 0 << " 20 s"
        << " 0 s";
    QTest::newRow("past midnight") << QTime(23, 59, 50) << QTime(0, 0, 10) << 0 << " 20 s"
                                   << " 0 s";
    QTest::newRow("61 minutes") << QTime(10, 0, 0) << QTime(11, 1, 0) << 0 << "1 h 1 min 0 s"
                                << " 0 s";
    QTest::newRow("hours and seconds") << QTime(0, 0, 0) << QTime(1, 0, 5) << 0 << "1 h 5 s"
                                       << " 0 s";
    QTest::newRow("half done") << QTime(8, 0, 0) << QTime(8, 2, 3) << 50 << " 2 min 3 s"
                               << " 2 min 3 s";
    QTest::newRow("a quarter done") << QTime(8, 0, 0) << QTime(8, 1, 0) << 25 << " 1 min 0 s"
                                    << " 3 min 0 s";
    QTest::newRow("estimate of 128 hours or more")
        << QTime(0, 0, 0) << QTime(23, 0, 0) << 1 << "23 h 0 s"
        << "2277 h 0 s";
}

void ProgressDisplayTest::showTimes() {
    QFETCH(QTime, start);
    QFETCH(QTime, now);
    QFETCH(int, batchBar);
    AppWindows w;
    QTime clock = start;
    w.form.timeOfDay = [&clock] { return clock; };
    w.form.recordStartTime();
    clock = now;
    w.form.ui().BatchProgressBar->setValue(batchBar);
    w.form.showTimes();
    QTEST(w.form.ui().ElapsedLabel->text(), "elapsed");
    QTEST(w.form.ui().EstimatedLabel->text(), "estimated");
}

void ProgressDisplayTest::resetDisplayRestoresIdleTexts() {
    AppWindows w;
    Ui::TMainForm& ui = w.form.ui();
    w.form.applicationActive = [] { return false; };
    PackerState& s = w.form.state();
    s.sourceSize = 4096;
    s.sourceProcessed = 4096;
    s.destWritten = 2048;
    s.batchTotalUnits = 1;
    w.form.showProgress(kpz::Direction::Compressing);
    ui.CurrentFileBox->setText("x.wav");
    ui.BatchBox->setText("File 1 of 1");
    w.form.setStatusText("Compressing...");
    const QString title = applicationTitle();

    w.form.resetDisplay();
    QCOMPARE(w.form.statusText(), QString());
    QCOMPARE(ui.SourceCounterLabel->text(), QString("0K"));
    QCOMPARE(ui.DestCounterLabel->text(), QString("0K"));
    QCOMPARE(ui.FileProgressBar->value(), 0);
    QCOMPARE(ui.RatioLabel->text(), QString("0%"));
    QCOMPARE(ui.BatchProgressBar->value(), 0);
    QCOMPARE(ui.CurrentFileBox->text(), QString("None"));
    QCOMPARE(ui.BatchBox->text(), QString("None"));
    QCOMPARE(ui.ElapsedLabel->text(), QString("0 s"));
    QCOMPARE(ui.EstimatedLabel->text(), QString("0 s"));
    QCOMPARE(applicationTitle(), title); // the title is left alone
    QCOMPARE(title, QString("(100%) Compressing..."));
}

void ProgressDisplayTest::currentFileShowsTheName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cut");
    QTest::newRow("short") << "take 1.wav" << false;
    QTest::newRow("long") << QString(120, 'a') + " take 17.wav" << true;
    QTest::newRow("right to left") << QString::fromUtf8("הקלטה.wav") << false;
    QTest::newRow("long, right to left")
        << QString::fromUtf8("הקלטה ").repeated(20) + QString::fromUtf8("שיר.wav") << true;
}

// The name of the file under way, in the fixed right-aligned box: whole when it fits, else
// cut in the middle with its end kept and the whole name in the tooltip; flush right in any
// script.
void ProgressDisplayTest::currentFileShowsTheName() {
    QFETCH(QString, name);
    QFETCH(bool, cut);
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QLabel* box = w.form.ui().CurrentFileBox;
    const QString path = QDir::temp().filePath(name);
    ModalHelper helper;
    // The batch shows the name before it opens the file, which does not exist: its error
    // box is answered once the name is up.
    QString shown, toolTip;
    QImage picture;
    helper.answerWindow("QMessageBox", [&](QWidget* window) {
        shown = box->text();
        toolTip = box->toolTip();
        picture = box->grab().toImage();
        static_cast<QMessageBox*>(window)->button(QMessageBox::Ok)->click();
    });
    w.form.compressBatch({path});
    QTRY_VERIFY(helper.finished());

    QCOMPARE(shown == name, !cut);
    QCOMPARE(toolTip, cut ? name : QString());
    QVERIFY2(box->fontMetrics().horizontalAdvance(shown) <= box->width(), qPrintable(shown));
    QVERIFY2(shown.endsWith(name.right(7)), qPrintable(shown));
    // Where the text is drawn: its rightmost ink lies at the box's right edge.
    const QRgb background = picture.pixel(0, 0);
    int right = -1;
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y)
            if (picture.pixel(x, y) != background) right = x;
    QVERIFY2(right >= picture.width() - 1 - 4 * picture.devicePixelRatio(),
             qPrintable(QString("ink ends at %1 of %2").arg(right).arg(picture.width())));
}

namespace {

// Records which controls of the main window are painted, and where, in the window's
// coordinates.
class PaintRecorder : public QObject {
  public:
    explicit PaintRecorder(QWidget* area) {
        for (QWidget* w : area->findChildren<QWidget*>())
            w->installEventFilter(this);
    }
    QStringList painted;
    QRegion area;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* widget = static_cast<QWidget*>(watched);
            painted << widget->objectName();
            area += static_cast<QPaintEvent*>(event)->region().translated(
                widget->mapTo(widget->window(), QPoint()));
        }
        return false;
    }
};

// A restore a third of the way through a 100 MiB file, 60 MiB read so far.
void setRestoreFigures(PackerState& s) {
    s.originalSize = 100u << 20;
    s.destWritten = 33u << 20;
    s.sourceProcessed = 60u << 20;
    s.batchTotalUnits = 1000000;
    s.batchDoneUnits = 0;
}

} // namespace

// After each flush only the figures that changed are drawn again: the same figures twice
// repaint nothing, and 512 KiB more read repaints the source counter's box alone, without
// the bevel around it (the ratio, the bars and the times stay as they were). The counter
// below shares one row of pixels with it.
void ProgressDisplayTest::showProgressRepaintsOnlyWhatChanged() {
    AppWindows w;
    const QTime now(12, 0, 0);
    w.form.timeOfDay = [now] { return now; };
    w.form.applicationActive = [] { return true; };
    w.form.recordStartTime();
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    PackerState& s = w.form.state();
    setRestoreFigures(s);
    w.form.showProgress(kpz::Direction::Decompressing);
    QCoreApplication::processEvents();

    PaintRecorder recorder(w.form.ui().centralwidget);
    w.form.showProgress(kpz::Direction::Decompressing);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.painted, QStringList());

    const QString ratio = w.form.ui().RatioLabel->text();
    s.sourceProcessed += 512 * 1024;
    w.form.showProgress(kpz::Direction::Decompressing);
    QCoreApplication::processEvents();
    QCOMPARE(w.form.ui().SourceCounterLabel->text(), QString("61952K"));
    QCOMPARE(w.form.ui().RatioLabel->text(), ratio);
    recorder.painted.removeDuplicates();
    recorder.painted.sort();
    QCOMPARE(recorder.painted, (QStringList{"DestCounterLabel", "SourceCounterLabel"}));
    const QRect box(w.form.ui().SourceCounterLabel->mapTo(&w.form, QPoint()),
                    w.form.ui().SourceCounterLabel->size());
    QVERIFY2(QRegion(box).contains(recorder.area.boundingRect()),
             qPrintable(recorder.painted.join(", ")));
}

// The window as the screen shows it after a run of partial repaints (counters, ratio, bars
// and times moving, then the file's end) is the window drawn afresh.
void ProgressDisplayTest::repaintedWindowMatchesAFreshDrawing() {
    AppWindows w;
    QTime clock(12, 0, 0);
    w.form.timeOfDay = [&clock] { return clock; };
    w.form.applicationActive = [] { return true; };
    w.form.recordStartTime();
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    PackerState& s = w.form.state();
    setRestoreFigures(s);
    // The batch ends with the last flush: a bar at its end is always drawn, while one that
    // moved less than a step may be left as drawn before, by the toolkit's choice.
    s.batchTotalUnits = static_cast<uint32_t>((80u << 20) / 4096);
    for (int flush = 0; flush < 40; ++flush) {
        s.sourceProcessed += 512 * 1024;
        s.destWritten += 700 * 1024;
        clock = clock.addSecs(flush % 3 == 0 ? 1 : 0);
        w.form.showProgress(kpz::Direction::Decompressing);
    }
    w.form.showFileEnd(kpz::Direction::Decompressing);
    QCoreApplication::processEvents();
    QCOMPARE(w.form.ui().FileProgressBar->value(), 100);
    QCOMPARE(w.form.ui().BatchProgressBar->value(), 100);

    const QImage shown = w.form.screen()
                             ->grabWindow(w.form.winId(), 0, 0, w.form.width(), w.form.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = w.form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), fresh.size());
    QRect compared = w.form.rect();
    // Wine's theme engine draws the menu bar's last line into the window otherwise than
    // into an image, already before any progress is shown: under Wine the window is
    // compared below the menu bar, which the progress never repaints.
    if (runningUnderWine()) compared.setTop(w.form.ui().MainMenu1->geometry().bottom() + 1);
    QVERIFY(shown.copy(compared) == fresh.copy(compared));
}

QTEST_MAIN(ProgressDisplayTest)
#include "tst_progress_display.moc"
