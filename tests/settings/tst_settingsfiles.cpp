// The settings files byte for byte: the cp932 codec, the INI rules, vbmail.ini, the account and
// hang-up files (with the automatic check's interval), and the entry that starts the program at
// login.

#include "CharacterPlace.h"
#include "Cp932.h"
#include "DataFiles.h"
#include "ProfileFile.h"
#include "SafeFile.h"
#include "SaveLoop.h"
#include "ServerSettings.h"
#include "StartAtLogin.h"
#include "TestFolders.h"

#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#ifdef Q_OS_WIN
#include <windows.h>

#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using WS = ProfileFile::WriteStatus;

namespace {

#ifdef Q_OS_WIN
// A file's access list, written and read in the system's own notation.
bool setAccessList(const QString& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR d = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &d, nullptr))
        return false;
    const bool ok = SetFileSecurityW(QDir::toNativeSeparators(path).toStdWString().c_str(),
                                     DACL_SECURITY_INFORMATION, d);
    LocalFree(d);
    return ok;
}

QString accessList(const QString& path) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    DWORD size = 0;
    GetFileSecurityW(name.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::string d(size, '\0');
    wchar_t* sddl = nullptr;
    if (!size ||
        !GetFileSecurityW(name.c_str(), DACL_SECURITY_INFORMATION, d.data(), size, &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            d.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr))
        return QString();
    const QString out = QString::fromWCharArray(sddl);
    LocalFree(sddl);
    return out;
}

// The running user's SID, as the notation spells it.
QString userSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    wchar_t* sid = nullptr;
    QString out;
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid))
        out = QString::fromWCharArray(sid);
    LocalFree(sid);
    CloseHandle(token);
    return out;
}
#endif

QByteArray sjis(const QString& text) {
    return Cp932::encode(text).value_or("<unencodable>");
}

// Settings that a load must replace line by line, or keep.
ServerSettings oldSettings() {
    return {.smtpServer = QStringLiteral("old-smtp"),
            .pop3Server = QStringLiteral("old-pop3"),
            .mailAddress = QStringLiteral("old-mail"),
            .apopFlag = 7};
}

// Is there anything at path, a dangling link included?
bool present(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QStringList leftoversIn(const QString& folder) {
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot))
        if (SafeFile::isLeftoverName(name))
            names.append(name);
    return names;
}

} // namespace

class TestSettingsFiles : public QObject {
    Q_OBJECT
  private slots:
    void cp932Vectors_data();
    void cp932Vectors();
    void cp932Unencodable_data();
    void cp932Unencodable();
    void cp932InvalidBytes_data();
    void cp932InvalidBytes();

    void profileRead_data();
    void profileRead();
    void profileReadInt_data();
    void profileReadInt();
    void profileWrite_data();
    void profileWrite();
    void profileWriteRefusesWhatCannotBeStored();
    void profileWriteIntoMissingFolder();
    void profileWriteFailureKeepsOldFile();
    void protectedValuesReadBack_data();
    void protectedValuesReadBack();

    void serverSave_data();
    void serverSave();
    void serverSaveRefusesUnencodable();
    void serverSaveFailureKeepsOldFile();
    void serverLoad_data();
    void serverLoad();
    void apopNumber_data();
    void apopNumber();

    void accountFile();
    void accountJapaneseIdRoundTrips();
    void accountFileIsOwnerOnly();
    void hangUpFlagFile();
    void checkInterval_data();
    void checkInterval();
    void startAtLoginEntry_data();
    void startAtLoginEntry();
    void startAtLoginOnAndOff();
    void characterPlace_data();
    void characterPlace();

    void hostileFilesReadAsMissing_data();
    void hostileFilesReadAsMissing();
    void savesReplaceWhatReadsAsMissing_data();
    void savesReplaceWhatReadsAsMissing();
    void readCap_data();
    void readCap();
    void leftoverCleanup_data();
    void leftoverCleanup();
    void killedSavesLeaveOldOrNew();
};

void TestSettingsFiles::cp932Vectors_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("black star") << QStringLiteral("★") << QByteArray("\x81\x9A");
    QTest::newRow("fullwidth tilde") << QStringLiteral("～") << QByteArray("\x81\x60");
    QTest::newRow("NEC circled one") << QStringLiteral("①") << QByteArray("\x87\x40");
    QTest::newRow("IBM extension") << QStringLiteral("髙") << QByteArray("\xFB\xFC");
    QTest::newRow("half-width kana") << QStringLiteral("ｱ") << QByteArray("\xB1");
    QTest::newRow("backslash and tilde stay ASCII") << QStringLiteral("a\\~") << QByteArray("a\\~");
    QTest::newRow("kanji with 0x5C second byte") << QStringLiteral("表") << QByteArray("\x95\x5C");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestSettingsFiles::cp932Vectors() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Cp932::encode(text), std::optional<QByteArray>(bytes));
    QCOMPARE(Cp932::decode(bytes), text);
}

void TestSettingsFiles::cp932Unencodable_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("emoji") << QStringLiteral("pop😀.example.jp");
    QTest::newRow("copyright sign") << QStringLiteral("©");
    QTest::newRow("hangul") << QStringLiteral("한");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800));
}

void TestSettingsFiles::cp932Unencodable() {
    QFETCH(QString, text);
    QVERIFY(!Cp932::encode(text).has_value());
    QVERIFY(!ProfileFile::canStore(text));
}

void TestSettingsFiles::cp932InvalidBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lead byte at the end") << QByteArray("ab\x81") << QStringLiteral("ab\uFFFD");
    QTest::newRow("lead byte before a blank") << QByteArray("\x81 x") << QStringLiteral("\uFFFD x");
    QTest::newRow("unassigned single byte") << QByteArray("\xFF") << QStringLiteral("\uFFFD");
    QTest::newRow("bad byte between good ones")
        << QByteArray("\x81\x9A\x80\x81\x9A") << QStringLiteral("★\uFFFD★");
}

void TestSettingsFiles::cp932InvalidBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Cp932::decode(bytes), text);
}

void TestSettingsFiles::profileRead_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QString S = QStringLiteral("EXEINI");
    const QString K = QStringLiteral("NAME");
    QTest::newRow("plain") << QByteArray("[EXEINI]\r\nNAME=abc\r\n") << S << K << "abc";
    QTest::newRow("names ignore case") << QByteArray("[exeIni]\r\nnaMe=abc\r\n") << S << K << "abc";
    QTest::newRow("asked in other case") << QByteArray("[EXEINI]\r\nNAME=abc\r\n") << "exeini"
                                         << "name"
                                         << "abc";
    QTest::newRow("blanks around key and value")
        << QByteArray("[EXEINI]\r\n  NAME \t=  \ta b\t  \r\n") << S << K << "a b";
    QTest::newRow("blanks around the section")
        << QByteArray("  [ EXEINI ]\r\nNAME=x\r\n") << S << K << "x";
    QTest::newRow("double quotes")
        << QByteArray("[EXEINI]\r\nNAME= \"  x  \" \r\n") << S << K << "  x  ";
    QTest::newRow("single quotes") << QByteArray("[EXEINI]\r\nNAME='x'\r\n") << S << K << "x";
    QTest::newRow("one pair only")
        << QByteArray("[EXEINI]\r\nNAME=\"\"x\"\"\r\n") << S << K << "\"x\"";
    QTest::newRow("quotes that differ")
        << QByteArray("[EXEINI]\r\nNAME=\"x'\r\n") << S << K << "\"x'";
    QTest::newRow("a lone quote") << QByteArray("[EXEINI]\r\nNAME=\"\r\n") << S << K << "\"";
    QTest::newRow("equals sign in the value")
        << QByteArray("[EXEINI]\r\nNAME=a=b\r\n") << S << K << "a=b";
    QTest::newRow("first of two keys")
        << QByteArray("[EXEINI]\r\nNAME=1\r\nname=2\r\n") << S << K << "1";
    QTest::newRow("first of two sections only")
        << QByteArray("[EXEINI]\r\nA=1\r\n[EXEINI]\r\nNAME=2\r\n") << S << K << "";
    QTest::newRow("key of another section")
        << QByteArray("[OTHER]\r\nNAME=x\r\n[EXEINI]\r\nNAME3=1\r\n") << S << K << "";
    QTest::newRow("comment line") << QByteArray("[EXEINI]\r\n;NAME=x\r\n") << S << K << "";
    QTest::newRow("missing section") << QByteArray("NAME=x\r\n") << S << K << "";
    QTest::newRow("unix line ends") << QByteArray("[EXEINI]\nNAME=x\nNAME2=y\n") << S << K << "x";
    QTest::newRow("no line end at the end") << QByteArray("[EXEINI]\r\nNAME=x") << S << K << "x";
    QTest::newRow("lone CR line ends")
        << QByteArray("[EXEINI]\rNAME=a\rNAME2=b\r") << S << K << "a";
    QTest::newRow("mixed line ends")
        << QByteArray("[OTHER]\rNAME=x\n[EXEINI]\r\nNAME3=1\rNAME=a\nNAME2=b") << S << K << "a";
    QTest::newRow("CR CR LF") << QByteArray("[EXEINI]\r\nNAME=a\r\r\nNAME2=b\r\n") << S << K << "a";
    QTest::newRow("Japanese") << "[EXEINI]\r\nNAME=" + sjis(QStringLiteral("山田★表")) + "\r\n"
                              << S << K << QStringLiteral("山田★表");
    QTest::newRow("invalid bytes")
        << QByteArray("[EXEINI]\r\nNAME=\x81 x\r\n") << S << K << QStringLiteral("\uFFFD x");
    QTest::newRow("cut to 255 bytes") << "[EXEINI]\r\nNAME=" + QByteArray(300, 'a') + "\r\n"
                                      << S << K << QString(255, u'a');
    QTest::newRow("255 bytes exactly") << "[EXEINI]\r\nNAME=" + QByteArray(255, 'b') + "\r\n"
                                       << S << K << QString(255, u'b');
    QTest::newRow("cut never splits a character")
        << "[EXEINI]\r\nNAME=aa" + sjis(QString(150, u'あ')) + "\r\n"
        << S << K << QStringLiteral("aa") + QString(126, u'あ');
    QTest::newRow("cut after a whole character")
        << "[EXEINI]\r\nNAME=a" + sjis(QString(150, u'あ')) + "\r\n"
        << S << K << QStringLiteral("a") + QString(127, u'あ');
}

void TestSettingsFiles::profileRead() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("test.ini"));
    TestFolders::write(path, file);
    QCOMPARE(ProfileFile::getString(section, key, QString(), path), value);
}

void TestSettingsFiles::profileReadInt_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("value");
    QTest::newRow("missing file") << QByteArray() << 7;
    QTest::newRow("missing key") << QByteArray("[EXEINI]\r\nOTHER=1\r\n") << 7;
    QTest::newRow("empty value") << QByteArray("[EXEINI]\r\nNUMBER=\r\n") << 7;
    QTest::newRow("one") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n") << 1;
    QTest::newRow("blanks") << QByteArray("[EXEINI]\r\nnumber =  2 \r\n") << 2;
    QTest::newRow("quoted") << QByteArray("[EXEINI]\r\nNUMBER=\"1\"\r\n") << 1;
    QTest::newRow("word") << QByteArray("[EXEINI]\r\nNUMBER=yes\r\n") << 0;
    QTest::newRow("digits then text") << QByteArray("[EXEINI]\r\nNUMBER=12abc\r\n") << 12;
    QTest::newRow("negative") << QByteArray("[EXEINI]\r\nNUMBER=-1\r\n") << -1;
    QTest::newRow("hexadecimal") << QByteArray("[EXEINI]\r\nNUMBER=0x10\r\n") << 16;
}

void TestSettingsFiles::profileReadInt() {
    QFETCH(QByteArray, file);
    QFETCH(int, value);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("ini.ini"));
    if (!file.isEmpty())
        TestFolders::write(path, file);
    QCOMPARE(ProfileFile::getInt(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"), 7, path),
             value);
}

void TestSettingsFiles::profileWrite_data() {
    QTest::addColumn<QByteArray>("before"); // "-" for no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QStringList>("keysAndValues");
    QTest::addColumn<QByteArray>("after");

    const QString S = QStringLiteral("EXEINI");
    QTest::newRow("new file") << QByteArray("-") << S << QStringList{"NUMBER", "1"}
                              << QByteArray("[EXEINI]\r\nNUMBER=1\r\n");
    QTest::newRow("keys in first-written order")
        << QByteArray("-") << S << QStringList{"NAME", "id", "NAME2", "pw", "NAME3", "1"}
        << QByteArray("[EXEINI]\r\nNAME=id\r\nNAME2=pw\r\nNAME3=1\r\n");
    QTest::newRow("existing keys keep their place")
        << QByteArray("[EXEINI]\r\nNAME3=0\r\nNAME=a\r\n") << S
        << QStringList{"NAME", "id", "NAME2", "pw", "NAME3", "1"}
        << QByteArray("[EXEINI]\r\nNAME3=1\r\nNAME=id\r\nNAME2=pw\r\n");
    QTest::newRow("names keep the file's spelling")
        << QByteArray("[exeini]\r\nnumber=0\r\n") << S << QStringList{"NUMBER", "1"}
        << QByteArray("[exeini]\r\nnumber=1\r\n");
    QTest::newRow("the rest of the file is kept")
        << QByteArray("; note\r\n[A]\r\nx=1\r\n\r\n[EXEINI]\r\nNUMBER=0\r\nZ= keep \r\n\r\n[B]\r\n"
                      "y=\x81\x20\r\n")
        << S << QStringList{"NUMBER", "1"}
        << QByteArray("; note\r\n[A]\r\nx=1\r\n\r\n[EXEINI]\r\nNUMBER=1\r\nZ= keep \r\n\r\n[B]\r\n"
                      "y=\x81\x20\r\n");
    QTest::newRow("new key after the section's last line")
        << QByteArray("[EXEINI]\r\nNAME3=0\r\n\r\n[B]\r\ny=2\r\n") << S << QStringList{"NAME", "a"}
        << QByteArray("[EXEINI]\r\nNAME3=0\r\nNAME=a\r\n\r\n[B]\r\ny=2\r\n");
    QTest::newRow("new section at the end")
        << QByteArray("[A]\r\nx=1") << S << QStringList{"NUMBER", "0"}
        << QByteArray("[A]\r\nx=1\r\n[EXEINI]\r\nNUMBER=0\r\n");
    QTest::newRow("first of two keys is written")
        << QByteArray("[EXEINI]\r\nNAME=a\r\nNAME=b\r\n") << S << QStringList{"name", "c"}
        << QByteArray("[EXEINI]\r\nNAME=c\r\nNAME=b\r\n");
    QTest::newRow("first of two sections is written")
        << QByteArray("[EXEINI]\r\nA=1\r\n[EXEINI]\r\nNAME=b\r\n") << S << QStringList{"NAME", "c"}
        << QByteArray("[EXEINI]\r\nA=1\r\nNAME=c\r\n[EXEINI]\r\nNAME=b\r\n");
    QTest::newRow("blanks around an existing key")
        << QByteArray("[EXEINI]\r\n  NAME = old \r\n") << S << QStringList{"NAME", "new"}
        << QByteArray("[EXEINI]\r\nNAME=new\r\n");
    QTest::newRow("unix line ends kept")
        << QByteArray("[EXEINI]\nNUMBER=0\nX=1\n") << S << QStringList{"NUMBER", "1"}
        << QByteArray("[EXEINI]\nNUMBER=1\nX=1\n");
    QTest::newRow("lone CR: value replaced in place, other bytes kept")
        << QByteArray("[EXEINI]\rNAME=a\rNAME2=b\r\r[B]\ry=2") << S
        << QStringList{"NAME2", "c", "NAME3", "1"}
        << QByteArray("[EXEINI]\rNAME=a\rNAME2=c\rNAME3=1\r\n\r[B]\ry=2");
    QTest::newRow("mixed line ends: no second copy of a key")
        << QByteArray("[EXEINI]\r\nNAME=a\rNAME2=b\nNAME3=0\r\n") << S
        << QStringList{"NAME2", "c", "NAME3", "1"}
        << QByteArray("[EXEINI]\r\nNAME=a\rNAME2=c\nNAME3=1\r\n");
    QTest::newRow("new section after a lone CR")
        << QByteArray("[A]\rx=1\r") << S << QStringList{"NUMBER", "0"}
        << QByteArray("[A]\rx=1\r[EXEINI]\r\nNUMBER=0\r\n");
    QTest::newRow("values as given") << QByteArray("-") << S << QStringList{" NAME ", " a b "}
                                     << QByteArray("[EXEINI]\r\nNAME= a b \r\n");
    QTest::newRow("Japanese value")
        << QByteArray("-") << S << QStringList{"NAME", QStringLiteral("山田①")}
        << "[EXEINI]\r\nNAME=" + sjis(QStringLiteral("山田①")) + "\r\n";
}

void TestSettingsFiles::profileWrite() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QStringList, keysAndValues);
    QFETCH(QByteArray, after);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("test.ini"));
    if (before != "-")
        TestFolders::write(path, before);
    QList<QPair<QString, QString>> entries;
    for (qsizetype i = 0; i + 1 < keysAndValues.size(); i += 2)
        entries.append({keysAndValues[i], keysAndValues[i + 1]});
    QCOMPARE(ProfileFile::writeStrings(section, entries, path), WS::Written);
    QCOMPARE(TestFolders::read(path), after);

    // The same through single writes, as the platform would be called.
    if (before != "-")
        TestFolders::write(path, before);
    else
        QFile::remove(path);
    for (const auto& [k, v] : entries)
        QCOMPARE(ProfileFile::writeString(section, k, v, path), WS::Written);
    QCOMPARE(TestFolders::read(path), after);
}

void TestSettingsFiles::profileWriteRefusesWhatCannotBeStored() {
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("test.ini"));
    const QByteArray before("[EXEINI]\r\nNAME=a\r\n");
    TestFolders::write(path, before);
    for (const QString& value : {QStringLiteral("😀"), QStringLiteral("a\r\nNAME2=b"),
                                 QStringLiteral("a\nb"), QStringLiteral("a") + QChar(0) + "b"}) {
        QCOMPARE(
            ProfileFile::writeString(QStringLiteral("EXEINI"), QStringLiteral("NAME"), value, path),
            WS::Unencodable);
        QCOMPARE(TestFolders::read(path), before);
    }
}

void TestSettingsFiles::profileWriteIntoMissingFolder() {
    TestFolders folders(false);
    const QString path = folders.dataFile(QStringLiteral("ini.ini"));
    QCOMPARE(ProfileFile::writeString(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"),
                                      QStringLiteral("1"), path),
             WS::FolderMissing);
    QVERIFY(!QFileInfo::exists(folders.dataFolder()));
    QCOMPARE(ProfileFile::getInt(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"), 0, path), 0);
}

void TestSettingsFiles::profileWriteFailureKeepsOldFile() {
    SKIP_WITHOUT_FULL_DISK();
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("iniIdPass.ini"));
    const QByteArray before("[EXEINI]\r\nNAME=keep\r\nNAME2=this\r\nNAME3=1\r\n");
    TestFolders::write(path, before);
    {
        FullDisk full;
        QCOMPARE(ProfileFile::writeString(QStringLiteral("EXEINI"), QStringLiteral("NAME"),
                                          QStringLiteral("a much longer user id"), path),
                 WS::Failed);
    }
    QCOMPARE(TestFolders::read(path), before);
    QCOMPARE(QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("iniIdPass.ini")});
}

void TestSettingsFiles::protectedValuesReadBack_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain") << "pw" << QByteArray("NAME2=pw");
    QTest::newRow("empty") << "" << QByteArray("NAME2=");
    QTest::newRow("leading blank") << " pw" << QByteArray("NAME2=\" pw\"");
    QTest::newRow("trailing tab") << "pw\t" << QByteArray("NAME2=\"pw\t\"");
    QTest::newRow("enclosed in quotes") << "'pw'" << QByteArray("NAME2=\"'pw'\"");
    QTest::newRow("a quote inside") << "p\"w" << QByteArray("NAME2=p\"w");
    QTest::newRow("two quotes") << "\"\"" << QByteArray("NAME2=\"\"\"\"");
}

void TestSettingsFiles::protectedValuesReadBack() {
    QFETCH(QString, value);
    QFETCH(QByteArray, line);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("test.ini"));
    ProfileFile::writeString(QStringLiteral("EXEINI"), QStringLiteral("NAME2"),
                             ProfileFile::protectForRead(value), path);
    QCOMPARE(TestFolders::read(path), "[EXEINI]\r\n" + line + "\r\n");
    QCOMPARE(
        ProfileFile::getString(QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QString(), path),
        value);
}

void TestSettingsFiles::serverSave_data() {
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("apop");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("all empty") << ""
                               << ""
                               << "" << 0 << QByteArray("SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n");
    QTest::newRow("values as they are")
        << " smtp.example.jp"
        << "pop.example.jp:995" << QStringLiteral("山田@example.jp") << 1
        << "SMTP= smtp.example.jp\r\nPOP3=pop.example.jp:995\r\nMAIL=" +
               sjis(QStringLiteral("山田")) + "@example.jp\r\nAPOP=1\r\n";
    QTest::newRow("negative flag")
        << "s"
        << "p"
        << "m" << -3 << QByteArray("SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=-3\r\n");
}

void TestSettingsFiles::serverSave() {
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(int, apop);
    QFETCH(QByteArray, file);
    TestFolders folders;
    TestFolders::write(folders.workFile("vbmail.ini"),
                       "an old, much longer file\r\n" + QByteArray(500, 'x'));
    const ServerSettings saved{
        .smtpServer = smtp, .pop3Server = pop3, .mailAddress = mail, .apopFlag = qint16(apop)};
    QCOMPARE(saveServerSettings(saved), SaveResult::Saved);
    QCOMPARE(TestFolders::read(folders.workFile("vbmail.ini")), file);

    ServerSettings loaded = oldSettings();
    loadServerSettings(loaded);
    QCOMPARE(loaded, saved);
}

void TestSettingsFiles::serverSaveRefusesUnencodable() {
    TestFolders folders;
    const QByteArray before("SMTP=a\r\nPOP3=b\r\nMAIL=c\r\nAPOP=0\r\n");
    TestFolders::write(folders.workFile("vbmail.ini"), before);
    for (const QString& bad : {QStringLiteral("pop😀"), QStringLiteral("pop\r\nAPOP=1")}) {
        ServerSettings settings = oldSettings();
        settings.pop3Server = bad;
        QCOMPARE(saveServerSettings(settings), SaveResult::Unencodable);
        QCOMPARE(TestFolders::read(folders.workFile("vbmail.ini")), before);
    }
}

void TestSettingsFiles::serverSaveFailureKeepsOldFile() {
    SKIP_WITHOUT_FULL_DISK();
    TestFolders folders;
    const QByteArray before("SMTP=a\r\nPOP3=b\r\nMAIL=c\r\nAPOP=0\r\n");
    TestFolders::write(folders.workFile("vbmail.ini"), before);
    {
        FullDisk full;
        QCOMPARE(saveServerSettings(oldSettings()), SaveResult::Failed);
    }
    QCOMPARE(TestFolders::read(folders.workFile("vbmail.ini")), before);
}

void TestSettingsFiles::serverLoad_data() {
    QTest::addColumn<QByteArray>("file"); // "-" for no file
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("apop");

    QTest::newRow("no file keeps the settings") << QByteArray("-") << "old-smtp"
                                                << "old-pop3"
                                                << "old-mail" << 7;
    QTest::newRow("none of the keys") << QByteArray("[EXEINI]\r\nfoo=bar\r\n\r\n") << "old-smtp"
                                      << "old-pop3"
                                      << "old-mail" << 7;
    QTest::newRow("any order, blanks kept")
        << QByteArray("APOP=1\r\nMAIL= m \r\nPOP3=p\r\nSMTP=s\r\n") << "s"
        << "p"
        << " m " << 1;
    QTest::newRow("lower case and leading blanks skipped")
        << QByteArray("pop3=x\r\n POP3=y\r\nSmtp=z\r\n") << "old-smtp"
        << "old-pop3"
        << "old-mail" << 7;
    QTest::newRow("later duplicate wins")
        << QByteArray("MAIL=first\r\nMAIL=second\r\n") << "old-smtp"
        << "old-pop3"
        << "second" << 7;
    QTest::newRow("value cut to 100 characters")
        << "POP3=" + QByteArray(120, 'p') + "\r\n"
        << "old-smtp" << QString(100, u'p') << "old-mail" << 7;
    QTest::newRow("100 Japanese characters") << "MAIL=" + sjis(QString(120, u'あ')) + "\r\n"
                                             << "old-smtp"
                                             << "old-pop3" << QString(100, u'あ') << 7;
    QTest::newRow("empty values") << QByteArray("SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=\r\n") << ""
                                  << ""
                                  << "" << 0;
    QTest::newRow("unix line ends") << QByteArray("SMTP=s\nPOP3=p\nMAIL=m\nAPOP=1\n") << "s"
                                    << "p"
                                    << "m" << 1;
    QTest::newRow("lone CR line ends") << QByteArray("SMTP=s\rPOP3=p\rMAIL=m\rAPOP=1\r") << "s"
                                       << "p"
                                       << "m" << 1;
    QTest::newRow("mixed line ends") << QByteArray("SMTP=s\r\nPOP3=p\rMAIL=m\nAPOP=1") << "s"
                                     << "p"
                                     << "m" << 1;
    QTest::newRow("no line end at the end") << QByteArray("POP3=p") << "old-smtp"
                                            << "p"
                                            << "old-mail" << 7;
    QTest::newRow("invalid bytes") << QByteArray("POP3=a\x81\r\n") << "old-smtp"
                                   << QStringLiteral("a\uFFFD") << "old-mail" << 7;
    QTest::newRow("out-of-range APOP still means APOP")
        << QByteArray("APOP=70000\r\n") << "old-smtp"
        << "old-pop3"
        << "old-mail" << 1;
}

void TestSettingsFiles::serverLoad() {
    QFETCH(QByteArray, file);
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(int, apop);
    TestFolders folders;
    if (file != "-")
        TestFolders::write(folders.workFile("vbmail.ini"), file);
    ServerSettings loaded = oldSettings();
    loadServerSettings(loaded);
    QCOMPARE(loaded.smtpServer, smtp);
    QCOMPARE(loaded.pop3Server, pop3);
    QCOMPARE(loaded.mailAddress, mail);
    QCOMPARE(int(loaded.apopFlag), apop);
}

void TestSettingsFiles::apopNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flag");
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("yes") << "yes" << 0;
    QTest::newRow("blank then 1") << " 1" << 1;
    QTest::newRow("blanks inside") << "1 2" << 12;
    QTest::newRow("1.5 to even") << "1.5" << 2;
    QTest::newRow("2.5 to even") << "2.5" << 2;
    QTest::newRow("0.5 to even") << "0.5" << 0;
    QTest::newRow("stops at a letter") << "2x" << 2;
    QTest::newRow("second point stops") << "1.2.3" << 1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("exponent") << "1e2" << 100;
    QTest::newRow("exponent without digits") << "3e" << 3;
    QTest::newRow("hexadecimal") << "&H2" << 2;
    QTest::newRow("hexadecimal 16-bit pattern") << "&HFFFF" << -1;
    QTest::newRow("octal") << "&O10" << 8;
    QTest::newRow("beyond 16 bits") << "40000" << 1;
    QTest::newRow("far beyond") << "1e300" << 1;
    QTest::newRow("full-width digit is no digit") << QStringLiteral("１") << 0;
}

void TestSettingsFiles::apopNumber() {
    QFETCH(QString, text);
    QFETCH(int, flag);
    QCOMPARE(int(apopFlagFromText(text)), flag);
}

void TestSettingsFiles::accountFile() {
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("iniIdPass.ini"));
    QCOMPARE(readAccountValue(QStringLiteral("NAME")), QString());

    QCOMPARE(writeAccount(true, QStringLiteral("user"), QStringLiteral("secret")), WS::Written);
    QCOMPARE(TestFolders::read(path),
             QByteArray("[EXEINI]\r\nNAME=user\r\nNAME2=secret\r\nNAME3=1\r\n"));

    // Save box clear: NAME3 alone, the stored account stays.
    QCOMPARE(writeAccount(false, QStringLiteral("other"), QStringLiteral("x")), WS::Written);
    QCOMPARE(TestFolders::read(path),
             QByteArray("[EXEINI]\r\nNAME=user\r\nNAME2=secret\r\nNAME3=0\r\n"));
    QCOMPARE(readAccountValue(QStringLiteral("NAME")), QStringLiteral("user"));
    QCOMPARE(readAccountValue(QStringLiteral("NAME2")), QStringLiteral("secret"));

    // Blanks around a password survive.
    QCOMPARE(writeAccount(true, QStringLiteral("user"), QStringLiteral(" two words ")),
             WS::Written);
    QCOMPARE(readAccountValue(QStringLiteral("NAME2")), QStringLiteral(" two words "));
}

void TestSettingsFiles::accountJapaneseIdRoundTrips() {
    TestFolders folders;
    const QString id = QStringLiteral("山田①髙～表");
    QCOMPARE(writeAccount(true, id, QStringLiteral("pw")), WS::Written);
    QVERIFY(TestFolders::read(folders.dataFile(QStringLiteral("iniIdPass.ini")))
                .contains("NAME=" + sjis(id) + "\r\n"));
    const QString back = readAccountValue(QStringLiteral("NAME"));
    QCOMPARE(back, id);
    QCOMPARE(back.size(), id.size());
}

void TestSettingsFiles::accountFileIsOwnerOnly() {
#ifdef Q_OS_WIN
    QSKIP("Qt 6.4 reads no access lists: the file's permissions are not seen here");
#endif
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("iniIdPass.ini"));
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther;
    QCOMPARE(writeAccount(false, QString(), QString()), WS::Written);
    QCOMPARE(QFileInfo(path).permissions() & (ownerOnly | others), ownerOnly);

    // A file left readable by an older version is tightened at the next write.
    QFile::setPermissions(path, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QCOMPARE(writeAccount(true, QStringLiteral("u"), QStringLiteral("p")), WS::Written);
    QCOMPARE(QFileInfo(path).permissions() & (ownerOnly | others), ownerOnly);
}

void TestSettingsFiles::hangUpFlagFile() {
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("ini.ini"));
    QCOMPARE(readHangUpFlag(), 0);
    QCOMPARE(writeHangUpFlag(true), WS::Written);
    QCOMPARE(TestFolders::read(path), QByteArray("[EXEINI]\r\nNUMBER=1\r\n"));
    QCOMPARE(readHangUpFlag(), 1);
    QCOMPARE(writeHangUpFlag(false), WS::Written);
    QCOMPARE(TestFolders::read(path), QByteArray("[EXEINI]\r\nNUMBER=0\r\n"));
    QCOMPARE(readHangUpFlag(), 0);
}

void TestSettingsFiles::checkInterval_data() {
    QTest::addColumn<QByteArray>("file"); // ini.ini; empty: none
    QTest::addColumn<int>("minutes");
    QTest::newRow("no file") << QByteArray() << 0;
    QTest::newRow("no key") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n") << 0;
    QTest::newRow("fifteen") << QByteArray("[EXEINI]\r\nNUMBER=1\r\nINTERVAL=15\r\n") << 15;
    QTest::newRow("any case, blanks, quotes")
        << QByteArray("[exeini]\r\ninterval = \"30\" \r\n") << 30;
    QTest::newRow("one") << QByteArray("[EXEINI]\r\nINTERVAL=1\r\n") << 1;
    QTest::newRow("a day") << QByteArray("[EXEINI]\r\nINTERVAL=1440\r\n") << 1440;
    QTest::newRow("leading zeros") << QByteArray("[EXEINI]\r\nINTERVAL=0005\r\n") << 5;
    QTest::newRow("more than a day") << QByteArray("[EXEINI]\r\nINTERVAL=1441\r\n") << 0;
    QTest::newRow("negative") << QByteArray("[EXEINI]\r\nINTERVAL=-5\r\n") << 0;
    QTest::newRow("digits then text") << QByteArray("[EXEINI]\r\nINTERVAL=5min\r\n") << 0;
    QTest::newRow("a word") << QByteArray("[EXEINI]\r\nINTERVAL=often\r\n") << 0;
    QTest::newRow("fraction") << QByteArray("[EXEINI]\r\nINTERVAL=2.5\r\n") << 0;
    QTest::newRow("huge") << QByteArray("[EXEINI]\r\nINTERVAL=99999999999999\r\n") << 0;
    QTest::newRow("full-width digits")
        << sjis(QStringLiteral("[EXEINI]\r\nINTERVAL=１５\r\n")) << 0;
}

void TestSettingsFiles::checkInterval() {
    QFETCH(QByteArray, file);
    QFETCH(int, minutes);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("ini.ini"));
    if (!file.isEmpty())
        TestFolders::write(path, file);
    QCOMPARE(readCheckInterval(), minutes);
    // Written beside NUMBER, which keeps its value and place.
    QCOMPARE(writeCheckInterval(45), WS::Written);
    QCOMPARE(readCheckInterval(), 45);
    QCOMPARE(readHangUpFlag(), file.contains("NUMBER=1") ? 1 : 0);
    QVERIFY(TestFolders::read(path).endsWith("INTERVAL=45\r\n") ||
            TestFolders::read(path).contains("interval=45\r\n"));
}

void TestSettingsFiles::startAtLoginEntry_data() {
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("exec"); // the Exec line; empty: no entry can be written
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("plain") << "/opt/mokopon/mokopon"
                           << "/home/taro" << QByteArray("Exec=\"/opt/mokopon/mokopon\"")
                           << QByteArray("Path=/home/taro");
    QTest::newRow("blanks and Japanese")
        << QStringLiteral("/home/taro/デスクトップ/my puppy/mokopon")
        << QStringLiteral("/home/taro/メール")
        << QStringLiteral("Exec=\"/home/taro/デスクトップ/my puppy/mokopon\"").toUtf8()
        << QStringLiteral("Path=/home/taro/メール").toUtf8();
    // Inside the quotes ", `, $ and \ are escaped, % is doubled, and then every backslash of the
    // value is doubled again.
    QTest::newRow("characters the Exec key reserves")
        << R"(/x/a"b`c$d\e%f/mokopon)"
        << R"(/x/back\slash)" << QByteArray(R"(Exec="/x/a\\"b\\`c\\$d\\\\e%%f/mokopon")")
        << QByteArray(R"(Path=/x/back\\slash)");
    QTest::newRow("a line break cannot be carried") << "/x/two\nlines/mokopon"
                                                    << "/home/taro" << QByteArray() << QByteArray();
}

void TestSettingsFiles::startAtLoginEntry() {
#ifdef Q_OS_WIN
    QSKIP("Windows starts the program from its Run key (startAtLoginRunKey)");
#endif
    QFETCH(QString, executable);
    QFETCH(QString, folder);
    QFETCH(QByteArray, exec);
    QFETCH(QByteArray, path);
    const QByteArray entry = StartAtLogin::desktopEntry(executable, folder);
    if (exec.isEmpty()) {
        QVERIFY(entry.isEmpty());
        return;
    }
    const QList<QByteArray> lines = entry.split('\n');
    QCOMPARE(lines.first(), QByteArray("[Desktop Entry]"));
    QVERIFY(lines.contains("Type=Application"));
    QVERIFY(lines.contains(QStringLiteral("Name[ja]=モコポン").toUtf8()));
    QVERIFY2(lines.contains(exec), entry.constData());
    QVERIFY2(lines.contains(path), entry.constData());
}

void TestSettingsFiles::startAtLoginOnAndOff() {
#ifdef Q_OS_WIN
    // The user's Run key in the test's own Wine prefix: the executable, quoted.
    QVERIFY(StartAtLogin::turnOff());
    QVERIFY(!StartAtLogin::isOn());
    QVERIFY(StartAtLogin::turnOn(QStringLiteral("C:/Program Files/Mokopon/mokopon.exe"),
                                 QStringLiteral("C:/")));
    QVERIFY(StartAtLogin::isOn());
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    QCOMPARE(run.value(QStringLiteral("Mokopon")).toString(),
             QStringLiteral("\"C:\\Program Files\\Mokopon\\mokopon.exe\""));
    QVERIFY(StartAtLogin::turnOff());
    QVERIFY(!StartAtLogin::isOn());
    QVERIFY(StartAtLogin::turnOff()); // nothing to remove is no failure
    return;
#endif
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        qputenv("XDG_CONFIG_HOME", savedConfig);
    });
    qputenv("HOME", QFile::encodeName(home.path()));
    // A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
    for (const QByteArray& config : {QByteArray(), QByteArray("relative/config"),
                                     QFile::encodeName(home.filePath("xdg config"))}) {
        qputenv("XDG_CONFIG_HOME", config);
        const QString folder =
            config.startsWith('/') ? home.filePath("xdg config") : home.filePath(".config");
        const QString entry = folder + QStringLiteral("/autostart/mokopon.desktop");
        QCOMPARE(StartAtLogin::entryPath(), entry);
        QVERIFY(!StartAtLogin::isOn());
        QVERIFY(StartAtLogin::turnOff()); // nothing to remove is no failure
        QVERIFY(StartAtLogin::turnOn(QStringLiteral("/opt/mokopon/mokopon"), home.path()));
        QVERIFY(StartAtLogin::isOn());
        QVERIFY(TestFolders::read(entry).contains("Exec=\"/opt/mokopon/mokopon\"\n"));
        QVERIFY(StartAtLogin::turnOff());
        QVERIFY(!StartAtLogin::isOn());
        QVERIFY(!QFileInfo::exists(entry));
    }
    // A folder where the entry would be is left alone and reported.
    QVERIFY(QDir().mkpath(StartAtLogin::entryPath()));
    QString why;
    QVERIFY(!StartAtLogin::turnOff(&why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!StartAtLogin::turnOn(QStringLiteral("/opt/mokopon/mokopon"), home.path()));
    QVERIFY(QFileInfo(StartAtLogin::entryPath()).isDir());
}

void TestSettingsFiles::hostileFilesReadAsMissing_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    // The value each reader gives for a missing file, and for the linked file below.
    const struct {
        QString file, missing, linked;
    } files[] = {{"vbmail.ini", "old-pop3", "linked.example.jp"},
                 {"iniIdPass.ini", "", "linked"},
                 {"ini.ini", "0", "1"}};
    for (const auto& f : files) {
        for (const char* kind : {"fifo", "zero", "huge", "folder"})
            QTest::addRow("%s %s", qPrintable(f.file), kind) << f.file << kind << f.missing;
        // A user may keep a settings file elsewhere and link it.
        QTest::addRow("%s link to a file", qPrintable(f.file)) << f.file << "link" << f.linked;
    }
}

void TestSettingsFiles::hostileFilesReadAsMissing() {
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    TestFolders folders;
    const bool server = file == "vbmail.ini";
    const QString path = server ? folders.workFile(file) : folders.dataFile(file);
    const QString real = folders.workFile("real.ini");
    TestFolders::write(real, server                    ? "POP3=linked.example.jp\r\n"
                             : file == "iniIdPass.ini" ? "[EXEINI]\r\nNAME=linked\r\n"
                                                       : "[EXEINI]\r\nNUMBER=1\r\n");
    PLANT_OR_SKIP(kind, path, real);

    ::alarm(20); // a read that blocks ends the run here rather than at the test's time-out
    QElapsedTimer t;
    t.start();
    QString got;
    if (server) {
        ServerSettings loaded = oldSettings();
        loadServerSettings(loaded);
        got = loaded.pop3Server;
    } else if (file == "iniIdPass.ini") {
        got = readAccountValue(QStringLiteral("NAME"));
    } else {
        got = QString::number(readHangUpFlag());
    }
    ::alarm(0);
    QCOMPARE(got, value);
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
}

void TestSettingsFiles::savesReplaceWhatReadsAsMissing_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    for (const char* file : {"vbmail.ini", "iniIdPass.ini", "ini.ini"}) {
        for (const char* kind : {"huge", "mode 000"})
            QTest::addRow("%s %s", file, kind) << file << kind;
    }
}

// A file too big to read, or one nobody may read, reads as missing; a save replaces it with a
// file its owner can read and write, as a new file would be (the account file for its owner
// only), and the next read finds what was saved.
void TestSettingsFiles::savesReplaceWhatReadsAsMissing() {
    QFETCH(QString, file);
    QFETCH(QString, kind);
    TestFolders folders;
    const bool server = file == "vbmail.ini";
    const bool account = file == "iniIdPass.ini";
    const QString path = server ? folders.workFile(file) : folders.dataFile(file);
    if (kind == "huge") {
        QVERIFY(TestFolders::plant(kind, path));
    } else {
        TestFolders::write(path, "[EXEINI]\r\nNUMBER=0\r\n");
#ifdef Q_OS_WIN
        // Everyone, its owner too, denied everything.
        QVERIFY(setAccessList(path, L"D:P(D;;FA;;;WD)"));
#else
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
#endif
    }
    QString got;
    if (server) {
        ServerSettings saved = oldSettings();
        saved.pop3Server = QStringLiteral("new-pop3");
        QCOMPARE(saveServerSettings(saved), SaveResult::Saved);
        ServerSettings loaded;
        loadServerSettings(loaded);
        got = loaded.pop3Server;
    } else if (account) {
        QCOMPARE(writeAccount(true, QStringLiteral("new-id"), QStringLiteral("p")), WS::Written);
        got = readAccountValue(QStringLiteral("NAME"));
    } else {
        QCOMPARE(writeHangUpFlag(true), WS::Written);
        got = QString::number(readHangUpFlag());
    }
    QCOMPARE(got, server ? "new-pop3" : account ? "new-id" : "1");
#ifdef Q_OS_WIN
    // Full control for the owner, nothing denied; the account file for no other user. (Wine
    // reads a file's list back from its POSIX mode, the system's account beside the owner.)
    const QString acl = accessList(path);
    QVERIFY2(acl.startsWith(u"D:") && acl.contains(QStringLiteral("(A;;FA;;;%1)").arg(userSid())) &&
                 !acl.contains(u"(D;"),
             qPrintable(acl));
    if (account) {
        for (const char* others : {";;;WD)", ";;;BU)", ";;;AU)", ";;;BG)"})
            QVERIFY2(!acl.contains(QLatin1String(others)), qPrintable(acl));
    }
#else
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QCOMPARE(st.st_mode & 0777, account ? 0600u : 0666u & ~mask);
#endif
}

void TestSettingsFiles::readCap_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("read");
    QTest::newRow("empty") << qint64(0) << true;
    QTest::newRow("at the cap") << SafeFile::kSettingsCap << true;
    QTest::newRow("one byte over") << SafeFile::kSettingsCap + 1 << false;
}

void TestSettingsFiles::readCap() {
    QFETCH(qint64, size);
    QFETCH(bool, read);
    TestFolders folders;
    const QString path = folders.dataFile(QStringLiteral("big.ini"));
    TestFolders::write(path, QByteArray(size, 'a'));
    const SafeFile::Contents c = SafeFile::readRegularFile(path);
    QCOMPARE(c.found, read ? SafeFile::Found::Read : SafeFile::Found::Refused);
    QCOMPARE(c.bytes.size(), read ? size : 0);
    QCOMPARE(c.why.contains(QStringLiteral("big.ini")), !read);
}

void TestSettingsFiles::leftoverCleanup_data() {
    QTest::addColumn<bool>("inData"); // else the working folder
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "file" or a kind of TestFolders::plant
    QTest::addColumn<bool>("byStart"); // else by a save of the account
    QTest::addColumn<bool>("removed");
    const QString acc = QStringLiteral(".iniIdPass.ini.mokopon-a1B2c3");
    QTest::newRow("account leftover") << true << acc << "file" << true << true;
    QTest::newRow("vbmail.ini leftover") << false << ".vbmail.ini.mokopon-Zz9900"
                                         << "file" << true << true;
    QTest::newRow("a link of that name") << true << acc << "link" << true << false;
    QTest::newRow("a FIFO of that name") << true << acc << "fifo" << true << false;
    QTest::newRow("a folder of that name") << true << acc << "folder" << true << false;
    QTest::newRow("no leading dot") << true << acc.mid(1) << "file" << true << false;
    QTest::newRow("seven random letters") << true << acc + "d"
                                          << "file" << true << false;
    QTest::newRow("a backup") << true << "iniIdPass.ini.backup"
                              << "file" << true << false;
    QTest::newRow("a save removes its own") << true << acc << "file" << false << true;
    QTest::newRow("a save leaves another file's") << true << ".ini.ini.mokopon-a1B2c3"
                                                  << "file" << false << false;
}

void TestSettingsFiles::leftoverCleanup() {
    QFETCH(bool, inData);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, byStart);
    QFETCH(bool, removed);
    TestFolders folders;
    const QByteArray account("[EXEINI]\r\nNAME3=0\r\n");
    TestFolders::write(accountFilePath(), account);
    TestFolders::write(folders.workFile("vbmail.ini"), "POP3=p\r\n");
    const QString elsewhere = folders.workFile("elsewhere");
    TestFolders::write(elsewhere, "keep");
    const QString path = (inData ? folders.dataFolder() : QDir::currentPath()) + u'/' + name;
    if (kind == "file")
        TestFolders::write(path, "NAME2=secret\r\n");
    else
        PLANT_OR_SKIP(kind, path, elsewhere);

    if (byStart)
        removeSaveLeftovers();
    else
        QCOMPARE(writeAccount(false, QString(), QString()), WS::Written);
    QCOMPARE(present(path), !removed);
    QCOMPARE(TestFolders::read(elsewhere), QByteArray("keep"));
    QVERIFY(QFileInfo::exists(folders.workFile("vbmail.ini")));
    QVERIFY(QFileInfo::exists(accountFilePath()));
}

void TestSettingsFiles::killedSavesLeaveOldOrNew() {
    TestFolders folders;
    const QStringList files{accountFilePath(), hangUpFilePath(), folders.workFile("vbmail.ini")};
    // What each file holds in either state, made by the same saves in this process.
    QList<QByteArray> states[2];
    for (int s : {1, 0}) {
        QVERIFY(saveState(s));
        for (const QString& f : files)
            states[s].append(TestFolders::read(f));
    }
    int leftovers = 0;
    const int rounds = 30;
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        child.start(QStringLiteral(SAVE_LOOP_BIN), {Program::folder(), QDir::currentPath()});
        while (!child.canReadLine() && child.waitForReadyRead(10000)) {
        }
        // trimmed: Windows ends the line with CR LF.
        QCOMPARE(child.readLine().trimmed(), QByteArray("saving"));
        // The moment of the kill is what varies between rounds; no state is waited for.
        QThread::usleep(ulong(round * 1237 % 15000));
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        for (qsizetype i = 0; i < files.size(); ++i) {
            const QByteArray bytes = TestFolders::read(files[i]);
            QVERIFY2(bytes == states[0][i] || bytes == states[1][i], qPrintable(files[i]));
        }
        const QStringList left =
            leftoversIn(folders.dataFolder()) + leftoversIn(QDir::currentPath());
        leftovers += left.size();
#ifndef Q_OS_WIN // Qt 6.4 reads no access lists there
        for (const QString& name : left)
            if (name.startsWith(QStringLiteral(".iniIdPass.ini")))
                QCOMPARE(int(QFileInfo(folders.dataFolder() + u'/' + name).permissions() & 0x0077),
                         0);
#endif
        removeSaveLeftovers();
        // Nothing else is left either, whatever its name.
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(folders.dataFolder()).entryList(all),
                 (QStringList{"ini.ini", "iniIdPass.ini"}));
        QCOMPARE(QDir::current().entryList(all), QStringList{"vbmail.ini"});
    }
    qInfo("%d leftovers after %d kills", leftovers, rounds);
}

// The place a Wayland session starts the character at: what was written comes back, and a file
// that does not hold two whole numbers a screen can hold gives none.
void TestSettingsFiles::characterPlace_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QPoint>("place");
    QTest::newRow("as written") << QByteArray("4500 -1500\n") << true << QPoint(4500, -1500);
    QTest::newRow("CR LF and blanks") << QByteArray(" 15  30\r\n") << true << QPoint(15, 30);
    QTest::newRow("empty") << QByteArray() << false << QPoint();
    QTest::newRow("one number") << QByteArray("4500\n") << false << QPoint();
    QTest::newRow("three numbers") << QByteArray("1 2 3\n") << false << QPoint();
    QTest::newRow("not whole") << QByteArray("1.5 2\n") << false << QPoint();
    QTest::newRow("past any screen") << QByteArray("99999999999 0\n") << false << QPoint();
}

void TestSettingsFiles::characterPlace() {
    QFETCH(QByteArray, contents);
    QFETCH(bool, found);
    QFETCH(QPoint, place);
    TestFolders folders;
    const QString path = CharacterPlace::filePath();
    QCOMPARE(path, folders.dataFile(QStringLiteral("character-place.txt")));
    QVERIFY(!CharacterPlace::read(path));
    TestFolders::write(path, contents);
    const std::optional<QPoint> read = CharacterPlace::read(path);
    QCOMPARE(read.has_value(), found);
    if (!found)
        return;
    QCOMPARE(*read, place);
    CharacterPlace::write(path, place + QPoint(15, 15));
    QCOMPARE(CharacterPlace::read(path), std::optional<QPoint>(place + QPoint(15, 15)));
}

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settingsfiles.moc"
