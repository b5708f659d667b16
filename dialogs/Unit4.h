// THelpForm: the help window.
#pragma once

#include <QDialog>

class THelpForm : public QDialog {
    Q_OBJECT

  public:
    explicit THelpForm(QWidget* parent = nullptr);
};

// Created once at start-up and kept until the program ends.
extern THelpForm* HelpForm;
