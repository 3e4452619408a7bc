// Scene module Finale: its loader, init and render callbacks.
#pragma once

void Finale_Load(void);
