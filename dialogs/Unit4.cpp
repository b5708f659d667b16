// THelpForm: the help window.
#include "Unit4.h"

THelpForm* HelpForm = nullptr;

THelpForm::THelpForm(QWidget* parent) : QDialog(parent) {
    setObjectName("HelpForm");
    setWindowTitle("Brisko Packer Help");
}
