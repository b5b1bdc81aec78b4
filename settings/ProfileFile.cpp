#include "ProfileFile.h"

#include "Cp932.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>

namespace ProfileFile {
namespace {

const QByteArray kCrLf("\r\n");

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

QByteArray trimBlanks(const QByteArray& bytes) {
    qsizetype b = 0;
    qsizetype e = bytes.size();
    while (b < e && isBlank(bytes.at(b)))
        ++b;
    // Blanks and control bytes below 0x40 are never the second byte of a cp932 character, so a
    // blank at the end is a blank.
    while (e > b && isBlank(bytes.at(e - 1)))
        --e;
    return bytes.mid(b, e - b);
}

QString trimBlanks(const QString& text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\v'; };
    while (b < e && blank(text.at(b)))
        ++b;
    while (e > b && blank(text.at(e - 1)))
        --e;
    return text.mid(b, e - b);
}

enum class Kind { Section, Key, Other };

struct Line {
    QByteArray text; // without the line end
    QByteArray end;  // "\r\n", "\n" or "" for a last line without one
    Kind kind = Kind::Other;
    QString name;          // section or key name, trimmed, decoded
    QByteArray keyBytes;   // key name as in the file, trimmed
    QByteArray valueBytes; // value as in the file, trimmed
};

Line classify(QByteArray text, QByteArray end) {
    Line line;
    line.text = std::move(text);
    line.end = std::move(end);
    qsizetype i = 0;
    while (i < line.text.size() && (isBlank(line.text.at(i)) || line.text.at(i) == '\r'))
        ++i;
    if (i == line.text.size())
        return line;
    const char first = line.text.at(i);
    if (first == '[') {
        // Decoded before looking for ']', which can be the second byte of a cp932 character.
        const QString rest = Cp932::decode(line.text.mid(i + 1));
        const qsizetype close = rest.indexOf(u']');
        line.kind = Kind::Section;
        line.name = trimBlanks(close < 0 ? rest : rest.left(close));
        return line;
    }
    if (first == ';')
        return line;
    // '=' is never the second byte of a cp932 character.
    const qsizetype eq = line.text.indexOf('=', i);
    if (eq < 0)
        return line;
    line.kind = Kind::Key;
    line.keyBytes = trimBlanks(line.text.mid(i, eq - i));
    line.name = Cp932::decode(line.keyBytes);
    line.valueBytes = trimBlanks(line.text.mid(eq + 1));
    // A CR left over from a CR CR LF end is not part of the value.
    while (line.valueBytes.endsWith('\r'))
        line.valueBytes.chop(1);
    line.valueBytes = trimBlanks(line.valueBytes);
    return line;
}

QList<Line> parse(const QByteArray& bytes) {
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', pos);
        if (lf < 0) {
            lines.append(classify(bytes.mid(pos), QByteArray()));
            break;
        }
        qsizetype textEnd = lf;
        if (textEnd > pos && bytes.at(textEnd - 1) == '\r')
            --textEnd;
        lines.append(classify(bytes.mid(pos, textEnd - pos), bytes.mid(textEnd, lf + 1 - textEnd)));
        pos = lf + 1;
    }
    return lines;
}

QByteArray serialize(const QList<Line>& lines) {
    QByteArray out;
    for (const Line& l : lines) {
        out += l.text;
        out += l.end;
    }
    return out;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

qsizetype findSection(const QList<Line>& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Kind::Section && sameName(lines[i].name, section))
            return i;
    return -1;
}

// The index of the first key of that name in the section that starts at sectionLine, or -1.
qsizetype findKey(const QList<Line>& lines, qsizetype sectionLine, const QString& key) {
    for (qsizetype i = sectionLine + 1; i < lines.size() && lines[i].kind != Kind::Section; ++i)
        if (lines[i].kind == Kind::Key && sameName(lines[i].name, key))
            return i;
    return -1;
}

std::optional<QByteArray> readValue(const QString& section, const QString& key,
                                    const QString& path) {
    // Anything but a readable regular file reads as a missing one.
    const SafeFile::Contents file = SafeFile::readRegularFile(path);
    if (file.found != SafeFile::Found::Read)
        return std::nullopt;
    const QList<Line> lines = parse(file.bytes);
    const qsizetype s = findSection(lines, trimBlanks(section));
    if (s < 0)
        return std::nullopt;
    const qsizetype k = findKey(lines, s, trimBlanks(key));
    if (k < 0)
        return std::nullopt;
    QByteArray value = lines[k].valueBytes;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

void setValue(QList<Line>& lines, const QByteArray& section, const QString& sectionName,
              const QByteArray& key, const QString& keyName, const QByteArray& value) {
    const qsizetype s = findSection(lines, sectionName);
    if (s < 0) {
        if (!lines.isEmpty() && lines.back().end.isEmpty())
            lines.back().end = kCrLf;
        lines.append(classify('[' + section + ']', kCrLf));
        lines.append(classify(key + '=' + value, kCrLf));
        return;
    }
    const qsizetype k = findKey(lines, s, keyName);
    if (k >= 0) {
        // The key keeps the spelling it has in the file.
        Line& line = lines[k];
        line = classify(line.keyBytes + '=' + value, line.end.isEmpty() ? kCrLf : line.end);
        return;
    }
    // A new key goes after the last line of the section that is not blank.
    qsizetype after = s;
    for (qsizetype i = s + 1; i < lines.size() && lines[i].kind != Kind::Section; ++i)
        if (!trimBlanks(lines[i].text).isEmpty())
            after = i;
    if (lines[after].end.isEmpty())
        lines[after].end = kCrLf;
    lines.insert(after + 1, classify(key + '=' + value, kCrLf));
}

// RtlCharToInteger: blanks, a sign, an optional 0x / 0o / 0b base prefix, then digits up to the
// first one that does not belong; wraps at 32 bits.
qint32 toInteger(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && quint8(text.at(i)) <= ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text.at(i) == '0') {
        const char p = text.at(i + 1);
        if (p == 'x' || p == 'X')
            base = 16;
        else if (p == 'o' || p == 'O')
            base = 8;
        else if (p == 'b' || p == 'B')
            base = 2;
        if (base != 10)
            i += 2;
    }
    quint32 value = 0;
    for (; i < text.size(); ++i) {
        const char c = text.at(i);
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        value = value * quint32(base) + quint32(digit);
    }
    if (negative)
        value = 0u - value;
    return qint32(value);
}

} // namespace

bool canStore(const QString& text) {
    for (const QChar c : text)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return false;
    return Cp932::encode(text).has_value();
}

QString protectForRead(const QString& text) {
    if (text.isEmpty())
        return text;
    auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\v'; };
    const QChar first = text.front();
    const bool quoted =
        text.size() >= 2 && (first == u'"' || first == u'\'') && text.back() == first;
    if (blank(first) || blank(text.back()) || quoted)
        return u'"' + text + u'"';
    return text;
}

QString getString(const QString& section, const QString& key, const QString& defaultValue,
                  const QString& path, int bufferSize) {
    if (bufferSize <= 0)
        return QString();
    const std::optional<QByteArray> value = readValue(section, key, path);
    if (!value) {
        // The platform drops trailing blanks of the default and cuts it to the buffer too.
        QString d = defaultValue;
        while (d.endsWith(u' '))
            d.chop(1);
        return d.left(bufferSize - 1);
    }
    return Cp932::decode(Cp932::cutAtCharBoundary(*value, bufferSize - 1));
}

qint32 getInt(const QString& section, const QString& key, qint32 defaultValue,
              const QString& path) {
    const std::optional<QByteArray> value = readValue(section, key, path);
    if (!value || value->isEmpty())
        return defaultValue;
    return toInteger(*value);
}

WriteStatus writeString(const QString& section, const QString& key, const QString& value,
                        const QString& path, std::optional<QFileDevice::Permissions> permissions) {
    return writeStrings(section, {{key, value}}, path, permissions);
}

WriteStatus writeStrings(const QString& section, const QList<QPair<QString, QString>>& entries,
                         const QString& path, std::optional<QFileDevice::Permissions> permissions) {
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return WriteStatus::FolderMissing;

    // Names are written without the spaces around them, values exactly as given.
    const QString sectionName = section.trimmed();
    if (!canStore(sectionName))
        return WriteStatus::Unencodable;
    const std::optional<QByteArray> sectionBytes = Cp932::encode(sectionName);
    if (!sectionBytes)
        return WriteStatus::Unencodable;
    struct Entry {
        QString name;
        QByteArray key;
        QByteArray value;
    };
    QList<Entry> encoded;
    for (const auto& [k, v] : entries) {
        const QString keyName = k.trimmed();
        if (!canStore(keyName) || !canStore(v))
            return WriteStatus::Unencodable;
        const std::optional<QByteArray> keyBytes = Cp932::encode(keyName);
        const std::optional<QByteArray> valueBytes = Cp932::encode(v);
        if (!keyBytes || !valueBytes)
            return WriteStatus::Unencodable;
        encoded.append({keyName, *keyBytes, *valueBytes});
    }

    // A file that cannot be read whole is not replaced: its other lines would be lost.
    const SafeFile::Contents old = SafeFile::readRegularFile(path);
    if (old.found == SafeFile::Found::Refused)
        return WriteStatus::Failed;
    QList<Line> lines = parse(old.bytes);
    for (const Entry& e : encoded)
        setValue(lines, *sectionBytes, sectionName, e.key, e.name, e.value);
    return SafeFile::replaceFile(path, serialize(lines), permissions) ? WriteStatus::Written
                                                                      : WriteStatus::Failed;
}

} // namespace ProfileFile
