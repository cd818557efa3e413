// JPEG 2000 through openjpeg, read from memory: JP2 files (and the JPX and JPH files openjpeg
// reads as such) and bare codestreams. openjpeg applies a JP2 palette and channel definitions; the
// rest is done here: components sampled more coarsely than the image are spread over the pixels
// they cover, samples of 1 to 16 bits (signed ones moved up by half their range) are scaled to 8,
// sYCC and e-sYCC become RGB and CMYK light, alpha is composited over white, and an ICC profile
// goes through toSrgb. Without a channel definition, the second of two components or the fourth of
// four is alpha, as openjpeg's own tool writes them.
#include "imglib/formats/jp2/jp2.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <openjpeg.h>

#include "imglib/core/colour.h"
#include "imglib/core/owned.h"
#include "imglib/core/parallel.h"
#include "imglib/core/profile.h"
#include "imglib/formats/jp2/header.h"

namespace imglib::jp2 {

namespace {

// openjpeg's view of the file in memory.
struct Source {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

OPJ_SIZE_T readSource(void* buffer, OPJ_SIZE_T bytes, void* user)
{
    auto& source = *static_cast<Source*>(user);
    if (source.position >= source.data.size())
        return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t count = std::min<std::size_t>(bytes, source.data.size() - source.position);
    std::memcpy(buffer, source.data.data() + source.position, count);
    source.position += count;
    return count;
}

OPJ_OFF_T skipSource(OPJ_OFF_T bytes, void* user)
{
    auto& source = *static_cast<Source*>(user);
    if (bytes < 0 || static_cast<std::uint64_t>(bytes) > source.data.size() - source.position) {
        source.position = source.data.size();
        return -1;
    }
    source.position += static_cast<std::size_t>(bytes);
    return bytes;
}

OPJ_BOOL seekSource(OPJ_OFF_T position, void* user)
{
    auto& source = *static_cast<Source*>(user);
    if (position < 0 || static_cast<std::uint64_t>(position) > source.data.size())
        return OPJ_FALSE;
    source.position = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

using DecodedImage = Owned<opj_image_t, opj_image_destroy>;

// Decodes every component at full resolution.
Status decodeComponents(std::span<const std::uint8_t> file, bool boxed, DecodedImage& image)
{
    const Owned<opj_codec_t, opj_destroy_codec> codec(opj_create_decompress(boxed ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    const Owned<opj_stream_t, opj_stream_destroy> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!codec || !stream)
        return failure(Error::outOfMemory, "jp2: no memory to decode");
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    // Strict: a codestream cut short fails instead of giving what was decoded of it.
    if (!opj_setup_decoder(codec.get(), &parameters) || !opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE))
        return failure(Error::outOfMemory, "jp2: no memory to decode");
    opj_codec_set_threads(codec.get(), static_cast<int>(threadCount()));  // single-threaded when it cannot

    Source source{file};
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), file.size());
    opj_stream_set_read_function(stream.get(), readSource);
    opj_stream_set_skip_function(stream.get(), skipSource);
    opj_stream_set_seek_function(stream.get(), seekSource);

    opj_image_t* header = nullptr;
    const bool headerRead = opj_read_header(stream.get(), codec.get(), &header);
    image.reset(header);
    if (!headerRead)
        return failure(Error::badHeader, "jp2: openjpeg refuses the header");
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        return failure(Error::badData, "jp2: the codestream does not decode");
    return success();
}

// One decoded component, read as levels of 0 to max (signed samples moved up by half the range),
// at the sample that covers each pixel of the image.
class Channel {
public:
    // False when the component is missing or has no samples, or samples of more than 16 bits.
    bool open(const opj_image_t& image, std::uint32_t index)
    {
        if (index >= image.numcomps)
            return false;
        const opj_image_comp_t& c = image.comps[index];
        if (c.data == nullptr || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 16)
            return false;
        component_ = &c;
        max_ = (1 << c.prec) - 1;
        shift_ = c.sgnd ? 1 << (c.prec - 1) : 0;
        // The sample of pixel x lies at floor((image.x0 + x) / dx) on the component's own grid; a
        // pixel left of or above its first sample takes that one.
        columns_.resize(image.x1 - image.x0);
        for (std::uint32_t x = 0; x < columns_.size(); ++x)
            columns_[x] = sampleAt(image.x0 + x, c.dx, c.x0, c.w);
        return true;
    }

    int max() const { return max_; }
    bool isAlpha() const { return component_->alpha != 0; }
    bool isPremultiplied() const { return component_->alpha == 2; }

    // The levels of image row y into `out` (one per pixel).
    void row(const opj_image_t& image, std::uint32_t y, int* out) const
    {
        const OPJ_INT32* samples =
            component_->data +
            std::size_t{sampleAt(image.y0 + y, component_->dy, component_->y0, component_->h)} * component_->w;
        for (std::size_t x = 0; x < columns_.size(); ++x)
            out[x] = std::clamp(samples[columns_[x]] + shift_, 0, max_);
    }

private:
    static std::uint32_t sampleAt(std::uint32_t position, std::uint32_t step, std::uint32_t first, std::uint32_t count)
    {
        const std::uint32_t n = position / step;
        return n < first ? 0 : std::min(n - first, count - 1);
    }

    const opj_image_comp_t* component_ = nullptr;
    int max_ = 0, shift_ = 0;
    std::vector<std::uint32_t> columns_;
};

// How the decoded components make an image.
enum class ColourModel : std::uint8_t { grey, rgb, ycc, inks };

// The alpha component: the one a channel definition marks, else the last of two or of four
// (not CMYK's black). -1 when there is none.
int alphaIndex(const opj_image_t& image)
{
    for (std::uint32_t i = 0; i < image.numcomps; ++i)
        if (image.comps[i].alpha != 0)
            return static_cast<int>(i);
    if (image.numcomps == 2 || (image.numcomps == 4 && image.color_space != OPJ_CLRSPC_CMYK))
        return static_cast<int>(image.numcomps - 1);
    return -1;
}

ColourModel colourOf(const opj_image_t& image, int alpha)
{
    if (image.numcomps < 3 || alpha == 1 || alpha == 2)
        return ColourModel::grey;
    switch (image.color_space) {
    case OPJ_CLRSPC_SYCC:
    case OPJ_CLRSPC_EYCC:
        return ColourModel::ycc;
    case OPJ_CLRSPC_CMYK:
        return ColourModel::inks;
    default:
        return ColourModel::rgb;
    }
}

// sYCC and e-sYCC (full-range BT.601) to RGB, in place, at the precision of the luma, as openjpeg's
// own tool converts them. The chroma is centred on half its own range.
void yccToRgb(int* y, int* cb, int* cr, std::size_t count, int halfCb, int halfCr, int max)
{
    const auto level = [max](double value) { return std::clamp(static_cast<int>(std::lround(value)), 0, max); };
    for (std::size_t i = 0; i < count; ++i) {
        const double luma = y[i], u = cb[i] - halfCb, v = cr[i] - halfCr;
        y[i] = level(luma + 1.402 * v);
        cb[i] = level(luma - 0.344136 * u - 0.714136 * v);
        cr[i] = level(luma + 1.772 * u);
    }
}

// The image's pixels, a row at a time, from the decoded components: the colour ones (one grey,
// three RGB or YCC, four inks) and alpha.
class Pixels {
public:
    Status open(const opj_image_t& decoded)
    {
        decoded_ = &decoded;
        const int alpha = alphaIndex(decoded);
        colour_ = colourOf(decoded, alpha);
        colours_ = colour_ == ColourModel::grey ? 1 : colour_ == ColourModel::inks ? 4 : 3;
        for (std::uint32_t c = 0; c < colours_; ++c)
            if (!channels_[c].open(decoded, c))
                return failure(Error::unsupported, "jp2: a colour component is missing or over 16 bits");
        hasAlpha_ = alpha >= static_cast<int>(colours_) && channels_[kAlpha].open(decoded, alpha);
        for (std::uint32_t c = 0; c < kAlpha + 1; ++c) {
            if (c < colours_ || (c == kAlpha && hasAlpha_))
                levels_[c] =
                    scaledLevels(colour_ == ColourModel::ycc && c < kAlpha ? channels_[0].max() : channels_[c].max());
            samples_[c].resize(decoded.x1 - decoded.x0);
        }
        return success();
    }

    PixelFormat format() const { return colour_ == ColourModel::grey ? PixelFormat::grey : PixelFormat::rgb; }

    void row(std::uint32_t y, std::uint8_t* target)
    {
        for (std::uint32_t c = 0; c < kAlpha + 1; ++c)
            if (c < colours_ || (c == kAlpha && hasAlpha_))
                channels_[c].row(*decoded_, y, samples_[c].data());
        const std::size_t width = samples_[0].size();
        if (colour_ == ColourModel::ycc)
            yccToRgb(samples_[0].data(), samples_[1].data(), samples_[2].data(), width, (channels_[1].max() + 1) / 2,
                     (channels_[2].max() + 1) / 2, channels_[0].max());
        const unsigned channels = colour_ == ColourModel::grey ? 1 : 3;
        const bool premultiplied = hasAlpha_ && channels_[kAlpha].isPremultiplied();
        for (std::size_t x = 0; x < width; ++x)
            for (unsigned c = 0; c < channels; ++c) {
                std::uint8_t v = level(c, x);
                if (colour_ == ColourModel::inks)
                    v = lightUnderInks(v, level(3, x));
                *target++ = hasAlpha_ ? overWhite(v, level(kAlpha, x), premultiplied) : v;
            }
    }

private:
    static constexpr std::uint32_t kAlpha = 4;  // channels_ and the others hold colours, then alpha

    std::uint8_t level(std::uint32_t c, std::size_t x) const { return levels_[c][samples_[c][x]]; }

    const opj_image_t* decoded_ = nullptr;
    ColourModel colour_ = ColourModel::grey;
    std::uint32_t colours_ = 1;
    bool hasAlpha_ = false;
    std::array<Channel, kAlpha + 1> channels_;
    std::array<std::vector<std::uint8_t>, kAlpha + 1> levels_;
    std::array<std::vector<int>, kAlpha + 1> samples_;
};

// The decoded components as a grey or RGB image.
Status toImage(const opj_image_t& decoded, Image& out)
{
    Pixels pixels;
    if (auto s = pixels.open(decoded); !s)
        return s;
    if (auto s = allocate(out, decoded.x1 - decoded.x0, decoded.y1 - decoded.y0, pixels.format()); !s)
        return s;
    for (std::uint32_t y = 0; y < out.height; ++y)
        pixels.row(y, out.row(y));
    return success();
}

Status decodeImage(const Header& header, std::span<const std::uint8_t> file, Image& out)
{
    DecodedImage decoded;
    if (auto s = decodeComponents(file, header.boxed, decoded); !s)
        return s;
    // openjpeg marks a CIELab 'colr' box with a profile of no bytes.
    if (decoded->icc_profile_buf != nullptr && decoded->icc_profile_len == 0)
        return failure(Error::unsupported, "jp2: CIELab colour space");
    if (decoded->x1 - decoded->x0 != header.width() || decoded->y1 - decoded->y0 != header.height() ||
        decoded->numcomps == 0)
        return failure(Error::badData, "jp2: decoded image not of the size the header states");
    if (auto s = toImage(*decoded, out); !s)
        return s;
    if (decoded->icc_profile_len > 0)
        return toSrgb(out, {decoded->icc_profile_buf, decoded->icc_profile_len});
    return success();
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    Header header;
    return readHeader(file, header) && validate(header);
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    Header header;
    if (auto s = readHeader(file, header); !s)
        return s;
    if (auto s = validate(header); !s)
        return s;
    if (auto s = holdsEnoughData(header); !s)
        return s;
    Image image;
    try {
        if (auto s = decodeImage(header, file, image); !s)
            return s;
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "jp2: no memory to decode");
    }
    image.resolution = header.resolution;
    out = std::move(image);
    return success();
}

}  // namespace imglib::jp2
