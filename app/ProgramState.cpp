#include "ProgramState.h"

bool companionStandsIn = false;
