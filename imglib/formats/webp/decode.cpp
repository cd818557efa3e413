// WebP through libwebp. Its demuxer reads the RIFF container and tells whether every chunk the
// file lists lies within the data, so a file cut short fails before any pixel is held. A still
// picture is decoded by libwebp into a buffer of its own, whose pages the system commits only as
// rows are written; an animation is composed frame by frame by libwebp's animation decoder, which
// blends and disposes as a viewer does. Either is then flattened into the image, alpha composited
// over white. An ICC profile is applied, and the resolution taken from the Exif chunk.
#include "imglib/formats/webp/webp.h"

#include <cstring>
#include <limits>

#include <webp/decode.h>
#include <webp/demux.h>

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/owned.h"
#include "imglib/core/parallel.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"

namespace imglib::webp {

namespace {

using Demux = Owned<WebPDemuxer, WebPDemuxDelete>;
using AnimationDecoder = Owned<WebPAnimDecoder, WebPAnimDecoderDelete>;

struct Header {
    std::uint32_t width = 0, height = 0;  // the canvas
    std::uint32_t frames = 0;
    bool animated = false;
    bool complete = false;                    // every chunk the file lists lies within the data
    std::span<const std::uint8_t> icc;        // within the file; empty when absent
    std::span<const std::uint8_t> bitstream;  // the first frame's, within the file
    Resolution resolution;                    // what the Exif chunk states
};

WebPData dataOf(std::span<const std::uint8_t> file) { return {file.data(), file.size()}; }

std::span<const std::uint8_t> chunkOf(const WebPDemuxer* demux, const char* id)
{
    WebPChunkIterator chunk;
    std::span<const std::uint8_t> bytes;
    if (WebPDemuxGetChunk(demux, id, 1, &chunk))
        bytes = {chunk.chunk.bytes, chunk.chunk.size};
    WebPDemuxReleaseChunkIterator(&chunk);
    return bytes;
}

Status validate(const Header& header)
{
    if (!withinLimits(header.width, header.height))
        return failure(Error::tooLarge, "webp: canvas size over the limits");
    return success();
}

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    const WebPData data = dataOf(file);
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    const Demux demux(WebPDemuxPartial(&data, &state));
    if (!demux)
        return state == WEBP_DEMUX_PARSING_HEADER ? failure(Error::truncated, "webp: the data ends in the header")
                                                  : failure(Error::badHeader, "webp: bad RIFF header or chunk");
    header.width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    header.height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    header.frames = WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT);
    header.animated = (WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0;
    header.complete = state == WEBP_DEMUX_DONE;
    header.icc = chunkOf(demux.get(), "ICCP");
    WebPIterator frame;
    if (WebPDemuxGetFrame(demux.get(), 1, &frame))
        header.bitstream = {frame.fragment.bytes, frame.fragment.size};
    WebPDemuxReleaseIterator(&frame);
    header.resolution = readExif(chunkOf(demux.get(), "EXIF")).resolution;
    return validate(header);
}

// libwebp decodes only what the chunks hold, and the demuxer has seen each of them whole.
bool holdsEnoughData(const Header& header) { return header.complete && header.frames > 0; }

Status statusOf(VP8StatusCode code)
{
    switch (code) {
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return failure(Error::truncated, "webp: the bitstream ends early");
    case VP8_STATUS_OUT_OF_MEMORY:
        return failure(Error::outOfMemory, "webp: no memory to decode");
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return failure(Error::unsupported, "webp: bitstream feature not supported");
    default:
        return failure(Error::badData, "webp: corrupt bitstream");
    }
}

// Rows of RGB or RGBA samples into an RGB image, alpha composited over white.
Status flatten(const std::uint8_t* samples, std::size_t stride, bool alpha, std::uint32_t width, std::uint32_t height,
               Image& out)
{
    if (auto s = allocate(out, width, height, PixelFormat::rgb); !s)
        return s;
    parallelFor(height, 64, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y) {
            const std::uint8_t* in = samples + y * stride;
            std::uint8_t* row = out.row(static_cast<std::uint32_t>(y));
            if (!alpha) {
                std::memcpy(row, in, out.stride());
                continue;
            }
            for (std::uint32_t x = 0; x < width; ++x, in += 4, row += 3) {
                if (in[3] == 255) {  // most pixels of a lossless picture: copied, twice as fast
                    std::memcpy(row, in, 3);
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    row[c] = overWhite(in[c], in[3]);
            }
        }
    });
    return success();
}

Status decodeStill(const Header& header, Image& out)
{
    const std::span<const std::uint8_t> bitstream = header.bitstream;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return failure(Error::unsupported, "webp: libwebp of another version");
    if (const auto code = WebPGetFeatures(bitstream.data(), bitstream.size(), &config.input); code != VP8_STATUS_OK)
        return statusOf(code);
    // A lossless header's alpha flag is only a hint: its pixels may be transparent all the same.
    const bool alpha = config.input.has_alpha || config.input.format == 2;
    config.options.use_threads = 1;
    config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
    const VP8StatusCode code = WebPDecode(bitstream.data(), bitstream.size(), &config);
    Status status = statusOf(code);
    if (code == VP8_STATUS_OK) {
        const WebPRGBABuffer& rgba = config.output.u.RGBA;
        status =
            std::uint32_t(config.output.width) == header.width && std::uint32_t(config.output.height) == header.height
                ? flatten(rgba.rgba, std::size_t(rgba.stride), alpha, header.width, header.height, out)
                : failure(Error::badData, "webp: frame size differs from the canvas");
    }
    WebPFreeDecBuffer(&config.output);
    return status;
}

// What the file states beside its pixels.
Status applyMetadata(const Header& header, Image& image)
{
    image.resolution = header.resolution;
    return toSrgb(image, header.icc);
}

// The frames of a file: an animation's through libwebp's animation decoder, which keeps the
// canvas between frames (reading on costs one frame, going back starts again); a still picture's one.
class WebpPages final : public Pages {
public:
    WebpPages(const Header& header, AnimationDecoder decoder) : header_(header), decoder_(std::move(decoder)) {}

    std::uint32_t count() const override { return header_.animated ? header_.frames : 1; }

    Status read(std::uint32_t page, Image& out) override
    {
        if (page >= count())
            return failure(Error::badArgument, "webp: no such page");
        Image image;
        Status status = decoder_ ? composeFrame(page, image) : decodeStill(header_, image);
        if (status)
            status = applyMetadata(header_, image);
        if (status)
            out = std::move(image);
        return status;
    }

private:
    Status composeFrame(std::uint32_t page, Image& out)
    {
        if (page < next_) {
            WebPAnimDecoderReset(decoder_.get());
            next_ = 0;
        }
        std::uint8_t* canvas = nullptr;
        for (int timestamp = 0; next_ <= page; ++next_) {
            if (!WebPAnimDecoderGetNext(decoder_.get(), &canvas, &timestamp)) {
                next_ = std::numeric_limits<std::uint32_t>::max();  // start again on the next read
                return failure(Error::badData, "webp: corrupt animation frame");
            }
        }
        return flatten(canvas, std::size_t{header_.width} * 4, true, header_.width, header_.height, out);
    }

    Header header_;             // its spans are within the file, which outlives the pages
    AnimationDecoder decoder_;  // null for a still picture
    std::uint32_t next_ = 0;    // the frame the animation decoder gives next
};

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    return file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
           std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "webp: no RIFF WEBP signature");
    Header header;
    if (auto s = readHeader(file, header); !s)
        return s;
    if (!holdsEnoughData(header))
        return failure(Error::truncated, "webp: a chunk runs past the end of the data");
    AnimationDecoder decoder;
    if (header.animated) {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            return failure(Error::unsupported, "webp: libwebp of another version");
        options.color_mode = MODE_RGBA;
        options.use_threads = 1;
        const WebPData data = dataOf(file);
        decoder.reset(WebPAnimDecoderNew(&data, &options));
        if (!decoder)
            return failure(Error::badData, "webp: animation the decoder refuses");
    }
    out = std::make_unique<WebpPages>(header, std::move(decoder));
    return success();
}

Status decode(std::span<const std::uint8_t> file, Image& out) { return firstPage(openPages, file, out); }

}  // namespace imglib::webp
