// Scene module G: a white band and curtain open on a pair of blinking eyes, then a knitted net
// of lit stitch wells between two friezes reveals a line of dark text (entries 8 to 15).
#pragma once

// Loader: the friezes, the eye frames, the arcs of the net and its 81 stitch layers.
void Eyes_Load(void);
// Init of entry 8: GL state, the eye, frieze, overlay and view lists.
void Eyes_Init(void);
// Entries 8 and 15: a white band rises over black until the screen is white, or leaves it.
void Eyes_RenderA(void);
// Entries 9 and 14: the white curtain opens from the middle line, or closes on it.
void Eyes_RenderB(void);
// Entry 10: two small eyes blink and look about in the middle of the open curtain.
void Eyes_RenderC(void);
// Entries 11 and 13: the stitch net between the friezes, fading in from black or out to it.
void Eyes_RenderD(void);
// Entry 12: the stitch net walking through its layers, twinkling, then revealing the text.
void Eyes_RenderE(void);

// Layer 0 ... 80 of the net as the loader left it: 71 columns of 9 rows, 1 where the stitch
// is open. Read by the tests; the renders index the layers themselves.
const unsigned char (*Eyes_StitchLayer(int layer))[9];
// Line 0 ... 4 of the text the closed stitches spell, top line first, as it reads on screen:
// '#' a closed stitch. Read by the tests.
const char *Eyes_PatternLine(int line);
