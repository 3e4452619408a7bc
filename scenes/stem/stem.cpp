// Scene module Stem (to come): the loader is empty until the module lands.
#include "scenes/stem/stem.h"

void Stem_Load(void) {}
