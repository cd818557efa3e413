// The nearest-colour search against a plain search of the whole palette.
#include <gtest/gtest.h>

#include <random>

#include "imglib/ops/nearest.h"

using imglib::Colour;
using imglib::ops::NearestColour;

namespace {

int distance(Colour c, int r, int g, int b)
{
    return (r - c.r) * (r - c.r) + (g - c.g) * (g - c.g) + (b - c.b) * (b - c.b);
}

// The lowest index among the nearest, by looking at every colour.
int plainNearest(const std::vector<Colour>& palette, int r, int g, int b)
{
    int best = 0;
    for (int i = 1; i < int(palette.size()); ++i)
        if (distance(palette[i], r, g, b) < distance(palette[best], r, g, b))
            best = i;
    return best;
}

// Palettes of every size, spread over the cube or crowded into a corner of it, with repeated
// colours and ties.
std::vector<std::vector<Colour>> palettes()
{
    std::mt19937 random(7);
    std::vector<std::vector<Colour>> out;
    for (const int size : {1, 2, 3, 16, 100, 255, 256})
        for (const int spread : {256, 24, 6}) {
            std::vector<Colour> palette(size);
            for (Colour& c : palette)
                c = {std::uint8_t(random() % spread), std::uint8_t(random() % spread), std::uint8_t(random() % 256)};
            if (size > 2)
                palette[size - 1] = palette[0];
            out.push_back(palette);
        }
    // A grey ramp: colours halfway between two entries are ties.
    std::vector<Colour> ramp;
    for (int v = 0; v < 256; v += 2)
        ramp.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)});
    out.push_back(ramp);
    return out;
}

}  // namespace

TEST(Nearest, ExactForEveryColourTried)
{
    std::mt19937 random(11);
    for (const auto cells : {NearestColour::Cells::fine, NearestColour::Cells::coarse})
        for (const auto& palette : palettes()) {
            SCOPED_TRACE(testing::Message() << palette.size() << " colours, "
                                            << (cells == NearestColour::Cells::fine ? "fine" : "coarse") << " cells");
            NearestColour nearest(palette, cells);
            for (int n = 0; n < 20000; ++n) {
                const int r = int(random() % 256), g = int(random() % 256), b = int(random() % 256);
                ASSERT_EQ(nearest.find(r, g, b), plainNearest(palette, r, g, b)) << r << " " << g << " " << b;
            }
            for (int v = 0; v < 256; ++v)
                ASSERT_EQ(nearest.find(v, v, v), plainNearest(palette, v, v, v)) << "grey " << v;
            // Every palette colour is its own nearest (or an earlier copy of it).
            for (const Colour c : palette)
                ASSERT_EQ(nearest.colour(nearest.find(c.r, c.g, c.b)), c);
        }
}

TEST(Nearest, AnotherPaletteStartsAfresh)
{
    const std::vector<Colour> first = {{0, 0, 0}, {255, 255, 255}};
    const std::vector<Colour> second = {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}};
    NearestColour nearest(first);
    EXPECT_EQ(nearest.find(10, 10, 10), 0);
    EXPECT_EQ(nearest.find(250, 10, 10), 0);
    nearest.usePalette(second);
    EXPECT_EQ(nearest.find(10, 10, 10), 1);
    EXPECT_EQ(nearest.find(250, 10, 10), 2);
    EXPECT_EQ(nearest.colour(2), (Colour{255, 0, 0}));
}
