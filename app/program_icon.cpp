// The program's icon, for its windows: the drawn sizes built into the program.
#include "program_icon.h"

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(
            QString(":/brisko-packer/icons/hicolor/%1x%1/apps/brisko-packer.png").arg(size),
            QSize(size, size));
    return icon;
}
