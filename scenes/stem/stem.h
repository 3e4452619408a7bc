// Scene module Stem: its loader, init and render callbacks.
#pragma once

void Stem_Load(void);
