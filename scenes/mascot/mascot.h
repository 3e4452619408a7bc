// Scene module Mascot: its loader, init and render callbacks.
#pragma once

void Mascot_Load(void);
