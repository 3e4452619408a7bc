// Archive reader: the one packed archive, its directory kept in memory, entries inflated by
// name and type.
#pragma once

#include <cstdint>

int ZAF_Open(const char *path);
void *ZAF_Read(const char *name, uint32_t type);
int ZAF_Close(void);
