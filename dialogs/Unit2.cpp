// TAboutForm: the about window.
#include "Unit2.h"

TAboutForm* AboutForm = nullptr;

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutForm");
    setWindowTitle(QString());
}
