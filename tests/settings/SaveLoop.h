#pragma once
// The two settings states the save loop switches between, shared by the loop (a child process the
// tests kill at random moments) and the tests that check what it leaves.

#include "DataFiles.h"
#include "ServerSettings.h"

// Saves all three settings files in state 0 or 1; true when all three were written.
inline bool saveState(int state) {
    const ServerSettings servers{
        .smtpServer = state ? QStringLiteral("smtp.example.jp") : QString(),
        .pop3Server = state ? QStringLiteral("pop3s://pop.example.jp:995") : QStringLiteral("pop"),
        .mailAddress = state ? QStringLiteral("山田@example.jp") : QStringLiteral("a@b"),
        .apopFlag = qint16(state)};
    const ProfileFile::WriteStatus account =
        state ? writeAccount(true, QStringLiteral("山田太郎"), QStringLiteral("second secret"))
              : writeAccount(true, QStringLiteral("u"), QStringLiteral("first"));
    return account == ProfileFile::WriteStatus::Written &&
           saveServerSettings(servers) == SaveResult::Saved &&
           writeHangUpFlag(state) == ProfileFile::WriteStatus::Written;
}
