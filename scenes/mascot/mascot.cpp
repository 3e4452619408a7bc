// Scene module Mascot (to come): the loader is empty until the module lands.
#include "scenes/mascot/mascot.h"

void Mascot_Load(void) {}
