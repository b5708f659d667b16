// SPDX-License-Identifier: BSD-3-Clause
// The help window: its layout, loading the help file each time it is opened, the missing
// file, Escape and typed keys, and the help menu item.
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

#include <memory>

class HelpFormTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void windowLayout();
    void showsTheFileAndReloadsOnlyWhenHidden();
    void missingOrUnreadableFile_data();
    void missingOrUnreadableFile();
    void deletedWhileHiddenKeepsEarlierText();
    void escapeClosesAndTypingNeverReachesTheView();
    void formattingInTheView();
    void ctrlHomeAndCtrlEnd();
    void shippedFileInTheView();

  private:
    QString helpPath() const { return QDir(dir_->path()).filePath("Brisko Packer Help.rtf"); }
    void prepare(AppWindows& w) {
        w.help.programFolder = dir_->path();
        w.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
    std::unique_ptr<QTemporaryDir> dir_;
};

void HelpFormTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void HelpFormTest::cleanup() {
    dir_.reset();
}

void HelpFormTest::windowLayout() {
    AppWindows w;
    THelpForm& help = w.help;
    QCOMPARE(help.windowTitle(), QString("Brisko Packer Help"));
    QCOMPARE(help.size(), QSize(402, 401));
    QVERIFY(!help.isVisible());
    QVERIFY(!help.isModal());
    QCOMPARE(help.programFolder, QCoreApplication::applicationDirPath());
    const Qt::WindowFlags flags = help.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

    QTextEdit* view = help.findChild<QTextEdit*>("RichEdit");
    QCOMPARE(view, help.RichEdit);
    QVERIFY(view->isReadOnly());
    QCOMPARE(view->frameShape(), QFrame::NoFrame);
    QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // The view fills the window and follows its size.
    w.help.programFolder = dir_->path();
    writeFile(helpPath(), "{\\rtf1 x}");
    help.show();
    QCOMPARE(view->geometry(), help.rect());
    help.resize(500, 300);
    QTRY_COMPARE(view->geometry(), help.rect());
    QVERIFY(view->verticalScrollBar()->isVisible());
}

void HelpFormTest::showsTheFileAndReloadsOnlyWhenHidden() {
    AppWindows w;
    prepare(w);
    ModalHelper helper;
    writeFile(helpPath(), "{\\rtf1 first\\par}");
    w.form.ui().BriefHelp1->trigger();
    QVERIFY(w.help.isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&w.help));
    QCOMPARE(w.help.RichEdit->toPlainText(), QString("first"));

    // Chosen again while open: it only comes to the front.
    writeFile(helpPath(), "{\\rtf1 second\\par}");
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    w.form.ui().BriefHelp1->trigger();
    QVERIFY(QTest::qWaitForWindowActive(&w.help));
    QCOMPARE(w.help.RichEdit->toPlainText(), QString("first"));

    // Closed and opened again: the file is read anew.
    w.help.close();
    QVERIFY(!w.help.isVisible());
    w.form.ui().BriefHelp1->trigger();
    QCOMPARE(w.help.RichEdit->toPlainText(), QString("second"));

    // The main window stays usable while help is open.
    QVERIFY(w.help.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(helper.boxes.isEmpty());
    QVERIFY(helper.unexpected.isEmpty());
}

void HelpFormTest::missingOrUnreadableFile_data() {
    QTest::addColumn<bool>("asFolder");
    QTest::newRow("missing") << false;
    QTest::newRow("a folder of that name") << true;
}

void HelpFormTest::missingOrUnreadableFile() {
    QFETCH(bool, asFolder);
    if (asFolder) QVERIFY(QDir(dir_->path()).mkdir("Brisko Packer Help.rtf"));
    AppWindows w;
    prepare(w);
    ModalHelper helper;
    bool helpVisibleUnderBox = false;
    helper.when([] { return true; }, [&] { w.form.ui().BriefHelp1->trigger(); })
        .press(QMessageBox::Ok)
        .when([] { return true; }, [&] { helpVisibleUnderBox = w.help.isVisible(); });
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 3000);

    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Couldn't open help file!"));
    QCOMPARE(helper.boxes[0].caption, QString("Unexpected Error"));
    QCOMPARE(helper.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(helper.boxes[0].icon, QMessageBox::NoIcon);
    // The window opens all the same, empty.
    QVERIFY(helpVisibleUnderBox);
    QVERIFY(w.help.isVisible());
    QVERIFY(w.help.RichEdit->document()->isEmpty());
}

void HelpFormTest::deletedWhileHiddenKeepsEarlierText() {
    AppWindows w;
    prepare(w);
    writeFile(helpPath(), "{\\rtf1 kept text\\par}");
    ModalHelper helper;
    w.form.BriefHelp1Click();
    QCOMPARE(w.help.RichEdit->toPlainText(), QString("kept text"));
    w.help.close();
    QVERIFY(QFile::remove(helpPath()));

    helper.when([] { return true; }, [&] { w.form.BriefHelp1Click(); }).press(QMessageBox::Ok);
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 3000);
    QCOMPARE(helper.boxes.size(), 1);
    QCOMPARE(helper.boxes[0].text, QString("Couldn't open help file!"));
    QVERIFY(w.help.isVisible());
    QCOMPARE(w.help.RichEdit->toPlainText(), QString("kept text"));
}

// Counts the keys that get as far as a widget's own event handling: those that carry a
// character, and the others (arrows, page keys, modifiers alone).
struct KeySpy : QObject {
    int typed = 0;
    int others = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            ++(key->text().isEmpty() && key->key() != Qt::Key_Escape ? others : typed);
        }
        return false;
    }
};

void HelpFormTest::escapeClosesAndTypingNeverReachesTheView() {
    AppWindows w;
    prepare(w);
    writeFile(helpPath(), "{\\rtf1 hello\\par}");
    w.form.BriefHelp1Click();
    QVERIFY(QTest::qWaitForWindowActive(&w.help));
    QTextEdit* view = w.help.RichEdit;
    view->setFocus();
    // Were the view editable, typing would change it: the keys must not get there at all.
    view->setReadOnly(false);
    KeySpy spy;
    view->installEventFilter(&spy);

    QTest::keyClicks(view, "xyz 1");
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Tab})
        QTest::keyClick(view, key);
    QTest::keyClick(view, Qt::Key_A, Qt::ShiftModifier);
    QCOMPARE(spy.typed, 0);
    QCOMPARE(view->toPlainText(), QString("hello"));
    QVERIFY(w.help.isVisible());

    // Keys without a character still move through the text.
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_End);
    QVERIFY(spy.others >= 2);
    QCOMPARE(view->textCursor().position(), 5);

    QTest::keyClick(view, Qt::Key_Escape);
    QCOMPARE(spy.typed, 0);
    QVERIFY(!w.help.isVisible());
    QCOMPARE(view->toPlainText(), QString("hello")); // closing only hides it

    // Escape also closes it when the window itself has the focus.
    w.form.BriefHelp1Click();
    QVERIFY(QTest::qWaitForWindowActive(&w.help));
    view->clearFocus();
    w.help.setFocus();
    QTest::keyClick(&w.help, Qt::Key_Escape);
    QVERIFY(!w.help.isVisible());
}

void HelpFormTest::ctrlHomeAndCtrlEnd() {
    AppWindows w;
    prepare(w);
    QByteArray rtf = "{\\rtf1 ";
    for (int i = 0; i < 200; ++i)
        rtf += "line " + QByteArray::number(i) + "\\par ";
    writeFile(helpPath(), rtf + "}");
    w.form.BriefHelp1Click();
    QVERIFY(QTest::qWaitForWindowActive(&w.help));
    QTextEdit* view = w.help.RichEdit;
    view->setFocus();
    QScrollBar* bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), 0);
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(bar->value(), bar->maximum());
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(bar->value(), 0);
    QVERIFY(w.help.isVisible());
}

void HelpFormTest::formattingInTheView() {
    AppWindows w;
    prepare(w);
    writeFile(helpPath(), "{\\rtf1\\pard\\ql\\b B\\b0 n\\par\\pard{\\i\\ul\\fs40 c}\\par"
                          "\\qr r\\tab s\\par}");
    w.form.BriefHelp1Click();
    QTextDocument* doc = w.help.RichEdit->document();
    QCOMPARE(doc->blockCount(), 3);
    QTextBlock left = doc->firstBlock();
    QTextBlock centred = left.next();
    QTextBlock right = centred.next();
    QCOMPARE(left.text(), QString("Bn"));
    QVERIFY(left.blockFormat().alignment() & Qt::AlignLeft);
    QVERIFY(centred.blockFormat().alignment() & Qt::AlignHCenter); // no alignment given
    QVERIFY(right.blockFormat().alignment() & Qt::AlignRight);
    QCOMPARE(right.text(), QString("r\ts"));

    auto formatAt = [doc](int position) {
        QTextCursor cursor(doc);
        cursor.setPosition(position + 1); // the format of the character before the cursor
        return cursor.charFormat();
    };
    QCOMPARE(formatAt(left.position()).fontWeight(), int(QFont::Bold));
    QCOMPARE(formatAt(left.position() + 1).fontWeight(), int(QFont::Normal));
    const QTextCharFormat c = formatAt(centred.position());
    QVERIFY(c.fontItalic());
    QVERIFY(c.fontUnderline());
    QCOMPARE(c.fontPointSize(), 20.0);
}

void HelpFormTest::shippedFileInTheView() {
    QVERIFY(QFile::copy(HELP_FILE, helpPath()));
    AppWindows w;
    prepare(w);
    ModalHelper helper;
    w.form.BriefHelp1Click();
    QVERIFY(helper.boxes.isEmpty());
    const QString text = w.help.RichEdit->toPlainText();
    QVERIFY(text.startsWith("Brisko Packer\n"));
    QVERIFY(text.contains("A wrong password is not detected."));
    QVERIFY(w.help.RichEdit->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter);
    // Long enough to scroll, and shown from the top.
    QScrollBar* bar = w.help.RichEdit->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), 0);
}

QTEST_MAIN(HelpFormTest)
#include "tst_help_form.moc"
