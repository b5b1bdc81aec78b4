#include "ServerSettings.h"

#include "Cp932.h"
#include "ProfileFile.h"
#include "ProgramFolders.h"
#include "SafeFile.h"

#include <QStringList>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

constexpr qsizetype kValueLength = 100;

// The text of the file split into lines. CR LF and a lone CR end a line as on Windows; a
// lone LF does too, so that a file edited with a Unix editor still reads line by line.
QStringList fileLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

qint16 flagFromNumber(double value) {
    // Halves go to the even neighbour, as the Windows version's conversion to a 16-bit integer
    // does.
    const double r = std::nearbyint(value);
    if (r == 0)
        return 0;
    if (r >= -32768.0 && r <= 32767.0)
        return qint16(r);
    return 1;
}

// "&H" hexadecimal and "&O" octal numbers: up to &HFFFF they read as a 16-bit pattern,
// above as a 32-bit one.
std::optional<double> radixNumber(const QString& s) {
    if (s.size() < 2 || s.at(0) != u'&')
        return std::nullopt;
    int base = 8;
    qsizetype i = 1;
    if (s.at(1) == u'H' || s.at(1) == u'h') {
        base = 16;
        i = 2;
    } else if (s.at(1) == u'O' || s.at(1) == u'o') {
        i = 2;
    }
    quint64 value = 0;
    bool overflow = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s.at(i).unicode();
        const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                          : c >= u'a' && c <= u'f' ? c - u'a' + 10
                          : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                   : 99;
        if (digit >= base)
            break;
        value = value * quint64(base) + quint64(digit);
        if (value > 0xFFFFFFFFull)
            overflow = true;
    }
    if (overflow)
        return 1.0e10;
    if (value <= 0xFFFF)
        return double(qint16(quint16(value)));
    return double(qint32(quint32(value)));
}

} // namespace

qint16 apopFlagFromText(const QString& text) {
    QString s;
    for (const QChar c : text)
        if (c != u' ' && c != u'\t' && c != u'\n')
            s.append(c);
    if (const std::optional<double> radix = radixNumber(s))
        return flagFromNumber(*radix);

    // Collect the longest start that is a decimal number: sign, digits, point, digits, exponent.
    QByteArray number;
    qsizetype i = 0;
    auto digitAt = [&](qsizetype at) {
        return at < s.size() && s.at(at) >= u'0' && s.at(at) <= u'9';
    };
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        number += char(s.at(i++).unicode());
    bool anyDigit = false;
    while (digitAt(i)) {
        number += char(s.at(i++).unicode());
        anyDigit = true;
    }
    if (i < s.size() && s.at(i) == u'.') {
        number += '.';
        ++i;
        while (digitAt(i)) {
            number += char(s.at(i++).unicode());
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    if (i < s.size() && QStringLiteral("EeDd").contains(s.at(i))) {
        qsizetype j = i + 1;
        QByteArray exponent("e");
        if (j < s.size() && (s.at(j) == u'+' || s.at(j) == u'-'))
            exponent += char(s.at(j++).unicode());
        if (digitAt(j)) {
            while (digitAt(j))
                exponent += char(s.at(j++).unicode());
            number += exponent;
        }
    }
    return flagFromNumber(std::strtod(number.constData(), nullptr));
}

QString serverSettingsFilePath() {
    return ProgramFolders::serverSettings() + u'/' + QString::fromLatin1(kServerSettingsFile);
}

void loadServerSettings(ServerSettings& settings) {
    // Anything but a readable regular file counts as a missing one.
    const SafeFile::Contents file = SafeFile::readRegularFile(serverSettingsFilePath());
    if (file.found != SafeFile::Found::Read)
        return;
    const QStringList lines = fileLines(Cp932::decode(file.bytes));
    for (const QString& line : lines) {
        const QStringView head = QStringView(line).left(5);
        const QString value = line.mid(5, kValueLength);
        if (head == u"SMTP=")
            settings.smtpServer = value;
        else if (head == u"POP3=")
            settings.pop3Server = value;
        else if (head == u"MAIL=")
            settings.mailAddress = value;
        else if (head == u"APOP=")
            settings.apopFlag = apopFlagFromText(value);
    }
}

SaveResult saveServerSettings(const ServerSettings& settings) {
    const QString text =
        QStringLiteral("SMTP=") + settings.smtpServer + QStringLiteral("\r\nPOP3=") +
        settings.pop3Server + QStringLiteral("\r\nMAIL=") + settings.mailAddress +
        QStringLiteral("\r\nAPOP=") + QString::number(settings.apopFlag) + QStringLiteral("\r\n");
    for (const QString* v : {&settings.smtpServer, &settings.pop3Server, &settings.mailAddress})
        if (!ProfileFile::canStore(*v))
            return SaveResult::Unencodable;
    const std::optional<QByteArray> bytes = Cp932::encode(text);
    if (!bytes)
        return SaveResult::Unencodable;
    return SafeFile::replaceFile(serverSettingsFilePath(), *bytes) ? SaveResult::Saved
                                                                   : SaveResult::Failed;
}
