// SPDX-License-Identifier: BSD-3-Clause
// A path from the command line as the system reads it.
#include "system_path.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

QString systemPath(const QString& given) {
    const QString argument = QDir::fromNativeSeparators(given);
    // Joined as text only: Qt's own absolute paths are cleaned, and "a/link/../x" is x in
    // the folder above link's target, which cleaning the text would place in a/.
    const QString absolute =
        QDir::isAbsolutePath(argument) ? argument : QDir::currentPath() + '/' + argument;
    const qsizetype cut = absolute.lastIndexOf('/');
    const QString name = absolute.mid(cut + 1);
    std::error_code error;
#ifdef _WIN32
    // Wide on Windows: a narrow path there is in the ANSI code page, which may lack some of
    // the name's characters.
    const std::filesystem::path folder = std::filesystem::canonical(
        std::filesystem::path(absolute.left(cut == 0 ? 1 : cut).toStdWString()), error);
    if (error) return QDir::cleanPath(absolute);
    const QString resolved = QDir::fromNativeSeparators(QString::fromStdWString(folder.wstring()));
#else
    const std::filesystem::path folder = std::filesystem::canonical(
        std::filesystem::path(QFile::encodeName(absolute.left(cut == 0 ? 1 : cut)).toStdString()),
        error);
    if (error) return QDir::cleanPath(absolute);
    const QString resolved = QFile::decodeName(folder.string().c_str());
#endif
    return (resolved.endsWith('/') ? resolved : resolved + '/') + name;
}

std::string filePathBytes(const QString& path) {
#ifdef _WIN32
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

QString filePathText(const std::string& path) {
#ifdef _WIN32
    return QString::fromStdString(path);
#else
    return QFile::decodeName(path.c_str());
#endif
}
