#include "CheckStartupUnit.h"

void CheckStartup() {}
