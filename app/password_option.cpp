// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the password option, set or changed in TPasswordForm, or turned off.
#include "Unit1.h"

#include "Unit5.h"
#include "ui_Unit1.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>

namespace {

// A double click on the red password label opens the password dialog.
class DoubleClickFilter : public QObject {
  public:
    DoubleClickFilter(QObject* parent, TMainForm* form) : QObject(parent), form_(form) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            form_->PwUseMIClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    TMainForm* form_;
};

} // namespace

void TMainForm::connectPasswordOption() {
    connect(ui_->PwUseMI, &QAction::triggered, this, [this] {
        ui_->PwUseMI->setChecked(!ui_->PwUseMI->isChecked()); // the handler sets the marks
        PwUseMIClick();
    });
    connect(ui_->PwNoneMI, &QAction::triggered, this, [this] { PwNoneMIClick(); });
    ui_->PasswordMode->installEventFilter(new DoubleClickFilter(ui_->PasswordMode, this));
}

void TMainForm::PwUseMIClick() {
    if (!PasswordForm) return;
    const QString savedText = PasswordForm->PasswordEdit->text();
    const QString savedCode = PasswordForm->Code->text();
    if (PasswordForm->exec() == QDialog::Accepted) {
        const bool on = !PasswordForm->PasswordEdit->text().isEmpty();
        ui_->PwNoneMI->setChecked(!on);
        ui_->PwUseMI->setChecked(on);
        ui_->PasswordMode->setVisible(on);
    } else {
        PasswordForm->setPasswordText(savedText);
        PasswordForm->Code->setText(savedCode);
    }
}

void TMainForm::PwNoneMIClick() {
    ui_->PwUseMI->setChecked(false);
    ui_->PwNoneMI->setChecked(true);
    ui_->PasswordMode->setVisible(false);
    if (!PasswordForm) return;
    PasswordForm->setPasswordText(QString());
    PasswordForm->Code->setText("0");
}
