// SPDX-License-Identifier: BSD-3-Clause
// The program's icon, for its windows: the drawn sizes built into the program.
#include "program_icon.h"

#include <QImage>
#include <QImageReader>
#include <QPixmap>

QIcon programIcon() {
    QIcon icon;
    // Every size given here is decoded at start, since the window system is handed them
    // all; the 256 px drawing (more pixels than all the others together) is left to the
    // desktop entry's icon, where launchers and docks find it.
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        // Read as PNG outright: a reader left to find the format itself asks every image
        // plugin about every file first.
        QImageReader reader(
            QString(":/brisko-packer/icons/hicolor/%1x%1/apps/brisko-packer.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
