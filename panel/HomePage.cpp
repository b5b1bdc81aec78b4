#include "HomePage.h"

#include "ProgramFolders.h"

#include <QDesktopServices>

QUrl homePageUrl() {
    return QUrl::fromLocalFile(ProgramFolders::resources() + QStringLiteral("/hp/index.html"));
}

bool openHomePage() {
    return QDesktopServices::openUrl(homePageUrl());
}
