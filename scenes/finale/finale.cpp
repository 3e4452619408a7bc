// Scene module Finale (to come): the loader is empty until the module lands.
#include "scenes/finale/finale.h"

void Finale_Load(void) {}
