#include "CheckINIUnit.h"

void CheckINI() {}
