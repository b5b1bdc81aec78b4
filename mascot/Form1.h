#pragma once
// The startup character: the program's first window. Its load is the program's start, its unload
// the orderly end.

#include "CharacterWindow.h"

class Form1 : public CharacterWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);

    void Form_Load() override;
    void Form_Unload() override;
    void Form_DblClick() override;
    void Timer1_Timer() override;
};
