// Scene module Creeds (to come): the loader is empty until the module lands.
#include "scenes/creeds/creeds.h"

void Creeds_Load(void) {}
