#pragma once

#include <QString>

// The part of text before its first NUL character, or the whole text when it holds none. The
// check by hand shows a failure's text so: one that quotes a server setting read from a file may
// hold a NUL.
QString cutAtNul(const QString& text);
