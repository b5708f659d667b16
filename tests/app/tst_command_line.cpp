// SPDX-License-Identifier: BSD-3-Clause
// The real program's command line: the toolkit reads only its options in front, every
// argument after the program's own marker (or "--") is a file, and file names reach the
// files byte for byte, whatever the toolkit would make of them; so do names dropped on the
// window.
#include "desktop_launch.h"
#include "modal_helper.h"
#include "system_path.h"

#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string kDecoyByte = "\xEF\xBF\xBD"; // U+FFFD, what the toolkit makes of a bad byte

// How the program ended: its exit code, or the signal that ended it (-1 when it ran past
// the time limit and was killed).
struct Ended {
    int exitCode = -1;
    int signal = 0;
};

// Runs the program in folder with exactly these argument bytes (QProcess would pass them
// through the toolkit's text decoding, which is what is under test), on the offscreen
// platform unless toolkitInFront says the arguments choose it.
Ended runProgram(const std::string& folder, const std::vector<std::string>& arguments,
                 const std::string& home, bool toolkitInFront = false) {
    std::vector<std::string> argStore{BRISKO_PACKER_PROGRAM};
    argStore.insert(argStore.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "QT_QPA_PLATFORM" || name == "DBUS_SESSION_BUS_ADDRESS" || name == "HOME" ||
            name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name.starts_with("XDG_"))
            continue;
        envStore.push_back(entry);
    }
    if (!toolkitInFront) envStore.push_back("QT_QPA_PLATFORM=offscreen");
    for (const char* xdg : {"XDG_DATA_HOME=/data", "XDG_CONFIG_HOME=/config",
                            "XDG_RUNTIME_DIR=/runtime", "XDG_CACHE_HOME=/cache"}) {
        const std::string entry(xdg);
        const size_t at = entry.find('=') + 1;
        envStore.push_back(entry.substr(0, at) + home + entry.substr(at));
    }
    envStore.push_back("HOME=" + home);
    std::vector<char*> argv, envp;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Ended ended;
    if (pid < 0) return ended;
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 600) { // 60 seconds
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return ended;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (WIFEXITED(status)) ended.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
    return ended;
}

QByteArray readBytes(const std::string& path) {
    QByteArray data;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return data;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    ::close(fd);
    return data;
}

bool writeBytes(const std::string& path, const QByteArray& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

// The files in folder whose names end in suffix, by their exact bytes.
std::vector<std::string> filesIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(suffix)) found.push_back(entry.path().string());
    }
    return found;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void pathTextKeepsEveryByte_data();
    void pathTextKeepsEveryByte();
    void filesAreNeverToolkitOptions_data();
    void filesAreNeverToolkitOptions();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void droppedNameKeepsItsBytes();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string at(const std::string& name) const {
        return QFile::encodeName(dir_->path()).toStdString() + '/' + name;
    }
};

void CommandLineTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir().mkpath(dir_->filePath("home")));
    QVERIFY(QDir().mkpath(dir_->filePath("files")));
}

void CommandLineTest::cleanup() {
    // The toolkit cannot name what is not UTF-8; the folder goes by its bytes.
    std::filesystem::remove_all(QFile::encodeName(dir_->path()).toStdString());
    dir_.reset();
}

void CommandLineTest::pathTextKeepsEveryByte_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown"); // the text, where it is plain UTF-8
    QTest::newRow("ASCII") << QByteArray("/m/a b.wav") << "/m/a b.wav";
    QTest::newRow("UTF-8, two to four bytes")
        << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5")
        << QString::fromUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
    QTest::newRow("U+FFFD itself")
        << QByteArray::fromStdString(kDecoyByte) << QString(QChar(0xFFFD));
    QTest::newRow("a stray byte") << QByteArray("a\xff.wav") << QString();
    QTest::newRow("continuation without a lead") << QByteArray("\x80\xBF") << QString();
    QTest::newRow("cut short") << QByteArray("\xE2\x82") << QString();
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << QString();
    QTest::newRow("UTF-8 of a surrogate") << QByteArray("\xED\xB3\xBF") << QString();
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QString();
    QTest::newRow("Latin-1") << QByteArray("caf\xe9 d\xe9j\xe0") << QString();
}

// Any name survives the trip into text and back; a name that is not UTF-8 never becomes
// the text of another name, U+FFFD's above all.
void CommandLineTest::pathTextKeepsEveryByte() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString text = pathText(bytes.toStdString());
    QCOMPARE(QByteArray::fromStdString(localPath(text)), bytes);
    if (!shown.isEmpty()) QCOMPARE(text, shown);
    const QString decoy = QString::fromUtf8(bytes); // each bad byte as U+FFFD
    if (shown.isEmpty()) QVERIFY(text != decoy);
    QCOMPARE(QByteArray::fromStdString(localPath(decoy)), decoy.toUtf8());
}

void CommandLineTest::filesAreNeverToolkitOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");    // made in the working folder, one tone each
    QTest::addColumn<QStringList>("expected"); // the compressed files the run makes
    QTest::addColumn<bool>("toolkitInFront");  // the platform comes from the arguments
    const QString compress = desktop_launch::kCompressMarker;
    QTest::newRow("option's name after the marker")
        << QStringList{compress, "-reverse"} << QStringList{"-reverse"}
        << QStringList{"-reverse.kpz"} << false;
    // Given to the toolkit, these would load a plugin from the folder q.
    QTest::newRow("plugin options after the marker")
        << QStringList{compress, "-platformpluginpath", "q", "-platform", "evil", "a.wav"}
        << QStringList{"-platformpluginpath", "q", "-platform", "evil", "a.wav"}
        << QStringList{"-platform.kpz", "-platformpluginpath.kpz", "a.kpz", "evil.kpz", "q.kpz"}
        << false;
    QTest::newRow("double dash after the marker")
        << QStringList{compress, "--", "--style", "b.wav"} << QStringList{"--style", "b.wav"}
        << QStringList{"--style.kpz", "b.kpz"} << false;
    QTest::newRow("marker's name after a double dash")
        << QStringList{compress, "--", compress} << QStringList{compress}
        << QStringList{compress + ".kpz"} << false;
    // The toolkit's options in front still reach it: without them there is no platform.
    QTest::newRow("toolkit options in front")
        << QStringList{"-platform", "offscreen", "-reverse", compress, "-style", "a.wav"}
        << QStringList{"-style", "a.wav"} << QStringList{"-style.kpz", "a.kpz"} << true;
}

// Files compressed from the desktop entry's "Compress with": each named file, and nothing
// the toolkit made of their names.
void CommandLineTest::filesAreNeverToolkitOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QFETCH(bool, toolkitInFront);
    for (int i = 0; i < files.size(); ++i)
        writeFile(dir_->filePath("files/" + files[i]), toneBytes(20000 + 2 * i));

    std::vector<std::string> args;
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    const Ended ended = runProgram(at("files"), args, at("home"), toolkitInFront);
    QCOMPARE(ended.signal, 0);
    QCOMPARE(ended.exitCode, 0);

    QStringList made = QDir(dir_->filePath("files")).entryList({"*.kpz"}, QDir::Files);
    made.sort();
    QCOMPARE(made, expected);
    for (int i = 0; i < files.size(); ++i) {
        const QString packed =
            dir_->filePath("files/" + QFileInfo(files[i]).completeBaseName() + ".kpz");
        QCOMPARE(readFile(packed),
                 expectedCompressed(toneBytes(20000 + 2 * i), files[i].toStdString()));
    }
}

void CommandLineTest::namesKeepTheirBytes_data() {
    QTest::addColumn<bool>("fromDesktop");
    QTest::newRow("terminal") << false;
    QTest::newRow("desktop") << true;
}

// A name with a byte that is not UTF-8 names that file, never the one whose name is what
// the toolkit shows for it (U+FFFD in the byte's place), in a compression and in a
// restore, and a folder with such a name is the folder a restore from the desktop writes to.
void CommandLineTest::namesKeepTheirBytes() {
    QFETCH(bool, fromDesktop);
    const QByteArray wanted = toneBytes(30000);
    const QByteArray decoy = noiseBytes(30000, 7);
    const QByteArray packedDecoy = expectedCompressed(decoy, "decoy.wav");
    const std::string folder = at("files/d\xff");
    const std::string decoyFolder = at("files/d" + kDecoyByte);
    QVERIFY(::mkdir(folder.c_str(), 0755) == 0);
    QVERIFY(::mkdir(decoyFolder.c_str(), 0755) == 0);
    QVERIFY(writeBytes(folder + "/a\xff.wav", wanted));
    QVERIFY(writeBytes(folder + "/a" + kDecoyByte + ".wav", decoy));
    QVERIFY(writeBytes(decoyFolder + "/a" + kDecoyByte + ".wav", decoy));
    QVERIFY(writeBytes(decoyFolder + "/a" + kDecoyByte + ".kpz", packedDecoy));
    QVERIFY(writeBytes(decoyFolder + "/a\xff.kpz", packedDecoy));

    // Compressed beside itself, under its own name.
    Ended ended = runProgram(at("home"), {desktop_launch::kCompressMarker, folder + "/a\xff.wav"},
                             at("home"));
    QCOMPARE(ended.signal, 0);
    QCOMPARE(ended.exitCode, 0);
    QCOMPARE(readBytes(folder + "/a\xff.kpz"), expectedCompressed(wanted, "a\xff.wav"));
    QVERIFY(!exists(folder + "/a" + kDecoyByte + ".kpz"));
    QCOMPARE(readBytes(decoyFolder + "/a" + kDecoyByte + ".kpz"), packedDecoy);

    // Restored from the file named, beside it from the desktop, in the working folder from
    // a terminal: the one file there afterwards.
    QVERIFY(::unlink((folder + "/a\xff.wav").c_str()) == 0);
    QVERIFY(::unlink((folder + "/a" + kDecoyByte + ".wav").c_str()) == 0);
    std::vector<std::string> args{folder + "/a\xff.kpz"};
    if (fromDesktop) args.insert(args.begin(), desktop_launch::kMarker);
    ended = runProgram(at("home"), args, at("home"));
    QCOMPARE(ended.signal, 0);
    QCOMPARE(ended.exitCode, 0);
    const std::vector<std::string> restored = filesIn(fromDesktop ? folder : at("home"), ".wav");
    QCOMPARE(restored.size(), size_t(1));
    QCOMPARE(readBytes(restored[0]), wanted);
    QCOMPARE(filesIn(fromDesktop ? at("home") : folder, ".wav"), std::vector<std::string>{});
    QCOMPARE(filesIn(decoyFolder, ".wav"),
             std::vector<std::string>{decoyFolder + "/a" + kDecoyByte + ".wav"});
}

// A dropped file's URL holds the bytes of its name percent-encoded: the file compressed is
// the one with those bytes, not the one named as the toolkit decodes them.
void CommandLineTest::droppedNameKeepsItsBytes() {
    const QByteArray wanted = toneBytes(30000);
    const std::string folder = at("files");
    QVERIFY(writeBytes(folder + "/a\xff.wav", wanted));
    QVERIFY(writeBytes(folder + "/a" + kDecoyByte + ".wav", noiseBytes(30000, 7)));

    AppWindows w;
    w.form.show();
    QMimeData data;
    data.setUrls({QUrl::fromEncoded(
        "file://" + QByteArray::fromStdString(folder).toPercentEncoding("/") + "/a%FF.wav")});
    const QPoint middle = w.form.rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.form, &drop);
    QTRY_COMPARE(w.form.statusText(), QString("Compressing... Done"));
    QCOMPARE(readBytes(folder + "/a\xff.kpz"), expectedCompressed(wanted, "a\xff.wav"));
    QVERIFY(!exists(folder + "/a" + kDecoyByte + ".kpz"));
}

QTEST_MAIN(CommandLineTest)
#include "tst_command_line.moc"
