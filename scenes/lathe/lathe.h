// Scene module Lathe: its loader, init and render callbacks.
#pragma once

void Lathe_Load(void);
