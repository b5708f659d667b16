// TPasswordForm: the password dialog.
#include "Unit5.h"

#include <QLabel>

TPasswordForm* PasswordForm = nullptr;

TPasswordForm::TPasswordForm(QWidget* parent) : QDialog(parent) {
    setObjectName("PasswordForm");
    setWindowTitle("Enter New Password");
    Code = new QLabel("0", this);
    Code->setObjectName("Code");
    Code->setGeometry(136, 48, 41, 17);
    Code->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Code->setVisible(false);
}
