// SPDX-License-Identifier: BSD-3-Clause
// The about window: its look, closing by its timer, by a key or by a click on the picture,
// the count restarting at each activation, and its place beside the main window.
#include "modal_helper.h"
#include "ui_Unit1.h"
#include "version.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

class AboutFormTest : public QObject {
    Q_OBJECT

  private slots:
    void look();
    void splashPicture();
    void closesByItselfAfterTenTicks();
    void activationRestartsTheCount();
    void keys_data();
    void keys();
    void clicks_data();
    void clicks();
    void closedEarlyTheTimerRunsOut();
    void placedBesideTheMainWindow();

  private:
    static void present(AppWindows& w) {
        w.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
    static void showAbout(AppWindows& w) {
        w.about.show();
        w.about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.about));
    }
};

void AboutFormTest::look() {
    AppWindows w;
    TAboutForm& about = w.about;
    const Qt::WindowFlags flags = about.windowFlags();
    QVERIFY(flags & Qt::FramelessWindowHint);
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QCOMPARE(about.size(), QSize(302, 182));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::black));
    QVERIFY(!about.isVisible());

    QCOMPARE(about.title->geometry(), QRect(0, 0, 302, 182));
    QCOMPARE(about.Label1->text(), QString("v" BRISKO_VERSION));
    QCOMPARE(about.Label1->geometry(), QRect(272, 48, 33, 11));
    QCOMPARE(about.Label1->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    QCOMPARE(about.Label1->font().pixelSize(), 9);

    // Ticking from creation on, once a second.
    QCOMPARE(about.Timer->interval(), 1000);
    QVERIFY(about.Timer->isActive());
}

void AboutFormTest::splashPicture() {
    const QImage splash(":/splash.bmp");
    QCOMPARE(splash.size(), QSize(300, 180));
    QCOMPARE(splash.format(), QImage::Format_Indexed8);
    QVERIFY(splash.colorCount() <= 256);

    // Centred on black: a one-pixel black edge all round, the picture inside it, the
    // version text over it.
    AppWindows w;
    w.about.show();
    const QImage shot = w.about.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), QSize(302, 182));
    for (QPoint edge : {QPoint(0, 0), QPoint(301, 0), QPoint(0, 181), QPoint(301, 181),
                        QPoint(150, 0), QPoint(0, 90)})
        QCOMPARE(shot.pixelColor(edge), QColor(Qt::black));
    for (QPoint inside : {QPoint(1, 1), QPoint(150, 90), QPoint(300, 180), QPoint(40, 160)})
        QCOMPARE(shot.pixelColor(inside), splash.pixelColor(inside - QPoint(1, 1)));
    bool silver = false;
    for (int y = 48; y < 59 && !silver; ++y)
        for (int x = 272; x < 300 && !silver; ++x)
            silver = qGray(shot.pixel(x, y)) > 140 && qGray(splash.pixel(x - 1, y - 1)) < 60;
    QVERIFY(silver);
}

void AboutFormTest::closesByItselfAfterTenTicks() {
    AppWindows w;
    present(w);
    w.about.Timer->setInterval(10);
    QSignalSpy ticks(w.about.Timer, &QTimer::timeout);
    bool hung = false;
    QTimer::singleShot(5000, &w.about, [&] {
        hung = true;
        w.about.reject();
    });
    w.about.exec();
    QVERIFY(!hung);
    QCOMPARE(w.about.tickCount, 10);
    QVERIFY(!w.about.Timer->isActive());
    QVERIFY(ticks.count() >= 10);
}

// Notes how many timer ticks had passed when the window was last activated.
struct ActivationSpy : QObject {
    ActivationSpy(QWidget* window, const QSignalSpy& ticks) : ticks_(ticks) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) ticksAtActivation = ticks_.count();
        return false;
    }
    int ticksAtActivation = -1;
    const QSignalSpy& ticks_;
};

void AboutFormTest::activationRestartsTheCount() {
    AppWindows w;
    present(w);
    w.about.Timer->setInterval(20);
    QSignalSpy ticks(w.about.Timer, &QTimer::timeout);
    ActivationSpy activation(&w.about, ticks);
    showAbout(w);
    QTRY_VERIFY(w.about.tickCount >= 5);

    // Another window takes the focus, then the about window gets it back.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(w.about.isVisible());
    w.about.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.about));
    const int ticksBefore = activation.ticksAtActivation;
    QVERIFY(ticksBefore >= 5);

    // It closes ten ticks after that activation, not ten after it first opened.
    QTRY_VERIFY_WITH_TIMEOUT(!w.about.isVisible(), 3000);
    QCOMPARE(ticks.count() - ticksBefore, 10);
    QCOMPARE(w.about.tickCount, 10);
}

void AboutFormTest::keys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Space") << int(Qt::Key_Space) << true;
    QTest::newRow("Enter") << int(Qt::Key_Return) << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true;
    QTest::newRow("letter") << int(Qt::Key_Q) << true;
    QTest::newRow("arrow") << int(Qt::Key_Left) << false;
    QTest::newRow("function key") << int(Qt::Key_F1) << false;
    QTest::newRow("Shift alone") << int(Qt::Key_Shift) << false;
}

void AboutFormTest::keys() {
    QFETCH(int, key);
    QFETCH(bool, closes);
    AppWindows w;
    present(w);
    showAbout(w);
    // Typed into the window as the system delivers it, to whatever has the focus there.
    QTest::keyClick(w.about.windowHandle(), Qt::Key(key));
    QCOMPARE(w.about.isVisible(), !closes);
}

void AboutFormTest::clicks_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("closes");
    QTest::newRow("picture") << "title" << QPoint(60, 120) << int(Qt::LeftButton) << true;
    QTest::newRow("black edge") << "title" << QPoint(0, 0) << int(Qt::LeftButton) << true;
    QTest::newRow("next to the version")
        << "title" << QPoint(268, 52) << int(Qt::LeftButton) << true;
    QTest::newRow("version text") << "Label1" << QPoint(16, 5) << int(Qt::LeftButton) << false;
    QTest::newRow("right button") << "title" << QPoint(60, 120) << int(Qt::RightButton) << false;
}

void AboutFormTest::clicks() {
    QFETCH(QString, target);
    QFETCH(QPoint, at);
    QFETCH(int, button);
    QFETCH(bool, closes);
    AppWindows w;
    present(w);
    showAbout(w);
    QWidget* widget = target == "title" ? static_cast<QWidget*>(w.about.title) : w.about.Label1;
    // Aim through the window, so whatever lies on top at that point receives the click.
    const QPoint inWindow = widget->mapTo(&w.about, at);
    QCOMPARE(w.about.childAt(inWindow), widget);
    QTest::mouseClick(w.about.windowHandle(), Qt::MouseButton(button), Qt::NoModifier, inWindow);
    QTRY_COMPARE(w.about.isVisible(), !closes);
}

void AboutFormTest::closedEarlyTheTimerRunsOut() {
    AppWindows w;
    present(w);
    w.about.Timer->setInterval(10);
    showAbout(w);
    QTest::keyClick(&w.about, Qt::Key_Space);
    QVERIFY(!w.about.isVisible());
    QVERIFY(w.about.Timer->isActive());
    // It keeps counting while hidden and switches itself off at the tenth tick; closing the
    // hidden window again does nothing.
    QTRY_VERIFY_WITH_TIMEOUT(!w.about.Timer->isActive(), 3000);
    QCOMPARE(w.about.tickCount, 10);
    QVERIFY(!w.about.isVisible());

    // Shown again later, it counts from zero and closes by itself once more.
    showAbout(w);
    QVERIFY(w.about.Timer->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!w.about.isVisible(), 3000);
}

void AboutFormTest::placedBesideTheMainWindow() {
    AppWindows w;
    w.form.move(120, 90);
    present(w);
    ModalHelper helper;
    QPoint placed;
    bool modal = false;
    helper
        .when([] { return true; },
              [&] {
                  QTimer::singleShot(0, [&] {
                      placed = w.about.frameGeometry().topLeft();
                      modal = QApplication::activeModalWidget() == &w.about;
                  });
                  w.form.ui().About1->trigger();
              })
        .closeWindow("TAboutForm");
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 3000);
    QVERIFY(modal);
    QCOMPARE(placed, w.form.frameGeometry().topLeft() + QPoint(33, 100));

    // It follows the main window to wherever that is now.
    w.form.move(300, 200);
    QTRY_COMPARE(w.form.frameGeometry().topLeft(), QPoint(300, 200));
    w.about.show();
    QCOMPARE(w.about.frameGeometry().topLeft(), QPoint(333, 300));
}

QTEST_MAIN(AboutFormTest)
#include "tst_about_form.moc"
