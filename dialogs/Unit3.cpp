// TDestFolderForm: the dialog that chooses the destination folder.
#include "Unit3.h"

TDestFolderForm* DestFolderForm = nullptr;

TDestFolderForm::TDestFolderForm(QWidget* parent) : QDialog(parent) {
    setObjectName("DestFolderForm");
    setWindowTitle("Destination Folder");
}
