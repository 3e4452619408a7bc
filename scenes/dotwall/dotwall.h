// Scene module DotWall: its loader, init and render callbacks.
#pragma once

void DotWall_Load(void);
