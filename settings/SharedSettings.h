#pragma once
// Settings: the three settings files, the settings every window shares, and the three settings
// dialogs.
//
// Data flow (where the files are: ProgramFolders.h): the start-up reads vbmail.ini into the shared
// server settings below and the hang-up flag (★MailData/ini.ini) into SettingsDialog's check box;
// the account (★MailData/iniIdPass.ini) is read by AccountDialog's load and by every mail check.
// ServerDialog writes the server settings back, AccountDialog the account, SettingsDialog's unload
// the hang-up flag. All three files are cp932 with CR LF line ends, as the Windows version writes
// them.

#include <QString>
#include <QtGlobal>

// The server settings, filled by LoadServerSettings and by ServerDialog's 設定 once it has saved
// them.
extern QString Pop3Server;
extern QString SmtpServer;
extern QString MailAddress;
// 0: plain login; any other value: APOP.
extern qint16 ApopFlag;

// The account of the current mail check, set by the check and by AccountDialog's OK.
extern QString UserId;
extern QString UserPass;
