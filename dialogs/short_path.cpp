// SPDX-License-Identifier: BSD-3-Clause
// Shortening a folder path to a pixel width by replacing its leading folders with "...".
#include "short_path.h"

#include <QFontMetrics>

QString shortenPath(const QString& path, const QFontMetrics& metrics, int maxWidth,
                    QChar separator) {
    const QString sep(separator);
    const QString marker = "..." + sep; // what stands for the folders cut so far

    QString result = path;
    const qsizetype lastSep = path.lastIndexOf(separator);
    QString folders = path.left(lastSep + 1); // up to and including the last separator
    const QString name = path.mid(lastSep + 1);
    QString drive;
    if (folders.size() >= 2 && folders[1] == ':') {
        drive = folders.left(2);
        folders.remove(0, 2);
    }

    while ((!folders.isEmpty() || !drive.isEmpty()) &&
           metrics.horizontalAdvance(result) > maxWidth) {
        if (folders == sep + marker) {
            // Nothing but the marker is left below the root: drop the drive and the root.
            drive.clear();
            folders = marker;
        } else if (folders.isEmpty()) {
            drive.clear();
        } else if (folders == sep) {
            folders.clear();
        } else {
            // Cut the first folder, keeping a leading root separator.
            const bool rooted = folders.startsWith(separator);
            if (rooted) folders.remove(0, 1);
            // Only the marker of an earlier cut is removed here, never part of a folder
            // whose own name starts with a dot.
            if (folders.startsWith(marker)) folders.remove(0, marker.size());
            const qsizetype next = folders.indexOf(separator);
            if (next >= 0)
                folders = marker + folders.mid(next + 1);
            else
                folders.clear();
            if (rooted) folders.prepend(separator);
        }
        result = drive + folders + name;
    }
    return result;
}
