#pragma once
// The Japanese texts of the settings dialogs' error boxes, all titled "エラー".

#include <QString>
#include <QStringList>

class MessageBoxes;

namespace ErrorMessages {

// Fields whose text cp932 cannot hold (an emoji, for instance), named as the dialog names them.
QString unencodable(const QStringList& fieldNames);

// A settings file that could not be written; what names the settings, path the file.
QString notWritten(const QString& what, const QString& path);

// The account dialog's "don't save" choice (the save box clear) that could not be written to the
// account file at path.
QString choiceNotRecorded(const QString& path);

// Settings the user asked to save, which cannot be stored because the data folder is missing.
QString dataFolderMissing(const QString& what, const QString& folder);

// Shows text in a critical message box titled "エラー".
void show(MessageBoxes& boxes, const QString& text);

} // namespace ErrorMessages
