// Scene module B, the finale: a picture assembles like a comb, a dot-matrix message rolls on a
// rocking wave behind a stack of orange squares, and a butterfly zooms into black (36 to 41).
#pragma once

// Loader: the comb and butterfly pictures, the message and its dot bitmap, the wave heights.
// Reads the dot font cells, so it runs after the spike-shell loader.
void Finale_Load(void);
// Init of entry 36: GL state and the flat view, comb, stack, 3-D view, butterfly and cover lists.
void Finale_Init(void);
// Entry 36: the picture's even tile columns slide down from above, its odd ones up from below.
void Finale_RenderShutters(void);
// Entries 37 and 39: over the picture, a stack of translucent orange squares grows or shrinks.
void Finale_RenderStack(void);
// Entry 38: the message scrolls leftward across a rolling, rocking wave behind the full stack.
void Finale_RenderWaterText(void);
// Entry 40: the comb halves part to reveal the butterfly, flickering under black stripes.
void Finale_RenderReveal(void);
// Entry 41: the butterfly zooms to twice its size and fades to black.
void Finale_RenderLast(void);

// One cell of the message's dot bitmap (column 0…2639, row 0…14 from the bottom): 1 where a
// dot is lit. For the tests; the renders read the bitmap directly.
int Finale_TextCell(int column, int row);
