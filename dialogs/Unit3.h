// TDestFolderForm: the dialog that chooses the destination folder.
#pragma once

#include <QDialog>

class TDestFolderForm : public QDialog {
    Q_OBJECT

  public:
    explicit TDestFolderForm(QWidget* parent = nullptr);
};

// Created once at start-up and kept until the program ends.
extern TDestFolderForm* DestFolderForm;
