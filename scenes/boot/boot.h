// Scene module I: the boot screen with its loading indicators (entry 0), the picture breaking
// into flying tiles (entries 1 and 2) and the closing bars (entry 3).
#pragma once

void Boot_Load(void);
void Boot_Init(void);
void Boot_Render(void);
void Boot_InitTiles(void);
void Boot_RenderTilesA(void);
void Boot_RenderTilesB(void);
void Boot_InitWipe(void);
void Boot_RenderWipe(void);
