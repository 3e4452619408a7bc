// Asset decoders: archive entries turned into pictures, meshes and raw blocks, and pictures
// into display lists of textured tile quads.
#pragma once

#include <cstdint>

enum : uint32_t {
    ZAF_TYPE_MESH = 15,
    ZAF_TYPE_PICTURE = 16,
    ZAF_TYPE_DATA = 32,
};

// RGB tiles one after another: tile row 0 (drawn lowest) first, columns left to right,
// each tile's rows top row first.
struct Picture {
    uint32_t tile_width;
    uint32_t tile_height;
    uint32_t tiles_across;
    uint32_t tiles_down;
    unsigned char *pixels;
};

struct Mesh {
    float *triangles;          // triangle_count × 3 vertices × (x, y, z)
    uint32_t second_count;     // carried from the payload, read by nobody
    uint32_t triangle_count;
};

// Each never returns on failure; the records live until the process ends.
Picture *ZAF_ReadPicture(const char *name);
Mesh *ZAF_ReadASE(const char *name);
void *ZAF_ReadData(const char *name);

// The texture state every picture list is drawn with: replace, nearest, clamped.
void Picture_SetTextureState(void);
// Compiles (without executing) list: per tile an upload into the current texture, then its
// quad. The picture's lower left corner is the origin, one unit per pixel.
void Picture_BuildList(unsigned int list, const Picture *picture);

#ifdef QM_ZAF_RECOVERABLE
// Frees what a decoder that failed part-way had allocated.
void Decoders_ReleaseWork(void);
#endif
