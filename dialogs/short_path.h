// SPDX-License-Identifier: BSD-3-Clause
// Shortening a folder path to a pixel width by replacing its leading folders with "...".
#pragma once

#include <QChar>
#include <QDir>
#include <QString>

class QFontMetrics;

// Returns path, or the first of its successively shorter forms that fits in maxWidth
// pixels of the given font: leading folders give way to "..." one at a time, then the
// drive, until only the last name is left (which is returned even if it does not fit).
// On a Windows-style path ("C:\Music\Samples\Drums", separator '\') the steps are
// "C:\...\Samples\Drums", "C:\...\Drums", "...\Drums", "Drums"; a Unix one
// ("/Music/Samples/Drums") goes "/.../Samples/Drums", "/.../Drums", ".../Drums", "Drums".
QString shortenPath(const QString& path, const QFontMetrics& metrics, int maxWidth,
                    QChar separator = QDir::separator());
