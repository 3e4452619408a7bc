#include "tools/zaf/zaf_formats.h"

#include <png.h>

#include <cerrno>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace zaf {

// ---- PNG ----------------------------------------------------------------------------------

static void Png_Error(png_structp png, png_const_charp message)
{
    auto *text = static_cast<std::string *>(png_get_error_ptr(png));
    *text = message;
    png_longjmp(png, 1);
}

static void Png_Warning(png_structp, png_const_charp) {}

// Everything with a destructor lives outside the frame that calls setjmp.
static bool Png_ReadInto(FILE *file, Image &image, std::string &error)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, Png_Error,
                                             Png_Warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    png_bytep *volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete[] rows;
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int color = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    if (color == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (color == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16)
        png_set_strip_16(png);
    if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (color & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)width * 3)
        png_error(png, "cannot convert to 8-bit RGB");
    if ((uint64_t)width * height * 3 > UINT32_MAX)
        png_error(png, "image too large");
    image.width = width;
    image.height = height;
    image.rgb.resize((size_t)width * height * 3);
    rows = new png_bytep[height];
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = image.rgb.data() + (size_t)y * width * 3;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    delete[] rows;
    return true;
}

Image Png_Read(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw Error(path + ": cannot open: " + std::strerror(errno));
    unsigned char signature[8];
    bool is_png = std::fread(signature, 1, 8, file) == 8 && png_sig_cmp(signature, 0, 8) == 0;
    Image image;
    std::string error;
    bool ok = false;
    if (is_png) {
        std::rewind(file);
        ok = Png_ReadInto(file, image, error);
    }
    std::fclose(file);
    if (!is_png)
        throw Error(path + ": not a PNG file");
    if (!ok)
        throw Error(path + ": bad PNG: " + error);
    return image;
}

void Png_Write(const std::string &path, const Image &image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr))
        throw Error(path + ": cannot write PNG: " + png.message);
}

// ---- Pictures -----------------------------------------------------------------------------

static bool Power_Of_Two(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// Byte offset in the image of pixel row `row` (within the tile, from its top) of tile (r, k).
static size_t Image_Offset(uint32_t width, uint32_t tiles_down, const PictureHeader &h,
                           uint32_t r, uint32_t k, uint32_t row)
{
    size_t y = (size_t)(tiles_down - 1 - r) * h.tile_height + row;
    return (y * width + (size_t)k * h.tile_width) * 3;
}

Bytes Picture_Encode(const Image &image, uint32_t tile_width, uint32_t tile_height)
{
    if (!Power_Of_Two(tile_width) || !Power_Of_Two(tile_height))
        throw Error("tile size " + std::to_string(tile_width) + "x" + std::to_string(tile_height)
                    + " is not a power of two");
    if (image.width == 0 || image.height == 0 || image.width % tile_width != 0
        || image.height % tile_height != 0)
        throw Error("picture " + std::to_string(image.width) + "x" + std::to_string(image.height)
                    + " is not a whole number of " + std::to_string(tile_width) + "x"
                    + std::to_string(tile_height) + " tiles");
    PictureHeader h{image.width / tile_width, image.height / tile_height, tile_width, tile_height};
    Bytes payload;
    payload.reserve(16 + image.rgb.size());
    Word_Append(payload, h.tiles_across);
    Word_Append(payload, h.tiles_down);
    Word_Append(payload, h.tile_width);
    Word_Append(payload, h.tile_height);
    for (uint32_t r = 0; r < h.tiles_down; r++)
        for (uint32_t k = 0; k < h.tiles_across; k++)
            for (uint32_t row = 0; row < h.tile_height; row++) {
                auto from = image.rgb.begin()
                    + (std::ptrdiff_t)Image_Offset(image.width, h.tiles_down, h, r, k, row);
                payload.insert(payload.end(), from, from + (std::ptrdiff_t)tile_width * 3);
            }
    return payload;
}

PictureHeader Picture_Header(const Bytes &payload)
{
    if (payload.size() < 16)
        throw Error("picture shorter than its header");
    PictureHeader h{Word_At(payload, 0), Word_At(payload, 4), Word_At(payload, 8),
                    Word_At(payload, 12)};
    // Each factor fits 32 bits, so the widths fit 64 and only their product needs care.
    uint64_t width = (uint64_t)h.tiles_across * h.tile_width;
    uint64_t height = (uint64_t)h.tiles_down * h.tile_height;
    if (width > UINT32_MAX || height > UINT32_MAX
        || (height != 0 && width * 3 > (payload.size() - 16) / height))
        throw Error("picture shorter than its pixels");
    return h;
}

Image Picture_Decode(const Bytes &payload)
{
    PictureHeader h = Picture_Header(payload);
    Image image;
    image.width = h.tiles_across * h.tile_width;
    image.height = h.tiles_down * h.tile_height;
    if (image.width == 0 || image.height == 0)
        throw Error("picture has no pixels");
    image.rgb.resize((size_t)image.width * image.height * 3);
    const unsigned char *cursor = payload.data() + 16;
    for (uint32_t r = 0; r < h.tiles_down; r++)
        for (uint32_t k = 0; k < h.tiles_across; k++)
            for (uint32_t row = 0; row < h.tile_height; row++) {
                std::memcpy(&image.rgb[Image_Offset(image.width, h.tiles_down, h, r, k, row)],
                            cursor, (size_t)h.tile_width * 3);
                cursor += (size_t)h.tile_width * 3;
            }
    return image;
}

// ---- Meshes -------------------------------------------------------------------------------

// A 1-based index, or negative counting back from the vertices so far; 0 when malformed.
static long Obj_Index(const std::string &token, size_t vertices_so_far)
{
    std::string first = token.substr(0, token.find('/'));
    char *end = nullptr;
    errno = 0;
    long index = std::strtol(first.c_str(), &end, 10);
    if (first.empty() || *end != '\0' || errno != 0 || index == 0)
        return 0;
    if (index < 0)
        index += (long)vertices_so_far + 1;
    return index > 0 ? index : 0;
}

Bytes Mesh_Encode(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw Error(path + ": cannot open: " + std::strerror(errno));
    std::vector<float> vertices;
    struct Corner {
        long index;
        size_t line;
    };
    std::vector<Corner> corners;  // three per triangle
    std::string text;
    size_t line = 0;
    auto fail = [&](const std::string &why) {
        throw Error(path + ":" + std::to_string(line) + ": " + why);
    };
    while (std::getline(in, text)) {
        line++;
        std::istringstream words(text);
        std::string keyword;
        words >> keyword;
        if (keyword == "v") {
            for (int i = 0; i < 3; i++) {
                std::string word;
                if (!(words >> word))
                    fail("vertex needs x, y and z");
                char *end = nullptr;
                float value = std::strtof(word.c_str(), &end);
                if (*end != '\0' || !std::isfinite(value))
                    fail("'" + word + "' is not a finite number");
                vertices.push_back(value);
            }
        } else if (keyword == "f") {
            std::vector<long> face;
            std::string word;
            while (words >> word) {
                long index = Obj_Index(word, vertices.size() / 3);
                if (index == 0)
                    fail("bad vertex index '" + word + "'");
                face.push_back(index);
            }
            if (face.size() < 3)
                fail("face needs at least 3 vertices");
            for (size_t i = 1; i + 1 < face.size(); i++)
                for (long index : {face[0], face[i], face[i + 1]})
                    corners.push_back({index, line});
        }
    }
    if (in.bad())
        throw Error(path + ": read error");
    size_t vertex_count = vertices.size() / 3;
    if (corners.size() / 3 > (UINT32_MAX - 8) / 36)
        throw Error(path + ": too many triangles");

    Bytes payload;
    Word_Append(payload, (uint32_t)(corners.size() / 3));
    Word_Append(payload, (uint32_t)vertex_count);
    for (const Corner &corner : corners) {
        if ((size_t)corner.index > vertex_count) {
            line = corner.line;
            fail("vertex " + std::to_string(corner.index) + " does not exist ("
                 + std::to_string(vertex_count) + " in the file)");
        }
        for (int i = 0; i < 3; i++) {
            uint32_t bits;
            std::memcpy(&bits, &vertices[(size_t)(corner.index - 1) * 3 + i], 4);
            Word_Append(payload, bits);
        }
    }
    return payload;
}

MeshHeader Mesh_Header(const Bytes &payload)
{
    if (payload.size() < 8)
        throw Error("mesh shorter than its header");
    MeshHeader h{Word_At(payload, 0), Word_At(payload, 4)};
    if ((uint64_t)h.triangle_count * 36 > payload.size() - 8)
        throw Error("mesh shorter than its triangles");
    return h;
}

std::string Mesh_Decode(const Bytes &payload, const std::string &name)
{
    MeshHeader h = Mesh_Header(payload);
    // Shared corners become one `v` line, numbered in order of first use.
    std::map<std::array<uint32_t, 3>, size_t> numbers;
    std::string vertices, faces;
    char text[128];
    for (uint32_t t = 0; t < h.triangle_count; t++) {
        faces += "f";
        for (int c = 0; c < 3; c++) {
            std::array<uint32_t, 3> bits;
            float xyz[3];
            for (int i = 0; i < 3; i++) {
                bits[i] = Word_At(payload, 8 + (size_t)t * 36 + (size_t)c * 12 + (size_t)i * 4);
                std::memcpy(&xyz[i], &bits[i], 4);
            }
            auto [at, fresh] = numbers.emplace(bits, numbers.size() + 1);
            if (fresh) {
                std::snprintf(text, sizeof text, "v %.9g %.9g %.9g\n", xyz[0], xyz[1], xyz[2]);
                vertices += text;
            }
            faces += " " + std::to_string(at->second);
        }
        faces += "\n";
    }
    return "# " + name + ": " + std::to_string(h.triangle_count) + " triangles\n" + vertices
        + faces;
}

}  // namespace zaf
