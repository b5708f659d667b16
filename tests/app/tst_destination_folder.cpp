// SPDX-License-Identifier: BSD-3-Clause
// The destination folder option: the folder dialog, Options > Destination Folder, the
// labels that open it, where the batches put their output, and path shortening.
#include "modal_helper.h"
#include "short_path.h"
#include "ui_Unit1.h"
#include "ui_Unit3.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Answers the next destination dialog with answer(dialog), as a person would.
void answerDestDialog(std::function<void(TDestFolderForm&)> answer) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dialog = qobject_cast<TDestFolderForm*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        answer(*dialog);
        // A failed check returns early: close the dialog so the test goes on.
        if (dialog->isVisible()) dialog->reject();
    });
    timer->start(2);
}

// A folder as the program shows and keeps it: with the system's separators ("C:\\Music" on
// Windows).
QString native(const QString& folder) {
    return QDir::toNativeSeparators(folder);
}

// The root of the folder's drive: "/", or "C:/" on Windows.
QString rootOf(const QString& folder) {
    QDir dir(folder);
    while (dir.cdUp()) {
    }
    return dir.absolutePath();
}

QStringList listTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QListWidgetItem* itemNamed(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.last();
}

void doubleClickItem(QListWidget* list, QListWidgetItem* item) {
    list->scrollToItem(item);
    // A double click as the window system delivers it: a click, then the second press
    // arriving as a double click.
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class DestinationFolderTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void shortening_data();
    void shortening();
    void dialogLayout_data();
    void dialogLayout();
    void tabOrder();
    void folderListBrowses();
    void otherWithOk();
    void otherWithCancelKeepsOptionButNotBrowsing();
    void rootFolder();
    void labelsOpenTheDialog_data();
    void labelsOpenTheDialog();
    void sameAsSource();
    void compressionOutputFollowsOption();
    void decompressionOutputFollowsOption();
    void ignoredWhileBatchRuns();
    void drivesAreUserVolumes_data();
    void drivesAreUserVolumes();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString startFolder_;
    QString path(const QString& name) const { return dir_->filePath(name); }
    static void present(AppWindows& w) {
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
    // Runs Options > Destination Folder > Other... and lets answer handle the dialog.
    static void chooseOther(AppWindows& w, std::function<void(TDestFolderForm&)> answer) {
        answerDestDialog(std::move(answer));
        w.form.ui().OtherMI->trigger();
    }
    static void pickFolderAndPress(TDestFolderForm& dialog, const QString& folder, bool ok) {
        QVERIFY(dialog.setCurrentFolder(folder));
        QTest::mouseClick(ok ? dialog.ui().OKButton : dialog.ui().CancelButton, Qt::LeftButton);
    }
};

void DestinationFolderTest::init() {
    startFolder_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // The dialog starts at the working directory of the moment it is created.
    QVERIFY(QDir::setCurrent(dir_->path()));
}

void DestinationFolderTest::cleanup() {
    QDir::setCurrent(startFolder_);
    dir_.reset();
}

void DestinationFolderTest::shortening_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("steps"); // the whole path, then each shorter form
    QTest::newRow("unix") << "/"
                          << QStringList{"/Music/Samples/Drums", "/.../Samples/Drums", "/.../Drums",
                                         ".../Drums", "Drums"};
    QTest::newRow("windows drive")
        << "\\"
        << QStringList{"C:\\Music\\Samples\\Drums", "C:\\...\\Samples\\Drums", "C:\\...\\Drums",
                       "...\\Drums", "Drums"};
    QTest::newRow("relative") << "/"
                              << QStringList{"Music/Samples/Drums", ".../Samples/Drums",
                                             ".../Drums", "Drums"};
    // A short folder name starting with a dot is a folder, not the "..." of a cut.
    QTest::newRow("dot folder") << "/" << QStringList{"/.ab/cd/ef/x", "/.../cd/ef/x", "/.../ef/x",
                                                      "/.../x",       ".../x",        "x"};
    QTest::newRow("root child") << "/" << QStringList{"/Drums", "Drums"};
    QTest::newRow("drive root") << "\\" << QStringList{"C:\\", "C:", ""};
    QTest::newRow("bare name") << "/" << QStringList{"Drums"};
}

void DestinationFolderTest::shortening() {
    QFETCH(QString, separator);
    QFETCH(QStringList, steps);
    const QFontMetrics metrics(QApplication::font());
    const QChar sep = separator.front();
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const int width = metrics.horizontalAdvance(steps[i]);
        // Exactly as wide as the limit fits; one pixel narrower takes the next step.
        QCOMPARE(shortenPath(steps[0], metrics, width, sep), steps[i]);
        const QString next = steps.value(i + 1, steps.last());
        QCOMPARE(shortenPath(steps[0], metrics, width - 1, sep), next);
    }
    QCOMPARE(shortenPath(steps[0], metrics, 0, sep), steps.last());
}

void DestinationFolderTest::dialogLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1") << "Label1" << QRect(8, 8, 145, 17) << "&Folders:";
    QTest::newRow("FilePathLabel") << "FilePathLabel" << QRect(8, 32, 145, 17) << "";
    QTest::newRow("DestFolder") << "DestFolder" << QRect(8, 56, 145, 100) << "";
    QTest::newRow("Label2") << "Label2" << QRect(8, 168, 145, 17) << "&Drives:";
    QTest::newRow("DestDrive") << "DestDrive" << QRect(8, 192, 145, 19) << "";
    QTest::newRow("OKButton") << "OKButton" << QRect(168, 154, 89, 25) << "OK";
    QTest::newRow("CancelButton") << "CancelButton" << QRect(168, 186, 89, 25) << "Cancel";
}

void DestinationFolderTest::dialogLayout() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    AppWindows w;
    TDestFolderForm& d = w.destFolder;
    QCOMPARE(d.windowTitle(), QString("Destination Folder"));
    QCOMPARE(d.size(), QSize(265, 224));
    QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(d.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));

    auto* widget = d.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    if (auto* label = qobject_cast<QLabel*>(widget); label && name != "FilePathLabel")
        QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QPushButton*>(widget)) QCOMPARE(button->text(), text);

    Ui::TDestFolderForm& ui = d.ui();
    QCOMPARE(ui.Label1->buddy(), ui.DestFolder);
    QCOMPARE(ui.Label2->buddy(), ui.DestDrive);
    // Screen readers find each caption tied to its control. The folder list, whose own
    // accessible side reports no caption (the toolkit's item views do not), is named as its
    // caption reads; a drop-down list is named by its choice on Linux, its caption found
    // through the tie.
    for (auto [label, control] : {std::pair<QLabel*, QWidget*>{ui.Label1, ui.DestFolder},
                                  std::pair<QLabel*, QWidget*>{ui.Label2, ui.DestDrive}}) {
        QAccessibleInterface* caption = QAccessible::queryAccessibleInterface(label);
        QVERIFY(caption);
        QList<QObject*> labelled;
        for (const auto& [other, relation] : caption->relations(QAccessible::Labelled))
            labelled << other->object();
        QCOMPARE(labelled, QList<QObject*>{control});
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(ui.DestFolder)->text(QAccessible::Name) + ':',
             ui.Label1->text().remove('&'));
}

void DestinationFolderTest::tabOrder() {
    AppWindows w;
    Ui::TDestFolderForm& ui = w.destFolder.ui();
    w.destFolder.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.destFolder));
    QCOMPARE(QApplication::focusWidget(), ui.OKButton);
    ui.DestFolder->setFocus();
    for (QWidget* next : {static_cast<QWidget*>(ui.DestDrive), static_cast<QWidget*>(ui.OKButton),
                          static_cast<QWidget*>(ui.CancelButton)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    w.destFolder.hide();
}

void DestinationFolderTest::folderListBrowses() {
    for (const char* sub : {"top/mid/Beta", "top/mid/alpha", "top/mid/Gamma/deeper"})
        QVERIFY(QDir(dir_->path()).mkpath(sub));
    const QString mid = QDir(path("top/mid")).canonicalPath();

    AppWindows w;
    TDestFolderForm& d = w.destFolder;
    Ui::TDestFolderForm& ui = d.ui();
    QVERIFY(d.setCurrentFolder(mid));
    QCOMPARE(QDir::currentPath(), mid);
    QCOMPARE(d.currentFolder(), native(mid));

    // Root first, each folder down to the current one, then its subfolders by name.
    QStringList expected{native(rootOf(mid))};
    expected << mid.mid(rootOf(mid).size()).split('/', Qt::SkipEmptyParts);
    expected << "alpha"
             << "Beta"
             << "Gamma";
    QCOMPARE(listTexts(ui.DestFolder), expected);
    QCOMPARE(ui.FilePathLabel->text(),
             shortenPath(native(mid), ui.FilePathLabel->fontMetrics(), ui.FilePathLabel->width()));
    QVERIFY(ui.FilePathLabel->fontMetrics().horizontalAdvance(ui.FilePathLabel->text()) <=
                ui.FilePathLabel->width() ||
            !ui.FilePathLabel->text().contains(QDir::separator()));
    QCOMPARE(ui.DestDrive->currentData().toString().isEmpty(), false);

    // A double click opens a subfolder; Enter on an entry above goes back up, and the
    // dialog stays open either way.
    answerDestDialog([&](TDestFolderForm& dialog) {
        doubleClickItem(ui.DestFolder, itemNamed(ui.DestFolder, "Gamma"));
        QCOMPARE(dialog.currentFolder(), native(mid + "/Gamma"));
        QCOMPARE(QDir::currentPath(), mid + "/Gamma");
        QCOMPARE(listTexts(ui.DestFolder).last(), QString("deeper"));

        ui.DestFolder->setFocus();
        ui.DestFolder->setCurrentItem(itemNamed(ui.DestFolder, "top"));
        QTest::keyClick(ui.DestFolder, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.currentFolder(), native(QFileInfo(mid).path()));
        QCOMPARE(QDir::currentPath(), QFileInfo(mid).path());
        dialog.reject();
    });
    d.exec();

    // A folder that cannot be entered changes nothing.
    const QString before = d.currentFolder();
    QVERIFY(!d.setCurrentFolder(path("missing")));
    QCOMPARE(d.currentFolder(), before);

    // A folder removed since the last showing gives way to the nearest one above it.
    QVERIFY(d.setCurrentFolder(mid + "/Gamma/deeper"));
#ifdef Q_OS_WIN
    // Windows removes no folder that is a program's working directory.
    QVERIFY(QDir::setCurrent(mid));
#endif
    QVERIFY(QDir(mid + "/Gamma").removeRecursively());
    QString reopenedAt;
    answerDestDialog([&](TDestFolderForm& dialog) {
        reopenedAt = dialog.currentFolder();
        dialog.reject();
    });
    d.exec();
    QCOMPARE(reopenedAt, native(mid));
    QCOMPARE(listTexts(ui.DestFolder).mid(listTexts(ui.DestFolder).indexOf("mid") + 1),
             QStringList({"alpha", "Beta"}));
}

void DestinationFolderTest::otherWithOk() {
    // Deep enough that the label must shorten it.
    const QString deep = "a rather long folder name/and another long one/yet another/out";
    QVERIFY(QDir(dir_->path()).mkpath(deep));
    const QString out = QDir(path(deep)).canonicalPath();
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();

    QPoint shownAt;
    QWidget* focus = nullptr;
    chooseOther(w, [&](TDestFolderForm& dialog) {
        shownAt = dialog.pos();
        focus = dialog.focusWidget();
        pickFolderAndPress(dialog, out, true);
    });
    QCOMPARE(shownAt, w.form.pos() + QPoint(48, 72));
    QCOMPARE(focus, w.destFolder.ui().OKButton);
    QVERIFY(ui.OtherMI->isChecked());
    QVERIFY(!ui.SameAsSourceMI->isChecked());
    QCOMPARE(w.form.state().destinationFolder, native(out + "/"));
    QCOMPARE(ui.DestFolderLabel->text(),
             shortenPath(native(out), ui.DestFolderLabel->fontMetrics(), 201));
    QVERIFY(ui.DestFolderLabel->fontMetrics().horizontalAdvance(ui.DestFolderLabel->text()) <= 201);
    QVERIFY(ui.DestFolderLabel->text().startsWith(native(rootOf(out) + ".../")));
    QVERIFY(ui.DestFolderLabel->text().endsWith(native("/out")));

    // A later choice replaces the kept one; Enter accepts the folder shown, on OK and
    // in the drive chooser alike.
    chooseOther(w, [&](TDestFolderForm& dialog) {
        QVERIFY(dialog.setCurrentFolder(dir_->path()));
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    });
    QCOMPARE(w.form.state().destinationFolder, native(QDir(dir_->path()).canonicalPath() + "/"));
    chooseOther(w, [&](TDestFolderForm& dialog) {
        QVERIFY(dialog.setCurrentFolder(out));
        dialog.ui().DestDrive->setFocus();
        QTest::keyClick(dialog.ui().DestDrive, Qt::Key_Return);
    });
    QCOMPARE(w.form.state().destinationFolder, native(out + "/"));
}

void DestinationFolderTest::otherWithCancelKeepsOptionButNotBrowsing() {
    QVERIFY(QDir(dir_->path()).mkpath("elsewhere"));
    const QString elsewhere = QDir(path("elsewhere")).canonicalPath();
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();
    w.form.setStatusText("kept");

    chooseOther(w, [&](TDestFolderForm& dialog) { pickFolderAndPress(dialog, elsewhere, false); });
    QVERIFY(ui.SameAsSourceMI->isChecked());
    QVERIFY(!ui.OtherMI->isChecked());
    QCOMPARE(ui.DestFolderLabel->text(), QString("Same as Source"));
    QVERIFY(w.form.state().destinationFolder.isEmpty());
    QCOMPARE(w.form.statusText(), QString("kept"));
    // The browsing stays: the working directory, and the folder the dialog reopens at.
    QCOMPARE(QDir::currentPath(), elsewhere);
    QString reopenedAt;
    chooseOther(w, [&](TDestFolderForm& dialog) {
        reopenedAt = dialog.currentFolder();
        dialog.close(); // the close box
    });
    QCOMPARE(reopenedAt, native(elsewhere));
    QVERIFY(!ui.OtherMI->isChecked());
}

void DestinationFolderTest::rootFolder() {
    AppWindows w;
    present(w);
    chooseOther(w, [&](TDestFolderForm& dialog) { pickFolderAndPress(dialog, "/", true); });
#ifdef Q_OS_WIN
    // "/" is the root of the drive being browsed, which is now the working directory.
    const QString root = native(rootOf(QDir::currentPath()));
#else
    const QString root = "/";
#endif
    QCOMPARE(w.form.state().destinationFolder, root);
    QCOMPARE(w.form.ui().DestFolderLabel->text(), root);
}

void DestinationFolderTest::labelsOpenTheDialog_data() {
    QTest::addColumn<QString>("label");
    QTest::newRow("Label1") << "Label1";
    QTest::newRow("DestFolderLabel") << "DestFolderLabel";
}

void DestinationFolderTest::labelsOpenTheDialog() {
    QFETCH(QString, label);
    AppWindows w;
    present(w);
    bool opened = false;
    answerDestDialog([&](TDestFolderForm& dialog) {
        opened = true;
        pickFolderAndPress(dialog, dir_->path(), true);
    });
    QTest::mouseDClick(w.form.findChild<QLabel*>(label), Qt::LeftButton);
    QVERIFY(opened);
    QVERIFY(w.form.ui().OtherMI->isChecked());
}

void DestinationFolderTest::sameAsSource() {
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();
    // Already "Same as Source": the status line is still emptied.
    w.form.setStatusText("Compressing... Done");
    ui.SameAsSourceMI->trigger();
    QVERIFY(ui.SameAsSourceMI->isChecked());
    QVERIFY(!ui.OtherMI->isChecked());
    QCOMPARE(w.form.statusText(), QString());

    chooseOther(w,
                [&](TDestFolderForm& dialog) { pickFolderAndPress(dialog, dir_->path(), true); });
    const QString chosen = w.form.state().destinationFolder;
    w.form.setStatusText("Aborted!");
    ui.SameAsSourceMI->trigger();
    QVERIFY(ui.SameAsSourceMI->isChecked());
    QVERIFY(!ui.OtherMI->isChecked());
    QCOMPARE(ui.DestFolderLabel->text(), QString("Same as Source"));
    QCOMPARE(w.form.statusText(), QString());
    QCOMPARE(w.form.state().destinationFolder, chosen); // kept for the batches to ignore
}

void DestinationFolderTest::compressionOutputFollowsOption() {
    QVERIFY(QDir(dir_->path()).mkpath("src"));
    QVERIFY(QDir(dir_->path()).mkpath("out"));
    const QByteArray data = toneBytes(200000);
    writeFile(path("src/take.wav"), data);
    const QByteArray expected = expectedCompressed(data, "take.wav");

    AppWindows w;
    present(w);
    chooseOther(w, [&](TDestFolderForm& dialog) { pickFolderAndPress(dialog, path("out"), true); });
    {
        ModalHelper helper;
        helper.chooseFiles({path("src/take.wav")});
        QTest::mouseClick(w.form.ui().CompressButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
        QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    }
    QCOMPARE(readFile(path("out/take.kpz")), expected);
    QVERIFY(!QFile::exists(path("src/take.kpz")));

    // Back to "Same as Source": the kept folder is not used.
    w.form.ui().SameAsSourceMI->trigger();
    {
        ModalHelper helper;
        helper.chooseFiles({path("src/take.wav")});
        QTest::mouseClick(w.form.ui().CompressButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
        QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    }
    QCOMPARE(readFile(path("src/take.kpz")), expected);
}

void DestinationFolderTest::decompressionOutputFollowsOption() {
    QVERIFY(QDir(dir_->path()).mkpath("src"));
    QVERIFY(QDir(dir_->path()).mkpath("out"));
    const QByteArray data = noiseBytes(150000);
    writeFile(path("src/loop.kpz"), expectedCompressed(data, "loop.wav"));

    AppWindows w;
    present(w);
    chooseOther(w, [&](TDestFolderForm& dialog) { pickFolderAndPress(dialog, path("out"), true); });
    {
        ModalHelper helper;
        helper.chooseFiles({path("src/loop.kpz")});
        QTest::mouseClick(w.form.ui().DecompressButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
        QTRY_VERIFY(!w.form.state().busy);
        QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    }
    QCOMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(readFile(path("out/loop.wav")), data);
    QVERIFY(!QFile::exists(path("src/loop.wav")));
}

void DestinationFolderTest::ignoredWhileBatchRuns() {
    const QByteArray data = noiseBytes(1500000); // several output flushes
    writeFile(path("big.wav"), data);
    AppWindows w;
    present(w);
    Ui::TMainForm& ui = w.form.ui();

    // At each flush the window handles input: "Other..." and the label double-clicks
    // come in then, and must not open the dialog or change the option.
    int flushes = 0;
    bool dialogSeen = false;
    auto show = w.form.state().hooks.showProgress;
    w.form.state().hooks.showProgress = [&](kpz::Direction d) {
        show(d);
        if (++flushes > 1) return;
        answerDestDialog([&](TDestFolderForm& dialog) {
            dialogSeen = true;
            dialog.reject();
        });
        ui.OtherMI->trigger();
        QTest::mouseDClick(ui.Label1, Qt::LeftButton);
        QTest::mouseDClick(ui.DestFolderLabel, Qt::LeftButton);
        QTest::qWait(20);
    };
    {
        ModalHelper helper;
        helper.chooseFiles({path("big.wav")});
        QTest::mouseClick(ui.CompressButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 2000);
        QTRY_VERIFY(!w.form.state().busy);
    }
    QVERIFY(flushes > 1);
    QVERIFY(!dialogSeen);
    QVERIFY(!ui.OtherMI->isChecked());
    QVERIFY(ui.SameAsSourceMI->isChecked());
    QVERIFY(w.form.state().destinationFolder.isEmpty());
    QCOMPARE(readFile(path("big.kpz")), expectedCompressed(data, "big.wav"));

    // Idle again: the dialog opens, and the pending answer from above closes it.
    ui.OtherMI->trigger();
    QVERIFY(dialogSeen);
}

void DestinationFolderTest::drivesAreUserVolumes_data() {
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("shown");
    QTest::newRow("root disk") << QByteArray("/dev/sda2") << QByteArray("ext4") << "/" << true;
    QTest::newRow("home partition")
        << QByteArray("/dev/nvme0n1p3") << QByteArray("btrfs") << "/home" << true;
    QTest::newRow("usb stick") << QByteArray("/dev/sdb1") << QByteArray("vfat")
                               << "/media/user/STICK" << true;
    QTest::newRow("usb stick under /run/media")
        << QByteArray("/dev/sdb1") << QByteArray("exfat") << "/run/media/user/STICK" << true;
    QTest::newRow("network share")
        << QByteArray("//server/music") << QByteArray("cifs") << "/mnt/music" << true;
    QTest::newRow("memory") << QByteArray("tmpfs") << QByteArray("tmpfs") << "/tmp" << false;
    QTest::newRow("shared memory")
        << QByteArray("tmpfs") << QByteArray("tmpfs") << "/dev/shm" << false;
    QTest::newRow("snap package") << QByteArray("/dev/loop3") << QByteArray("squashfs")
                                  << "/snap/core22/1033" << false;
    QTest::newRow("loop image") << QByteArray("/dev/loop7") << QByteArray("ext4") << "/mnt/image"
                                << false;
    QTest::newRow("boot partition")
        << QByteArray("/dev/sda1") << QByteArray("vfat") << "/boot/efi" << false;
    QTest::newRow("container layer")
        << QByteArray("overlay") << QByteArray("overlay") << "/var/lib/docker/x" << false;
    QTest::newRow("runtime folder")
        << QByteArray("tmpfs") << QByteArray("tmpfs") << "/run/user/1000" << false;
}

// The Drives list offers the places a file manager shows, not every mount of the system.
void DestinationFolderTest::drivesAreUserVolumes() {
    QFETCH(QByteArray, device);
    QFETCH(QByteArray, type);
    QFETCH(QString, root);
#ifdef Q_OS_WIN
    QSKIP("drive letters are all shown");
#endif
    QTEST(TDestFolderForm::isUserVolume(device, type, root), "shown");
}

QTEST_MAIN(DestinationFolderTest)
#include "tst_destination_folder.moc"
