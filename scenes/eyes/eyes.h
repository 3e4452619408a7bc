// Scene module Eyes: its loader, init and render callbacks.
#pragma once

void Eyes_Load(void);
