#pragma once
// Settings: the three settings files, the values they hold, and the three settings dialogs.
//
// Data flow (where the files are: ProgramFolders.h): the start-up reads vbmail.ini into the
// program's ServerSettings (main.cpp holds them) and the hang-up flag (★MailData/ini.ini) into
// SettingsDialog's check box. ServerDialog shows the server settings in use and replaces them once
// 設定 has saved them; the mail check receives them. The account (★MailData/iniIdPass.ini) is read
// by AccountDialog's load and by every mail check, for that check alone; AccountDialog writes it,
// SettingsDialog's unload the hang-up flag. All three files are cp932 with CR LF line ends, as the
// Windows version writes them.
//
// The server settings file vbmail.ini (in the working folder, or for an installed copy in its
// settings folder: ProgramFolders.h): four lines "SMTP=", "POP3=", "MAIL=", "APOP=" with their
// values, cp932, CR LF.

#include <QString>
#include <QtGlobal>

struct ServerSettings {
    QString smtpServer;
    QString pop3Server;
    QString mailAddress;
    // 0: plain login; any other value: APOP (the server dialog shows 2 as a greyed box).
    qint16 apopFlag = 0;

    bool operator==(const ServerSettings&) const = default;
};

// Reads vbmail.ini over settings: each of the four lines found replaces its value. A missing file,
// or anything but a regular file of at most SafeFile::kSettingsCap bytes, leaves them as they are.
void loadServerSettings(ServerSettings& settings);

enum class SaveResult { Saved, Unencodable, Failed };

// Writes vbmail.ini from the four settings. The file is replaced whole or not at all: a value
// that cp932 cannot hold, or a file that cannot be written (a symbolic link or anything but a
// regular file counts as one), leaves the old file untouched.
SaveResult saveServerSettings(const ServerSettings& settings);

// The APOP flag for the text after "APOP=", read like the Windows version's number conversion:
// blanks ignored, reading stops at the first character that cannot continue the number, a fraction
// rounds to the nearest integer (a half to even), no number at all is 0. A number that does not
// fit 16 bits still means "use APOP" (1) instead of stopping the program.
qint16 apopFlagFromText(const QString& text);

inline constexpr const char* kServerSettingsFile = "vbmail.ini";
// Where it is read and written.
QString serverSettingsFilePath();
