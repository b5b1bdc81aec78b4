#pragma once
// The two INI files in the data folder ★MailData (see ProgramFolders.h for where it is): the
// account file (section EXEINI, keys NAME, NAME2, NAME3) and the hang-up setting file (EXEINI,
// NUMBER, and INTERVAL for the automatic check, a key the Windows version does not know and
// leaves alone). These files never create the data folder: writes into a missing folder store
// nothing, and say so only for a save the user asked for (the account dialog's OK with the save
// box ticked).

#include "ProfileFile.h"

#include <QString>

QString dataFolderPath();
QString accountFilePath();
QString hangUpFilePath();

// Deletes what saves cut short by a crash left behind, beside these files and vbmail.ini (see
// SafeFile.h); quiet, for the start-up.
void removeSaveLeftovers();

// The stored value of one key of the account file (at most 255 cp932 bytes), or "".
QString readAccountValue(const QString& key);

// Writes the account as the account dialog's OK does: with save ticked NAME, NAME2 and
// NAME3 = "1", otherwise NAME3 = "0" alone. The file holds the password in plain text, so it is
// made readable by its owner only.
ProfileFile::WriteStatus writeAccount(bool save, const QString& id, const QString& password);

// NUMBER of the hang-up setting file; 0 when the file, section or key is missing.
qint32 readHangUpFlag();

// Whether the hang-up box is ticked once the stored value is read into it: 1 ticks it, 0 clears
// it, any other value leaves it as it was.
bool hangUpTickedAfterRead(bool ticked);

// NUMBER = "1" for a ticked box, "0" for a clear one.
ProfileFile::WriteStatus writeHangUpFlag(bool ticked);

// The automatic check's interval: INTERVAL of the hang-up setting file, in minutes.
inline constexpr qint32 kMaxCheckInterval = 1440;
// 1 .. kMaxCheckInterval, or 0 (off) when the key is missing, out of range or not a whole number.
qint32 readCheckInterval();
ProfileFile::WriteStatus writeCheckInterval(qint32 minutes);
