// "settings_saveloop PROGRAM-FOLDER WORKING-FOLDER": saves the settings files in one state and
// then the other, for ever, until killed. Prints "saving" once the first round is done.

#include "Program.h"
#include "SaveLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    Program::setFolder(QString::fromLocal8Bit(argv[1]));
    if (!QDir::setCurrent(QString::fromLocal8Bit(argv[2])))
        return 2;
    for (int round = 0;; ++round) {
        if (!saveState(round % 2))
            return 1;
        if (round == 0) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}
