// SPDX-License-Identifier: BSD-3-Clause
// Paths as the system names them: exact bytes kept inside the window program's texts, and
// a path from the command line as the system reads it.
#pragma once

#include <QString>

#include <string>

class QUrl;

// A name the system gave (bytes) as text the window program can carry, and back. Bytes that
// are not UTF-8 are not replaced: each is kept as one unpaired surrogate U+DC80-U+DCFF, which
// no UTF-8 name decodes to, so localPath(pathText(bytes)) == bytes for every name and two
// different names never become one text. Display goes through TMainForm::displayName. On
// Windows the bytes are the name's UTF-8, which the file layer hands to the system as UTF-16.
QString pathText(const std::string& bytes);
std::string localPath(const QString& path);

// The working directory, and changing it, with the exact bytes of its path.
QString currentFolder();
bool setCurrentFolder(const QString& folder);

// The local file a dropped URL names, with the bytes its percent-encoding holds.
QString droppedPath(const QUrl& url);

// The absolute path of given, its folder resolved by the system (links and ".." as the
// system follows them, not as text), relative to the working directory. The name itself is
// kept, a link included. The path unresolved when its folder does not exist.
QString systemPath(const QString& given);
