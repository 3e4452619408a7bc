// qm-capture's library: the player core on a headless context, and frames written to PNG files.
#include "apps/capture/capture.h"

#include <png.h>

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

void Capture_WritePng(const Frame &frame, const std::string &path)
{
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() != size_t(frame.width) * frame.height * 4)
        throw PlayerError("cannot write an empty or malformed frame to " + path);
    // RGB, top row first: GL's bottom row goes last.
    std::vector<uint8_t> rgb(size_t(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; y++) {
        const uint8_t *src = &frame.rgba[size_t(frame.height - 1 - y) * frame.width * 4];
        uint8_t *dst = &rgb[size_t(y) * frame.width * 3];
        for (int x = 0; x < frame.width; x++) {
            dst[x * 3 + 0] = src[x * 4 + 0];
            dst[x * 3 + 1] = src[x * 4 + 1];
            dst[x * 3 + 2] = src[x * 4 + 2];
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = frame.width;
    image.height = frame.height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        throw PlayerError("cannot write " + path + ": " + why);
    }
}
