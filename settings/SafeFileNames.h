#pragma once
// What the platforms' SafeFile files share: the names of a replace's temporary files.

#include <QString>

namespace SafeFile::detail {

// A fresh name for the temporary file of a replace of fileName in folder:
// folder/.<fileName>.mokopon-XXXXXX.
QString temporaryPath(const QString& folder, const QString& fileName);
// True when name is the name of a temporary file of a replace of fileName.
bool isLeftoverOf(const QString& name, const QString& fileName, Qt::CaseSensitivity cs);

} // namespace SafeFile::detail
