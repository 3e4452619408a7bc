// Payload formats against the files people edit: PNG for pictures, Wavefront OBJ for meshes.
#pragma once

#include <cstdint>
#include <string>

#include "tools/zaf/zaf_archive.h"

namespace zaf {

// 8-bit RGB, top row first.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes rgb;
};

struct PictureHeader {
    uint32_t tiles_across, tiles_down, tile_width, tile_height;
};

struct MeshHeader {
    uint32_t triangle_count, second_count;
};

// Any PNG libpng can turn into 8-bit RGB; alpha is dropped. Throws "PATH: reason".
Image Png_Read(const std::string &path);
void Png_Write(const std::string &path, const Image &image);

// Cuts the image into tiles: the bottom tile row first, each tile's top pixel row first.
Bytes Picture_Encode(const Image &image, uint32_t tile_width, uint32_t tile_height);
// Header of a picture payload, checked against the payload's length.
PictureHeader Picture_Header(const Bytes &payload);
// The whole picture as it is drawn.
Image Picture_Decode(const Bytes &payload);

// OBJ `v` and `f` lines, faces fan-triangulated. Throws "PATH:LINE: reason".
Bytes Mesh_Encode(const std::string &path);
MeshHeader Mesh_Header(const Bytes &payload);
std::string Mesh_Decode(const Bytes &payload, const std::string &name);

}  // namespace zaf
