// SPDX-License-Identifier: BSD-3-Clause
// THelpForm: the help window.
#include "Unit4.h"

#include "rtf_reader.h"
#include "version.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

THelpForm* HelpForm = nullptr;

namespace {

Qt::Alignment toQt(rtf::Alignment alignment) {
    switch (alignment) {
    case rtf::Alignment::Left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case rtf::Alignment::Right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    case rtf::Alignment::Justify:
        return Qt::AlignJustify;
    case rtf::Alignment::Center:
    case rtf::Alignment::Default:
        break; // the view centres what the file leaves open
    }
    return Qt::AlignHCenter;
}

} // namespace

THelpForm::THelpForm(QWidget* parent) : QDialog(parent) {
    setObjectName("HelpForm");
    setWindowTitle("Brisko Packer Help");
    // A resizable window with a close box only.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setModal(false);

    QFont font;
    font.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans"});
    font.setPixelSize(11);
    setFont(font);

    RichEdit = new QTextEdit(this);
    RichEdit->setObjectName("RichEdit");
    RichEdit->setAccessibleName("Help text");
    RichEdit->setReadOnly(true);
    RichEdit->setFrameShape(QFrame::NoFrame);
    RichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit->setAcceptRichText(true);
    // Half-inch tab stops, as rich-text files expect when they set none.
    RichEdit->setTabStopDistance(48);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(RichEdit);

    resize(402, 401);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // On a small or scaled screen the window, frame included, stays within the room
        // there is.
        resize(size().boundedTo(screen->availableGeometry().size() - QSize(16, 48)));
        move(screen->availableGeometry().center() - rect().center());
    }

    // Installed, the help file lies in the shared data folder; in the build tree and on
    // Windows, beside the program.
    programFolder = QCoreApplication::applicationDirPath();
    const QString shared = QDir::cleanPath(programFolder + '/' + BRISKO_DATA_FROM_PROGRAM);
    if (QFile::exists(QDir(shared).filePath(kHelpFileName))) programFolder = shared;

    // Key preview: see every key typed in this window before the control with the focus.
    qApp->installEventFilter(this);
}

THelpForm::~THelpForm() {
    if (qApp) qApp->removeEventFilter(this);
}

void THelpForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Spontaneous show events come from the window system (a restore from the task bar,
    // say); only a change from hidden to shown made by the program reloads the file.
    if (!event->spontaneous()) FormShow();
}

void THelpForm::FormShow() {
    const QString path = QDir(programFolder).filePath(kHelpFileName);
    QFile file(path);
    QByteArray data;
    // A file that exists but cannot be read (no permission, a folder of that name) is
    // reported the same way as a missing one, and the view keeps its text.
    bool readable = file.exists() && file.open(QIODevice::ReadOnly);
    if (readable) {
        data = file.readAll();
        readable = file.error() == QFileDevice::NoError;
    }
    if (!readable) {
        QMessageBox box(QMessageBox::NoIcon, "Unexpected Error", "Couldn't open help file!",
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    showDocument(rtf::parse(data));
}

void THelpForm::showDocument(const rtf::Document& document) {
    QTextDocument* doc = RichEdit->document();
    doc->clear();
    doc->setDefaultFont(font());
    QTextCursor cursor(doc);
    bool first = true;
    for (const rtf::Paragraph& paragraph : document.paragraphs) {
        QTextBlockFormat blockFormat;
        blockFormat.setAlignment(toQt(paragraph.alignment));
        if (first)
            cursor.setBlockFormat(blockFormat);
        else
            cursor.insertBlock(blockFormat);
        first = false;
        for (const rtf::Run& run : paragraph.runs) {
            QTextCharFormat format;
            format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(run.italic);
            format.setFontUnderline(run.underline);
            if (run.halfPoints > 0) format.setFontPointSize(run.halfPoints / 2.0);
            cursor.insertText(run.text, format);
        }
    }
    RichEdit->moveCursor(QTextCursor::Start);
    RichEdit->verticalScrollBar()->setValue(0);
}

bool THelpForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QDialog::eventFilter(watched, event);
    // A key travels from the focused control up to its window; take it once, at the first
    // receiver inside this window.
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* firstReceiver = focusWidget() ? focusWidget() : this;
    if (widget != firstReceiver || widget->window() != this)
        return QDialog::eventFilter(watched, event);

    auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Ctrl+Home and Ctrl+End go to the top and the end of the text: the read-only view
    // takes Home and End only without a modifier.
    if (keyEvent->modifiers() == Qt::ControlModifier &&
        (keyEvent->key() == Qt::Key_Home || keyEvent->key() == Qt::Key_End)) {
        QScrollBar* bar = RichEdit->verticalScrollBar();
        bar->setValue(keyEvent->key() == Qt::Key_Home ? bar->minimum() : bar->maximum());
        return true;
    }
    // Shortcuts such as Ctrl+C (copy) still reach the view; they type nothing, and the view
    // is read-only anyway. Keys without a character (arrows, page keys) scroll it.
    if (keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return QDialog::eventFilter(watched, event);
    QChar key;
    if (keyEvent->key() == Qt::Key_Escape)
        key = QChar(27);
    else if (!keyEvent->text().isEmpty())
        key = keyEvent->text().front();
    else
        return QDialog::eventFilter(watched, event);
    FormKeyPress(key);
    if (key.isNull()) return true; // discarded: the view never sees it
    return QDialog::eventFilter(watched, event);
}

void THelpForm::FormKeyPress(QChar& key) {
    if (key.unicode() == 27) close();
    key = QChar();
}
