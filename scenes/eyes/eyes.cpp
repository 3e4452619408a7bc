// Scene module Eyes (to come): the loader is empty until the module lands.
#include "scenes/eyes/eyes.h"

void Eyes_Load(void) {}
