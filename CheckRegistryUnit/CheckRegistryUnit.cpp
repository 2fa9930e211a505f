#include "CheckRegistryUnit.h"

void CheckRegistry() {}
