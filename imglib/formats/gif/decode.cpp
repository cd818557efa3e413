// GIF through giflib: the frames composed on the logical screen as a viewer shows them (canvas.h).
// The first page is the screen after the first frame; page n, after frame n. Pages are composed
// in order from one canvas kept between calls, so that reading them in order costs a frame each;
// going back starts again from the first frame. The frames are counted without decoding them.
#include "imglib/formats/gif/gif.h"

#include <cstring>

#include "imglib/core/size.h"
#include "imglib/formats/gif/canvas.h"
#include "imglib/formats/gif/frames.h"

namespace imglib::gif {

namespace {

// LZW's best: one 12-bit code for a string of up to 4096 pixels.
constexpr std::uint64_t kMostPixelsPerByte = 2731;

Status validate(const FrameReader& reader)
{
    if (reader.screenWidth() == 0 || reader.screenHeight() == 0)
        return failure(Error::badHeader, "gif: empty logical screen");
    if (!withinLimits(reader.screenWidth(), reader.screenHeight()))
        return failure(Error::tooLarge, "gif: logical screen over the size limits");
    return success();
}

// Empty frames draw nothing; the others are within the limits like any image.
Status validate(const Frame& frame)
{
    if (!frame.place.empty() && !withinLimits(frame.place.width, frame.place.height))
        return failure(Error::tooLarge, "gif: frame over the size limits");
    return success();
}

// Whether the file's data could fill the screen at all: a short file claiming a huge screen is
// refused before the screen costs anything.
bool holdsEnoughData(const FrameReader& reader, std::size_t fileBytes)
{
    return std::uint64_t{reader.screenWidth()} * reader.screenHeight() <= fileBytes * kMostPixelsPerByte;
}

class Animation final : public Pages {
public:
    explicit Animation(std::span<const std::uint8_t> file) : file_(file) {}

    // Reads the header and starts a blank screen.
    Status restart()
    {
        drawn_ = 0;
        if (auto s = reader_.open(file_); !s)
            return s;
        if (auto s = validate(reader_); !s)
            return s;
        if (!holdsEnoughData(reader_, file_.size()))
            return failure(Error::truncated, "gif: too little data for the logical screen");
        canvas_.start(reader_.screenWidth(), reader_.screenHeight());
        return success();
    }

    // The frames whose data is whole, up to the end of the file or the first damage; none is an error.
    Status countFrames()
    {
        FrameReader reader;
        Status status = reader.open(file_);
        for (Frame frame; status;) {
            bool found = false;
            status = reader.next(frame, found);
            if (!status || !found)
                break;
            status = validate(frame);
            if (status)
                status = reader.skipRows();
            count_ += status ? 1 : 0;
        }
        if (count_ > 0)
            return success();
        return status ? failure(Error::badData, "gif: no frame in the file") : status;
    }

    // Draws frames until `page` frames are drawn and the screen shows page `page - 1`.
    Status composeThrough(std::uint32_t page)
    {
        if (page + 1 < drawn_ || drawn_ == kBroken)
            if (auto s = restart(); !s)
                return broken(s);
        while (drawn_ <= page)
            if (auto s = drawNext(); !s)
                return broken(s);
        return success();
    }

    Canvas& canvas() { return canvas_; }

    std::uint32_t count() const override { return count_; }

    Status read(std::uint32_t page, Image& out) override
    {
        if (page >= count_)
            return failure(Error::badArgument, "pages: no such page");
        if (auto s = composeThrough(page); !s)
            return s;
        return canvas_.copyTo(out);
    }

private:
    static constexpr std::uint32_t kBroken = UINT32_MAX;

    Status drawNext()
    {
        if (drawn_ > 0)
            if (auto s = canvas_.dispose(last_); !s)
                return s;
        bool found = false;
        if (auto s = reader_.next(last_, found); !s)
            return s;
        if (!found)
            return failure(Error::badData, "gif: no frame in the file");
        if (auto s = validate(last_); !s)
            return s;
        if (last_.disposal == Disposal::previous)
            if (auto s = canvas_.keepUnder(last_); !s)
                return s;
        if (auto s = canvas_.draw(last_, reader_); !s)
            return s;
        ++drawn_;
        return success();
    }

    // A failure leaves the screen half drawn: the next read starts again.
    Status broken(Status status)
    {
        drawn_ = kBroken;
        return status;
    }

    std::span<const std::uint8_t> file_;
    FrameReader reader_;
    Canvas canvas_;
    Frame last_;
    std::uint32_t drawn_ = 0;
    std::uint32_t count_ = 0;
};

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    return file.size() >= 6 &&
           (std::memcmp(file.data(), "GIF87a", 6) == 0 || std::memcmp(file.data(), "GIF89a", 6) == 0);
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "gif: no GIF signature");
    Animation animation(file);
    Status status = animation.restart();
    if (status)
        status = animation.composeThrough(0);
    if (status)
        status = animation.canvas().moveTo(out);
    if (!status)
        out = Image{};
    return status;
}

Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "gif: no GIF signature");
    auto animation = std::make_unique<Animation>(file);
    if (auto s = animation->restart(); !s)
        return s;
    if (auto s = animation->countFrames(); !s)
        return s;
    out = std::move(animation);
    return success();
}

}  // namespace imglib::gif
