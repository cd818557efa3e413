// JPEG XL through libjxl, on its thread runner.
//
// A first pass reads the headers and boxes without decoding a pixel: the size, every layer's size,
// the frames a viewer shows, the Exif box, and whether every frame's data is in the file (libjxl
// steps over a frame by its table of contents, which needs the frame's bytes to be there). So a file
// cut short, or one whose layers are over the limits, fails before any pixel is held. The second
// pass decodes frames composed by libjxl (coalesced), upright, and hands every scanline to a
// callback that writes it into the image: grey stays grey, samples over 8 bits come as 16 and are
// scaled with rounding, alpha is composited over white.
//
// Colour: libjxl converts XYB-encoded (lossy) pixels to sRGB when asked to, and that is asked. It
// cannot convert the others, which come in the colour space they were stored in; when that space
// is not sRGB its ICC profile goes to toSrgb, as for every other format.
#include "imglib/formats/jxl/jxl.h"

#include <cstring>
#include <limits>
#include <vector>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>  // JxlColorEncodingSetToSRGB
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/parallel.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"

namespace imglib::jxl {

namespace {

// libjxl keeps every channel of a frame as 32-bit floats, extra channels included: at most as many
// samples as four channels at the pixel limit.
constexpr std::uint64_t kMaxSamples = 4 * kMaxPixels;
// An Exif box is a few kilobytes; a compressed one that grows past this is left unread.
constexpr std::size_t kMaxExifBytes = 1 << 20;

struct Header {
    JxlBasicInfo info{};
    std::uint32_t frames = 0;  // the frames a viewer shows
    bool complete = false;     // libjxl reached the end of the file
    Resolution resolution;     // what the Exif box states
};

Status failureOf(JxlDecoderStatus status)
{
    return status == JXL_DEC_NEED_MORE_INPUT ? failure(Error::truncated, "jxl: the data ends early")
                                             : failure(Error::badData, "jxl: corrupt or cut codestream");
}

// A libjxl decoder reading the whole file, on the library's threads.
class Decoder {
public:
    Status open(std::span<const std::uint8_t> file, int events, bool coalescing)
    {
        file_ = file;
        events_ = events;
        coalescing_ = coalescing;
        decoder_ = JxlDecoderMake(nullptr);
        runner_ = JxlThreadParallelRunnerMake(nullptr, threadCount());
        if (!decoder_ || !runner_)
            return failure(Error::outOfMemory, "jxl: no memory for the decoder");
        JxlDecoder* d = decoder_.get();
        if (JxlDecoderSetParallelRunner(d, JxlThreadParallelRunner, runner_.get()) != JXL_DEC_SUCCESS ||
            JxlDecoderSubscribeEvents(d, events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetCoalescing(d, coalescing ? JXL_TRUE : JXL_FALSE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetDecompressBoxes(d, JXL_TRUE) != JXL_DEC_SUCCESS)
            return failure(Error::unsupported, "jxl: decoder settings refused");
        return giveInput();
    }

    // Back to the start of the file, settings kept: a new decoder, as libjxl 0.7's rewound one
    // ends the stream at once after a frame has been decoded.
    Status restart() { return open(file_, events_, coalescing_); }

    JxlDecoder* get() const { return decoder_.get(); }
    JxlDecoderStatus next() const { return JxlDecoderProcessInput(decoder_.get()); }

private:
    Status giveInput()
    {
        if (JxlDecoderSetInput(decoder_.get(), file_.data(), file_.size()) != JXL_DEC_SUCCESS)
            return failure(Error::badData, "jxl: input refused");
        JxlDecoderCloseInput(decoder_.get());
        return success();
    }

    std::span<const std::uint8_t> file_;
    int events_ = 0;
    bool coalescing_ = false;
    JxlDecoderPtr decoder_;
    JxlThreadParallelRunnerPtr runner_;
};

bool isType(JxlDecoder* decoder, const char* type)
{
    JxlBoxType found;
    return JxlDecoderGetBoxType(decoder, found, JXL_TRUE) == JXL_DEC_SUCCESS && std::memcmp(found, type, 4) == 0;
}

// The first Exif box, read into a buffer that grows while libjxl asks for more room.
class ExifBox {
public:
    void start(JxlDecoder* decoder)
    {
        if (!bytes_.empty() || !isType(decoder, "Exif"))
            return;
        bytes_.resize(4096);
        reading_ = JxlDecoderSetBoxBuffer(decoder, bytes_.data(), bytes_.size()) == JXL_DEC_SUCCESS;
    }

    void grow(JxlDecoder* decoder)
    {
        const std::size_t used = bytes_.size() - JxlDecoderReleaseBoxBuffer(decoder);
        if (bytes_.size() >= kMaxExifBytes) {
            bytes_.clear();
            reading_ = false;
            return;
        }
        bytes_.resize(bytes_.size() * 2);
        JxlDecoderSetBoxBuffer(decoder, bytes_.data() + used, bytes_.size() - used);
    }

    void finish(JxlDecoder* decoder)
    {
        if (reading_)
            bytes_.resize(bytes_.size() - JxlDecoderReleaseBoxBuffer(decoder));
        reading_ = false;
    }

    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    bool reading_ = false;
};

bool hasBlackChannel(JxlDecoder* decoder, const JxlBasicInfo& info)
{
    for (std::uint32_t i = 0; i < info.num_extra_channels; ++i) {
        JxlExtraChannelInfo channel;
        if (JxlDecoderGetExtraChannelInfo(decoder, i, &channel) == JXL_DEC_SUCCESS && channel.type == JXL_CHANNEL_BLACK)
            return true;
    }
    return false;
}

Status validate(const JxlBasicInfo& info, bool cmyk)
{
    if (!withinLimits(info.xsize, info.ysize))
        return failure(Error::tooLarge, "jxl: image size over the limits");
    const std::uint64_t planes = std::uint64_t{info.num_color_channels} + info.num_extra_channels;
    if (planes * info.xsize * info.ysize > kMaxSamples)
        return failure(Error::tooLarge, "jxl: too many extra channels for the image size");
    // Its inks need a colour manager that takes the black channel too: without one the picture
    // would come out plainly wrong.
    if (cmyk)
        return failure(Error::unsupported, "jxl: CMYK (a black channel) not supported");
    return success();
}

Status validateLayer(const JxlFrameHeader& frame)
{
    if (!withinLimits(frame.layer_info.xsize, frame.layer_info.ysize))
        return failure(Error::tooLarge, "jxl: layer size over the limits");
    return success();
}

// The first pass: headers, layers and boxes, every frame stepped over. Layers are seen one by one
// (coalescing off); those a viewer shows are the last one and, in an animation, any that lasts.
Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    Decoder decoder;
    if (auto s = decoder.open(file, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME | JXL_DEC_BOX, false); !s)
        return s;
    JxlDecoder* d = decoder.get();
    ExifBox exif;
    for (;;) {
        const JxlDecoderStatus event = decoder.next();
        switch (event) {
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(d, &header.info) != JXL_DEC_SUCCESS)
                return failure(Error::badHeader, "jxl: no basic info");
            if (auto s = validate(header.info, hasBlackChannel(d, header.info)); !s)
                return s;
            break;
        case JXL_DEC_FRAME: {
            JxlFrameHeader frame;
            if (JxlDecoderGetFrameHeader(d, &frame) != JXL_DEC_SUCCESS)
                return failure(Error::badHeader, "jxl: bad frame header");
            if (auto s = validateLayer(frame); !s)
                return s;
            if (frame.is_last || (header.info.have_animation && frame.duration > 0))
                ++header.frames;
            break;
        }
        case JXL_DEC_BOX:
            exif.finish(d);
            exif.start(d);
            break;
        case JXL_DEC_BOX_NEED_MORE_OUTPUT:
            exif.grow(d);
            break;
        case JXL_DEC_SUCCESS:
            exif.finish(d);
            header.resolution = readExifItem(exif.bytes()).resolution;
            header.complete = true;
            return success();
        case JXL_DEC_NEED_MORE_INPUT:
            return success();  // cut in the headers or in a frame: not complete
        default:
            return failureOf(event);
        }
    }
}

bool holdsEnoughData(const Header& header) { return header.complete && header.frames > 0; }

bool isSrgb(const JxlColorEncoding& colour)
{
    return (colour.color_space == JXL_COLOR_SPACE_GRAY ||
            (colour.color_space == JXL_COLOR_SPACE_RGB && colour.primaries == JXL_PRIMARIES_SRGB)) &&
           colour.white_point == JXL_WHITE_POINT_D65 && colour.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// Where libjxl's scanlines go: the image, and how its samples come.
struct Scanlines {
    Image* image = nullptr;
    unsigned colours = 3;  // 1 for grey
    bool alpha = false;
    bool wide = false;  // 16-bit samples, else 8-bit

    JxlPixelFormat format() const
    {
        const auto type = wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
        return {colours + (alpha ? 1u : 0u), type, JXL_NATIVE_ENDIAN, 0};
    }
};

std::uint8_t to8(std::uint8_t v) { return v; }
std::uint8_t to8(std::uint16_t v)
{
    static const std::vector<std::uint8_t> levels = scaledLevels(0xFFFF);
    return levels[v];
}

template <typename Sample>
void writePixels(const Scanlines& to, std::uint8_t* row, const Sample* in, std::size_t count)
{
    const unsigned colours = to.colours;
    if (!to.alpha) {
        for (std::size_t i = 0; i < count * colours; ++i)
            row[i] = to8(in[i]);
        return;
    }
    for (std::size_t x = 0; x < count; ++x, in += colours + 1, row += colours) {
        const std::uint8_t a = to8(in[colours]);
        for (unsigned c = 0; c < colours; ++c)
            row[c] = overWhite(to8(in[c]), a);
    }
}

// Called from libjxl's threads, on distinct pixels.
void onScanline(void* opaque, std::size_t x, std::size_t y, std::size_t count, const void* pixels)
{
    const auto& to = *static_cast<const Scanlines*>(opaque);
    std::uint8_t* row = to.image->row(static_cast<std::uint32_t>(y)) + x * to.colours;
    if (to.wide)
        writePixels(to, row, static_cast<const std::uint16_t*>(pixels), count);
    else
        writePixels(to, row, static_cast<const std::uint8_t*>(pixels), count);
}

// The displayed frames, from one decoder kept between reads: reading on costs one frame, going
// back starts again from the file's first byte and steps over the frames before.
class JxlPages final : public Pages {
public:
    JxlPages(std::span<const std::uint8_t> file, Header header) : file_(file), header_(std::move(header)) {}

    Status open() { return decoder_.open(file_, JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE, true); }

    std::uint32_t count() const override { return header_.frames; }

    Status read(std::uint32_t page, Image& out) override
    {
        if (page >= count())
            return failure(Error::badArgument, "jxl: no such page");
        if (page < next_) {
            if (auto s = decoder_.restart(); !s)
                return s;
            next_ = 0;
        }
        JxlDecoderSkipFrames(decoder_.get(), page - next_);
        next_ = page;
        Image image;
        Status status = decodeFrame(image);
        if (status && !icc_.empty())
            status = toSrgb(image, icc_);
        if (!status) {
            next_ = std::numeric_limits<std::uint32_t>::max();  // start again on the next read
            return status;
        }
        image.resolution = header_.resolution;
        out = std::move(image);
        ++next_;
        return success();
    }

private:
    Status decodeFrame(Image& image)
    {
        const JxlBasicInfo& info = header_.info;
        const bool grey = info.num_color_channels == 1;
        if (auto s = allocate(image, info.xsize, info.ysize, grey ? PixelFormat::grey : PixelFormat::rgb); !s)
            return s;
        Scanlines to{&image, grey ? 1u : 3u, info.alpha_bits > 0, info.bits_per_sample > 8};
        const JxlPixelFormat format = to.format();
        for (;;) {
            const JxlDecoderStatus event = decoder_.next();
            switch (event) {
            case JXL_DEC_COLOR_ENCODING:
                if (auto s = chooseColour(grey); !s)
                    return s;
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                if (setOutput(to, format) != JXL_DEC_SUCCESS)
                    return failure(Error::unsupported, "jxl: pixel format refused");
                break;
            case JXL_DEC_FULL_IMAGE:
                return success();
            case JXL_DEC_SUCCESS:
                return failure(Error::badData, "jxl: fewer frames than the headers state");
            default:
                return failureOf(event);
            }
        }
    }

    // 8-bit samples without alpha are the image's own: libjxl writes them straight into it.
    JxlDecoderStatus setOutput(Scanlines& to, const JxlPixelFormat& format)
    {
        if (!to.wide && !to.alpha)
            return JxlDecoderSetImageOutBuffer(decoder_.get(), &format, to.image->pixels.data(),
                                               to.image->pixels.size());
        return JxlDecoderSetImageOutCallback(decoder_.get(), &format, onScanline, &to);
    }

    // XYB pixels are asked for in sRGB; any others come as stored, and their profile is kept for
    // toSrgb unless it is sRGB already.
    Status chooseColour(bool grey)
    {
        JxlDecoder* d = decoder_.get();
        icc_.clear();
        if (!header_.info.uses_original_profile) {
            JxlColorEncoding srgb;
            JxlColorEncodingSetToSRGB(&srgb, grey ? JXL_TRUE : JXL_FALSE);
            if (JxlDecoderSetPreferredColorProfile(d, &srgb) != JXL_DEC_SUCCESS)
                return failure(Error::unsupported, "jxl: sRGB output refused");
        }
        JxlColorEncoding colour;
        if (JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &colour) == JXL_DEC_SUCCESS &&
            isSrgb(colour))
            return success();
        std::size_t size = 0;
        if (JxlDecoderGetICCProfileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS)
            return success();  // no profile to be had: the samples are taken as sRGB
        icc_.resize(size);
        if (JxlDecoderGetColorAsICCProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc_.data(), size) !=
            JXL_DEC_SUCCESS)
            icc_.clear();
        return success();
    }

    std::span<const std::uint8_t> file_;
    Header header_;
    Decoder decoder_;
    std::vector<std::uint8_t> icc_;  // the profile of the pixels libjxl gives, when not sRGB
    std::uint32_t next_ = 0;         // the frame the decoder gives next
};

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    const JxlSignature signature = JxlSignatureCheck(file.data(), file.size());
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "jxl: no codestream or container signature");
    Header header;
    if (auto s = readHeader(file, header); !s)
        return s;
    if (!holdsEnoughData(header))
        return failure(Error::truncated, "jxl: a frame runs past the end of the data");
    auto pages = std::make_unique<JxlPages>(file, std::move(header));
    if (auto s = pages->open(); !s)
        return s;
    out = std::move(pages);
    return success();
}

Status decode(std::span<const std::uint8_t> file, Image& out) { return firstPage(openPages, file, out); }

}  // namespace imglib::jxl
