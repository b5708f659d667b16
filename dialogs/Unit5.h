// SPDX-License-Identifier: BSD-3-Clause
// TPasswordForm: the password dialog.
#pragma once

#include <QDialog>
#include <QRect>

#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TPasswordForm : public QDialog {
    Q_OBJECT

  public:
    explicit TPasswordForm(QWidget* parent = nullptr);

    QLineEdit* PasswordEdit = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QCheckBox* CheckBox = nullptr;
    // Never shown: holds the password code as signed decimal text, which the batches read.
    QLabel* Code = nullptr;

    // A part of the screen, in screen coordinates, that the dialog leaves in sight when it
    // places itself: while it asks for a file's password, where the owner names that file.
    // Asked at each placement, since the owner may have moved (or been framed by the window
    // manager) meanwhile. Unset for none.
    std::function<QRect()> keepInSight;

    // The word that scrambles payload words: the low 16 bits of the number in Code.
    uint16_t codeWord() const;

    // Writes the password text; the code follows, even when the text is unchanged.
    void setPasswordText(const QString& text);

    void PasswordEditChange();
    void CheckBoxClick();
    void FormActivate();
    // Sees every key before the dialog's controls; setting key to 0 discards it.
    void FormKeyPress(QChar& key);

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

// Created once at start-up and kept until the program ends.
extern TPasswordForm* PasswordForm;
