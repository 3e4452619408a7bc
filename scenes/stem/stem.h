// Scene module Stem: a ribbed bulb with a sprouting stem, turning inside two spinning, swelling
// groups of soft disc bands behind faint panes, framed by black bars (entries 21 to 27).
#pragma once

// Loader: reads the "lodyga" mesh and computes the bulb and the ten disc sets.
void Stem_Load(void);
// Init of entry 21: GL state and every display list of the scene.
void Stem_Init(void);
// Entries 21 and 27: a black curtain slides off the screen, or back over it.
void Stem_RenderSlide(void);
// Entries 22 and 26: the turning bulb and discs seen through a band that opens from the middle
// line, or closes onto it.
void Stem_RenderOpen(void);
// Entries 23 to 25: the turning bulb, its two disc groups swelling and shrinking.
void Stem_RenderGrow(void);

// The loader's geometry, read-only, for checks of its shape: ring segment i (0 to 29) as 36
// points, and disc set s (0 to 9) as 256 discs of a centre and 8 rim points each.
const float (*Stem_RingSegment(int i))[3];
const float (*Stem_DiscSet(int s))[3];
