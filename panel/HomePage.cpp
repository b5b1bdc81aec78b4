#include "HomePage.h"

#include "ProgramFolders.h"

#include <QDesktopServices>

QUrl HomePageUrl() {
    return QUrl::fromLocalFile(ProgramFolders::resources() + QStringLiteral("/hp/index.html"));
}

bool OpenHomePage() {
    return QDesktopServices::openUrl(HomePageUrl());
}
