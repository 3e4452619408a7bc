// qm-capture's library: the player core on a headless context, and frames written to PNG files.
#include "apps/capture/capture.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/headless_gl.h"
#include "platform/output.h"

// ---------------------------------------------------------------------------------------------
// Start-up

void Capture_Open(const PlayerSetup &setup)
{
    static bool context_open;
    if (!context_open && Output_SizeFits(setup.width, setup.height)) {
        try {
            HeadlessGL_Open(setup.width, setup.height);
        } catch (const std::runtime_error &e) {
            throw PlayerError(e.what());
        }
        context_open = true;
    }
    Player_Start(setup);
}

// ---------------------------------------------------------------------------------------------
// One frame at a demo time

Frame Capture_FrameAt(double t)
{
    if (!Player_IsOpen())
        Capture_Open(PlayerSetup{});
    int64_t k = Player_FrameIndex(t, Player_Fps());
    // Once the demo is over, every further frame reports it.
    if (Player_SkipTo(k) || Player_Step(false))
        throw PlayerError("demo time " + std::to_string(t) + " s lies past the end of the demo");
    return Player_Read();
}

// ---------------------------------------------------------------------------------------------
// PNG files

static void append_bytes(png_structp png, png_bytep data, png_size_t n)
{
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

std::vector<uint8_t> Capture_EncodePng(const Frame &frame, int level)
{
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() != size_t(frame.width) * frame.height * 4)
        throw PlayerError("cannot encode an empty or malformed frame");
    // GL's bottom row goes last; libpng drops the alpha byte itself (the filler).
    std::vector<png_bytep> rows(size_t(frame.height));
    for (int y = 0; y < frame.height; y++)
        rows[size_t(y)] = const_cast<png_bytep>(
            &frame.rgba[size_t(frame.height - 1 - y) * frame.width * 4]);
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool done = false;
    // libpng reports failure by a long jump back here; nothing with a destructor is made
    // between the two.
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_write_fn(png, &out, append_bytes, nullptr);
        png_set_IHDR(png, info, png_uint_32(frame.width), png_uint_32(frame.height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
        png_set_compression_level(png, level);
        png_write_info(png, info);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
        done = true;
    }
    png_destroy_write_struct(&png, &info);
    if (!done)
        throw PlayerError("cannot encode a frame as PNG");
    return out;
}

void Capture_WriteFile(const std::vector<uint8_t> &bytes, const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw PlayerError("cannot write " + path + ": " + std::strerror(errno));
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int err = errno;
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        throw PlayerError("cannot write " + path + ": " + std::strerror(written ? errno : err));
    }
}

void Capture_WritePng(const Frame &frame, const std::string &path, int level)
{
    Capture_WriteFile(Capture_EncodePng(frame, level), path);
}
