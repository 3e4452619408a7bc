#include "support/read_png.h"

#include <png.h>

#include <cstring>

Frame Read_Png(const std::string &path)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw PlayerError("cannot read " + path + ": " + image.message);
    image.format = PNG_FORMAT_RGBA;
    Frame f;
    f.width = int(image.width);
    f.height = int(image.height);
    f.rgba.resize(PNG_IMAGE_SIZE(image));
    // A negative stride stores the file's top row last, as GL keeps it.
    if (!png_image_finish_read(&image, nullptr, f.rgba.data(), -int(PNG_IMAGE_ROW_STRIDE(image)),
                               nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        throw PlayerError("cannot read " + path + ": " + why);
    }
    return f;
}
