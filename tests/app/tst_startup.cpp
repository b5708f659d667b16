// SPDX-License-Identifier: BSD-3-Clause
// The main window's first activation: the command-line run that restores one file and
// ends, or the about window, the status line and the .kpz file type written for the
// desktop (into temporary XDG folders).
#include "desktop_launch.h"
#include "file_association.h"
#include "modal_helper.h"
#include "ui_Unit1.h"
#include "version.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

const QString kMimeType = "application/x-brisko-packer";
const QString kOurDefault = "application/x-brisko-packer=brisko-packer.desktop\n";

// The Exec value that runs program for an opened file.
QString execFor(const QString& quotedProgram) {
    return quotedProgram + ' ' + desktop_launch::kMarker + " %F";
}

// The keys of a desktop entry's [Desktop Entry] group.
QMap<QString, QString> desktopKeys(const QString& path) {
    QMap<QString, QString> keys;
    const QList<QByteArray> lines = readFile(path).split('\n');
    bool inGroup = false;
    for (const QByteArray& line : lines) {
        if (line.startsWith('[')) inGroup = line == "[Desktop Entry]";
        const qsizetype eq = line.indexOf('=');
        if (inGroup && eq > 0)
            keys[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    return keys;
}

// Every file below folder, relative to it.
QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void initializeArmsFirstActivation();
    void firstActivationShowsAboutAndRegisters();
    void execLine_data();
    void execLine();
    void pathsThatCannotBeRecordedWriteNothing();
    void secondStartFromAnotherPathTakesOver();
    void mimeAppsListKeepsOtherEntries_data();
    void mimeAppsListKeepsOtherEntries();
    void usersChoiceIsKept_data();
    void usersChoiceIsKept();
    void installedEntryIsNotShadowed_data();
    void installedEntryIsNotShadowed();
    void sameProgramAgainWritesNothing();
    void unreadableMimeAppsListIsLeftAlone();
    void commandLineRunRestoresAndWritesNothing();
    void commandLinePathIsTheOneTheSystemOpens();
    void programWithParameterRestoresAndEnds();
    void commandLineRunReportsItsOutcome_data();
    void commandLineRunReportsItsOutcome();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString startFolder_;
    QString data() const { return dir_->filePath("data"); }
    QString config() const { return dir_->filePath("config"); }
    QString system() const { return dir_->filePath("system"); }
    QString path(const QString& name) const { return dir_->filePath(name); }
    // An existing file standing for the program at a given place.
    QString fakeProgram(const QString& relative) const {
        const QString program = path(relative);
        QDir().mkpath(QFileInfo(program).path());
        // It writes its arguments, one a line, to the file $BRISKO_TEST_ARGS names.
        writeFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done "
                           ">\"$BRISKO_TEST_ARGS\"\n");
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
        return program;
    }
    static void present(AppWindows& w) {
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
    }
};

void StartupTest::init() {
#ifdef Q_OS_WIN
    QSKIP("these tests check the freedesktop files; Windows records the type in the registry");
#endif
    startFolder_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // Nothing below may reach the real home folder.
    qputenv("HOME", dir_->filePath("home").toLocal8Bit());
    qputenv("XDG_DATA_HOME", data().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config().toLocal8Bit());
    // Nor may an installed copy of the program on this machine count.
    qputenv("XDG_DATA_DIRS", system().toLocal8Bit());
    qunsetenv("XDG_CURRENT_DESKTOP");
}

void StartupTest::cleanup() {
    QDir::setCurrent(startFolder_);
    dir_.reset();
}

void StartupTest::initializeArmsFirstActivation() {
    AppWindows w; // starts past the first activation, like every window test
    w.form.Initialize();
    QVERIFY(w.form.state().firstActivation);
    QVERIFY(!w.form.state().startedWithParameter); // the test runs without parameters
}

void StartupTest::firstActivationShowsAboutAndRegisters() {
    AppWindows w;
    w.form.state().firstActivation = true;
    {
        ModalHelper helper;
        helper.closeWindow("TAboutForm");
        // Showing the window is its first activation: the about window may take the
        // activation before the main window ever holds it.
        w.form.show();
        w.form.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(helper.finished(), 5000);
        QTRY_COMPARE(w.form.statusText(), QString("Brisko Packer v" BRISKO_VERSION));
        QVERIFY(!w.form.state().firstActivation);
        QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    }

    // The MIME package: "*.kpz" is the type, with its display name.
    QXmlStreamReader xml(readFile(data() + "/mime/packages/brisko-packer.xml"));
    QString type, comment;
    QStringList globs;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("mime-type"))
            type = xml.attributes().value("type").toString();
        else if (xml.name() == QLatin1String("glob"))
            globs << xml.attributes().value("pattern").toString();
        else if (xml.name() == QLatin1String("comment"))
            comment = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(type, kMimeType);
    QCOMPARE(globs, QStringList{"*.kpz"});
    QCOMPARE(comment, QString("Brisko Packer File"));

    // The desktop entry runs this very program with the file's path.
    const QMap<QString, QString> entry =
        desktopKeys(data() + "/applications/brisko-packer.desktop");
    QCOMPARE(entry.value("Type"), QString("Application"));
    QCOMPARE(entry.value("Name"), QString("Brisko Packer"));
    // (Bare or quoted, as the path needs; the rules are checked with execLine below.)
    const QString program = QCoreApplication::applicationFilePath();
    QVERIFY2(entry.value("Exec") == execFor(program) ||
                 entry.value("Exec") == execFor('"' + program + '"'),
             qPrintable(entry.value("Exec")));
    QCOMPARE(entry.value("TryExec"), QCoreApplication::applicationFilePath());
    QCOMPARE(entry.value("MimeType"), kMimeType + ';');
    QCOMPARE(entry.value("Icon"), QString("brisko-packer"));

    // The icon, in the theme's sizes.
    QCOMPARE(QImage(data() + "/icons/hicolor/48x48/apps/brisko-packer.png").size(), QSize(48, 48));
    QCOMPARE(QImage(data() + "/icons/hicolor/16x16/apps/brisko-packer.png").size(), QSize(16, 16));
    QVERIFY(readFile(data() + "/icons/hicolor/scalable/apps/brisko-packer.svg").contains("<svg"));

    QCOMPARE(readFile(config() + "/mimeapps.list"), "[Default Applications]\n" + kOurDefault);

    // Later activations do nothing: no about window, nothing written again.
    QVERIFY(QFile::remove(data() + "/applications/brisko-packer.desktop"));
    w.form.setStatusText("later");
    ModalHelper helper;
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    present(w);
    QTest::qWait(50);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.statusText(), QString("later"));
    QVERIFY(!QFile::exists(data() + "/applications/brisko-packer.desktop"));
}

void StartupTest::execLine_data() {
    QTest::addColumn<QString>("program");     // below the temporary folder
    QTest::addColumn<QString>("programExec"); // how Exec names it, @ for that folder
    // Bare, so that readers which split the line at blanks and keep quotes find it.
    QTest::newRow("plain") << "bin/brisko-packer"
                           << "@/bin/brisko-packer";
    QTest::newRow("blanks") << "Program Files/brisko packer"
                            << "\"@/Program Files/brisko packer\"";
    // Inside the quotes ", `, $ and \\ are escaped with a backslash, and the file's own
    // escaping doubles every backslash once more; "%" is doubled. GIO looks for the
    // program under its name as written, "%%" and all, so one with "%" is started by env.
    QTest::newRow("specials") << "a\"b/c`d$e/f\\g/100%/prog"
                              << "env \"@/a\\\\\"b/c\\\\`d\\\\$e/f\\\\\\\\g/100%%/prog\"";
    // A field code in the path is not one.
    QTest::newRow("quote and field code") << "it's 100%f/prog"
                                          << "env \"@/it's 100%%f/prog\"";
    QTest::newRow("reserved without blanks") << "a(b)~c/prog"
                                             << "\"@/a(b)~c/prog\"";
}

void StartupTest::execLine() {
    QFETCH(QString, program);
    QFETCH(QString, programExec);
    const QString full = fakeProgram(program);
    QVERIFY(platform::registerFileType(full).isEmpty());
    const QString entry = data() + "/applications/brisko-packer.desktop";
    QCOMPARE(desktopKeys(entry).value("Exec"), execFor(programExec.replace('@', dir_->path())));

    // What a desktop makes of the entry: GIO runs the program with the marker and the file.
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty()) QSKIP("gio is not installed; the entry was checked as text only");
    // Several files selected together reach one run of the program.
    const QString opened = path("music/take one.kpz"), second = path("music/take two.kpz");
    qputenv("BRISKO_TEST_ARGS", path("args").toLocal8Bit());
    QProcess launch;
    launch.setProcessChannelMode(QProcess::ForwardedChannels);
    launch.start(gio, {"launch", entry, opened, second});
    QVERIFY(launch.waitForFinished(30000));
    QCOMPARE(launch.exitCode(), 0);
    const QByteArray expected = QByteArray(desktop_launch::kMarker) + '\n' + opened.toUtf8() +
                                '\n' + second.toUtf8() + '\n';
    QTRY_COMPARE_WITH_TIMEOUT(readFile(path("args")), expected, 10000);
}

void StartupTest::pathsThatCannotBeRecordedWriteNothing() {
    // A name with a line break would end the Exec line early and smuggle in keys; a
    // program that is not there cannot be opened.
    for (const QString& program :
         {fakeProgram("line\nExec=evil/prog"), path("missing/prog"), QString("relative/prog")}) {
        QVERIFY(platform::registerFileType(program).isEmpty());
        QCOMPARE(filesBelow(data()), QStringList());
        QCOMPARE(filesBelow(config()), QStringList());
    }
}

void StartupTest::secondStartFromAnotherPathTakesOver() {
    const QString first = fakeProgram("first/brisko-packer");
    const QString second = fakeProgram("second/brisko-packer");
    platform::registerFileType(first);
    const QString desktop = data() + "/applications/brisko-packer.desktop";
    QCOMPARE(desktopKeys(desktop).value("Exec"), execFor(first));
    writeFile(data() + "/mime/packages/brisko-packer.xml", "stale");
    platform::registerFileType(second);
    QCOMPARE(desktopKeys(desktop).value("Exec"), execFor(second));
    QCOMPARE(desktopKeys(desktop).value("TryExec"), second);
    QVERIFY(readFile(data() + "/mime/packages/brisko-packer.xml").contains("*.kpz"));
    QCOMPARE(readFile(config() + "/mimeapps.list"), "[Default Applications]\n" + kOurDefault);
}

void StartupTest::mimeAppsListKeepsOtherEntries_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QByteArray ours = kOurDefault.toUtf8();
    QTest::newRow("other group only")
        << QByteArray("[Added Associations]\ntext/plain=gedit.desktop;\n")
        << "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + ours;
    QTest::newRow("beside other defaults, before the next group")
        << QByteArray("[Default Applications]\ntext/plain=gedit.desktop\n\n"
                      "[Added Associations]\nimage/png=eog.desktop;\n")
        << "[Default Applications]\ntext/plain=gedit.desktop\n" + ours +
               "\n[Added Associations]\nimage/png=eog.desktop;\n";
    // The user's choice of another program for the type stays.
    const QByteArray chosen =
        "# mine\n[Default Applications]\n"
        "application/x-brisko-packer=other.desktop\ntext/plain=gedit.desktop\n";
    QTest::newRow("another program's default kept") << chosen << chosen;
    QTest::newRow("empty default filled in place")
        << QByteArray("# mine\n[Default Applications]\napplication/x-brisko-packer=\n"
                      "text/plain=gedit.desktop\n")
        << "# mine\n[Default Applications]\n" + ours + "text/plain=gedit.desktop\n";
    QTest::newRow("same key in another group untouched, no final line break")
        << QByteArray("[Added Associations]\napplication/x-brisko-packer=other.desktop;")
        << "[Added Associations]\napplication/x-brisko-packer=other.desktop;\n\n"
           "[Default Applications]\n" +
               ours;
}

void StartupTest::mimeAppsListKeepsOtherEntries() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QVERIFY(QDir().mkpath(config()));
    writeFile(config() + "/mimeapps.list", before);
    platform::registerFileType(fakeProgram("bin/brisko-packer"));
    QCOMPARE(readFile(config() + "/mimeapps.list"), after);
    // Once there, a further start changes nothing.
    platform::registerFileType(fakeProgram("bin/brisko-packer"));
    QCOMPARE(readFile(config() + "/mimeapps.list"), after);
}

void StartupTest::usersChoiceIsKept_data() {
    QTest::addColumn<QString>("list");    // below the temporary folder
    QTest::addColumn<QByteArray>("text"); // what the user's list holds
    QTest::addColumn<QByteArray>("desktops");
    const QByteArray other = "[Default Applications]\napplication/x-brisko-packer=other.desktop\n";
    QTest::newRow("current desktop's own list")
        << "config/xfce-mimeapps.list" << other << QByteArray("X-Generic:XFCE");
    QTest::newRow("older list among the applications")
        << "data/applications/mimeapps.list" << other << QByteArray();
    QTest::newRow("this program taken off the type")
        << "config/mimeapps.list"
        << QByteArray("[Removed Associations]\napplication/x-brisko-packer=a.desktop;"
                      "brisko-packer.desktop;\n")
        << QByteArray();
}

// The user's choice, wherever the desktop keeps it, is neither replaced nor outranked by a
// default of this program's.
void StartupTest::usersChoiceIsKept() {
    QFETCH(QString, list);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, desktops);
    QVERIFY(QDir().mkpath(QFileInfo(path(list)).path()));
    writeFile(path(list), text);
    if (!desktops.isEmpty()) qputenv("XDG_CURRENT_DESKTOP", desktops);
    platform::registerFileType(fakeProgram("bin/brisko-packer"));
    QCOMPARE(readFile(path(list)), text);
    if (list != "config/mimeapps.list") QVERIFY(!QFile::exists(config() + "/mimeapps.list"));
    // The association itself is there, only not as the default.
    QVERIFY(QFile::exists(data() + "/applications/brisko-packer.desktop"));
}

void StartupTest::installedEntryIsNotShadowed_data() {
    QTest::addColumn<QString>("installed"); // the entry's path, below the temporary folder
    QTest::addColumn<bool>("shadowed");     // whether the user's own is written anyway
    QTest::newRow("under the application id")
        << "system/applications/" BRISKO_APP_ID ".desktop" << false;
    QTest::newRow("under the older name, in a later folder")
        << "system2/applications/brisko-packer.desktop" << false;
    // Some sessions list the user's own folder among the system's: an entry written there
    // by an earlier start is not an installed one.
    QTest::newRow("the user's own folder listed")
        << "data/applications/brisko-packer.desktop" << true;
}

void StartupTest::installedEntryIsNotShadowed() {
    QFETCH(QString, installed);
    QFETCH(bool, shadowed);
    qputenv("XDG_DATA_DIRS", (system() + ':' + path("system2") + ':' + data()).toLocal8Bit());
    QVERIFY(QDir().mkpath(QFileInfo(path(installed)).path()));
    writeFile(path(installed), "[Desktop Entry]\nType=Application\nExec=brisko-packer %f\n");
    const QString program = fakeProgram("bin/brisko-packer");
    platform::registerFileType(program);

    const QString own = data() + "/applications/brisko-packer.desktop";
    QCOMPARE(desktopKeys(own).value("TryExec"), shadowed ? program : QString());
    if (!shadowed) QCOMPARE(filesBelow(data()), QStringList());
    // The default names the entry that is there to open the file.
    const QString id = QFileInfo(installed).fileName();
    QCOMPARE(readFile(config() + "/mimeapps.list"),
             "[Default Applications]\n" + (kMimeType + '=' + id + '\n').toUtf8());
}

void StartupTest::sameProgramAgainWritesNothing() {
    const QString program = fakeProgram("bin/brisko-packer");
    platform::registerFileType(program);
    const QStringList files = filesBelow(data()) + QStringList{"../config/mimeapps.list"};
    QVERIFY(files.size() > 2);
    const QDateTime past = QDateTime::currentDateTime().addDays(-30);
    for (const QString& file : files) {
        QFile f(data() + '/' + file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(past, QFileDevice::FileModificationTime));
    }
    platform::registerFileType(program);
    for (const QString& file : files)
        QVERIFY2(QFileInfo(data() + '/' + file).lastModified().secsTo(past) == 0, qPrintable(file));
}

void StartupTest::unreadableMimeAppsListIsLeftAlone() {
    // Something that cannot be read as a list is not replaced by one holding only ours.
    QVERIFY(QDir().mkpath(config() + "/mimeapps.list"));
    platform::registerFileType(fakeProgram("bin/brisko-packer"));
    QVERIFY(QFileInfo(config() + "/mimeapps.list").isDir());
    QVERIFY(QFile::exists(data() + "/applications/brisko-packer.desktop"));
}

void StartupTest::commandLineRunRestoresAndWritesNothing() {
    const QByteArray original = toneBytes(300000);
    writeFile(path("song.kpz"), expectedCompressed(original, "song.wav"));
    QVERIFY(QDir().mkpath(path("work")));
    QVERIFY(QDir::setCurrent(path("work")));

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [this] {
        return QStringList{"brisko-packer", path("song.kpz"), path("ignored.kpz")};
    };
    ModalHelper helper; // no about window or box is expected
    present(w);
    QTRY_COMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QTRY_VERIFY(!w.form.state().busy);
    QCOMPARE(w.form.ui().BatchBox->text(), QString("File 1 of 1"));
    QCOMPARE(readFile(path("work/song.wav")), original);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));

    // Activated again after the run: it is not repeated, and nothing is recorded.
    QFile::remove(path("work/song.wav"));
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    present(w);
    QTest::qWait(50);
    QVERIFY(!QFile::exists(path("work/song.wav")));
    QCOMPARE(filesBelow(data()), QStringList());
    QCOMPARE(filesBelow(config()), QStringList());
}

// "a/sub/../x.kpz" with a/sub a link to ../b/c names b/x.kpz for the system; cleaning the
// text would read a/x.kpz instead.
void StartupTest::commandLinePathIsTheOneTheSystemOpens() {
    const QByteArray inA = toneBytes(5000), inB = noiseBytes(7000);
    QVERIFY(QDir().mkpath(path("a")) && QDir().mkpath(path("b/c")) && QDir().mkpath(path("work")));
    writeFile(path("a/song.kpz"), expectedCompressed(inA, "song.wav"));
    writeFile(path("b/song.kpz"), expectedCompressed(inB, "song.wav"));
    QVERIFY(QFile::link("../b/c", path("a/sub")));
    QVERIFY(QDir::setCurrent(path("work")));

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [] {
        return QStringList{"brisko-packer", "../a/sub/../song.kpz"};
    };
    ModalHelper helper;
    present(w);
    QTRY_COMPARE(w.form.statusText(), QString("Decompressing... Done"));
    QCOMPARE(readFile(path("work/song.wav")), inB);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
}

void StartupTest::programWithParameterRestoresAndEnds() {
    const QByteArray original = noiseBytes(700000);
    writeFile(path("take.kpz"), expectedCompressed(original, "take.wav"));
    QVERIFY(QDir().mkpath(path("work")));

    QProcess program;
    program.setWorkingDirectory(path("work"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", dir_->filePath("home"));
    env.insert("XDG_DATA_HOME", data());
    env.insert("XDG_CONFIG_HOME", config());
    program.setProcessEnvironment(env);
    // Only the first parameter counts.
    program.start(BRISKO_PACKER_PROGRAM, {path("take.kpz"), path("other.kpz")});
    QVERIFY(program.waitForStarted());
    if (!program.waitForFinished(60000)) {
        program.kill();
        QFAIL("the program did not end after restoring its file");
    }
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readFile(path("work/take.wav")), original);
    QCOMPARE(filesBelow(data()), QStringList());
    // (Qt keeps its file dialogs' state in QtProject.conf there.)
    QVERIFY(!QFile::exists(config() + "/mimeapps.list"));
}

void StartupTest::commandLineRunReportsItsOutcome_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("failed");
    const QByteArray packed = expectedCompressed(toneBytes(300000), "song.wav");
    QTest::newRow("restored") << packed << false;
    QTest::newRow("damaged") << packed.left(packed.size() - 2000) << true;
    QTest::newRow("not ours") << QByteArray("hello") << true;
}

// The command-line run's outcome is what the program's exit status reports: a failed
// restore is a failure to its caller, not only a box on the screen.
void StartupTest::commandLineRunReportsItsOutcome() {
    QFETCH(QByteArray, file);
    QFETCH(bool, failed);
    writeFile(path("song.kpz"), file);
    QVERIFY(QDir().mkpath(path("work")));
    QVERIFY(QDir::setCurrent(path("work")));

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [this] { return QStringList{"brisko-packer", path("song.kpz")}; };
    ModalHelper helper;
    if (failed) helper.press(QMessageBox::Ok);
    w.form.show();
    // The activation's work, run directly: a failure's box takes the activation away.
    w.form.ShowAbout();
    QTRY_VERIFY(helper.finished());
    QTRY_VERIFY(!w.form.state().busy);
    QVERIFY2(helper.unexpected.isEmpty(), qPrintable(helper.unexpected.join("; ")));
    QCOMPARE(w.form.batchFailed(), failed);
    QCOMPARE(QFile::exists(path("work/song.wav")), !failed);
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
