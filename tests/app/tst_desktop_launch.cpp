// SPDX-License-Identifier: BSD-3-Clause
// Runs opened from the desktop entry: the marker argument, the restore beside the .kpz
// file whatever the launcher's working folder, and the notification that tells the
// outcome, received by a stand-in notification service on a private session bus.
#include "desktop_launch.h"
#include "file_io.h"
#include "modal_helper.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <vector>

using desktop_launch::Action;
Q_DECLARE_METATYPE(desktop_launch::Action)

namespace {

struct Notice {
    QString app, icon, summary, body;
};

// The notification service's side of org.freedesktop.Notifications, recording what it is
// asked to show. It lives on a thread of its own, so that a blocking call from this very
// process is answered.
class FakeNotices : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QList<Notice> seen() {
        QMutexLocker lock(&mutex_);
        return seen_;
    }
    void clear() {
        QMutexLocker lock(&mutex_);
        seen_.clear();
    }

  public slots:
    QStringList GetCapabilities() { return {"body", "body-markup"}; }
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        QMutexLocker lock(&mutex_);
        seen_.append({app, icon, summary, body});
        return static_cast<uint>(seen_.size());
    }

  private:
    QMutex mutex_;
    QList<Notice> seen_;
};

} // namespace

class DesktopLaunchTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void takeMarker_data();
    void takeMarker();
    void programRestores_data();
    void programRestores();
    void failureIsNotified_data();
    void failureIsNotified();
    void cancelIsNotAFailure();
    void outcomeIsCounted_data();
    void outcomeIsCounted();
    void entryRunsOneBatch_data();
    void entryRunsOneBatch();

  private:
    QProcess bus_;
    QString busAddress_;
    QThread serviceThread_;
    FakeNotices* notices_ = nullptr;
    std::unique_ptr<QTemporaryDir> dir_;
    QString startFolder_;
    QString path(const QString& name) const { return dir_->filePath(name); }
};

void DesktopLaunchTest::initTestCase() {
#ifdef Q_OS_WIN
    QSKIP("the desktop entry and its notifications are freedesktop matters");
#endif
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) QSKIP("dbus-daemon is not installed");
    bus_.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address"});
    QVERIFY(bus_.waitForStarted());
    while (!bus_.canReadLine())
        QVERIFY2(bus_.waitForReadyRead(10000), "the private bus did not report its address");
    busAddress_ = QString::fromUtf8(bus_.readLine()).trimmed();
    // Everything in this process that looks for the session bus finds the private one.
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.toUtf8());

    QDBusConnection service = QDBusConnection::connectToBus(busAddress_, "notices");
    QVERIFY(service.isConnected());
    notices_ = new FakeNotices;
    QVERIFY(service.registerObject("/org/freedesktop/Notifications", notices_,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService("org.freedesktop.Notifications"));
    notices_->moveToThread(&serviceThread_);
    connect(&serviceThread_, &QThread::finished, notices_, &QObject::deleteLater);
    serviceThread_.start();
}

void DesktopLaunchTest::cleanupTestCase() {
    QDBusConnection::disconnectFromBus("notices");
    serviceThread_.quit();
    serviceThread_.wait();
    if (bus_.state() != QProcess::NotRunning) {
        bus_.terminate();
        bus_.waitForFinished();
    }
}

void DesktopLaunchTest::init() {
    startFolder_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    notices_->clear();
}

void DesktopLaunchTest::cleanup() {
    kpz::clearFaultPlan();
    QDir::setCurrent(startFolder_);
    dir_.reset();
}

void DesktopLaunchTest::takeMarker_data() {
    using desktop_launch::Action;
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("left");
    const QString marker = desktop_launch::kMarker;
    const QString compress = desktop_launch::kCompressMarker;
    QTest::newRow("opened file") << QStringList{"prog", marker, "/m/a.kpz"} << Action::Restore
                                 << QStringList{"prog", "/m/a.kpz"};
    QTest::newRow("opened files") << QStringList{"prog", marker, "/m/a.kpz", "/m/b.kpz"}
                                  << Action::Restore << QStringList{"prog", "/m/a.kpz", "/m/b.kpz"};
    QTest::newRow("compress with")
        << QStringList{"prog", compress, "/m/a.wav", "/m/b.wav"} << Action::Compress
        << QStringList{"prog", "/m/a.wav", "/m/b.wav"};
    // Started from a menu: no file, so the run is the ordinary one with the about window.
    QTest::newRow("menu, no file")
        << QStringList{"prog", marker} << Action::Restore << QStringList{"prog"};
    QTest::newRow("terminal") << QStringList{"prog", "a.kpz"} << Action::None
                              << QStringList{"prog", "a.kpz"};
    QTest::newRow("only in first place") << QStringList{"prog", "a.kpz", compress} << Action::None
                                         << QStringList{"prog", "a.kpz", compress};
    QTest::newRow("no arguments") << QStringList{"prog"} << Action::None << QStringList{"prog"};
}

void DesktopLaunchTest::takeMarker() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, left);
    std::vector<QByteArray> bytes;
    for (const QString& a : arguments)
        bytes.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(arguments.size());

    QTEST(desktop_launch::takeMarker(argc, argv.data()), "action");
    QStringList after;
    for (int i = 0; i < argc; ++i)
        after << QString::fromUtf8(argv[i]);
    QCOMPARE(after, left);
    QCOMPARE(argv[argc], nullptr);
}

void DesktopLaunchTest::programRestores_data() {
    QTest::addColumn<bool>("fromDesktop");
    QTest::addColumn<bool>("relative"); // the file named from the working folder
    QTest::addColumn<bool>("withBus");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("desktop") << true << false << true << "take.kpz";
    QTest::newRow("desktop, relative path") << true << true << true << "take.kpz";
    QTest::newRow("desktop, markup in the name") << true << false << true << "a&b <i>c.kpz";
    QTest::newRow("desktop, no session bus") << true << false << false << "take.kpz";
    QTest::newRow("terminal") << false << false << true << "take.kpz";
}

// The real program, started the way the desktop entry or a terminal starts it.
void DesktopLaunchTest::programRestores() {
    QFETCH(bool, fromDesktop);
    QFETCH(bool, relative);
    QFETCH(bool, withBus);
    QFETCH(QString, fileName);
    const QByteArray original = noiseBytes(300000);
    QVERIFY(QDir().mkpath(path("music")));
    QVERIFY(QDir().mkpath(path("home")));
    writeFile(path("music/" + fileName), expectedCompressed(original, "take.wav"));

    QProcess program;
    program.setWorkingDirectory(path("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", path("home"));
    env.insert("XDG_DATA_HOME", path("data"));
    env.insert("XDG_CONFIG_HOME", path("config"));
    env.insert("XDG_RUNTIME_DIR", path("runtime")); // holds no bus
    if (!withBus) env.remove("DBUS_SESSION_BUS_ADDRESS");
    program.setProcessEnvironment(env);
    QStringList arguments{relative ? "../music/" + fileName : path("music/" + fileName)};
    if (fromDesktop) arguments.prepend(desktop_launch::kMarker);
    QSignalSpy finished(&program, &QProcess::finished);
    program.start(BRISKO_PACKER_PROGRAM, arguments);
    QVERIFY(program.waitForStarted());
    // The test's own event loop runs meanwhile, since the notification service lives here.
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 60000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // From the desktop beside the file; from a terminal in the working folder.
    const QString restored = fromDesktop ? path("music/take.wav") : path("home/take.wav");
    QCOMPARE(readFile(restored), original);
    QCOMPARE(QDir(path("home")).entryList(QDir::Files),
             fromDesktop ? QStringList() : QStringList{"take.wav"});

    const QList<Notice> seen = notices_->seen();
    if (!fromDesktop || !withBus) {
        QCOMPARE(seen.size(), 0);
        return;
    }
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].app, QString("Brisko Packer"));
    QVERIFY2(seen[0].summary.contains("take.wav"), qPrintable(seen[0].summary));
    // The service reads the body as markup, so names in it come escaped.
    QVERIFY2(seen[0].body.contains(fileName.toHtmlEscaped()), qPrintable(seen[0].body));
    QVERIFY2(seen[0].body.contains(
                 QDir::toNativeSeparators(QFileInfo(path("music")).canonicalFilePath())),
             qPrintable(seen[0].body));
}

void DesktopLaunchTest::failureIsNotified_data() {
    QTest::addColumn<QByteArray>("file");
    const QByteArray packed = expectedCompressed(toneBytes(300000), "song.wav");
    QTest::newRow("damaged") << packed.left(packed.size() - 2000);
    QTest::newRow("not ours") << QByteArray("hello");
}

// A failed restore says so in the notification, with the message the window showed.
void DesktopLaunchTest::failureIsNotified() {
    QFETCH(QByteArray, file);
    QVERIFY(QDir().mkpath(path("music")));
    QVERIFY(QDir().mkpath(path("home")));
    writeFile(path("music/song.kpz"), file);
    QVERIFY(QDir::setCurrent(path("home")));

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [] { return QStringList{"brisko-packer", "../music/song.kpz"}; };
    const QStringList sources = desktop_launch::prepareRun(w.form, Action::Restore);
    QCOMPARE(sources, QStringList{path("music/song.kpz")});
    ModalHelper helper;
    helper.press(QMessageBox::Ok);
    w.form.show();
    w.form.ShowAbout();
    QTRY_VERIFY(helper.finished());
    QTRY_VERIFY(!w.form.state().busy);
    QVERIFY(w.form.batchFailed());
    QCOMPARE(helper.boxes.size(), 1);

    QVERIFY(desktop_launch::reportOutcome(w.form, sources, Action::Restore));
    const QList<Notice> seen = notices_->seen();
    QCOMPARE(seen.size(), 1);
    QVERIFY2(seen[0].summary.contains("song.kpz"), qPrintable(seen[0].summary));
    QCOMPARE(seen[0].body, helper.boxes[0].text.toHtmlEscaped());
    QVERIFY(!QFile::exists(path("home/song.wav")));
    QVERIFY(!QFile::exists(path("music/song.wav")));
}

// A restore the user stops at the overwrite question is told as cancelled, not failed.
void DesktopLaunchTest::cancelIsNotAFailure() {
    QVERIFY(QDir().mkpath(path("music")));
    writeFile(path("music/song.kpz"), expectedCompressed(toneBytes(30000), "song.wav"));
    writeFile(path("music/song.wav"), "the user's own file");
    QVERIFY(QDir::setCurrent(path("music")));

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [] { return QStringList{"brisko-packer", "song.kpz"}; };
    const QStringList sources = desktop_launch::prepareRun(w.form, Action::Restore);
    ModalHelper helper;
    helper.press(QMessageBox::Cancel);
    w.form.show();
    w.form.ShowAbout();
    QTRY_VERIFY(helper.finished());
    QTRY_VERIFY(!w.form.state().busy);
    QVERIFY(w.form.batchCancelled());

    QVERIFY(desktop_launch::reportOutcome(w.form, sources, Action::Restore));
    const QList<Notice> seen = notices_->seen();
    QCOMPARE(seen.size(), 1);
    QVERIFY2(seen[0].summary.contains("cancelled") && !seen[0].summary.contains("Could not"),
             qPrintable(seen[0].summary));
    QVERIFY2(seen[0].body.contains("song.kpz"), qPrintable(seen[0].body));
    QCOMPARE(readFile(path("music/song.wav")), QByteArray("the user's own file"));
}

void DesktopLaunchTest::outcomeIsCounted_data() {
    QTest::addColumn<Action>("action");
    // "folder/name" for each file; a .kpz file is "ok" (a good file), "bad" (damaged),
    // "short" (the write of its output fails) or "taken" (its output's name is taken
    // already, and the overwrite question is cancelled); other files are sources to
    // compress.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body"); // {f1} and {f2} stand for the folders' paths
    const QString damaged = "Compressed file is damaged or truncated!";
    QTest::newRow("restore from two folders")
        << Action::Restore << QStringList{"f1/a.kpz:ok", "f2/b.kpz:ok", "f2/c.kpz:ok"}
        << "Restored 3 files"
        << "1 file restored into {f1}: a.kpz\n2 files restored into {f2}: b.kpz and c.kpz";
    QTest::newRow("failure between two restored files")
        << Action::Restore << QStringList{"f1/a.kpz:ok", "f1/b.kpz:bad", "f1/c.kpz:ok"}
        << "Could not restore b.kpz"
        << damaged + "\n1 file restored into {f1}: a.kpz\n1 file not restored: c.kpz";
    QTest::newRow("failure in the first of two folders")
        << Action::Restore << QStringList{"f1/a.kpz:bad", "f2/b.kpz:ok", "f2/c.kpz:ok"}
        << "Could not restore a.kpz" << damaged + "\n2 files not restored: b.kpz and c.kpz";
    QTest::newRow("cancelled at the last file")
        << Action::Restore << QStringList{"f1/a.kpz:ok", "f1/b.kpz:taken"} << "Restore cancelled"
        << "1 file restored into {f1}: a.kpz\n1 file not restored: b.kpz";
    QTest::newRow("cancelled at the first of many")
        << Action::Restore
        << QStringList{"f1/a.kpz:taken", "f1/b.kpz:ok", "f1/c.kpz:ok", "f1/d.kpz:ok", "f1/e.kpz:ok"}
        << "Restore cancelled"
        << "5 files not restored: a.kpz, b.kpz, c.kpz and 2 more";
    QTest::newRow("a write fails")
        << Action::Restore << QStringList{"f1/a.kpz:short", "f1/b.kpz:ok"}
        << "Could not restore a.kpz"
        << "Couldn't write to destination file!\n"
           "1 file not restored: b.kpz";
    QTest::newRow("compress beside a compressed file")
        << Action::Compress << QStringList{"f1/a.wav", "f1/packed.kpz:ok", "f2/b.raw"}
        << "Compressed 2 files"
        << "1 file compressed into {f1}: a.wav\n1 file compressed into {f2}: b.raw\n"
           "1 file left out, compressed already: packed.kpz";
    QTest::newRow("compress only compressed files")
        << Action::Compress << QStringList{"f1/packed.kpz:ok"} << "Nothing compressed"
        << "1 file left out, compressed already: packed.kpz";
}

// The notification after a run of several files says how many were done and where, which
// one failed and why, and which ones the run did not reach or left out.
void DesktopLaunchTest::outcomeIsCounted() {
    QFETCH(Action, action);
    QFETCH(QStringList, files);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QStringList arguments{"brisko-packer"};
    QMap<QString, QByteArray> untouched; // the files the run must leave as they were
    ModalHelper helper;
    for (const QString& file : files) {
        const QString name = file.section(':', 0, 0), kind = file.section(':', 1);
        QVERIFY(QDir().mkpath(QFileInfo(path(name)).path()));
        const QString stem = QFileInfo(name).completeBaseName();
        const QByteArray data = toneBytes(30000);
        QByteArray content = data;
        if (name.endsWith(".kpz"))
            content = expectedCompressed(data, (stem + ".wav").toStdString());
        if (kind == "bad") content.chop(2000);
        writeFile(path(name), content);
        if (kind == "taken") {
            writeFile(path(name.chopped(4) + ".wav"), "the user's own file");
            untouched[name.chopped(4) + ".wav"] = "the user's own file";
            helper.press(QMessageBox::Cancel);
        }
        if (kind == "bad" || kind == "short") helper.press(QMessageBox::Ok);
        // The restored file's last write stops 100 bytes short.
        if (kind == "short") kpz::installFaultPlan({.writeStopsAt = data.size() - 100});
        if (action == Action::Compress && name.endsWith(".kpz")) untouched[name] = content;
        arguments << path(name);
    }

    AppWindows w;
    w.form.state().firstActivation = true;
    w.form.state().startedWithParameter = true;
    w.form.commandLineArguments = [arguments] { return arguments; };
    const QStringList sources = desktop_launch::prepareRun(w.form, action);
    QCOMPARE(sources.size(), files.size());
    w.form.show();
    w.form.ShowAbout();
    QTRY_VERIFY(helper.finished());
    QTRY_VERIFY(!w.form.state().busy);
    QVERIFY(helper.unexpected.isEmpty());

    QVERIFY(desktop_launch::reportOutcome(w.form, sources, action));
    const QList<Notice> seen = notices_->seen();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].summary, summary);
    for (const char* folder : {"f1", "f2"})
        body.replace(QString("{%1}").arg(folder),
                     QDir::toNativeSeparators(QFileInfo(path(folder)).canonicalFilePath()));
    QCOMPARE(seen[0].body, body.toHtmlEscaped());
    for (auto [name, content] : untouched.asKeyValueRange())
        QCOMPARE(readFile(path(name)), content);
    QVERIFY(!QFile::exists(path("f1/packed.kpz.kpz")));
}

void DesktopLaunchTest::entryRunsOneBatch_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QString>("summary");
    QTest::newRow("restore two") << "brisko-packer.desktop" << QStringList{"a.kpz", "b.kpz"}
                                 << QStringList{"a.wav", "b.wav"} << "Restored 2 files";
    QTest::newRow("restore one") << "brisko-packer.desktop" << QStringList{"a.kpz"}
                                 << QStringList{"a.wav"} << "Restored a.wav";
    QTest::newRow("compress two") << "brisko-packer-compress.desktop"
                                  << QStringList{"c.wav", "d.raw"} << QStringList{"c.kpz", "d.kpz"}
                                  << "Compressed 2 files";
}

// The desktop entries as a file manager runs them (through GIO) on several selected files:
// one process, one batch, every output beside its file, one notification.
void DesktopLaunchTest::entryRunsOneBatch() {
    QFETCH(QString, entry);
    QFETCH(QStringList, given);
    QFETCH(QStringList, made);
    QFETCH(QString, summary);
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty()) QSKIP("gio is not installed");
    // The entry as shipped, with the program of this build.
    QFile shipped(QString(BRISKO_RESOURCES) + '/' + entry);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QByteArray text = shipped.readAll();
    text.replace("Exec=brisko-packer ", "Exec=" + QByteArray(BRISKO_PACKER_PROGRAM) + ' ');
    writeFile(path(entry), text);

    QVERIFY(QDir().mkpath(path("music")));
    QVERIFY(QDir().mkpath(path("home")));
    QStringList arguments{"launch", path(entry)};
    QMap<QString, QByteArray> contents;
    for (int i = 0; i < given.size(); ++i) {
        const QByteArray data = toneBytes(40000 + 4000 * i);
        contents[made[i]] = data;
        writeFile(path("music/" + given[i]), given[i].endsWith(".kpz")
                                                 ? expectedCompressed(data, made[i].toStdString())
                                                 : data);
        arguments << path("music/" + given[i]);
    }
    QProcess launch;
    launch.setWorkingDirectory(path("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", path("home"));
    env.insert("XDG_DATA_HOME", path("data"));
    env.insert("XDG_CONFIG_HOME", path("config"));
    launch.setProcessEnvironment(env);
    launch.setProcessChannelMode(QProcess::ForwardedChannels);
    launch.start(gio, arguments);
    QVERIFY(launch.waitForStarted());
    // GIO returns once the program has started; the outputs and the notice come after.
    QTRY_VERIFY_WITH_TIMEOUT(!notices_->seen().isEmpty(), 60000);
    QVERIFY(launch.state() == QProcess::NotRunning || launch.waitForFinished(10000));
    QCOMPARE(launch.exitCode(), 0);

    for (const QString& output : made) {
        const QByteArray expected =
            output.endsWith(".kpz")
                ? expectedCompressed(contents[output], given[made.indexOf(output)].toStdString())
                : contents[output];
        QCOMPARE(readFile(path("music/" + output)), expected);
    }
    QCOMPARE(QDir(path("home")).entryList(QDir::Files), QStringList());
    QTest::qWait(500); // a second process would have told its own outcome by now
    const QList<Notice> seen = notices_->seen();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].summary, summary);
    QVERIFY2(seen[0].body.contains(QFileInfo(path("music")).canonicalFilePath()),
             qPrintable(seen[0].body));
}

QTEST_MAIN(DesktopLaunchTest)
#include "tst_desktop_launch.moc"
