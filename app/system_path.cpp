// SPDX-License-Identifier: BSD-3-Clause
// Paths as the system names them: exact bytes kept inside the window program's texts, and
// a path from the command line as the system reads it.
#include "system_path.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QUrl>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
// Windows names are UTF-16 text already. The file layer takes them as UTF-8, which it hands
// to the system as UTF-16: the 8-bit names of the ANSI code page may lack a name's characters.
QString pathText(const std::string& bytes) {
    return QString::fromStdString(bytes);
}
std::string localPath(const QString& path) {
    return path.toUtf8().toStdString();
}
QString currentFolder() {
    return QDir::currentPath();
}
bool setCurrentFolder(const QString& folder) {
    return QDir::setCurrent(folder);
}
QString droppedPath(const QUrl& url) {
    return url.toLocalFile();
}
#else
namespace {

// The code point of the well-formed UTF-8 sequence at the start of s (size bytes), with its
// length in used; 0 when the sequence is not well formed (overlong, a surrogate, past
// U+10FFFF, cut short).
char32_t decodeOne(const unsigned char* s, size_t size, int& used) {
    const unsigned lead = s[0];
    used = 1;
    if (lead < 0x80) return lead;
    int length = 0;
    char32_t code = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (size < static_cast<size_t>(length)) return 0;
    for (int k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (s[k] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    used = length;
    return code;
}

constexpr char16_t kByteEscape = 0xDC00; // + a byte from 0x80 to 0xFF

} // namespace

QString pathText(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        int used = 1;
        const char32_t code = decodeOne(s + i, bytes.size() - i, used);
        if (code == 0 && s[i] != 0) {
            text += QChar(static_cast<char16_t>(kByteEscape + s[i]));
        } else if (code >= 0x10000) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(static_cast<char16_t>(code));
        }
        i += static_cast<size_t>(used);
    }
    return text;
}

std::string localPath(const QString& path) {
    std::string bytes;
    qsizetype run = 0; // start of the text not yet written
    const auto flush = [&](qsizetype end) {
        if (end > run) bytes += QStringView(path).mid(run, end - run).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t u = path[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < path.size() &&
            QChar::isLowSurrogate(path[i + 1].unicode())) {
            ++i; // a character beyond U+FFFF, written as UTF-8 with its run
        } else if (u >= kByteEscape + 0x80 && u <= kByteEscape + 0xFF) {
            flush(i);
            bytes += static_cast<char>(u - kByteEscape);
            run = i + 1;
        }
    }
    flush(path.size());
    return bytes;
}

QString currentFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? QDir::currentPath() : pathText(folder.string());
}

bool setCurrentFolder(const QString& folder) {
    std::error_code error;
    std::filesystem::current_path(localPath(folder), error);
    return !error;
}

QString droppedPath(const QUrl& url) {
    if (!url.host().isEmpty()) return url.toLocalFile();
    return pathText(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
}
#endif

QString systemPath(const QString& given) {
    const QString argument = QDir::fromNativeSeparators(given);
    // Joined as text only: Qt's own absolute paths are cleaned, and "a/link/../x" is x in
    // the folder above link's target, which cleaning the text would place in a/.
    const QString absolute =
        QDir::isAbsolutePath(argument) ? argument : currentFolder() + '/' + argument;
    const qsizetype cut = absolute.lastIndexOf('/');
    const QString name = absolute.mid(cut + 1);
    std::error_code error;
#ifdef Q_OS_WIN
    // Wide on Windows: a narrow path there is in the ANSI code page.
    const std::filesystem::path folder = std::filesystem::canonical(
        std::filesystem::path(absolute.left(cut == 0 ? 1 : cut).toStdWString()), error);
    if (error) return QDir::cleanPath(absolute);
    const QString resolved = QDir::fromNativeSeparators(QString::fromStdWString(folder.wstring()));
#else
    const std::filesystem::path folder = std::filesystem::canonical(
        std::filesystem::path(localPath(absolute.left(cut == 0 ? 1 : cut))), error);
    if (error) return QDir::cleanPath(absolute);
    const QString resolved = pathText(folder.string());
#endif
    return (resolved.endsWith('/') ? resolved : resolved + '/') + name;
}
