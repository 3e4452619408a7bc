// Scene module Helmet (to come): the loader is empty until the module lands.
#include "scenes/helmet/helmet.h"

void Helmet_Load(void) {}
