// SPDX-License-Identifier: BSD-3-Clause
// A small reader for the rich-text (RTF) files the help window shows: paragraphs with their
// alignment, and runs of text with bold, italic, underline and font size. Anything else in
// the file (font and colour tables, pictures, style sheets, unknown control words) is
// skipped. It never fails: damaged input gives whatever text could be read.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace rtf {

// Alignment::Default means the file set none, so the view's own default applies.
enum class Alignment { Default, Left, Center, Right, Justify };

struct Run {
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 0; // font size in half points; 0 when the file set none

    bool sameFormat(const Run& other) const {
        return bold == other.bold && italic == other.italic && underline == other.underline &&
               halfPoints == other.halfPoints;
    }
};

struct Paragraph {
    Alignment alignment = Alignment::Default;
    QList<Run> runs;

    QString text() const;
};

struct Document {
    QList<Paragraph> paragraphs;

    // All paragraphs' text, each followed by a line feed.
    QString plainText() const;
};

// Reads RTF text. Input that does not start with "{\rtf" is taken as plain Windows-1252
// text, one paragraph per line.
Document parse(QByteArrayView data);

// The character that byte stands for in Windows-1252.
QChar fromWindows1252(unsigned char byte);

} // namespace rtf
