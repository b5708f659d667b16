// SPDX-License-Identifier: BSD-3-Clause
// TPasswordForm: the password dialog.
#include "Unit5.h"

#include "text.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QValidator>

#include <algorithm>
#include <string>

TPasswordForm* PasswordForm = nullptr;

namespace {

// Upper-cases what the user types or pastes, by the Windows-1252 rules the password code
// uses, so the edit shows the characters that count. Characters outside that set stay as
// typed (the code counts them as "?"); no character changes the length of the text.
class UpperCaseValidator : public QValidator {
  public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        QString upper;
        upper.reserve(input.size());
        for (char32_t cp : input.toUcs4()) {
            const QString ch = QString::fromUcs4(&cp, 1);
            const std::string byte = kpz::utf8ToCp1252(ch.toUtf8().toStdString());
            if (byte.size() != 1 || (byte[0] == '?' && cp != U'?')) {
                upper += ch;
                continue;
            }
            const auto b = static_cast<uint8_t>(byte[0]);
            const uint8_t u = kpz::upperCp1252(b);
            upper +=
                u == b ? ch : QString::fromStdString(kpz::cp1252ToUtf8(std::string(1, char(u))));
        }
        input = upper;
        return Acceptable;
    }
};

// Masks hidden text with "?" instead of the style's own bullet, shown at once.
class QuestionMarkMask : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '?';
        if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TPasswordForm::TPasswordForm(QWidget* parent) : QDialog(parent) {
    setObjectName("PasswordForm");
    setWindowTitle("Enter New Password");
    // A fixed dialog frame with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(281, 75);

    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setObjectName("PasswordEdit");
    PasswordEdit->setAccessibleName("Password");
    PasswordEdit->setGeometry(8, 8, 169, 21);
    PasswordEdit->setMaxLength(16);
    PasswordEdit->setValidator(new UpperCaseValidator(PasswordEdit));
    auto* mask = new QuestionMarkMask;
    mask->setParent(this);
    PasswordEdit->setStyle(mask);
    PasswordEdit->setEchoMode(QLineEdit::Password);

    OkButton = new QPushButton("OK", this);
    OkButton->setObjectName("OkButton");
    OkButton->setGeometry(192, 8, 81, 25);

    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setGeometry(192, 40, 81, 25);

    // Neither button answers Enter: the dialog closes only by a click (or Space) on a
    // button, or by its close box.
    for (QPushButton* button : {OkButton, CancelButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    CheckBox = new QCheckBox("Hide Password", this);
    CheckBox->setObjectName("CheckBox");
    CheckBox->setGeometry(8, 48, 121, 17);
    CheckBox->setChecked(true);
    CheckBox->setFocusPolicy(Qt::ClickFocus); // not reached by Tab

    Code = new QLabel("0", this);
    Code->setObjectName("Code");
    Code->setGeometry(136, 48, 41, 17);
    Code->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Code->setVisible(false);

    setTabOrder(PasswordEdit, OkButton);
    setTabOrder(OkButton, CancelButton);

    connect(PasswordEdit, &QLineEdit::textChanged, this, &TPasswordForm::PasswordEditChange);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(CheckBox, &QCheckBox::toggled, this, &TPasswordForm::CheckBoxClick);

    // Key preview: the dialog sees each key before the control that has the focus.
    for (QWidget* control :
         std::initializer_list<QWidget*>{PasswordEdit, OkButton, CancelButton, CheckBox})
        control->installEventFilter(this);
}

uint16_t TPasswordForm::codeWord() const {
    return static_cast<uint16_t>(Code->text().toLongLong() & 0xFFFF);
}

void TPasswordForm::PasswordEditChange() {
    const uint16_t code = kpz::passwordCodeUtf8(PasswordEdit->text().toUtf8().toStdString());
    Code->setText(QString::number(static_cast<int16_t>(code)));
}

void TPasswordForm::setPasswordText(const QString& text) {
    // Writing the text always recomputes the code, even when the text stays the same.
    const bool unchanged = PasswordEdit->text() == text;
    PasswordEdit->setText(text);
    if (unchanged) PasswordEditChange();
}

void TPasswordForm::CheckBoxClick() {
    PasswordEdit->setEchoMode(CheckBox->isChecked() ? QLineEdit::Password : QLineEdit::Normal);
}

void TPasswordForm::FormActivate() {
    PasswordEdit->setFocus();
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner) return;
    // 40 right of and 147 below the owner's corner, frames included. Where that would
    // cover the part to keep in sight, just below that part, or above it when the screen
    // ends first. Then within the screen, also when the owner hangs off one of its edges.
    constexpr int kGap = 4;
    QRect placed(owner->pos() + QPoint(40, 147), frameGeometry().size());
    const QScreen* screen = owner->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QRect spared = keepInSight ? keepInSight() : QRect();
    if (placed.intersects(spared)) {
        placed.moveTop(spared.bottom() + 1 + kGap);
        if (room.isValid() && placed.bottom() > room.bottom())
            placed.moveBottom(spared.top() - 1 - kGap);
    }
    if (room.isValid()) {
        placed.moveRight(std::min(placed.right(), room.right()));
        placed.moveBottom(std::min(placed.bottom(), room.bottom()));
        placed.moveLeft(std::max(placed.left(), room.left()));
        placed.moveTop(std::max(placed.top(), room.top()));
    }
    move(placed.topLeft());
}

void TPasswordForm::FormKeyPress(QChar& key) {
    if (key == QChar('\r')) key = QChar();
}

bool TPasswordForm::event(QEvent* e) {
    const bool result = QDialog::event(e);
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return result;
}

bool TPasswordForm::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(e)->text();
        if (!text.isEmpty()) {
            QChar key = text.front();
            FormKeyPress(key);
            if (key.isNull()) return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TPasswordForm::keyPressEvent(QKeyEvent* e) {
    // Neither button is the default or the cancel button: Enter and Escape close nothing.
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}
