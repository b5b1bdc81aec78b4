#include "ProfileFile.h"

#include "Cp932.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

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

// A line of the file as offsets into its bytes, so that a file of many short lines costs no
// more than its bytes: text is [begin, textEnd), the line end ("\r\n", "\n", "\r" or none at
// the end of the file) is [textEnd, next).
struct Line {
    qsizetype begin = 0;
    qsizetype textEnd = 0;
    qsizetype next = 0;
};

// CR LF, LF and a lone CR each end a line, as in files written or edited on Windows. Neither
// byte is ever the second byte of a cp932 character.
bool nextLine(const QByteArray& bytes, qsizetype& pos, Line& line) {
    const qsizetype size = bytes.size();
    if (pos >= size)
        return false;
    const char* data = bytes.constData();
    line.begin = pos;
    const char* end =
        std::find_if(data + pos, data + size, [](char c) { return c == '\r' || c == '\n'; });
    line.textEnd = end - data;
    line.next = line.textEnd;
    if (line.next < size) {
        const bool crLf =
            data[line.next] == '\r' && line.next + 1 < size && data[line.next + 1] == '\n';
        line.next += crLf ? 2 : 1;
    }
    pos = line.next;
    return true;
}

enum class Kind { Section, Key, Other };

// What a line is, cheaply; names and values are taken only from the lines that matter.
Kind kindOf(QByteArrayView text, qsizetype* first) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    *first = i;
    if (i == text.size() || text.at(i) == ';')
        return Kind::Other;
    if (text.at(i) == '[')
        return Kind::Section;
    // '=' is never the second byte of a cp932 character.
    return text.indexOf('=', i) < 0 ? Kind::Other : Kind::Key;
}

QString sectionName(QByteArrayView text, qsizetype first) {
    // Decoded before looking for ']', which can be the second byte of a cp932 character.
    const QString rest = Cp932::decode(text.sliced(first + 1).toByteArray());
    const qsizetype close = rest.indexOf(u']');
    return trimBlanks(close < 0 ? rest : rest.left(close));
}

QByteArray keyBytes(QByteArrayView text, qsizetype first) {
    return trimBlanks(text.sliced(first, text.indexOf('=', first) - first).toByteArray());
}

QByteArray valueBytes(QByteArrayView text) {
    return trimBlanks(text.sliced(text.indexOf('=') + 1).toByteArray());
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section and a key of it stand in a file.
struct Place {
    Line section;
    bool hasSection = false;
    Line key;
    bool hasKey = false;
    Line lastFilled; // the section's last line that is not blank
};

// Only the first section of the name and the first key of the name within it count.
Place find(const QByteArray& bytes, const QString& section, const QString& key) {
    Place place;
    qsizetype pos = 0;
    Line line;
    while (nextLine(bytes, pos, line)) {
        const QByteArrayView text(bytes.constData() + line.begin, line.textEnd - line.begin);
        qsizetype first = 0;
        const Kind kind = kindOf(text, &first);
        if (!place.hasSection) {
            if (kind == Kind::Section && sameName(sectionName(text, first), section)) {
                place.section = place.lastFilled = line;
                place.hasSection = true;
            }
            continue;
        }
        if (kind == Kind::Section)
            break;
        if (std::any_of(text.begin(), text.end(), [](char c) { return !isBlank(c); }))
            place.lastFilled = line;
        if (!place.hasKey && kind == Kind::Key &&
            sameName(Cp932::decode(keyBytes(text, first)), key)) {
            place.key = line;
            place.hasKey = true;
        }
    }
    return place;
}

QByteArrayView textOf(const QByteArray& bytes, const Line& line) {
    return QByteArrayView(bytes.constData() + line.begin, line.textEnd - line.begin);
}

std::optional<QByteArray> readValue(const QString& section, const QString& key,
                                    const QString& path) {
    // Anything but a readable regular file reads as a missing one.
    const SafeFile::Contents file = SafeFile::readRegularFile(path);
    if (file.found != SafeFile::Found::Read)
        return std::nullopt;
    const Place place = find(file.bytes, trimBlanks(section), trimBlanks(key));
    if (!place.hasKey)
        return std::nullopt;
    QByteArray value = valueBytes(textOf(file.bytes, place.key));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

void setValue(QByteArray& bytes, const QByteArray& section, const QString& sectionName,
              const QByteArray& key, const QString& keyName, const QByteArray& value) {
    const Place place = find(bytes, sectionName, keyName);
    if (!place.hasSection) {
        if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r'))
            bytes += kCrLf;
        bytes += '[' + section + ']' + kCrLf + key + '=' + value + kCrLf;
        return;
    }
    if (place.hasKey) {
        // The key keeps the spelling it has in the file.
        const Line& line = place.key;
        qsizetype first = 0;
        kindOf(textOf(bytes, line), &first);
        const QByteArray end =
            line.textEnd == line.next ? kCrLf : bytes.mid(line.textEnd, line.next - line.textEnd);
        bytes.replace(line.begin, line.next - line.begin,
                      keyBytes(textOf(bytes, line), first) + '=' + value + end);
        return;
    }
    // A new key goes after the last line of the section that is not blank.
    const Line& after = place.lastFilled;
    QByteArray added = key + '=' + value + kCrLf;
    if (after.textEnd == after.next)
        added.prepend(kCrLf);
    bytes.insert(after.next, added);
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

    // A file that is not read (too big, unreadable) reads as missing, so a save starts afresh
    // rather than fail for good; replaceFile still refuses anything but a regular file.
    const SafeFile::Contents old = SafeFile::readRegularFile(path);
    QByteArray bytes = old.found == SafeFile::Found::Read ? old.bytes : QByteArray();
    for (const Entry& e : encoded)
        setValue(bytes, *sectionBytes, sectionName, e.key, e.name, e.value);
    return SafeFile::replaceFile(path, bytes, permissions) ? WriteStatus::Written
                                                           : WriteStatus::Failed;
}

} // namespace ProfileFile
