// Scene module Lathe (to come): the loader is empty until the module lands.
#include "scenes/lathe/lathe.h"

void Lathe_Load(void) {}
