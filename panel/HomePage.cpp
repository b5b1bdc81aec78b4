#include "HomePage.h"

#include "Program.h"

#include <QDesktopServices>

QUrl homePageUrl() {
    return QUrl::fromLocalFile(Program::folder() + QStringLiteral("/hp/index.html"));
}

bool openHomePage() {
    return QDesktopServices::openUrl(homePageUrl());
}
