// SPDX-License-Identifier: BSD-3-Clause
// The .kpz file type on freedesktop systems: a shared-mime-info package for "*.kpz", a
// desktop entry that opens such files with this program and its icon in the hicolor
// theme, in the user's own data folder (XDG_DATA_HOME) when no installed entry exists, and
// the default application in mimeapps.list (XDG_CONFIG_HOME) when the user has none.
#include "file_association.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstring>

namespace {

const char* const kMimeType = "application/x-brisko-packer";
// The user's own entry and icon, written when no installed entry exists.
const char* const kDesktopId = "brisko-packer.desktop";
const char* const kIconName = "brisko-packer";
// What an installed copy of the program puts into the system's data folders: entries
// named by the application id, or by the older name.
#ifndef BRISKO_APP_ID
#define BRISKO_APP_ID "brisko-packer"
#endif
const char* const kInstalledIds[] = {BRISKO_APP_ID ".desktop", "brisko-packer.desktop"};
const char* const kResources = ":/brisko-packer/";
const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QByteArray resource(const QString& name) {
    QFile file(kResources + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file at path with data in one step, creating its folder first. Returns
// whether the file changed; one that already holds data is left untouched.
bool writeFile(const QString& path, const QByteArray& data) {
    if (data.isEmpty()) return false;
    QFile old(path);
    if (old.size() == data.size() && old.open(QIODevice::ReadOnly) && old.readAll() == data)
        return false;
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(data);
    return file.commit();
}

// The program as one argument of a desktop entry's Exec key. A path without reserved
// characters stays bare, since simple readers of the line (xdg-open on a desktop it does
// not know) split it at blanks and take quotes literally. Otherwise it is quoted, with the
// characters that stay special inside quotes escaped, then backslashes doubled once more
// for the file's own string escapes; "%" is doubled so it is not taken for a field code.
QString execArgument(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`%");
    bool plain = true;
    for (const QChar c : path)
        plain = plain && !reserved.contains(c);
    if (plain) return path;

    QString quoted;
    for (const QChar c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted = '"' + quoted + '"';
    quoted.replace('\\', "\\\\");
    quoted.replace('%', "%%");
    return quoted;
}

bool hasControlCharacters(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
    return false;
}

// The installed entry run by this very program: each Exec line's program replaced by its
// full path, its arguments kept; TryExec lets the desktop hide the entry once the program
// is gone.
QByteArray desktopEntry(const QString& programPath) {
    const QList<QByteArray> lines = resource("brisko-packer.desktop").split('\n');
    const QByteArray tryExec = QString(programPath).replace('\\', "\\\\").toUtf8();
    QByteArray entry;
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || line.startsWith("TryExec=")) continue;
        if (line.startsWith("Exec=")) {
            const QByteArray command = line.mid(5);
            const qsizetype blank = command.indexOf(' ');
            const QByteArray arguments = blank < 0 ? QByteArray() : command.mid(blank);
            // GIO checks that the program exists by the Exec line's first word before it
            // turns "%%" back into "%", so a program whose path holds a "%" is started
            // through env, whose name holds none.
            const QString program = execArgument(programPath);
            entry += "Exec=" + (programPath.contains('%') ? "env " + program : program).toUtf8() +
                     arguments;
        } else {
            entry += line;
        }
        entry += '\n';
        if (line == "[Desktop Entry]") entry += "TryExec=" + tryExec + '\n';
    }
    return entry;
}

bool isGroupHeader(const QByteArray& line) {
    return line.trimmed().startsWith('[');
}

// mimeapps.list with key=value in its [Default Applications] group. Every other line is
// kept as it was: other types' defaults, other groups, comments.
QByteArray withDefaultApplication(const QByteArray& old, const QByteArray& key,
                                  const QByteArray& value) {
    QList<QByteArray> lines = old.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    const QByteArray entry = key + '=' + value;

    qsizetype group = -1;
    for (qsizetype i = 0; i < lines.size() && group < 0; ++i)
        if (lines[i].trimmed() == "[Default Applications]") group = i;

    if (group < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QByteArray();
        lines << "[Default Applications]" << entry;
    } else {
        qsizetype end = group + 1; // first line after the group
        while (end < lines.size() && !isGroupHeader(lines[end]))
            ++end;
        qsizetype found = -1;
        for (qsizetype i = group + 1; i < end && found < 0; ++i) {
            const qsizetype eq = lines[i].indexOf('=');
            if (eq > 0 && lines[i].left(eq).trimmed() == key) found = i;
        }
        if (found >= 0) {
            lines[found] = entry;
        } else {
            qsizetype at = end; // after the group's last entry, before blank lines
            while (at > group + 1 && lines[at - 1].trimmed().isEmpty())
                --at;
            lines.insert(at, entry);
        }
    }
    return lines.join('\n') + '\n';
}

// The values of key in group of a desktop-style file; empty when the file, the group or
// the key is missing.
QByteArray groupValue(const QString& path, const QByteArray& group, const QByteArray& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    bool inGroup = false;
    QByteArray value;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (isGroupHeader(line)) inGroup = line.trimmed() == '[' + group + ']';
        const qsizetype eq = line.indexOf('=');
        if (inGroup && eq > 0 && line.left(eq).trimmed() == key) value = line.mid(eq + 1).trimmed();
    }
    return value;
}

// The user's own lists of default applications, as the desktop reads them: one per
// current desktop, the common one, and the older one among the applications.
QStringList userMimeAppsLists(const QString& config, const QString& data) {
    QStringList lists;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':', Qt::SkipEmptyParts))
        lists << config + '/' + desktop.toLower() + "-mimeapps.list";
    lists << config + "/mimeapps.list" << data + "/applications/mimeapps.list";
    return lists;
}

// Whether the user has chosen how .kpz files open: a default application, whichever, or
// this program taken off the type's list.
bool userHasChosen(const QStringList& lists) {
    for (const QString& list : lists) {
        if (!groupValue(list, "Default Applications", kMimeType).isEmpty()) return true;
        const QList<QByteArray> removed =
            groupValue(list, "Removed Associations", kMimeType).split(';');
        if (removed.contains(kDesktopId)) return true;
        for (const char* id : kInstalledIds)
            if (removed.contains(id)) return true;
    }
    return false;
}

bool setDefaultApplication(const QString& path, const QByteArray& desktopId) {
    QByteArray old;
    QFile file(path);
    if (file.exists()) {
        // Never replace a list that cannot be read: its entries would be lost.
        if (!file.open(QIODevice::ReadOnly)) return false;
        old = file.readAll();
        if (file.error() != QFileDevice::NoError) return false;
        file.close();
    }
    const QByteArray updated = withDefaultApplication(old, kMimeType, desktopId);
    return updated == old || writeFile(path, updated);
}

// The id of this program's entry installed in the system's data folders (XDG_DATA_DIRS),
// or an empty string; the user's own folder does not count, even when listed there.
QByteArray installedEntry(const QString& userData) {
    QStringList folders = qEnvironmentVariable("XDG_DATA_DIRS").split(':', Qt::SkipEmptyParts);
    if (folders.isEmpty()) folders = {"/usr/local/share", "/usr/share"};
    const QString own = QDir::cleanPath(userData);
    for (const QString& folder : folders) {
        if (!QDir::isAbsolutePath(folder) || QDir::cleanPath(folder) == own) continue;
        for (const char* id : kInstalledIds)
            if (QFileInfo(folder + "/applications/" + id).isFile()) return id;
    }
    return {};
}

QString userDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

// Runs a database update tool on folder when the system has it.
void runIfPresent(const QString& tool, const QString& folder) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty()) return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {folder});
    if (process.waitForStarted() && !process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

namespace platform {

QString registerFileType(const QString& programPath) {
    // A path that a desktop entry cannot carry, or that is not this program, is not
    // recorded at all rather than recorded wrongly.
    if (!QFileInfo(programPath).isAbsolute() || hasControlCharacters(programPath) ||
        !QFileInfo(programPath).isFile())
        return {};

    const QString data = userDataFolder();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (data.isEmpty() || config.isEmpty()) return {};

    // An installed entry already opens .kpz files with the installed program: a copy of
    // the user's own would hide it, and point nowhere once this program is gone.
    const QByteArray installed = installedEntry(data);
    if (installed.isEmpty()) {
        const bool mimeChanged = writeFile(data + "/mime/packages/brisko-packer.xml",
                                           resource("brisko-packer-mime.xml"));

        const QString icons = data + "/icons/hicolor/";
        writeFile(icons + "scalable/apps/" + kIconName + ".svg",
                  resource(QString("icons/hicolor/scalable/apps/") + kIconName + ".svg"));
        for (const int size : kIconSizes) {
            const QString folder = QString("%1x%1/apps/").arg(size);
            writeFile(icons + folder + kIconName + ".png",
                      resource("icons/hicolor/" + folder + kIconName + ".png"));
        }

        const bool entryChanged =
            writeFile(data + "/applications/" + kDesktopId, desktopEntry(programPath));
        if (mimeChanged) runIfPresent("update-mime-database", data + "/mime");
        if (entryChanged) runIfPresent("update-desktop-database", data + "/applications");
    }

    // The user's own choice of program for the type outranks this one's.
    if (!userHasChosen(userMimeAppsLists(config, data)))
        setDefaultApplication(config + "/mimeapps.list",
                              installed.isEmpty() ? QByteArray(kDesktopId) : installed);
    return {};
}

QString desktopEntryName() {
    QString id = QString::fromUtf8(installedEntry(userDataFolder()));
    if (id.isEmpty()) id = kDesktopId;
    return id.chopped(int(strlen(".desktop")));
}

} // namespace platform
