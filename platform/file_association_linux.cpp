// The .kpz file type on freedesktop systems: a shared-mime-info package for "*.kpz", a
// desktop entry that opens such files with this program, its icon in the hicolor theme,
// and the default application in mimeapps.list, all in the user's own data and config
// folders (XDG_DATA_HOME, XDG_CONFIG_HOME).
#include "file_association.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const char* const kMimeType = "application/x-brisko-packer";
const char* const kDesktopId = "brisko-packer.desktop";
const char* const kIconName = "brisko-packer";
const char* const kResources = ":/brisko-packer/";
const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QByteArray resource(const QString& name) {
    QFile file(kResources + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file at path with data in one step, creating its folder first.
bool writeFile(const QString& path, const QByteArray& data) {
    if (data.isEmpty() || !QDir().mkpath(QFileInfo(path).path())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(data);
    return file.commit();
}

// The program as one argument of a desktop entry's Exec key: quoted, with the characters
// that stay special inside quotes escaped, then backslashes doubled once more for the
// file's own string escapes, and "%" doubled so it is not taken for a field code.
QString execArgument(const QString& path) {
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

// The installed entry with its Exec line pointing at this very program.
QByteArray desktopEntry(const QString& programPath) {
    const QList<QByteArray> lines = resource("brisko-packer.desktop").split('\n');
    QByteArray entry;
    for (const QByteArray& line : lines) {
        if (line.isEmpty()) continue;
        if (line.startsWith("Exec="))
            entry += "Exec=" + (execArgument(programPath) + " %f").toUtf8();
        else
            entry += line;
        entry += '\n';
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

bool setDefaultApplication(const QString& path) {
    QByteArray old;
    QFile file(path);
    if (file.exists()) {
        // Never replace a list that cannot be read: its entries would be lost.
        if (!file.open(QIODevice::ReadOnly)) return false;
        old = file.readAll();
        if (file.error() != QFileDevice::NoError) return false;
        file.close();
    }
    const QByteArray updated = withDefaultApplication(old, kMimeType, kDesktopId);
    return updated == old || writeFile(path, updated);
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

    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (data.isEmpty() || config.isEmpty()) return {};

    writeFile(data + "/mime/packages/brisko-packer.xml", resource("brisko-packer-mime.xml"));

    const QString icons = data + "/icons/hicolor/";
    writeFile(icons + "scalable/apps/" + kIconName + ".svg",
              resource(QString("icons/hicolor/scalable/apps/") + kIconName + ".svg"));
    for (const int size : kIconSizes) {
        const QString folder = QString("%1x%1/apps/").arg(size);
        writeFile(icons + folder + kIconName + ".png",
                  resource("icons/hicolor/" + folder + kIconName + ".png"));
    }

    writeFile(data + "/applications/" + kDesktopId, desktopEntry(programPath));
    setDefaultApplication(config + "/mimeapps.list");

    runIfPresent("update-mime-database", data + "/mime");
    runIfPresent("update-desktop-database", data + "/applications");
    return {};
}

} // namespace platform
