#include <algorithm>
#include <array>
#include <cmath>

#include "imglib/ops/nearest.h"
#include "imglib/ops/palette.h"

namespace imglib::ops {

namespace {

constexpr int kSide = kBinsPerAxis + 1;  // index 0 is the zero border of the running sums

// Pixel count and channel sums of a region of the cube.
struct Moments {
    std::int64_t w = 0, r = 0, g = 0, b = 0;

    Moments& operator+=(const Moments& o)
    {
        w += o.w, r += o.r, g += o.g, b += o.b;
        return *this;
    }
    Moments& operator-=(const Moments& o)
    {
        w -= o.w, r -= o.r, g -= o.g, b -= o.b;
        return *this;
    }
    // |sum|² / count. A region's squared error is Σ|c|² minus this, so cutting a box removes
    // (explained of the halves) − (explained of the box).
    double explained() const
    {
        return w == 0 ? 0 : (double(r) * double(r) + double(g) * double(g) + double(b) * double(b)) / double(w);
    }
};

// A box of bins: lo < index <= hi on each axis.
struct Box {
    std::array<int, 3> lo{}, hi{};
    int cutAxis = -1, cutAt = 0;  // its best cut, when it has one
    double gain = 0;              // the squared error that cut removes
};

// Running sums over the cube, so that any box's moments take eight look-ups.
class CubeSums {
public:
    explicit CubeSums(const std::vector<BinSums>& bins) : sums_(std::size_t{kSide} * kSide * kSide)
    {
        for (const BinSums& bin : bins) {
            const auto [r, g, b] = stepsOfBin(bin.bin);
            Moments& m = at(int(r) + 1, int(g) + 1, int(b) + 1);
            m.w = bin.count;
            m.r = std::int64_t(bin.r), m.g = std::int64_t(bin.g), m.b = std::int64_t(bin.b);
        }
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b)
                    at(r, g, b) += at(r, g, b - 1);
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b)
                    at(r, g, b) += at(r, g - 1, b);
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b)
                    at(r, g, b) += at(r - 1, g, b);
    }

    Moments of(const std::array<int, 3>& lo, const std::array<int, 3>& hi) const
    {
        Moments m = at(hi[0], hi[1], hi[2]);
        m -= at(hi[0], hi[1], lo[2]);
        m -= at(hi[0], lo[1], hi[2]);
        m += at(hi[0], lo[1], lo[2]);
        m -= at(lo[0], hi[1], hi[2]);
        m += at(lo[0], hi[1], lo[2]);
        m += at(lo[0], lo[1], hi[2]);
        m -= at(lo[0], lo[1], lo[2]);
        return m;
    }

private:
    Moments& at(int r, int g, int b) { return sums_[(std::size_t(r) * kSide + g) * kSide + b]; }
    const Moments& at(int r, int g, int b) const { return sums_[(std::size_t(r) * kSide + g) * kSide + b]; }

    std::vector<Moments> sums_;
};

// Finds the plane cut of the box that leaves the least squared error in its two halves.
void findBestCut(const CubeSums& cube, Box& box)
{
    const Moments whole = cube.of(box.lo, box.hi);
    box.cutAxis = -1;
    box.gain = 0;
    double best = whole.explained();
    for (int axis = 0; axis < 3; ++axis)
        for (int at = box.lo[axis] + 1; at < box.hi[axis]; ++at) {
            auto lowerHi = box.hi;
            lowerHi[axis] = at;
            const Moments lower = cube.of(box.lo, lowerHi);
            Moments upper = whole;
            upper -= lower;
            if (lower.w == 0 || upper.w == 0)
                continue;
            const double explained = lower.explained() + upper.explained();
            if (explained > best) {
                best = explained;
                box.cutAxis = axis;
                box.cutAt = at;
            }
        }
    box.gain = best - whole.explained();
}

Colour meanOf(const Moments& m)
{
    const auto mean = [&](std::int64_t sum) { return std::uint8_t((sum + m.w / 2) / m.w); };
    return {mean(m.r), mean(m.g), mean(m.b)};
}

// Colours around one palette entry, for splitFurther.
struct Cluster {
    std::vector<const BinSums*> colours;
    double error = 0;  // squared error around their mean
};

Moments momentsOf(const BinSums& bin)
{
    return {bin.count, std::int64_t(bin.r), std::int64_t(bin.g), std::int64_t(bin.b)};
}

Moments sumOf(const std::vector<const BinSums*>& colours)
{
    Moments sum;
    for (const BinSums* c : colours)
        sum += momentsOf(*c);
    return sum;
}

double squaredError(const std::vector<const BinSums*>& colours)
{
    // Σ n·|c|² of one-colour bins is Σ |sums|² / n.
    double squares = 0;
    for (const BinSums* c : colours)
        squares += momentsOf(*c).explained();
    return squares - sumOf(colours).explained();
}

// A colour's red, green or blue: its bin is the colour itself.
int channel(const BinSums* c, int axis) { return int(c->bin >> (16 - 8 * axis) & 0xFF); }

// Cuts the cluster where Wu's rule would; returns the upper part (empty when all its colours are
// one).
std::vector<const BinSums*> cutInTwo(std::vector<const BinSums*>& colours)
{
    const Moments whole = sumOf(colours);
    double best = whole.explained();
    int bestAxis = -1;
    std::size_t bestAt = 0;
    const auto byChannel = [&](int axis) {
        std::sort(colours.begin(), colours.end(), [axis](const BinSums* a, const BinSums* b) {
            return channel(a, axis) != channel(b, axis) ? channel(a, axis) < channel(b, axis) : a->bin < b->bin;
        });
    };
    for (int axis = 0; axis < 3; ++axis) {
        byChannel(axis);
        Moments lower;
        for (std::size_t k = 0; k + 1 < colours.size(); ++k) {
            lower += momentsOf(*colours[k]);
            if (channel(colours[k], axis) == channel(colours[k + 1], axis))
                continue;
            Moments upper = whole;
            upper -= lower;
            const double explained = lower.explained() + upper.explained();
            if (explained > best)
                best = explained, bestAxis = axis, bestAt = k + 1;
        }
    }
    if (bestAxis < 0)
        return {};
    byChannel(bestAxis);
    std::vector<const BinSums*> upper(colours.begin() + std::ptrdiff_t(bestAt), colours.end());
    colours.resize(bestAt);
    return upper;
}

}  // namespace

std::vector<Colour> splitFurther(const std::vector<BinSums>& colours, std::vector<Colour> palette, std::size_t count)
{
    if (palette.empty() || palette.size() >= count)
        return palette;
    std::vector<Cluster> clusters(palette.size());
    NearestColour nearest(palette, NearestColour::Cells::coarse);
    for (const BinSums& c : colours)
        clusters[nearest.find(channel(&c, 0), channel(&c, 1), channel(&c, 2))].colours.push_back(&c);
    for (Cluster& cluster : clusters)
        cluster.error = squaredError(cluster.colours);
    while (palette.size() < count) {
        // Ties go to the earliest entry, so the result depends on nothing but the input.
        const auto worst = std::max_element(clusters.begin(), clusters.end(),
                                            [](const Cluster& a, const Cluster& b) { return a.error < b.error; });
        if (worst->error <= 0)
            break;
        Cluster upper{cutInTwo(worst->colours)};
        if (upper.colours.empty()) {
            worst->error = 0;
            continue;
        }
        worst->error = squaredError(worst->colours);
        upper.error = squaredError(upper.colours);
        palette[std::size_t(worst - clusters.begin())] = meanOf(sumOf(worst->colours));
        palette.push_back(meanOf(sumOf(upper.colours)));
        clusters.push_back(std::move(upper));
    }
    return palette;
}

std::vector<Colour> wuPalette(const std::vector<BinSums>& bins, std::size_t count)
{
    const CubeSums cube(bins);
    std::vector<Box> boxes(1);
    boxes[0].hi = {kBinsPerAxis, kBinsPerAxis, kBinsPerAxis};
    findBestCut(cube, boxes[0]);
    while (boxes.size() < count) {
        // Ties go to the earliest box, so the result never depends on anything but the input.
        const auto next =
            std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.gain < b.gain; });
        if (next->cutAxis < 0)
            break;  // no box can be cut any more
        Box upper = *next;
        next->hi[next->cutAxis] = next->cutAt;
        upper.lo[upper.cutAxis] = upper.cutAt;
        findBestCut(cube, *next);
        findBestCut(cube, upper);
        boxes.push_back(upper);
    }
    std::vector<Colour> palette;
    palette.reserve(boxes.size());
    for (const Box& box : boxes) {
        const Moments m = cube.of(box.lo, box.hi);
        if (m.w > 0)
            palette.push_back(meanOf(m));
    }
    return palette;
}

}  // namespace imglib::ops
