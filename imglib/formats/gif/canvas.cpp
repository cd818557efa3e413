#include "imglib/formats/gif/canvas.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imglib/core/growing_rows.h"

namespace imglib::gif {

namespace {

constexpr Colour kWhite{255, 255, 255};

// Where the i-th stored row of an interlaced frame lies: every 8th row from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1.
std::uint32_t interlacedRow(std::uint32_t i, std::uint32_t height)
{
    const std::uint32_t first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
    if (i < first)
        return i * 8;
    i -= first;
    if (i < second)
        return 4 + i * 8;
    i -= second;
    if (i < third)
        return 2 + i * 4;
    return 1 + (i - third) * 2;
}

void put(std::uint8_t* rgb, Colour c)
{
    rgb[0] = c.r;
    rgb[1] = c.g;
    rgb[2] = c.b;
}

}  // namespace

void Canvas::start(std::uint32_t width, std::uint32_t height)
{
    width_ = width;
    height_ = height;
    mode_ = Mode::blank;
    image_ = Image{};
    kept_ = Rect{};
    keptPixels_.clear();
}

Rect Canvas::clip(const Rect& place) const
{
    const std::uint32_t left = std::min(place.left, width_), top = std::min(place.top, height_);
    const auto right =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{place.left} + place.width, width_));
    const auto bottom =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{place.top} + place.height, height_));
    return {left, top, right - left, bottom - top};
}

Status Canvas::draw(const Frame& frame, FrameReader& reader)
{
    const Rect area = clip(frame.place);
    if (area.empty())
        return reader.skipRows();  // nothing of it shows
    const bool overBlank = mode_ == Mode::blank;
    GrowingRows rows;
    if (overBlank) {
        // Rows are committed as the frame reaches them: a frame cut short holds the rows it drew.
        mode_ = covers(area) ? Mode::indexed : Mode::rgb;
        const PixelFormat format = mode_ == Mode::indexed ? PixelFormat::indexed : PixelFormat::rgb;
        if (auto s = rows.start(image_, width_, height_, format); !s)
            return s;
        if (mode_ == Mode::rgb)
            rows.fillWith(std::vector<std::uint8_t>(std::size_t{width_} * 3, 255));
        table_ = frame.colours;
        tableCount_ = frame.colourCount;
    } else if (mode_ == Mode::indexed && frame.colours != table_) {
        if (auto s = toRgb(); !s)
            return s;
    }
    // Drawn over blank, the transparent indices are kept, to be found once the frame is whole.
    const int transparent = overBlank && mode_ == Mode::indexed ? -1 : frame.transparent;
    std::vector<std::uint8_t> indices(frame.place.width);
    for (std::uint32_t i = 0; i < frame.place.height; ++i) {
        if (auto s = reader.readRow(indices.data()); !s)
            return s;
        const std::uint32_t y = frame.place.top + (frame.interlaced ? interlacedRow(i, frame.place.height) : i);
        if (y < area.top + area.height)
            drawRow(frame, area, indices.data(), overBlank ? rows.row(y) : image_.row(y), transparent);
    }
    if (!overBlank)
        return success();
    rows.finish();
    const bool showsBlank =
        mode_ == Mode::indexed && frame.transparent >= 0 &&
        std::find(image_.pixels.begin(), image_.pixels.end(), frame.transparent) != image_.pixels.end();
    return showsBlank ? toRgb(frame.transparent) : success();
}

// Frames are clipped on the right and at the bottom only: `area` starts where the frame does.
void Canvas::drawRow(const Frame& frame, const Rect& area, const std::uint8_t* indices, std::uint8_t* row,
                     int transparent) const
{
    if (mode_ == Mode::indexed) {
        std::uint8_t* to = row + area.left;
        for (std::uint32_t x = 0; x < area.width; ++x)
            if (indices[x] != transparent)
                to[x] = indices[x];
        return;
    }
    std::uint8_t* to = row + std::size_t{area.left} * 3;
    for (std::uint32_t x = 0; x < area.width; ++x)
        if (indices[x] != transparent)
            put(to + std::size_t{x} * 3, frame.colours[indices[x]]);
}

Status Canvas::toRgb(int transparent)
{
    Image rgb;
    if (auto s = allocate(rgb, width_, height_, PixelFormat::rgb); !s)
        return s;
    for (std::size_t i = 0; i < image_.pixels.size(); ++i) {
        const std::uint8_t index = image_.pixels[i];
        put(rgb.pixels.data() + i * 3, index == transparent ? kWhite : table_[index]);
    }
    image_ = std::move(rgb);
    mode_ = Mode::rgb;
    return success();
}

// Back to transparent, which shows as white; the whole screen cleared is blank again.
Status Canvas::clear(const Rect& area)
{
    if (area.empty() || mode_ == Mode::blank)
        return success();
    if (covers(area)) {
        start(width_, height_);
        return success();
    }
    if (mode_ == Mode::indexed)
        if (auto s = toRgb(); !s)
            return s;
    for (std::uint32_t y = area.top; y < area.top + area.height; ++y)
        std::memset(image_.row(y) + std::size_t{area.left} * 3, 255, std::size_t{area.width} * 3);
    return success();
}

Status Canvas::keepUnder(const Frame& frame)
{
    kept_ = clip(frame.place);
    keptMode_ = mode_;
    keptTable_ = table_;
    keptPixels_.clear();
    if (mode_ == Mode::blank || kept_.empty())
        return success();
    const std::size_t rowBytes = std::size_t{kept_.width} * image_.channels();
    try {
        keptPixels_.resize(rowBytes * kept_.height);
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "gif: no memory to keep what a frame covers");
    }
    for (std::uint32_t y = 0; y < kept_.height; ++y)
        std::memcpy(keptPixels_.data() + y * rowBytes, image_.row(kept_.top + y) + kept_.left * image_.channels(),
                    rowBytes);
    return success();
}

// What the frame covered goes back as it was. Drawing a frame never leaves the screen blank,
// so the kept pixels always have somewhere to go.
Status Canvas::restoreKept()
{
    if (kept_.empty())
        return success();
    if (keptMode_ == Mode::blank)
        return clear(kept_);
    const bool asIndices = keptMode_ == Mode::indexed && mode_ == Mode::indexed && keptTable_ == table_;
    if (!asIndices && mode_ == Mode::indexed)
        if (auto s = toRgb(); !s)
            return s;
    const std::size_t width = kept_.width, keptChannels = keptMode_ == Mode::rgb ? 3 : 1;
    for (std::uint32_t y = 0; y < kept_.height; ++y) {
        const std::uint8_t* from = keptPixels_.data() + y * width * keptChannels;
        std::uint8_t* to = image_.row(kept_.top + y) + kept_.left * image_.channels();
        if (keptMode_ == mode_)
            std::memcpy(to, from, width * keptChannels);
        else
            for (std::size_t x = 0; x < width; ++x)
                put(to + x * 3, keptTable_[from[x]]);
    }
    return success();
}

Status Canvas::dispose(const Frame& frame)
{
    switch (frame.disposal) {
    case Disposal::background:
        return clear(clip(frame.place));
    case Disposal::previous:
        return restoreKept();
    default:
        return success();
    }
}

// The table's entries, and black ones up to the highest index drawn past it.
void Canvas::setPalette(Image& page) const { setPaletteCovering(page, std::span(table_).first(tableCount_)); }

Status Canvas::copyTo(Image& out) const
{
    if (mode_ == Mode::blank) {
        if (auto s = allocate(out, width_, height_, PixelFormat::rgb); !s)
            return s;
        std::fill(out.pixels.begin(), out.pixels.end(), 255);
        return success();
    }
    try {
        out = image_;
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "gif: no memory for the page");
    }
    if (mode_ == Mode::indexed)
        setPalette(out);
    return success();
}

Status Canvas::moveTo(Image& out)
{
    if (mode_ == Mode::blank)
        return copyTo(out);
    out = std::move(image_);
    if (mode_ == Mode::indexed)
        setPalette(out);
    start(width_, height_);
    return success();
}

}  // namespace imglib::gif
