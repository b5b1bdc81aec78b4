#pragma once
// The server settings file vbmail.ini (in the working folder, or for an installed copy in its
// settings folder: ProgramFolders.h): four lines "SMTP=", "POP3=", "MAIL=", "APOP=" with their
// values, cp932, CR LF.

#include <QString>
#include <QtGlobal>

// Reads vbmail.ini into SmtpServer, Pop3Server, MailAddress and ApopFlag; a missing file, or
// anything but a regular file of at most SafeFile::kSettingsCap bytes, leaves them as they are.
void LoadServerSettings();

enum class SaveResult { Saved, Unencodable, Failed };

// Writes vbmail.ini from the four settings. The file is replaced whole or not at all: a value
// that cp932 cannot hold, or a file that cannot be written (a symbolic link or anything but a
// regular file counts as one), leaves the old file untouched.
SaveResult SaveServerSettings();

// The APOP flag for the text after "APOP=", read like the Windows version's number conversion:
// blanks ignored, reading stops at the first character that cannot continue the number, a fraction
// rounds to the nearest integer (a half to even), no number at all is 0. A number that does not
// fit 16 bits still means "use APOP" (1) instead of stopping the program.
qint16 apopFlagFromText(const QString& text);

inline constexpr const char* kServerSettingsFile = "vbmail.ini";
// Where it is read and written.
QString serverSettingsFilePath();
