// Scene module Creeds: two counter-turning shells of glowing trefoil cells with a dark figure
// on them, and four corner labels lit one per entry (entries 29 to 34).
#pragma once

// Loader: reads the label picture and turns every cell of the two shells into place.
void Creeds_Load(void);
// Init of entry 29: GL state, the label, glow, core and screen lists, the 3000 cell lists.
void Creeds_Init(void);
// Entry 29: the shells turn in the middle of the screen, fading in from black.
void Creeds_RenderEnter(void);
// Entry 30: the shells swing apart and together; the top right label glows.
void Creeds_RenderA(void);
// Entry 31: as entry 30 with another figure; the bottom right label glows.
void Creeds_RenderB(void);
// Entry 32: as entry 30 with another figure; the top left label glows.
void Creeds_RenderC(void);
// Entry 33: as entry 30 with another figure; the bottom left label glows.
void Creeds_RenderD(void);
// Entry 34: the shells turn in the middle of the screen, fading out to black.
void Creeds_RenderLeave(void);

// For the tests: what mask m (0 ... 3) does to cell (spoke, ring), read from the module's own
// table: 1 where it darkens the disc centres, plus 2 where it quiets the blades.
int Creeds_MaskCell(int mask, int spoke, int ring);
