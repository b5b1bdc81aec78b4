#include "DataFiles.h"

#include "ProgramFolders.h"
#include "SafeFile.h"

namespace {
const QString kSection = QStringLiteral("EXEINI");
}

QString dataFolderPath() {
    return ProgramFolders::mailData();
}

QString accountFilePath() {
    return dataFolderPath() + QStringLiteral("/iniIdPass.ini");
}

QString hangUpFilePath() {
    return dataFolderPath() + QStringLiteral("/ini.ini");
}

void removeSaveLeftovers() {
    SafeFile::removeLeftovers(dataFolderPath());
    SafeFile::removeLeftovers(ProgramFolders::serverSettings());
}

QString readAccountValue(const QString& key) {
    return ProfileFile::getString(kSection, key, QString(), accountFilePath(), 256);
}

ProfileFile::WriteStatus writeAccount(bool save, const QString& id, const QString& password) {
    QList<QPair<QString, QString>> entries;
    if (save)
        // Quoted where needed so that blanks around a password survive the read.
        entries = {{QStringLiteral("NAME"), ProfileFile::protectForRead(id)},
                   {QStringLiteral("NAME2"), ProfileFile::protectForRead(password)},
                   {QStringLiteral("NAME3"), QStringLiteral("1")}};
    else
        entries = {{QStringLiteral("NAME3"), QStringLiteral("0")}};
    return ProfileFile::writeStrings(kSection, entries, accountFilePath(),
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

qint32 readHangUpFlag() {
    return ProfileFile::getInt(kSection, QStringLiteral("NUMBER"), 0, hangUpFilePath());
}

bool hangUpTickedAfterRead(bool ticked) {
    const qint32 n = readHangUpFlag();
    return n == 1 || (n != 0 && ticked);
}

ProfileFile::WriteStatus writeHangUpFlag(bool ticked) {
    return ProfileFile::writeString(kSection, QStringLiteral("NUMBER"),
                                    ticked ? QStringLiteral("1") : QStringLiteral("0"),
                                    hangUpFilePath());
}

qint32 readCheckInterval() {
    const QString value =
        ProfileFile::getString(kSection, QStringLiteral("INTERVAL"), QString(), hangUpFilePath());
    // Only digits: a hand-edited "5x" or "-5" means nothing sure, so the check stays off.
    if (value.isEmpty() || value.size() > 9)
        return 0;
    for (const QChar c : value) {
        if (c < u'0' || c > u'9')
            return 0;
    }
    const qint32 minutes = value.toInt();
    return minutes <= kMaxCheckInterval ? minutes : 0;
}

ProfileFile::WriteStatus writeCheckInterval(qint32 minutes) {
    return ProfileFile::writeString(kSection, QStringLiteral("INTERVAL"),
                                    QString::number(qBound(0, minutes, kMaxCheckInterval)),
                                    hangUpFilePath());
}
