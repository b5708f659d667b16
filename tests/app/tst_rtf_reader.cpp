// SPDX-License-Identifier: BSD-3-Clause
// The rich-text reader: text and paragraphs from small inputs, formatting and alignment, the
// shipped help file, and damaged input that must never crash or hang.
#include "rtf_reader.h"
#include "version.h"

#include <QFile>
#include <QtTest>

class RtfReaderTest : public QObject {
    Q_OBJECT

  private slots:
    void text_data();
    void text();
    void formatting();
    void shippedHelpFile();
    void damagedInput_data();
    void damagedInput();
    void mutatedHelpFile();
};

void RtfReaderTest::text_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected"); // each paragraph followed by "\n"
    struct Row {
        const char* name;
        QByteArray input;
        QString expected;
    };
    const Row rows[] = {
        {"paragraphs", "{\\rtf1 one\\par two\\par}", "one\ntwo\n"},
        {"last paragraph without par", "{\\rtf1 one\\par two}", "one\ntwo\n"},
        {"empty paragraph", "{\\rtf1 a\\par\\par b\\par}", "a\n\nb\n"},
        {"line ends are not text", "{\\rtf1 a\r\nb\\\r\nc}", "ab\nc\n"},
        {"space after a control word is its delimiter", "{\\rtf1\\b bold\\b0  x}", "bold x\n"},
        {"escaped braces and backslash", "{\\rtf1 \\{a\\}\\\\}", "{a}\\\n"},
        {"tab", "{\\rtf1 a\\tab b}", "a\tb\n"},
        {"line break and non-breaking space", "{\\rtf1 a\\line b\\~c}",
         QString("a") + QChar(0x2028) + "b" + QChar(0xA0) + "c\n"},
        {"Windows-1252 escapes", "{\\rtf1 caf\\'e9 \\'80\\'93x\\'94\\'96}",
         QString::fromUtf8("café €“x”–\n")},
        {"bytes Windows-1252 leaves undefined", "{\\rtf1 \\'81\\'8d\\'8f\\'90\\'9d\\'9f}",
         QString(5, QChar(0xFFFD)) + QString::fromUtf8("Ÿ\n")},
        {"unicode with its fallback skipped", "{\\rtf1 a\\u8212?b}", QString::fromUtf8("a—b\n")},
        {"unicode with two fallback characters", "{\\rtf1\\uc2 \\u8212\\'97\\'97b}",
         QString::fromUtf8("—b\n")},
        {"unicode without fallback", "{\\rtf1\\uc0\\u233 x}", QString::fromUtf8("éx\n")},
        {"fallback count is per group", "{\\rtf1{\\uc0 }\\u233?x}", QString::fromUtf8("éx\n")},
        {"negative unicode, surrogate pair", "{\\rtf1\\u-10179?\\u-8704?}",
         QString::fromUtf8("😀\n")},
        {"lone surrogate", "{\\rtf1\\u-10179?x}", QString(QChar(0xFFFD)) + "x\n"},
        {"tables and unknown destinations skipped",
         "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}"
         "{\\*\\generator Foo;}{\\*\\unknown bar}{\\info{\\title T}}text}",
         "text\n"},
        {"binary data skipped", "{\\rtf1 a{\\*\\blip\\bin4 {}\\}}b}", "ab\n"},
        {"text after the document is ignored", "{\\rtf1 a}junk", "a\n"},
        {"field result shown, instruction not",
         "{\\rtf1{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}}", "link\n"},
        {"plain text", "line one\r\nline\ttwo\n\xe9",
         QString::fromUtf8("line one\nline\ttwo\né\n")},
        {"empty input", "", ""},
    };
    for (const Row& row : rows)
        QTest::newRow(row.name) << row.input << row.expected;
}

void RtfReaderTest::text() {
    QFETCH(QByteArray, input);
    QTEST(rtf::parse(input).plainText(), "expected");
}

void RtfReaderTest::formatting() {
    const rtf::Document doc = rtf::parse("{\\rtf1\\pard\\qc\\b\\fs28 Title\\par"
                                         "\\pard\\ql\\plain plain {\\i it}{\\ul und\\ulnone  no}"
                                         "\\b bold\\b0\\par"
                                         "\\qr right\\par"
                                         "\\pard\\qj j\\par"
                                         "\\pard default}");
    QCOMPARE(doc.paragraphs.size(), 5);
    const QList<rtf::Alignment> alignments = {rtf::Alignment::Center, rtf::Alignment::Left,
                                              rtf::Alignment::Right, rtf::Alignment::Justify,
                                              rtf::Alignment::Default};
    for (int i = 0; i < alignments.size(); ++i)
        QCOMPARE(doc.paragraphs[i].alignment, alignments[i]);

    const rtf::Run& title = doc.paragraphs[0].runs.at(0);
    QCOMPARE(title.text, QString("Title"));
    QVERIFY(title.bold);
    QCOMPARE(title.halfPoints, 28);

    // Runs split where the format changes; a group's format ends with the group.
    const QList<rtf::Run>& runs = doc.paragraphs[1].runs;
    QCOMPARE(runs.size(), 5);
    struct Expect {
        const char* text;
        bool bold, italic, underline;
    };
    const Expect expected[] = {{"plain ", false, false, false},
                               {"it", false, true, false},
                               {"und", false, false, true},
                               {" no", false, false, false},
                               {"bold", true, false, false}};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(runs[i].text, QString(expected[i].text));
        QCOMPARE(runs[i].bold, expected[i].bold);
        QCOMPARE(runs[i].italic, expected[i].italic);
        QCOMPARE(runs[i].underline, expected[i].underline);
        QCOMPARE(runs[i].halfPoints, 0); // \plain reset the size
    }
}

static QByteArray shippedHelp() {
    QFile file(HELP_FILE);
    if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", HELP_FILE);
    return file.readAll();
}

void RtfReaderTest::shippedHelpFile() {
    const rtf::Document doc = rtf::parse(shippedHelp());
    QVERIFY(doc.paragraphs.size() > 20);

    const rtf::Paragraph& heading = doc.paragraphs[0];
    QCOMPARE(heading.text(), QString("Brisko Packer"));
    QCOMPARE(heading.alignment, rtf::Alignment::Center);
    QVERIFY(heading.runs[0].bold);
    QCOMPARE(doc.paragraphs[1].text(),
             QString::fromUtf8("Lossless compression for audio files – version " BRISKO_VERSION));

    const QString text = doc.plainText();
    QVERIFY(text.contains("Compressing files\n"));
    QVERIFY(text.contains("Restoring files\n"));
    QVERIFY(text.contains("Overwrite Warning: When this is ticked"));
    QVERIFY(text.contains("1.\tChoose File, Compress Files..."));
    QVERIFY(text.contains(QString::fromUtf8("Brisko Packer — lossless")));
    QVERIFY(text.contains("with the right length but with wrong contents"));
    // Nothing of the font and colour tables or the markup leaks into the text.
    for (const char* stray : {"Times New Roman", "MS Sans Serif", "\\", "{", "}", ";\n"})
        QVERIFY2(!text.contains(stray), stray);

    // The password warning is in bold, left-aligned like the body text.
    bool boldWarning = false;
    for (const rtf::Paragraph& p : doc.paragraphs)
        for (const rtf::Run& run : p.runs)
            if (run.text == "A wrong password is not detected.") {
                boldWarning = run.bold && p.alignment == rtf::Alignment::Left;
            }
    QVERIFY(boldWarning);
}

void RtfReaderTest::damagedInput_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    const QByteArray deep =
        "{\\rtf1 " + QByteArray(200000, '{') + "\\b x" + QByteArray(200000, '}') + "y}";
    QByteArray junk = "{\\rtf1 ";
    uint32_t x = 7;
    for (int i = 0; i < 65536; ++i) {
        x = x * 1664525u + 1013904223u;
        junk += static_cast<char>(x >> 24);
    }
    QTest::newRow("group left open") << QByteArray("{\\rtf1 {\\b a") << "a\n";
    QTest::newRow("extra closing braces") << QByteArray("{\\rtf1 a}}}b") << "a\n";
    QTest::newRow("closing brace first") << QByteArray("}{\\rtf1 a}") << "}{\\rtf1 a}\n";
    QTest::newRow("ends in a backslash") << QByteArray("{\\rtf1 a\\") << "a\n";
    QTest::newRow("ends in an escape") << QByteArray("{\\rtf1 a\\'") << "a\n";
    QTest::newRow("ends in half an escape") << QByteArray("{\\rtf1 a\\'4") << "a\n";
    QTest::newRow("escape with bad hex") << QByteArray("{\\rtf1 \\'zzq}") << "zzq\n";
    QTest::newRow("unicode without a number") << QByteArray("{\\rtf1 a\\u}") << "a\n";
    QTest::newRow("ends in a unicode escape") << QByteArray("{\\rtf1 a\\u233") << "a\u00e9\n";
    QTest::newRow("huge numbers")
        << QByteArray("{\\rtf1\\fs99999999999999999999 a\\u99999999999?b\\uc-999999999999 c"
                      "\\bin99999999999999 lost}")
        << QString("a") + QChar(0xFFFD) + "bc\n";
    QTest::newRow("negative binary length") << QByteArray("{\\rtf1 a\\bin-5 b}") << "ab\n";
    QTest::newRow("endless control word") << "{\\rtf1 \\" + QByteArray(100000, 'b') + " a}"
                                          << "a\n";
    QTest::newRow("nul bytes") << QByteArray("{\\rtf1 a\0b}", 11) << "ab\n";
    QTest::newRow("deep nesting") << deep << "xy\n";
    QTest::newRow("binary junk") << junk << QString(); // anything, as long as it returns
}

void RtfReaderTest::damagedInput() {
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    const rtf::Document doc = rtf::parse(input);
    if (!expected.isNull()) QCOMPARE(doc.plainText(), expected);
    for (const rtf::Paragraph& p : doc.paragraphs)
        for (const rtf::Run& run : p.runs)
            QVERIFY(run.halfPoints >= 0 && run.halfPoints <= 400);
}

// Random damage to the real file: bytes changed, cut short, pieces dropped.
void RtfReaderTest::mutatedHelpFile() {
    const QByteArray original = shippedHelp();
    uint32_t x = 12345;
    auto next = [&x](uint32_t bound) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % bound;
    };
    for (int round = 0; round < 2000; ++round) {
        QByteArray data = original;
        const int edits = 1 + next(8);
        for (int e = 0; e < edits && !data.isEmpty(); ++e) {
            const qsizetype at = next(static_cast<uint32_t>(data.size()));
            switch (next(4)) {
            case 0:
                data[at] = static_cast<char>(next(256));
                break;
            case 1:
                data.truncate(at);
                break;
            case 2:
                data.remove(at, next(40));
                break;
            default:
                data.insert(at, "{\\'\\u-\\bin9{{}\\" + QByteArray(1, char(next(256))));
                break;
            }
        }
        const rtf::Document doc = rtf::parse(data);
        QVERIFY(doc.paragraphs.size() <= data.size() + 1);
    }
}

QTEST_MAIN(RtfReaderTest)
#include "tst_rtf_reader.moc"
