// Archive reader (to come): open, read and close are empty until the reader lands.
#include "assets/zaf.h"

int ZAF_Open(const char *) { return 0; }
void *ZAF_Read(const char *, uint32_t) { return nullptr; }
int ZAF_Close(void) { return 0; }
