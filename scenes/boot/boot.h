// Scene module Boot: its loader, init and render callbacks.
#pragma once

void Boot_Load(void);
