// SPDX-License-Identifier: BSD-3-Clause
// TAboutForm: the about window.
#include "Unit2.h"

#include "version.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

TAboutForm* AboutForm = nullptr;

// The splash picture is compiled into the dialogs' static library; register it from here
// so that the linker keeps it.
static void initSplashResource() {
    Q_INIT_RESOURCE(splash);
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    initSplashResource();
    setObjectName("AboutForm");
    setWindowTitle(QString());
    // The window has no caption to read out; screen readers get its name.
    setAccessibleName("About Brisko Packer");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(302, 182);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    // The picture fills the window, centred, so a one-pixel black edge surrounds it.
    title = new QLabel(this);
    title->setObjectName("title");
    title->setAccessibleName("Brisko Packer");
    title->setGeometry(rect());
    title->setAlignment(Qt::AlignCenter);
    title->setPixmap(QPixmap(":/splash.bmp"));
    title->installEventFilter(this);

    // Drawn over the picture with no background of its own. It is a sibling of the
    // picture, so a click on it goes to the window, which ignores it.
    Label1 = new QLabel("v" BRISKO_VERSION, this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(272, 48, 33, 11);
    QFont small;
    small.setFamilies({"MS Serif", "Times New Roman", "Liberation Serif", "DejaVu Serif"});
    small.setPixelSize(9);
    Label1->setFont(small);
    QPalette silver = Label1->palette();
    silver.setColor(QPalette::WindowText, QColor(192, 192, 192));
    Label1->setPalette(silver);
    Label1->setAutoFillBackground(false);
    Label1->raise();

    // Centred on the screen until Position moves it.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TAboutForm::CloseOnTimer);
    Timer->start();
}

bool TAboutForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) EnableTimer();
    return QDialog::event(event);
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    Position();
    // Start the count at showing too: a window manager may refuse to activate a frameless
    // window, and the splash must still close by itself.
    EnableTimer();
}

void TAboutForm::Position() {
    QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
    if (main) move(main->frameGeometry().topLeft() + QPoint(33, 100));
}

void TAboutForm::EnableTimer() {
    Timer->start();
    tickCount = 0;
}

void TAboutForm::CloseOnTimer() {
    ++tickCount;
    if (tickCount >= 10) {
        Timer->stop();
        closeIfShown();
    }
}

void TAboutForm::titleClick() {
    closeIfShown();
}

void TAboutForm::FormKeyPress(QChar& /*key*/) {
    closeIfShown();
}

void TAboutForm::closeIfShown() {
    if (isVisible()) reject();
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    QChar key;
    if (event->key() == Qt::Key_Escape)
        key = QChar(27);
    else if (!event->text().isEmpty())
        key = event->text().front();
    else {
        // Arrow, function and modifier keys alone produce no character.
        event->ignore();
        return;
    }
    FormKeyPress(key);
    event->accept();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == title) {
        // A click: the left button pressed and released on the picture.
        if (event->type() == QEvent::MouseButtonPress) {
            pressedOnTitle_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const bool click = pressedOnTitle_ && mouse->button() == Qt::LeftButton &&
                               title->rect().contains(mouse->position().toPoint());
            pressedOnTitle_ = false;
            if (click) titleClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}
