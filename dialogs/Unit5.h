// TPasswordForm: the password dialog.
#pragma once

#include <QDialog>

class QLabel;

class TPasswordForm : public QDialog {
    Q_OBJECT

  public:
    explicit TPasswordForm(QWidget* parent = nullptr);

    // Never shown: holds the password code as signed decimal text, which the batches read.
    QLabel* Code = nullptr;
};

// Created once at start-up and kept until the program ends.
extern TPasswordForm* PasswordForm;
