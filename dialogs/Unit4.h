// SPDX-License-Identifier: BSD-3-Clause
// THelpForm: the help window.
#pragma once

#include <QDialog>
#include <QString>

class QTextEdit;

namespace rtf {
struct Document;
}

class THelpForm : public QDialog {
    Q_OBJECT

  public:
    explicit THelpForm(QWidget* parent = nullptr);
    ~THelpForm() override;

    // The help file's name; it is looked for in programFolder.
    static constexpr const char* kHelpFileName = "Brisko Packer Help.rtf";

    QTextEdit* RichEdit = nullptr;
    // The folder of the program's executable; tests point it elsewhere.
    QString programFolder;

    // Loads the help file into the view, or reports that it cannot be read and keeps what
    // the view held. Runs each time the window goes from hidden to shown.
    void FormShow();
    // Key preview: Escape closes the window; every character key is discarded.
    void FormKeyPress(QChar& key);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showDocument(const rtf::Document& document);
};

// Created once at start-up and kept until the program ends.
extern THelpForm* HelpForm;
