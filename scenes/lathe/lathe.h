// Scene module Lathe: a half column that swells in travelling waves, its cells glowing and
// raying out to a wide shell, behind four drifting layers of soft sprites (entry 35).
#pragma once

// Loader: the two backdrop pictures, the column's rings, its wave table, the sprite shapes
// and the sprite layout drawn from rand().
void Lathe_Load(void);
// Init of entry 35: GL state with face culling on; backdrop, band, overlay and sprite lists.
void Lathe_Init(void);
// Entry 35: the pulsing column and its rays over the backdrop, the sprite layers drifting up
// and down past it, a brown haze over the band that breathes with the waves.
void Lathe_Render(void);

// What the tests look at: the column as the loader built it, the live rings as the last
// render left them, the wave table and where the sprites sit. Read-only; valid once
// Lathe_Load has run.
struct LatheVertex {
    float x, y, z;
};
struct LatheView {
    const LatheVertex (*inner)[16];      // 30 rings on the column
    const LatheVertex (*outer)[16];      // 30 rings on the shell
    const LatheVertex (*mid_inner)[15];  // 29 rings of cell middles on the column
    const LatheVertex (*mid_outer)[15];  // and on the shell
    const LatheVertex (*live_inner)[16];
    const LatheVertex (*live_mid_inner)[15];
    const float *wave;                   // 83 swell factors
    const float (*sprites)[32][2];       // per layer, back to front: (x, y) at chan_x = 0
    float layer_z[4];                    // each layer's depth, back to front
};
LatheView Lathe_View(void);
