// SPDX-License-Identifier: BSD-3-Clause
// The floor for a window program's start-up: a plain Qt Widgets program that shows one
// window and quits once the window has been painted. gui_restore.sh times it beside the
// window program.
#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {

class FirstPaintQuits : public QWidget {
  protected:
    void paintEvent(QPaintEvent* event) override {
        QWidget::paintEvent(event);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    FirstPaintQuits window;
    window.resize(361, 368);
    window.show();
    return app.exec();
}
