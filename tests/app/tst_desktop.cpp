// SPDX-License-Identifier: BSD-3-Clause
// The window program among other desktop programs: files dropped on the window, the file
// dialogs (completion list, columns, no settings left behind), one font, and captions that
// fit their message boxes.
#include "modal_helper.h"
#include "ui_Unit1.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

namespace {

// HOME and XDG_CONFIG_HOME of this test process and the programs it starts: whatever the
// program would keep in the user's configuration lands here.
QTemporaryDir& scratchHome() {
    static QTemporaryDir dir;
    return dir;
}

QString configDir() {
    return scratchHome().path() + "/config";
}

// Every file under folder, relative to it.
QStringList filesUnder(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    return found;
}

// Sends a drag of paths onto the window and drops it; returns whether the window took the
// drag. The batches start from the event loop, as after a real drop.
bool dropFiles(TMainForm& form, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    const QPoint at = form.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    QCoreApplication::processEvents();
    return true;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void drop_data();
    void drop();
    void completionListClosesWithDialog();
    void fileDialogShowsEveryColumn();
    void nothingWrittenToUserSettings();
    void typedFolderShowsEveryColumn();
    void oneFontEverywhere_data();
    void oneFontEverywhere();
    void captionsFit_data();
    void captionsFit();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->path() + '/' + name; }
};

void DesktopTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void DesktopTest::drop_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("takesDrag");
    QTest::addColumn<QStringList>("answers"); // buttons pressed in the boxes that come up
    QTest::addColumn<QStringList>("written"); // outputs expected, with the contents they get

    // a.wav and c.wav compress to a.kpz and c.kpz; b.kpz restores to b.wav. old.kpz is in
    // the folder before the drop, as a restore's output name.
    QTest::newRow("mixed, in the order dropped")
        << QStringList{"a.wav", "b.kpz", "c.wav"} << false << true << QStringList{}
        << QStringList{"a.kpz", "c.kpz", "b.wav"};
    QTest::newRow("upper-case extension")
        << QStringList{"B.KPZ"} << false << true << QStringList{} << QStringList{"b.wav"};
    QTest::newRow("overwrite prompt answered Cancel ends the drop")
        << QStringList{"a.wav", "b.kpz", "a.kpz"} << false << true << QStringList{"Cancel"}
        << QStringList{};
    QTest::newRow("folder alone") << QStringList{"."} << false << true << QStringList{}
                                  << QStringList{};
    QTest::newRow("while busy") << QStringList{"a.wav", "b.kpz"} << true << false << QStringList{}
                                << QStringList{};
}

void DesktopTest::drop() {
    QFETCH(QStringList, dropped);
    QFETCH(bool, busy);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, written);

    const QByteArray a = toneBytes(9000), b = noiseBytes(7000), c = toneBytes(300);
    writeFile(path("a.wav"), a);
    writeFile(path("c.wav"), c);
    const QByteArray packedB = expectedCompressed(b, "b.wav");
    writeFile(path("b.kpz"), packedB);
    writeFile(path("B.KPZ"), packedB);
    // Dropped beside a.wav, a.kpz is also the name a.wav compresses to: the batch asks.
    const bool askFirst = dropped.contains("a.kpz");
    if (askFirst) writeFile(path("a.kpz"), "kept");
    const QStringList before = QDir(dir_->path()).entryList(QDir::Files);

    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    w.form.state().busy = busy;
    QDir::setCurrent(QDir::tempPath());

    ModalHelper helper;
    for (const QString& answer : answers)
        helper.press(answer == "Cancel" ? QMessageBox::Cancel : QMessageBox::Ok);
    QStringList paths;
    for (const QString& name : dropped)
        paths << path(name);
    QTEST(dropFiles(w.form, paths), "takesDrag");
    QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    for (const SeenBox& box : helper.boxes)
        QCOMPARE(box.caption, QString("File Exists"));
    QCOMPARE(w.form.state().busy, busy);

    const QHash<QString, QByteArray> contents{{"a.kpz", expectedCompressed(a, "a.wav")},
                                              {"c.kpz", expectedCompressed(c, "c.wav")},
                                              {"b.wav", b}};
    for (const QString& name : written)
        QCOMPARE(readFile(path(name)), contents.value(name));
    QStringList after = QDir(dir_->path()).entryList(QDir::Files);
    for (const QString& name : written)
        after.removeOne(name);
    QCOMPARE(after, before); // nothing else written, nothing removed
    if (askFirst) QCOMPARE(readFile(path("a.kpz")), QByteArray("kept"));
}

void DesktopTest::completionListClosesWithDialog() {
    // Both file dialogs are made alike; the Compress dialog stands for the two.
    const QString typed = "take.wav";
    writeFile(path(typed), toneBytes(5000));
    AppWindows w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QFileDialog* dialog = w.form.CompressDialog();
    dialog->setDirectory(dir_->path());

    // A person types the name, sees the completion list, and presses Enter.
    QAbstractItemView* popup = nullptr;
    bool typedAll = false;
    // Whatever happens below, the dialog does not stay open and hang the test.
    QTimer::singleShot(5000, dialog, [dialog] { dialog->reject(); });
    QTimer::singleShot(0, this, [&] {
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(edit && edit->completer());
        popup = edit->completer()->popup();
        edit->setFocus();
        edit->setText(dir_->path() + '/' + typed.left(typed.size() - 1));
        QTest::keyClicks(edit, typed.right(1));
        QTRY_VERIFY(popup->isVisible());
        // Enter in the field while the list shows: the dialog takes the typed name.
        QTest::keyClick(edit, Qt::Key_Return);
        typedAll = true;
    });
    w.form.CompressFiles();
    QVERIFY(typedAll);
    QVERIFY(!dialog->isVisible());
    QVERIFY(popup && !popup->isVisible());
    // Enter took the typed file.
    QVERIFY2(QFile::exists(path("take.kpz")),
             qPrintable(dialog->selectedFiles().join(", ") + " / " + w.form.statusText()));
}

void DesktopTest::fileDialogShowsEveryColumn() {
    writeFile(path("a recording with a long name, take 12.wav"), toneBytes(40000));
    AppWindows w;
    w.form.show();
    QFileDialog* dialog = w.form.CompressDialog();
    auto* model = dialog->findChild<QFileSystemModel*>();
    QVERIFY(model);
    QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
    dialog->setDirectory(dir_->path());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTRY_VERIFY(!loaded.isEmpty());
    QCoreApplication::processEvents();

    auto* view = dialog->findChild<QTreeView*>("treeView");
    QAbstractItemView* items = view;
    QVERIFY(view && view->isVisible());
    QHeaderView* header = view->header();
    QCOMPARE(header->count(), 4); // name, size, type, date modified
    int right = 0;
    for (int column = 0; column < header->count(); ++column) {
        QVERIFY(!header->isSectionHidden(column));
        // Each column is as wide as its widest entry, so no text is cut.
        QVERIFY2(header->sectionSize(column) >= items->sizeHintForColumn(column),
                 qPrintable(QString("column %1: %2 < %3")
                                .arg(column)
                                .arg(header->sectionSize(column))
                                .arg(items->sizeHintForColumn(column))));
        right =
            std::max(right, header->sectionViewportPosition(column) + header->sectionSize(column));
    }
    QVERIFY2(right <= view->viewport()->width(), // and all are in sight
             qPrintable(QString("%1 > %2").arg(right).arg(view->viewport()->width())));
    dialog->reject();
}

// A folder entered by typing its name and Return (rather than a double click): its columns
// fit what it shows, and the completion list that came up while typing is gone.
void DesktopTest::typedFolderShowsEveryColumn() {
    QVERIFY(QDir().mkpath(path("recordings")));
    QFile big(path("recordings/a recording with a long name, take 12.wav"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(12 * 1024 * 1024));
    big.close();
    writeFile(path("recordings/b.bun"), toneBytes(4000));
    writeFile(path("recordings/c.acd"), toneBytes(4000));
    AppWindows w;
    w.form.show();
    QFileDialog* dialog = w.form.CompressDialog();
    dialog->selectNameFilter(dialog->nameFilters().last()); // all files
    dialog->setDirectory(dir_->path());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));

    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(edit && edit->completer());
    QAbstractItemView* popup = edit->completer()->popup();
    dialog->activateWindow();
    edit->setFocus();
    edit->setText(dir_->path() + "/recording");
    QTest::keyClicks(edit, "s");
    QTRY_VERIFY(popup->isVisible());
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE(QDir(dialog->directory()).dirName(), QString("recordings"));

    auto* view = dialog->findChild<QTreeView*>("treeView");
    QVERIFY(view);
    QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 3);
    QHeaderView* header = view->header();
    QAbstractItemView* items = view;
    const auto columnsFit = [&] {
        for (int column = 1; column < header->count(); ++column)
            if (header->sectionSize(column) < items->sizeHintForColumn(column)) return false;
        return true;
    };
    QTRY_VERIFY2(columnsFit(), qPrintable(QString("Size %1 < %2, Type %3 < %4")
                                              .arg(header->sectionSize(1))
                                              .arg(items->sizeHintForColumn(1))
                                              .arg(header->sectionSize(2))
                                              .arg(items->sizeHintForColumn(2))));
    QVERIFY(!popup->isVisible());
    dialog->reject();
}

void DesktopTest::nothingWrittenToUserSettings() {
    // A window run that opens and closes both file dialogs.
    {
        AppWindows w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        ModalHelper helper;
        helper.cancelFileDialog().cancelFileDialog();
        w.form.CompressFiles();
        w.form.DecompressFiles();
        QVERIFY(helper.finished());
        // The dialogs are kept in the window until the program ends.
    }
    QCOMPARE(filesUnder(configDir()), QStringList());

    // A command-line run of the program itself.
    writeFile(path("in.kpz"), expectedCompressed(toneBytes(6000), "back.wav"));
    QProcess program;
    program.setWorkingDirectory(dir_->path());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(BRISKO_PACKER_PROGRAM, {path("in.kpz")});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readFile(path("back.wav")), toneBytes(6000));
    QCOMPARE(filesUnder(configDir()), QStringList());
}

void DesktopTest::oneFontEverywhere_data() {
    QTest::addColumn<bool>("themeFonts");   // a theme's fonts for menus and boxes at start
    QTest::addColumn<bool>("changedLater"); // an application font set once the windows exist
    QTest::newRow("as started") << false << false;
    QTest::newRow("theme's class fonts") << true << false;
    QTest::newRow("application font set later") << false << true;
}

// Whatever font a platform theme sets, at start or later, every window keeps the program's.
void DesktopTest::oneFontEverywhere() {
    QFETCH(bool, themeFonts);
    QFETCH(bool, changedLater);
    QFont large;
    large.setFamilies({"DejaVu Serif"});
    large.setPixelSize(15);
    if (themeFonts)
        for (const char* className :
             {"QMenu", "QMenuBar", "QMessageBox", "QLabel", "QCheckBox", "QPushButton"})
            QApplication::setFont(large, className);
    AppWindows w;
    w.form.show();
    if (changedLater) {
        QApplication::setFont(large);
        QCoreApplication::processEvents();
    }
    const QFont font = w.form.font();
    QCOMPARE(font.pixelSize(), 11);
    QCOMPARE(QApplication::font().pixelSize(), 11);
    // The password dialog's check box has a fixed width of its own.
    QCheckBox* hide = w.password.CheckBox;
    QVERIFY2(hide->sizeHint().width() <= hide->width(),
             qPrintable(QString("%1 > %2").arg(hide->sizeHint().width()).arg(hide->width())));

    QMessageBox box(QMessageBox::NoIcon, "Caption", "Text", QMessageBox::Ok, &w.form);
    QList<QWidget*> windows{&w.about,    &w.destFolder, &w.help,
                            &w.password, &box,          w.form.CompressDialog()};
    for (QMenu* menu : w.form.findChildren<QMenu*>())
        windows << menu;
    windows << w.form.ui().MainMenu1;
    for (QWidget* window : windows) {
        const QString name =
            window->metaObject()->className() + QString(' ') + window->objectName();
        QVERIFY2(window->font().pixelSize() == font.pixelSize() &&
                     window->font().families() == font.families(),
                 qPrintable(name + ": " + window->font().toString()));
    }
}

void DesktopTest::captionsFit_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::newRow("error") << "Unexpected Error"
                           << "Source read error!";
    QTest::newRow("cancel") << "Cancel Requested"
                            << "Really abort the current process?";
    QTest::newRow("overwrite") << "File Exists"
                               << "Overwrite 'a.wav'?";
    QTest::newRow("long caption, short text") << "A caption much longer than the message under it"
                                              << "Ok?";
}

void DesktopTest::captionsFit() {
    QFETCH(QString, caption);
    QFETCH(QString, text);
    AppWindows w;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, &w.form);
    TMainForm::fitCaption(box);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // The caption in the bold title font, with room for the window icon and the close box,
    // fits beside nothing else in the title bar.
    QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    titleFont.setBold(true);
    const int captionWidth = QFontMetrics(titleFont).horizontalAdvance(caption);
    QVERIFY2(box.width() >= captionWidth + 64,
             qPrintable(QString("%1 < %2 + 64").arg(box.width()).arg(captionWidth)));
    box.close();
}

int main(int argc, char* argv[]) {
    // The user's folders point into a scratch folder before anything reads them.
    QDir().mkpath(configDir());
    qputenv("HOME", scratchHome().path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configDir().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (scratchHome().path() + "/data").toLocal8Bit());
    QApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
