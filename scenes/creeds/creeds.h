// Scene module Creeds: its loader, init and render callbacks.
#pragma once

void Creeds_Load(void);
