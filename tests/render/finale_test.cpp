// The finale (entries 36 to 41): what its loader refuses, the message's dot bitmap, and what its
// renders show when driven with chosen channels on the GL state the timeline leaves at entry 36.
#include <unistd.h>

#include "fuzz/zaf_craft.h"
#include "scenes/dot_font.h"
#include "scenes/finale/finale.h"
#include "render/scene_probe.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/timeline.h"

// One frame of a render with the given channels, outside the timeline's own frames.
static Frame Draw(void (*render)(), float x, float ramp = 0, float wave = 0)
{
    return chan_x = x, ramp_a = ramp, wave_a = wave, Redraw(render);
}

static int Distance(Rgba a, Rgba b)
{
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// Pixels unlike the picture with even tile columns raised by d and odd ones lowered, black where
// a column has moved away.
static int CombMismatches(const Frame &f, const Frame &picture, int d)
{
    int bad = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const int from = (x / 64) % 2 == 0 ? y - d : y + d;
            bad += Distance(f.at_gl(x, y), from >= 0 && from < 480 ? picture.at_gl(x, from)
                                                                    : Rgba{0, 0, 0, 0}) != 0;
        }
    return bad;
}

// Mean difference, over the pixels where a and b differ, between b and a moved left by dx.
static double ShiftError(const Frame &a, const Frame &b, int dx)
{
    double sum = 0, n = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 120; x < 520; x++)
            if (Distance(a.at_gl(x, y), b.at_gl(x, y)) > 30)
                sum += Distance(a.at_gl(x + dx, y), b.at_gl(x, y)), n++;
    return sum / n;
}

// Another tile layout or a short message ends loading with one line and status 1, before the
// lists or the bitmap could read past them. In a message that loads, every font dot of a
// character is a 3 x 3 block in the character's own 24 columns, and bytes without a glyph
// (below 33, above 95, above 127) leave theirs blank: loaded apart, as the bitmap only gains.
TEST(FinaleDeathTest, LoaderRefusesOrKeepsEachCharacterInItsColumns)
{
    const std::string path = testing::TempDir() + "finale.zaf";
    const CraftEntry a{"siekierka", ZAF_TYPE_PICTURE, Craft_Picture(10, 15, 64, 32)},
        b{"butterfly", ZAF_TYPE_PICTURE, Craft_Picture(3, 1, 128, 256)};
    const std::pair<std::vector<CraftEntry>, std::string> cases[] = {
        {{{"siekierka", ZAF_TYPE_PICTURE, Craft_Picture(10, 14, 64, 32)}},
         "\"siekierka\" is 10 x 14 tiles of 64 x 32"},
        {{a, b, {"water", ZAF_TYPE_DATA, std::string(109, 'A')}}, "\"water\" is 109 bytes"}};
    for (const auto &[entries, says] : cases) {
        std::ofstream(path, std::ios::binary) << Craft_Archive(entries);
        EXPECT_EXIT((dup2(2, 1), ZAF_Open(path.c_str()), Finale_Load()),
                    testing::ExitedWithCode(1), "Finale_Load: FATAL_ERROR: .*" + says);
    }

    const std::string glyphs = "FRJ7L!P/Q_", blanks(" `a~\x7f\x80\xff\0\t\xb0", 10);
    std::string text(110, ' ');
    for (int n = 0; n < 110; n++)
        text[n] = n % 2 ? glyphs[n / 2 % 10] : blanks[n / 2 % 10];
    std::ofstream(path, std::ios::binary) << Craft_Archive({a, b, {"water", ZAF_TYPE_DATA, text}});
    auto load = [&] {
        DotFont_Unpack(), ZAF_Open(path.c_str()), Finale_Load();
        int wrong = 0, lit = 0;
        for (int c = 0; c < 110 * 24 * 15; c++) {
            lit += Finale_TextCell(c / 15, c % 15);
            wrong += Finale_TextCell(c / 15, c % 15) !=
                     (c / 360 % 2 && DotFont_Cell(text[c / 360], c % 15 / 3, c / 15 % 24 / 3));
        }
        fprintf(stderr, "%d wrong, %d lit\n", wrong, lit);
        exit(wrong || !lit);
    };
    EXPECT_EXIT(load(), testing::ExitedWithCode(0), "");
}

TEST(Finale, FramesOfTheSixEntries)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    const Frame picture = Read_Png(QM_BUILD_DIR "/data/siekierka.png");
    EXPECT_TRUE(BlackGl(FirstFrameOf(36), 0, 0, 640, 480)) << "both comb halves off screen";

    // The comb: its halves off screen, halfway, met, and 2 past meeting; closed over entry 40.
    for (int x : {0, 240, 480, 482})
        EXPECT_EQ(CombMismatches(Draw(Finale_RenderShutters, x), picture, 480 - x), 0) << x;
    EXPECT_EQ(CombMismatches(Draw(Finale_RenderReveal, 480), picture, 0), 0);

    // The stack: no square at 0, then one more past each whole number.
    EXPECT_EQ(CombMismatches(Draw(Finale_RenderStack, 0), picture, 0), 0);
    for (auto [a, b, same] : {std::tuple{0.0f, 0.1f, false}, {0.1f, 1.0f, true},
                              {1.0f, 1.1f, false}, {18.1f, 19.0f, true}})
        EXPECT_EQ(Draw(Finale_RenderStack, a) == Draw(Finale_RenderStack, b), same) << a;

    // The wave: scroll and phase are rounded halves to even, and phase 20 is phase 0.
    const Frame text = Draw(Finale_RenderWaterText, 100);
    for (auto [x, ramp, same] : {std::tuple{100.5f, 0.5f, true}, {99.5f, 0.0f, true},
                                 {100.0f, 19.5f, true}, {101.0f, 0.0f, false},
                                 {100.0f, 1.0f, false}})
        EXPECT_EQ(Draw(Finale_RenderWaterText, x, ramp) == text, same) << x << ", " << ramp;
    // Three more columns of scroll move the text left, not right.
    const Frame later = Draw(Finale_RenderWaterText, 103);
    int best = 0;
    for (int dx = -40; dx <= 40; dx++)
        best = ShiftError(text, later, dx) < ShiftError(text, later, best) ? dx : best;
    EXPECT_GT(best, 5);
    EXPECT_LT(ShiftError(text, later, best), 0.5 * ShiftError(text, later, -best)) << best;

    // The stripes, comb gone: black of alpha flicker + 0.25 on band edges (rows 113, 177, ...),
    // 0.25 - flicker mid-band, against the flicker that leaves them clear.
    const Frame edges_clear = Draw(Finale_RenderReveal, -4, 0, -0.25f);
    const Frame middles_clear = Draw(Finale_RenderReveal, -4, 0, 0.25f);
    for (float flicker : {-0.25f, -0.1f, 0.0f, 0.2f, 0.25f}) {
        Frame f = Draw(Finale_RenderReveal, -4, 0, flicker);
        for (int y = 113; y < 367; y += 32) {
            const bool edge = (y - 113) % 64 == 0;
            const double kept = MeanGl(f, 170, y, 380, 1).r /
                          MeanGl(edge ? edges_clear : middles_clear, 170, y, 380, 1).r;
            EXPECT_NEAR(kept, edge ? 0.75 - flicker : 0.75 + flicker, 0.03) << flicker << ", " << y;
        }
    }
    // Where flicker clears the band edges, the bottom one shows the butterfly's bottom row,
    // its three tiles in order from x = 168.
    const Frame butterfly = Read_Png(QM_BUILD_DIR "/data/butterfly.png");
    int off = 0;
    for (int x = 0; x < 384; x++)
        off += Distance(edges_clear.at_gl(168 + x, 113), butterfly.at_gl(x, 0)) > 9;
    EXPECT_EQ(off, 0);

    // The close: unscaled and uncovered at 0, as in the reveal; half way, that frame grown by
    // 1.5 about the middle of the window, stripes and all, at half its brightness; black at 1.
    EXPECT_TRUE(Draw(Finale_RenderLast, 0, 0, 0.1f) == Draw(Finale_RenderReveal, -4, 0, 0.1f));
    const Frame start = Draw(Finale_RenderLast, 0, 0, 0.1f), half = Draw(Finale_RenderLast, 0.5f, 0, 0.1f);
    double error = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const Rgba a = half.at_gl(x, y), b = start.at_gl(int(320 + (x - 320) / 1.5), int(240 + (y - 240) / 1.5));
            error += std::abs(2 * a.r - b.r) + std::abs(2 * a.g - b.g) + std::abs(2 * a.b - b.b);
        }
    EXPECT_LT(error / (640 * 480), 10);   // nearest texels; a zoom of 1.4 or 1.6 gives about 40
    EXPECT_TRUE(BlackGl(Draw(Finale_RenderLast, 1), 0, 0, 640, 480));
}
