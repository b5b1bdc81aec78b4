// Our settings module against the Windows profile functions themselves (GetPrivateProfileStringA,
// GetPrivateProfileIntA, WritePrivateProfileStringA), under Wine with the Japanese code page:
// thousands of random reads and writes on twin files that start alike (sections, keys, values,
// quotes, blanks, cp932 text, CR LF, LF and lone CR line ends, long values, missing files). Each
// operation's result and, after a write, the file's bytes are compared; the differences are
// counted by kind, and those left are the ones the README names, with their reasons.

#include "Cp932.h"
#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray native(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit();
}

class Random {
  public:
    explicit Random(quint32 start) : m_gen(start) {}
    int below(int n) { return int(m_gen.bounded(quint32(n))); }
    template <typename T> const T& pick(const QList<T>& list) {
        return list.at(below(int(list.size())));
    }

  private:
    QRandomGenerator m_gen;
};

const QList<QByteArray> kSections{"EXEINI", "exeini", "Other", "\x90\xDD\x92\xE8" /* 設定 */,
                                  "Empty"};
const QList<QByteArray> kKeys{"NAME", "name", "NAME2", "NUMBER", "Key", "\x8E\x52" /* 山 */};
const QList<QByteArray> kValues{"",
                                "abc",
                                "  spaced  ",
                                "\"quoted\"",
                                "\" quoted blanks \"",
                                "'single'",
                                "\"unbalanced",
                                "a\"b\"",
                                "\x8E\x52\x93\x63\x91\xBE\x98\x59" /* 山田太郎 */,
                                "\x95\x5C" /* 表 */,
                                "\x81\x9A MailData",
                                "1",
                                "-5",
                                "12abc",
                                " 42 ",
                                "0x10",
                                "2147483648",
                                "=x",
                                "a;b",
                                "[x]"};

QByteArray randomValue(Random& r) {
    if (r.below(10) == 0)
        return QByteArray(250 + r.below(60), char('a' + r.below(26)));
    if (r.below(12) == 0) {
        QByteArray longCp932;
        for (int i = 0, n = 120 + r.below(20); i < n; ++i)
            longCp932 += "\x82\xA0"; // あ
        return longCp932;
    }
    return r.pick(kValues);
}

QByteArray randomFile(Random& r) {
    const QList<QByteArray> ends{"\r\n", "\n", "\r"};
    const QByteArray end = r.pick(ends);
    QByteArray file;
    for (int i = 0, lines = r.below(12); i < lines; ++i) {
        switch (r.below(7)) {
        case 0:
            file += "[" + r.pick(kSections) + "]";
            break;
        case 1:
            file += "  [" + r.pick(kSections) + "]  ";
            break;
        case 2:
            file += "";
            break;
        case 3:
            file += ";comment";
            break;
        case 4:
            file += " " + r.pick(kKeys) + " = " + randomValue(r);
            break;
        default:
            file += r.pick(kKeys) + "=" + randomValue(r);
            break;
        }
        file += r.below(6) == 0 ? r.pick(ends) : end;
    }
    if (r.below(4) == 0)
        file.chop(qMin<qsizetype>(file.size(), 1 + r.below(2))); // no line end at the end
    return file;
}

// A line that opens a section and never closes its bracket ("[EXEINI" at the end of a cut-off
// file): the settings module takes it for the section, Wine for no section at all.
bool hasUnclosedSection(QByteArray file) {
    file.replace("\r\n", "\n").replace('\r', '\n');
    for (const QByteArray& line : file.split('\n')) {
        const QByteArray t = line.trimmed();
        if (t.startsWith('[') && !t.contains(']'))
            return true;
    }
    return false;
}

} // namespace

class TestProfileDifferential : public QObject {
    Q_OBJECT
  private slots:
    void againstTheProfileFunctions();
};

void TestProfileDifferential::againstTheProfileFunctions() {
    if (GetACP() != 932)
        QSKIP("the ANSI code page is not 932 (run with LC_ALL=ja_JP.UTF-8)");
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.ini"));
    const QString theirs = dir.filePath(QStringLiteral("theirs.ini"));
    const QByteArray theirsNative = native(theirs);
    Random r(20261210);
    QMap<QString, int> operations, differences;
    QStringList shown;
    auto differ = [&](const QString& kind, const QString& what) {
        if (++differences[kind] <= 5)
            shown << kind + QStringLiteral(": ") + what;
    };
    // What the platform reads from a file, every name of the pools: two files that read alike
    // differ only in their layout.
    auto readsOf = [&](const QString& path) {
        const QByteArray file = native(path);
        QByteArrayList values;
        for (const QByteArray& section : kSections)
            for (const QByteArray& key : kKeys) {
                char buffer[256];
                const DWORD n =
                    GetPrivateProfileStringA(section.constData(), key.constData(), "<none>", buffer,
                                             sizeof buffer, file.constData());
                // Wine's split double-byte character at the buffer's end (see below) leaves
                // its own leftover byte there: the last byte says nothing.
                values << QByteArray(buffer, qsizetype(n)).left(254);
            }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.constData());
        return values;
    };

    const int rounds = 600;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(ours);
        QFile::remove(theirs);
        // The platform caches the file it read last; a new file of the same name is read anew.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, theirsNative.constData());
        const bool missing = r.below(8) == 0;
        QByteArray start;
        if (!missing) {
            start = randomFile(r);
            writeAll(ours, start);
            writeAll(theirs, start);
        }
        for (int op = 0, ops = 1 + r.below(8); op < ops; ++op) {
            const QByteArray section = r.pick(kSections);
            const QByteArray key = r.pick(kKeys);
            const QString s = Cp932::decode(section), k = Cp932::decode(key);
            const QString context =
                QStringLiteral("file %1 [%2] %3")
                    .arg(QString::fromLatin1(start.toHex(' ')),
                         QString::fromLatin1(section.toHex()), QString::fromLatin1(key.toHex()));
            switch (r.below(3)) {
            case 0: {
                ++operations[QStringLiteral("GetPrivateProfileStringA")];
                char buffer[256];
                const DWORD n =
                    GetPrivateProfileStringA(section.constData(), key.constData(), "DEF", buffer,
                                             sizeof buffer, theirsNative.constData());
                const QByteArray api(buffer, qsizetype(n));
                const QByteArray got =
                    Cp932::encode(ProfileFile::getString(s, k, QStringLiteral("DEF"), ours))
                        .value_or("<unencodable>");
                // Wine cuts a double-byte character at the buffer's end and still counts its lead
                // byte, which it leaves unwritten: what the buffer held before stands there.
                if (got != api && api.size() == 255 && got == api.left(254))
                    differ(QStringLiteral("GetPrivateProfileStringA split character"), QString());
                else if (got != api)
                    differ(QStringLiteral("GetPrivateProfileStringA"),
                           QStringLiteral("ours %1 bytes ending %2, the API's %3 ending %4")
                               .arg(got.size())
                               .arg(QString::fromLatin1(got.right(6).toHex(' ')))
                               .arg(api.size())
                               .arg(QString::fromLatin1(api.right(6).toHex(' '))));
                break;
            }
            case 1: {
                ++operations[QStringLiteral("GetPrivateProfileIntA")];
                const qint32 api = qint32(GetPrivateProfileIntA(
                    section.constData(), key.constData(), 7, theirsNative.constData()));
                const qint32 got = ProfileFile::getInt(s, k, 7, ours);
                if (got != api)
                    differ(QStringLiteral("GetPrivateProfileIntA"),
                           context + QStringLiteral(": ours %1, the API's %2").arg(got).arg(api));
                break;
            }
            default: {
                ++operations[QStringLiteral("WritePrivateProfileStringA")];
                const QByteArray value = randomValue(r);
                const BOOL api =
                    WritePrivateProfileStringA(section.constData(), key.constData(),
                                               value.constData(), theirsNative.constData());
                const bool got = ProfileFile::writeString(s, k, Cp932::decode(value), ours) ==
                                 ProfileFile::WriteStatus::Written;
                if (got != bool(api))
                    differ(QStringLiteral("WritePrivateProfileStringA result"), context);
                const QByteArray a = readAll(ours), b = readAll(theirs);
                if (a != b && readsOf(ours) == readsOf(theirs))
                    differ(QStringLiteral("WritePrivateProfileStringA layout only"),
                           QStringLiteral("ours %1, the API's %2")
                               .arg(QString::fromLatin1(a.left(60).toHex(' ')),
                                    QString::fromLatin1(b.left(60).toHex(' '))));
                else if (a != b && hasUnclosedSection(start))
                    differ(QStringLiteral("WritePrivateProfileStringA unclosed section"),
                           QString());
                else if (a != b) {
                    const QByteArrayList x = readsOf(ours), y = readsOf(theirs);
                    for (qsizetype i = 0; i < x.size(); ++i)
                        if (x[i] != y[i])
                            shown << QStringLiteral(
                                         "  read %1: ours %2 bytes ending %3, theirs %4 ending %5")
                                         .arg(i)
                                         .arg(x[i].size())
                                         .arg(QString::fromLatin1(x[i].right(6).toHex(' ')))
                                         .arg(y[i].size())
                                         .arg(QString::fromLatin1(y[i].right(6).toHex(' ')));
                    differ(QStringLiteral("WritePrivateProfileStringA contents"),
                           QStringLiteral("file %1 [%2] %3 = %4: ours %5, the API's %6")
                               .arg(QString::fromLatin1(start.toPercentEncoding(" =[];\"\'")),
                                    QString::fromLatin1(section.toPercentEncoding()),
                                    QString::fromLatin1(key.toPercentEncoding()),
                                    QString::fromLatin1(value.left(20).toPercentEncoding(" ")),
                                    QString::fromLatin1(a.toPercentEncoding(" =[];\"\'")),
                                    QString::fromLatin1(b.toPercentEncoding(" =[];\"\'"))));
                }
                // Both go on from the same bytes.
                if (a != b)
                    writeAll(theirs, a);
                WritePrivateProfileStringA(nullptr, nullptr, nullptr, theirsNative.constData());
                start = a;
                break;
            }
            }
        }
    }
    int total = 0, different = 0;
    for (auto it = operations.cbegin(); it != operations.cend(); ++it) {
        total += it.value();
        qInfo("%s: %d operations", qPrintable(it.key()), it.value());
    }
    for (auto it = differences.cbegin(); it != differences.cend(); ++it) {
        different += it.value();
        qInfo("%s: %d differences", qPrintable(it.key()), it.value());
    }
    for (const QString& line : shown)
        qInfo("%s", qPrintable(line.left(700)));
    qInfo("%d operations, %d differences", total, different);
    // Wine writes a profile file anew from what it parsed (blanks around names and values
    // dropped, CR LF everywhere, blank lines gone), where Windows changes the one line; what the
    // files say is the same. The split character and the unclosed section are named above.
    differences.remove(QStringLiteral("WritePrivateProfileStringA layout only"));
    differences.remove(QStringLiteral("GetPrivateProfileStringA split character"));
    differences.remove(QStringLiteral("WritePrivateProfileStringA unclosed section"));
    QCOMPARE(differences, (QMap<QString, int>()));
}

QTEST_GUILESS_MAIN(TestProfileDifferential)
#include "test_profile_differential.moc"
