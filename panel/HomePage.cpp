#include "HomePage.h"

#include "Program.h"

#include <QDesktopServices>

QUrl HomePageUrl() {
    return QUrl::fromLocalFile(Program::folder() + QStringLiteral("/hp/index.html"));
}

bool OpenHomePage() {
    return QDesktopServices::openUrl(HomePageUrl());
}
