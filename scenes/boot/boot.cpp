// Scene module Boot (to come): the loader is empty until the module lands.
#include "scenes/boot/boot.h"

void Boot_Load(void) {}
