#include "MailHeader.h"

#include "HeaderCharsets.h"

#include <limits>

// Reads raw header bytes: UTF-8 when they are valid UTF-8, otherwise Shift-JIS with the NEC and
// IBM extensions.
class MailHeader::RawReader {
  public:
    QString read(QByteArrayView bytes, bool utf8) {
        return utf8 ? QString::fromUtf8(bytes) : HeaderCharsets::decodeCp932(bytes);
    }
};

void MailHeader::clear() {
    m_raw.clear();
    m_midLine = false;
}

void MailHeader::addLine(QByteArrayView line, bool complete) {
    if (!m_midLine && !m_raw.isEmpty())
        m_raw.append("\r\n");
    const qsizetype room = kMaxBytes - m_raw.size();
    if (room > 0)
        m_raw.append(line.first(qMin(room, line.size())));
    m_midLine = !complete;
}

QString MailHeader::rawText() const {
    QString out;
    out.reserve(m_raw.size());
    const QByteArrayView raw(m_raw);
    RawReader reader;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = raw.indexOf("\r\n", pos);
        const QByteArrayView line = raw.sliced(pos, (eol < 0 ? raw.size() : eol) - pos);
        out += reader.read(line, line.isValidUtf8());
        if (eol < 0)
            return out;
        out += u"\r\n";
        pos = eol + 2;
    }
}

QString MailHeader::field(QByteArrayView name) const {
    QByteArray value;
    bool inField = false;
    const QByteArrayView raw(m_raw);
    qsizetype pos = 0;
    while (pos < raw.size()) {
        qsizetype eol = raw.indexOf("\r\n", pos);
        if (eol < 0)
            eol = raw.size();
        const QByteArrayView line = raw.sliced(pos, eol - pos);
        pos = eol + 2;
        if (inField) {
            if (!line.isEmpty() && (line[0] == ' ' || line[0] == '\t')) {
                value.append(line); // a folded continuation keeps its blank
                continue;
            }
            break;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        if (line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            value = line.sliced(colon + 1).toByteArray();
            inField = true;
        }
    }
    return decodeWords(value.trimmed());
}

namespace {

QByteArray decodeQ(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && isxdigit(uchar(text[i + 1])) &&
                   isxdigit(uchar(text[i + 2]))) {
            out.append(char(QByteArray::fromHex(text.sliced(i + 1, 2).toByteArray()).at(0)));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

// Where a needle next occurs at or after a position. Asked with positions that only grow, it
// looks at each byte about once, so a value full of "=?" that never end is not searched to its
// end again from every one of them.
class NextOf {
  public:
    NextOf(QByteArrayView text, QByteArrayView needle) : m_text(text), m_needle(needle) {}
    qsizetype at(qsizetype pos) {
        if (pos < m_searchedFrom || (m_found >= 0 && m_found < pos)) {
            m_searchedFrom = pos;
            m_found = m_text.indexOf(m_needle, pos);
        }
        return m_found;
    }

  private:
    QByteArrayView m_text;
    QByteArrayView m_needle;
    qsizetype m_searchedFrom = std::numeric_limits<qsizetype>::max();
    qsizetype m_found = -1;
};

struct WordFinders {
    explicit WordFinders(QByteArrayView text)
        : question(text, "?"), end(text, "?="), space(text, " "), tab(text, "\t") {}
    NextOf question;
    NextOf end;
    NextOf space;
    NextOf tab;
};

// One encoded word at text[pos] ("=?cs?e?data?="); its decoded text and end, or false.
bool decodeWord(QByteArrayView text, qsizetype pos, WordFinders& find, QString& decoded,
                qsizetype& end) {
    const qsizetype q1 = find.question.at(pos + 2);
    if (q1 < 0 || q1 + 2 >= text.size() || text[q1 + 2] != '?')
        return false;
    const qsizetype q3 = find.end.at(q1 + 3);
    if (q3 < 0)
        return false;
    // An encoded word holds no blank.
    const qsizetype space = find.space.at(pos);
    const qsizetype tab = find.tab.at(pos);
    if ((space >= 0 && space < q3) || (tab >= 0 && tab < q3))
        return false;
    QByteArray charset = text.sliced(pos + 2, q1 - pos - 2).toByteArray();
    if (const qsizetype star = charset.indexOf('*'); star >= 0)
        charset.truncate(star); // RFC 2231 language suffix
    const char encoding = char(QChar::toUpper(uint(uchar(text[q1 + 1]))));
    const QByteArrayView data = text.sliced(q1 + 3, q3 - q1 - 3);
    QByteArray bytes;
    if (encoding == 'B') {
        auto result = QByteArray::fromBase64Encoding(data.toByteArray(),
                                                     QByteArray::AbortOnBase64DecodingErrors);
        if (!result)
            return false;
        bytes = result.decoded;
    } else if (encoding == 'Q') {
        bytes = decodeQ(data);
    } else {
        return false;
    }
    std::optional<QString> got = HeaderCharsets::decode(charset, bytes);
    if (!got)
        return false;
    decoded = std::move(*got);
    end = q3 + 2;
    return true;
}

} // namespace

QString MailHeader::decodeWords(QByteArrayView value) {
    const bool utf8 = value.isValidUtf8();
    RawReader reader;
    const auto plain = [&](QByteArrayView bytes) { return reader.read(bytes, utf8); };
    QString out;
    qsizetype pos = 0;
    qsizetype plainStart = 0;
    bool lastWasWord = false;
    WordFinders find(value);
    NextOf nextStart(value, "=?");
    while (pos < value.size()) {
        const qsizetype start = nextStart.at(pos);
        if (start < 0)
            break;
        QString decoded;
        qsizetype end = 0;
        if (!decodeWord(value, start, find, decoded, end)) {
            pos = start + 2;
            continue;
        }
        const QByteArrayView between = value.sliced(plainStart, start - plainStart);
        // Blanks between two encoded words are not part of the text.
        if (!(lastWasWord && between.trimmed().isEmpty()))
            out += plain(between);
        out += decoded;
        lastWasWord = true;
        pos = plainStart = end;
    }
    out += plain(value.sliced(plainStart));
    return out;
}
