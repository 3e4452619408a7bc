// Scene module DotWall: a close-up of a picture tube, a turning wall of glowing red, green and
// blue dot triads swept by rolling bands of brightness (entries 16 to 20).
#pragma once

// Loader: the module reads nothing from the archive; all its data is constant.
void DotWall_Load(void);
// Init of entry 16: GL state and the dot, ray and letterbox display lists.
void DotWall_Init(void);
// Entry 16: row bands, the letterbox fading in from black.
void DotWall_RenderA(void);
// Entry 17: row bands.
void DotWall_RenderB(void);
// Entry 18: row bands crossed by column bands, a lattice.
void DotWall_RenderC(void);
// Entry 19: row bands crossed by cell bands, diagonals.
void DotWall_RenderD(void);
// Entry 20: as entry 19, the letterbox fading out to black.
void DotWall_RenderE(void);

// Palette index of cell (row, column) of the wall's picture, row 0 the top. Read by the tests.
int DotWall_ImageCell(int row, int column);
