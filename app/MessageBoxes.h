#pragma once
// Modal message boxes with the classic style bits and answers, behind one seam so that widget
// tests can answer them instead of blocking.

#include <QString>
#include <functional>

namespace MessageBoxStyle {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
} // namespace MessageBoxStyle

namespace MessageBoxResult {
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace MessageBoxResult

using MessageBoxHandler = std::function<int(const QString& text, int style, const QString& title)>;

// Shows the box and waits for the answer.
int showMessageBox(const QString& text, int style, const QString& title);

// Replaces the real box (tests); an empty handler restores it.
void setMessageBoxHandler(MessageBoxHandler handler);
