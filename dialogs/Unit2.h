// TAboutForm: the about window.
#pragma once

#include <QDialog>

class TAboutForm : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutForm(QWidget* parent = nullptr);
};

// Created once at start-up and kept until the program ends.
extern TAboutForm* AboutForm;
