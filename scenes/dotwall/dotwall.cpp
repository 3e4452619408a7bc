// Scene module DotWall (to come): the loader is empty until the module lands.
#include "scenes/dotwall/dotwall.h"

void DotWall_Load(void) {}
