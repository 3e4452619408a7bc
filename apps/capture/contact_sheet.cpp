// qm-capture's contact sheet: one labelled thumbnail per entry, from its middle, composed on
// the CPU with a digit font of its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/capture/capture.h"
#include "apps/capture/stages.h"
#include "platform/output.h"
#include "timeline/scene_script.h"

namespace {

// 3 × 5 digit glyphs, one row of three bits per line, top row first.
constexpr uint8_t digit_glyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

}  // namespace

void ContactSheet_Write(const Options &o)
{
    constexpr int columns = 7, scale = 4, gap = 4;
    constexpr int thumb_w = scene_width / scale, thumb_h = scene_height / scale;
    const int entries = scene_script.last_index + 1;
    const int rows = (entries + columns - 1) / columns;
    const int sheet_w = columns * thumb_w + (columns + 1) * gap;
    const int sheet_h = rows * thumb_h + (rows + 1) * gap;
    // Composed top row first, turned over into a Frame at the end.
    std::vector<uint8_t> sheet(size_t(sheet_w) * sheet_h * 4, 40);
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t *p = &sheet[(size_t(y) * sheet_w + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
    };
    const OutputRect pic = Output_Picture();
    // A picture smaller than a thumbnail (a small --size) is not shrunk but enlarged, pixel by
    // pixel, so that the sheet keeps one layout at every size.
    const int shrunk_w = std::min(thumb_w, pic.width), shrunk_h = std::min(thumb_h, pic.height);
    for (int e = 0; e < entries; e++) {
        double middle = 0.5 * (double(scene_entries[e].start) + double(scene_entries[e + 1].start));
        // The picture alone, whatever the output's size; its rows run bottom-up.
        Frame t = Capture_FrameAt(middle).box_down(pic.x, pic.y, pic.width, pic.height,
                                                   shrunk_w, shrunk_h);
        int ox = gap + (e % columns) * (thumb_w + gap);
        int oy = gap + (e / columns) * (thumb_h + gap);
        for (int ty = 0; ty < thumb_h; ty++) {
            for (int tx = 0; tx < thumb_w; tx++) {
                Rgba c = t.at_gl(tx * shrunk_w / thumb_w, (thumb_h - 1 - ty) * shrunk_h / thumb_h);
                put(ox + tx, oy + ty, c.r, c.g, c.b);
            }
        }
        // The entry number, white on a black box in the top left corner.
        std::string label = std::to_string(e);
        constexpr int px = 2;
        int box_w = int(label.size()) * 4 * px + px, box_h = 5 * px + 2 * px;
        for (int y = 0; y < box_h; y++)
            for (int x = 0; x < box_w; x++)
                put(ox + x, oy + y, 0, 0, 0);
        for (size_t i = 0; i < label.size(); i++) {
            const uint8_t *glyph = digit_glyphs[label[i] - '0'];
            for (int gy = 0; gy < 5; gy++)
                for (int gx = 0; gx < 3; gx++)
                    if (glyph[gy] & (4 >> gx))
                        for (int sy = 0; sy < px; sy++)
                            for (int sx = 0; sx < px; sx++)
                                put(ox + px + int(i) * 4 * px + gx * px + sx,
                                    oy + px + gy * px + sy, 255, 255, 255);
        }
    }
    Frame out;
    out.width = sheet_w;
    out.height = sheet_h;
    out.rgba.resize(sheet.size());
    for (int y = 0; y < sheet_h; y++)
        std::memcpy(&out.rgba[size_t(sheet_h - 1 - y) * sheet_w * 4],
                    &sheet[size_t(y) * sheet_w * 4], size_t(sheet_w) * 4);
    Capture_WritePng(out, o.contact_sheet);
    printf("wrote %s\n", o.contact_sheet.c_str());
}
