#pragma once

#include <QString>

// The part of text before its first NUL character, or the whole text when it holds none. The
// library's texts arrive in fixed-size buffers ended by NUL.
QString cutAtNul(const QString& text);
