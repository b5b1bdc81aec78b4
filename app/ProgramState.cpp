#include "ProgramState.h"

qint16 BarkMode = 0;
