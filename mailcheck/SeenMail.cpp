#include "SeenMail.h"

#include "MailOptions.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace {

bool validId(QByteArrayView id) {
    if (id.isEmpty() || id.size() > kMailMaxUidBytes)
        return false;
    for (const char c : id) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

} // namespace

SeenMail::SeenMail(const QString& filePath) : m_path(filePath) {}

QString SeenMail::account(const QString& user, const QString& host, quint16 port) {
    return QString::fromLatin1(QUrl::toPercentEncoding(user) + '@' +
                               QUrl::toPercentEncoding(host.toLower()) + ':' +
                               QByteArray::number(port));
}

bool SeenMail::hasNew(const std::optional<Mailbox>& before, const MailboxListing& now) {
    if (!before)
        return now.count > 0;
    if (!now.idsKnown || !before->idsKnown)
        return now.count > before->count;
    const QSet<QString> seen(before->ids.cbegin(), before->ids.cend());
    bool afterSeen = false;
    bool unseenBefore = false;
    for (const QString& id : now.ids) {
        if (seen.contains(id))
            afterSeen = true;
        else if (afterSeen)
            return true;
        else
            unseenBefore = true;
    }
    // Nothing seen is left: the mailbox was emptied or its ids changed, and what is there is new.
    return unseenBefore && !afterSeen;
}

std::optional<SeenMail::Mailbox> SeenMail::seen(const QString& account) const {
    for (const Entry& e : load()) {
        if (e.account == account)
            return e.mailbox;
    }
    return std::nullopt;
}

bool SeenMail::takeNew(const QString& account, const MailboxListing& now) {
    QList<Entry> entries = load();
    std::optional<Mailbox> before;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].account == account) {
            before = entries.takeAt(i).mailbox;
            break;
        }
    }
    const bool fresh = hasNew(before, now);
    Mailbox mailbox{now.count, now.idsKnown,
                    now.idsKnown ? now.ids.last(qMin<qsizetype>(now.ids.size(), kMaxIds))
                                 : QStringList()};
    entries.prepend({account, std::move(mailbox)});
    while (entries.size() > kMaxAccounts)
        entries.removeLast();
    save(entries);
    return fresh;
}

QList<SeenMail::Entry> SeenMail::load() const {
    QList<Entry> entries;
    const SafeFile::Contents file = SafeFile::readRegularFile(m_path, kFileCap);
    if (file.found != SafeFile::Found::Read)
        return entries;
    for (QByteArrayView line : file.bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() < 2 || line[1] != ' ')
            continue;
        const QByteArrayView value = line.sliced(2);
        switch (line[0]) {
        case 'A':
            if (entries.size() >= kMaxAccounts)
                return entries;
            entries.append({QString::fromUtf8(value), {}});
            break;
        case 'N': {
            if (entries.isEmpty())
                break;
            const QList<QByteArray> fields = value.toByteArray().split(' ');
            bool ok = false;
            const qint32 count = fields.value(0).toInt(&ok);
            entries.last().mailbox.count = ok && count >= 0 ? count : 0;
            entries.last().mailbox.idsKnown = fields.value(1) == "1";
            break;
        }
        case 'U':
            if (!entries.isEmpty() && entries.last().mailbox.ids.size() < kMaxIds && validId(value))
                entries.last().mailbox.ids.append(QString::fromLatin1(value));
            break;
        default:
            break;
        }
    }
    return entries;
}

void SeenMail::save(const QList<Entry>& entries) const {
    // Only into an existing data folder, which this program never creates.
    if (!QFileInfo(m_path).dir().exists())
        return;
    QByteArray bytes;
    for (const Entry& e : entries) {
        bytes += "A " + e.account.toUtf8() + '\n';
        bytes += "N " + QByteArray::number(e.mailbox.count) + ' ' +
                 (e.mailbox.idsKnown ? "1" : "0") + '\n';
        for (const QString& id : e.mailbox.ids) {
            if (validId(id.toLatin1()))
                bytes += "U " + id.toLatin1() + '\n';
        }
    }
    // A file that cannot be written leaves the previous one: at worst mail is reported again.
    SafeFile::replaceFile(m_path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
