#include "HeaderCharsets.h"

#include <QByteArray>
#include <QStringDecoder>
#include <string>

#include <windows.h>

namespace HeaderCharsets {
namespace {

constexpr UINT kCp932 = 932;

// The MIME names of the sets mail headers use beside Unicode and Latin-1, and the Windows code
// page of each; a page the system lacks counts as unknown.
struct CodePageName {
    const char* name;
    UINT page;
};
constexpr CodePageName kCodePages[] = {
    {"shift_jis", kCp932},  {"shift-jis", kCp932},  {"sjis", kCp932},        {"x-sjis", kCp932},
    {"ms_kanji", kCp932},   {"csshiftjis", kCp932}, {"windows-31j", kCp932}, {"cp932", kCp932},
    {"euc-jp", 20932},      {"x-euc-jp", 20932},    {"us-ascii", 20127},     {"ascii", 20127},
    {"gb2312", 936},        {"gbk", 936},           {"cp936", 936},          {"gb18030", 54936},
    {"big5", 950},          {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"koi8-r", 20866},
    {"koi8-u", 21866},      {"iso-8859-2", 28592},  {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},  {"iso-8859-6", 28596},  {"iso-8859-7", 28597},   {"iso-8859-8", 28598},
    {"iso-8859-9", 28599},  {"iso-8859-13", 28603}, {"iso-8859-15", 28605},  {"windows-1250", 1250},
    {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253},  {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257},  {"windows-1258", 1258},
    {"tis-620", 874},
};

QString decodeStrict(UINT page, DWORD flags, const char* bytes, int length) {
    const int n = MultiByteToWideChar(page, flags, bytes, length, nullptr, 0);
    if (n <= 0)
        return QString();
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(page, flags, bytes, length, wide.data(), n);
    return QString::fromStdWString(wide);
}

// The text of bytes in a code page; what is not of the page reads as U+FFFD, a character at a
// time where the page's characters have one or two bytes.
QString decodeCodePage(UINT page, QByteArrayView bytes) {
    if (bytes.isEmpty())
        return QString();
    const int length = int(bytes.size()); // a header is at most 64 KiB
    QString whole = decodeStrict(page, MB_ERR_INVALID_CHARS, bytes.data(), length);
    if (!whole.isEmpty())
        return whole;
    CPINFO info;
    if (!GetCPInfo(page, &info) || info.MaxCharSize > 2)
        return decodeStrict(page, 0, bytes.data(), length); // Windows' own replacements
    QString out;
    for (qsizetype i = 0; i < bytes.size();) {
        const int n =
            info.MaxCharSize == 2 && IsDBCSLeadByteEx(page, BYTE(bytes[i])) && i + 1 < bytes.size()
                ? 2
                : 1;
        const QString one = decodeStrict(page, MB_ERR_INVALID_CHARS, bytes.data() + i, n);
        if (one.isEmpty()) {
            out += QChar::ReplacementCharacter;
            ++i;
        } else {
            out += one;
            i += n;
        }
    }
    return out;
}

// ISO-2022-JP (RFC 1468) by hand, as Windows has it only in a separate converter library that
// Wine lacks: ASCII, JIS X 0201 Roman and katakana, and JIS X 0208, whose rows map onto
// Shift-JIS by arithmetic. Characters of sets cp932 does not hold (JIS X 0212) read as U+FFFD.
QString decodeIso2022Jp(QByteArrayView bytes) {
    enum class Set { Ascii, Roman, Kana, Jis0208, Unknown };
    Set set = Set::Ascii;
    QString out;
    QByteArray shiftJis;
    const auto flush = [&] {
        out += decodeCodePage(kCp932, shiftJis);
        shiftJis.clear();
    };
    const auto escape = [&](qsizetype i, qsizetype* length) {
        const QByteArrayView rest = bytes.sliced(i);
        struct Designation {
            const char* bytes;
            Set set;
        };
        static constexpr Designation kDesignations[] = {
            {"\x1b(B", Set::Ascii},   {"\x1b(J", Set::Roman},    {"\x1b(I", Set::Kana},
            {"\x1b$@", Set::Jis0208}, {"\x1b$B", Set::Jis0208},  {"\x1b$(D", Set::Unknown},
            {"\x1b$A", Set::Unknown}, {"\x1b$(C", Set::Unknown},
        };
        for (const Designation& d : kDesignations) {
            if (rest.startsWith(d.bytes)) {
                *length = qsizetype(qstrlen(d.bytes));
                set = d.set;
                return true;
            }
        }
        return false;
    };
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = uchar(bytes[i]);
        qsizetype length = 0;
        if (b == 0x1b && escape(i, &length)) {
            i += length;
            continue;
        }
        const bool graphic = b >= 0x21 && b <= 0x7e;
        if ((set == Set::Jis0208 || set == Set::Unknown) && graphic) {
            const auto b2 = i + 1 < bytes.size() ? uchar(bytes[i + 1]) : 0;
            if (b2 >= 0x21 && b2 <= 0x7e && set == Set::Jis0208) {
                const int lead = (b - 0x21) / 2 + 0x81;
                shiftJis += char(lead > 0x9f ? lead + 0x40 : lead);
                shiftJis += char(b % 2 ? b2 + (b2 >= 0x60 ? 0x20 : 0x1f) : b2 + 0x7e);
            } else {
                flush();
                out += QChar::ReplacementCharacter;
            }
            i += b2 >= 0x21 && b2 <= 0x7e ? 2 : 1;
            continue;
        }
        flush();
        if (b >= 0x80)
            out += QChar::ReplacementCharacter;
        else if (set == Set::Kana && b <= 0x5f && graphic)
            out += QChar(0xff61 + b - 0x21);
        else if (set == Set::Roman && b == 0x5c)
            out += QChar(0xa5);
        else if (set == Set::Roman && b == 0x7e)
            out += QChar(0x203e);
        else
            out += QLatin1Char(char(b));
        ++i;
    }
    flush();
    return out;
}

} // namespace

std::optional<QString> decode(QByteArrayView charset, QByteArrayView bytes) {
    const QByteArray name = charset.toByteArray().toLower();
    // Qt's own: the Unicode forms and Latin-1 (never "System", which names no MIME set).
    const auto own = QStringConverter::encodingForName(name.constData());
    if (own && *own != QStringConverter::System)
        return QStringDecoder(*own).decode(bytes);
    if (name == "iso-2022-jp" || name == "csiso2022jp")
        return decodeIso2022Jp(bytes);
    for (const CodePageName& known : kCodePages) {
        if (name == known.name)
            return IsValidCodePage(known.page) ? std::optional(decodeCodePage(known.page, bytes))
                                               : std::nullopt;
    }
    return std::nullopt;
}

QString decodeCp932(QByteArrayView bytes) {
    return decodeCodePage(kCp932, bytes);
}

} // namespace HeaderCharsets
