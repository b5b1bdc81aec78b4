#pragma once
// The maker's home page: a page shipped beside the program, opened in the desktop's browser.

#include <QString>
#include <QUrl>

QUrl homePageUrl();
// False when no browser could be started; nothing is reported then.
bool openHomePage();
