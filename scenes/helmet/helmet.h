// Scene module Helmet: its loader, init and render callbacks.
#pragma once

void Helmet_Load(void);
