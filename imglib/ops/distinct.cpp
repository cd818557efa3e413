#include "imglib/ops/distinct.h"

#include <algorithm>
#include <array>

namespace imglib::ops {

namespace {

// A set of at most 256 colours, in the order they were added.
class SmallColourSet {
public:
    // False when the colour is new and the set already holds `limit` colours.
    bool add(std::uint32_t rgb, std::size_t limit)
    {
        const std::uint32_t key = rgb + 1;  // 0 marks an empty slot
        std::uint32_t slot = (key * 2654435761u) >> (32 - kSlotBits);
        while (slots_[slot] != 0) {
            if (slots_[slot] == key)
                return true;
            slot = (slot + 1) % kSlots;
        }
        if (colours_.size() >= limit)
            return false;
        slots_[slot] = key;
        colours_.push_back({std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)});
        return true;
    }
    std::vector<Colour>& colours() { return colours_; }

private:
    static constexpr unsigned kSlotBits = 10;  // four times the most colours it holds
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;
    std::array<std::uint32_t, kSlots> slots_{};
    std::vector<Colour> colours_;
};

std::uint32_t packed(Colour c) { return std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | c.b; }

std::optional<std::vector<Colour>> distinctRgb(const Image& image, std::size_t limit)
{
    SmallColourSet set;
    std::uint32_t last = 0xFFFFFFFF;
    for (std::size_t i = 0; i < image.pixels.size(); i += 3) {
        const std::uint32_t rgb =
            std::uint32_t(image.pixels[i]) << 16 | std::uint32_t(image.pixels[i + 1]) << 8 | image.pixels[i + 2];
        if (rgb == last)
            continue;
        last = rgb;
        if (!set.add(rgb, limit))
            return std::nullopt;
    }
    return std::move(set.colours());
}

// Grey and indexed images: the byte values used, then their colours.
std::optional<std::vector<Colour>> distinctByValue(const Image& image, std::size_t limit)
{
    std::array<bool, 256> used{};
    for (const std::uint8_t v : image.pixels)
        used[v] = true;
    const RgbRows rows(image);
    SmallColourSet set;
    for (unsigned v = 0; v < 256; ++v)
        if (used[v] && !set.add(packed(rows.palette()[v]), limit))
            return std::nullopt;
    return std::move(set.colours());
}

}  // namespace

std::optional<std::vector<Colour>> distinctColours(const Image& image, std::size_t limit)
{
    limit = std::min<std::size_t>(limit, 256);
    return image.format == PixelFormat::rgb ? distinctRgb(image, limit) : distinctByValue(image, limit);
}

}  // namespace imglib::ops
