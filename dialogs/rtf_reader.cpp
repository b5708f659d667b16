// SPDX-License-Identifier: BSD-3-Clause
// A small RTF reader: groups, paragraphs, alignment, bold, italic, underline, font size,
// tabs, Windows-1252 escapes and Unicode escapes. Everything else is skipped.
#include "rtf_reader.h"

#include "text.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rtf {

namespace {

// Groups nested deeper than this get no saved state of their own: what they change lasts
// until the deepest saved group ends. Real files stay far below it, and it keeps hostile
// input from growing the stack without end.
constexpr int kMaxDepth = 200;
// Control-word names longer than this are not ones we know; the rest is read and dropped.
constexpr int kMaxWordLength = 32;
// Parameters are at most 16-bit in RTF; longer digit runs are read and clamped.
constexpr int kMaxDigits = 10;

// Destinations whose contents are not document text.
bool isSkippedDestination(QByteArrayView word) {
    static const QByteArrayView names[] = {
        "fonttbl",   "colortbl",     "stylesheet", "info",    "pict",      "object",
        "header",    "headerl",      "headerr",    "headerf", "footer",    "footerl",
        "footerr",   "footerf",      "footnote",   "fldinst", "listtable", "listoverridetable",
        "rsidtbl",   "filetbl",      "revtbl",     "xe",      "tc",        "themedata",
        "datastore", "latentstyles", "generator",  "pn",      "pntext",    "nonshppict",
    };
    return std::find(std::begin(names), std::end(names), word) != std::end(names);
}

struct State {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 0;
    Alignment alignment = Alignment::Default;
    int unicodeSkip = 1; // fallback characters that follow each \uN
    bool skip = false;   // inside a destination that is not text
};

class Reader {
  public:
    explicit Reader(QByteArrayView data) : data_(data) {}

    Document read() {
        while (pos_ < data_.size() && !finished_) {
            const unsigned char c = static_cast<unsigned char>(data_[pos_++]);
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                controlSequence();
                break;
            case '\r':
            case '\n':
                break;
            default:
                text(fromWindows1252(c));
                break;
            }
        }
        if (!paragraph_.runs.isEmpty()) endParagraph(lastAlignment_);
        return std::move(document_);
    }

  private:
    void openGroup() {
        if (stack_.size() < kMaxDepth)
            stack_.push_back(state_);
        else
            ++overflowDepth_;
        ++depth_;
        pendingSkip_ = 0;
    }

    void closeGroup() {
        pendingSkip_ = 0;
        if (depth_ == 0) return;
        --depth_;
        if (overflowDepth_ > 0)
            --overflowDepth_;
        else {
            state_ = stack_.back();
            stack_.pop_back();
        }
        // The outermost group is the whole document; what follows it is not read.
        if (depth_ == 0) finished_ = true;
    }

    void controlSequence() {
        if (pos_ >= data_.size()) return;
        const char c = data_[pos_];
        if (isLetter(c)) {
            controlWord();
            return;
        }
        ++pos_;
        switch (c) {
        case '\'':
            hexEscape();
            break;
        case '*':
            state_.skip = true;
            break;
        case '\\':
        case '{':
        case '}':
            text(QChar(c));
            break;
        case '~':
            text(QChar(0x00A0));
            break;
        case '_':
            text(QChar(0x2011));
            break;
        case '\t':
            text(QChar('\t'));
            break;
        case '\r':
        case '\n':
            controlWord("par", false, 0);
            break;
        default:
            break; // optional hyphen, formula character and unknown symbols
        }
    }

    void controlWord() {
        const qsizetype start = pos_;
        while (pos_ < data_.size() && isLetter(data_[pos_]))
            ++pos_;
        const QByteArrayView word =
            data_.sliced(start, std::min<qsizetype>(pos_ - start, kMaxWordLength));

        bool hasParam = false;
        bool negative = false;
        int64_t value = 0;
        if (pos_ < data_.size() && data_[pos_] == '-' && pos_ + 1 < data_.size() &&
            isDigit(data_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        int digits = 0;
        while (pos_ < data_.size() && isDigit(data_[pos_])) {
            if (digits++ < kMaxDigits) value = value * 10 + (data_[pos_] - '0');
            hasParam = true;
            ++pos_;
        }
        if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;
        value = std::clamp<int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX);
        controlWord(word, hasParam, static_cast<int32_t>(value));
    }

    void controlWord(QByteArrayView word, bool hasParam, int32_t param) {
        if (word == "bin") {
            // Raw bytes follow; they are never text, whatever group they are in.
            const qsizetype n = hasParam && param > 0 ? param : 0;
            pos_ += std::min(n, data_.size() - pos_);
            return;
        }
        if (word == "u" && hasParam) {
            unicode(param);
            return;
        }
        if (pendingSkip_ > 0) {
            // A control word standing in as the fallback for a \uN character.
            --pendingSkip_;
            return;
        }
        if (isSkippedDestination(word)) {
            state_.skip = true;
            return;
        }
        const bool on = !hasParam || param != 0;
        if (word == "par" || word == "sect" || word == "page" || word == "row")
            paragraphBreak();
        else if (word == "line")
            text(QChar(0x2028));
        else if (word == "tab" || word == "cell")
            text(QChar('\t'));
        else if (word == "pard")
            state_.alignment = Alignment::Default;
        else if (word == "ql")
            state_.alignment = Alignment::Left;
        else if (word == "qc")
            state_.alignment = Alignment::Center;
        else if (word == "qr")
            state_.alignment = Alignment::Right;
        else if (word == "qj")
            state_.alignment = Alignment::Justify;
        else if (word == "plain") {
            state_.bold = state_.italic = state_.underline = false;
            state_.halfPoints = 0;
        } else if (word == "b")
            state_.bold = on;
        else if (word == "i")
            state_.italic = on;
        else if (word == "ulnone")
            state_.underline = false;
        else if (word.startsWith("ul") && word != "ulc") // \ul and its dotted, double... kinds
            state_.underline = on;
        else if (word == "fs")
            // Half points; the default of 24 when none is given, limited to what a view
            // can lay out sensibly.
            state_.halfPoints = std::clamp(hasParam ? param : 24, 2, 400);
        else if (word == "uc")
            state_.unicodeSkip = std::clamp(param, 0, 10);
        else if (word == "emdash")
            text(QChar(0x2014));
        else if (word == "endash")
            text(QChar(0x2013));
        else if (word == "bullet")
            text(QChar(0x2022));
        else if (word == "lquote")
            text(QChar(0x2018));
        else if (word == "rquote")
            text(QChar(0x2019));
        else if (word == "ldblquote")
            text(QChar(0x201C));
        else if (word == "rdblquote")
            text(QChar(0x201D));
    }

    void hexEscape() {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            if (pos_ >= data_.size()) return;
            const int digit = hexDigit(data_[pos_]);
            if (digit < 0) return; // not an escape after all; the byte is read as usual
            value = value * 16 + digit;
            ++pos_;
        }
        text(fromWindows1252(static_cast<unsigned char>(value)));
    }

    void unicode(int32_t param) {
        // Stored as a signed 16-bit number: negative values stand for 32768 to 65535.
        if (param < 0) param += 65536;
        const bool valid = param > 0 && param <= 0xFFFF;
        const char16_t unit = valid ? static_cast<char16_t>(param) : u'\xFFFD';
        pendingSkip_ = 0;
        if (QChar::isHighSurrogate(unit)) {
            flushHighSurrogate();
            highSurrogate_ = unit;
        } else if (QChar::isLowSurrogate(unit)) {
            // Characters beyond 16 bits come as two escapes, high half then low half.
            const char16_t high = highSurrogate_;
            highSurrogate_ = 0;
            if (high) {
                append(QChar(high));
                append(QChar(unit));
            } else {
                append(QChar(0xFFFD));
            }
        } else {
            put(QChar(unit));
        }
        pendingSkip_ = state_.unicodeSkip;
    }

    void text(QChar c) {
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        put(c);
    }

    // A high surrogate not followed by its low half is shown as a replacement character.
    void put(QChar c) {
        flushHighSurrogate();
        append(c);
    }

    void append(QChar c) {
        if (state_.skip || depth_ == 0) return;
        if (c.unicode() < 0x20 && c != QChar('\t')) return;
        Run format;
        format.bold = state_.bold;
        format.italic = state_.italic;
        format.underline = state_.underline;
        format.halfPoints = state_.halfPoints;
        if (paragraph_.runs.isEmpty() || !paragraph_.runs.back().sameFormat(format))
            paragraph_.runs.push_back(format);
        paragraph_.runs.back().text += c;
        lastAlignment_ = state_.alignment;
    }

    void flushHighSurrogate() {
        if (!highSurrogate_) return;
        highSurrogate_ = 0;
        append(QChar(0xFFFD));
    }

    void paragraphBreak() {
        flushHighSurrogate();
        if (state_.skip || depth_ == 0) return;
        endParagraph(state_.alignment);
    }

    void endParagraph(Alignment alignment) {
        paragraph_.alignment = alignment;
        document_.paragraphs.push_back(std::move(paragraph_));
        paragraph_ = Paragraph();
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    QByteArrayView data_;
    qsizetype pos_ = 0;
    State state_;
    std::vector<State> stack_;
    int depth_ = 0;
    int overflowDepth_ = 0;
    int pendingSkip_ = 0;
    char16_t highSurrogate_ = 0;
    bool finished_ = false;
    Alignment lastAlignment_ = Alignment::Default;
    Paragraph paragraph_;
    Document document_;
};

Document parsePlain(QByteArrayView data) {
    Document document;
    Paragraph paragraph;
    paragraph.runs.push_back(Run());
    auto endLine = [&] {
        if (paragraph.runs.back().text.isEmpty()) paragraph.runs.clear();
        document.paragraphs.push_back(paragraph);
        paragraph = Paragraph();
        paragraph.runs.push_back(Run());
    };
    for (qsizetype i = 0; i < data.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\r') {
            if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
            endLine();
        } else if (c == '\n') {
            endLine();
        } else if (c >= 0x20 || c == '\t') {
            paragraph.runs.back().text += fromWindows1252(c);
        }
    }
    if (!paragraph.runs.back().text.isEmpty()) document.paragraphs.push_back(paragraph);
    return document;
}

} // namespace

QChar fromWindows1252(unsigned char byte) {
    if (byte < 0x80) return QChar(byte);
    const char raw = static_cast<char>(byte);
    const QChar c = QString::fromStdString(kpz::cp1252ToUtf8(std::string_view(&raw, 1))).front();
    // The codec keeps the five bytes Windows-1252 leaves undefined as the C1 controls of the
    // same value, so that stored names survive a round trip; in text they are not characters.
    if (c.unicode() >= 0x80 && c.unicode() < 0xA0) return QChar(QChar::ReplacementCharacter);
    return c;
}

QString Paragraph::text() const {
    QString result;
    for (const Run& run : runs)
        result += run.text;
    return result;
}

QString Document::plainText() const {
    QString result;
    for (const Paragraph& paragraph : paragraphs)
        result += paragraph.text() + '\n';
    return result;
}

Document parse(QByteArrayView data) {
    if (!data.startsWith("{\\rtf")) return parsePlain(data);
    return Reader(data).read();
}

} // namespace rtf
