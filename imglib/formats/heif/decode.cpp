// HEIF (HEIC) and AVIF through libheif, read from memory: the primary image as libheif composes it
// by default (grid tiles put together, the clean aperture cropped, the rotation and mirroring
// applied), grey kept grey, alpha composited over white and samples over 8 bits scaled to 8.
//
// libheif turns YCbCr into RGB with the matrix the nclx colour box states; primaries other than
// sRGB's (BT.2020, Display P3) are left as they are, so such pictures look a little washed out. An
// ICC profile goes through toSrgb. The Exif block gives the resolution; its orientation is not
// applied, as the rotation and mirror boxes are the file's word on that and libheif applies them.
#include "imglib/formats/heif/heif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libheif/heif.h>

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/owned.h"
#include "imglib/core/parallel.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"
#include "imglib/formats/heif/header.h"

namespace imglib::heif {

namespace {

using Context = Owned<heif_context, heif_context_free>;
using Handle = Owned<heif_image_handle, heif_image_handle_release>;
using Picture = Owned<heif_image, heif_image_release>;
using Options = Owned<heif_decoding_options, heif_decoding_options_free>;

Status statusOf(const heif_error& error)
{
    switch (error.subcode) {
    case heif_suberror_End_of_data:
        return failure(Error::truncated, "heif: the data ends early");
    case heif_suberror_Security_limit_exceeded:
        return failure(Error::tooLarge, "heif: image over the size limits");
    case heif_suberror_Unsupported_codec:
    case heif_suberror_Unsupported_image_type:
        return failure(Error::unsupported, "heif: no decoder here for the image's coding");
    default:
        break;
    }
    switch (error.code) {
    case heif_error_Memory_allocation_error:
        return failure(Error::outOfMemory, "heif: no memory to decode");
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        return failure(Error::unsupported, "heif: a feature libheif does not read");
    case heif_error_Decoder_plugin_error:
        return failure(Error::badData, "heif: the coded image does not decode");
    default:
        return failure(Error::badHeader, "heif: damaged file structure");
    }
}

// One plane of libheif's decoded picture, read a row at a time as 8-bit levels.
class Plane {
public:
    // False when the picture has no such plane, or one of another size than the picture.
    bool open(const heif_image& picture, heif_channel channel, std::uint32_t width, std::uint32_t height)
    {
        if (!heif_image_has_channel(&picture, channel) ||
            heif_image_get_width(&picture, channel) != static_cast<int>(width) ||
            heif_image_get_height(&picture, channel) != static_cast<int>(height))
            return false;
        const int bits = heif_image_get_bits_per_pixel_range(&picture, channel);
        const int storage = heif_image_get_bits_per_pixel(&picture, channel);
        int stride = 0;
        data_ = heif_image_get_plane_readonly(&picture, channel, &stride);
        if (data_ == nullptr || bits < 1 || bits > storage || (storage != 8 && storage != 16) ||
            stride < static_cast<int>(width * (storage / 8)))
            return false;
        stride_ = static_cast<std::size_t>(stride);
        if (storage == 16) {
            levels_ = scaledLevels((1u << bits) - 1);
            scaled_.resize(width);
        }
        return true;
    }

    // The levels of row y: the samples themselves when they are 8 bits, else scaled.
    const std::uint8_t* row(std::uint32_t y)
    {
        const std::uint8_t* samples = data_ + y * stride_;
        if (levels_.empty())
            return samples;
        const std::size_t top = levels_.size() - 1;
        for (std::size_t x = 0; x < scaled_.size(); ++x) {
            std::uint16_t v = 0;
            std::memcpy(&v, samples + 2 * x, 2);  // wide samples are kept in the machine's byte order
            scaled_[x] = levels_[std::min<std::size_t>(v, top)];
        }
        return scaled_.data();
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t stride_ = 0;
    std::vector<std::uint8_t> levels_;  // wide samples only
    std::vector<std::uint8_t> scaled_;
};

// The decoded picture as a grey or RGB image. Decoded in its own colour space, libheif hands over
// planar RGB or grey. An alpha plane of another size than the picture (an alpha image not turned
// with its colour image) is left out, as there is no telling how it lies over the picture.
Status toImage(const heif_image& picture, bool premultiplied, Image& out)
{
    const auto space = heif_image_get_colorspace(&picture);
    const bool grey = space == heif_colorspace_monochrome;
    if (!grey && !(space == heif_colorspace_RGB && heif_image_get_chroma_format(&picture) == heif_chroma_444))
        return failure(Error::unsupported, "heif: decoded colour space not read here");
    // Of the size the file states, checked against the limits before decoding.
    const auto w = static_cast<std::uint32_t>(heif_image_get_primary_width(&picture));
    const auto h = static_cast<std::uint32_t>(heif_image_get_primary_height(&picture));

    const unsigned channels = grey ? 1 : 3;
    const std::array channelIds = {grey ? heif_channel_Y : heif_channel_R, heif_channel_G, heif_channel_B};
    std::array<Plane, 3> planes;
    for (unsigned c = 0; c < channels; ++c)
        if (!planes[c].open(picture, channelIds[c], w, h))
            return failure(Error::badData, "heif: a decoded plane is missing or of another size");
    Plane alpha;
    const bool hasAlpha = alpha.open(picture, heif_channel_Alpha, w, h);

    if (auto s = allocate(out, w, h, grey ? PixelFormat::grey : PixelFormat::rgb); !s)
        return s;
    for (std::uint32_t y = 0; y < h; ++y) {
        std::array<const std::uint8_t*, 3> rows{};
        for (unsigned c = 0; c < channels; ++c)
            rows[c] = planes[c].row(y);
        std::uint8_t* target = out.row(y);
        if (!hasAlpha) {
            for (std::uint32_t x = 0; x < w; ++x)
                for (unsigned c = 0; c < channels; ++c)
                    *target++ = rows[c][x];
            continue;
        }
        const std::uint8_t* opacity = alpha.row(y);
        for (std::uint32_t x = 0; x < w; ++x)
            for (unsigned c = 0; c < channels; ++c)
                *target++ = overWhite(rows[c][x], opacity[x], premultiplied);
    }
    return success();
}

// The ICC profile of a 'colr' box, applied to the decoded image.
Status applyProfile(const heif_image_handle& handle, Image& image)
{
    const auto type = heif_image_handle_get_color_profile_type(&handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return success();
    std::vector<std::uint8_t> icc(heif_image_handle_get_raw_color_profile_size(&handle));
    if (icc.empty() || heif_image_handle_get_raw_color_profile(&handle, icc.data()).code != heif_error_Ok)
        return success();
    return toSrgb(image, icc);
}

// The resolution the Exif item states.
Resolution resolutionOf(const heif_image_handle& handle)
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(&handle, "Exif", &id, 1) != 1)
        return {};
    std::vector<std::uint8_t> item(heif_image_handle_get_metadata_size(&handle, id));
    if (item.empty() || heif_image_handle_get_metadata(&handle, id, item.data()).code != heif_error_Ok)
        return {};
    return readExifItem(item).resolution;
}

// The primary image's size, as shown and as coded, within the limits.
Status validateSize(const heif_image_handle& primary)
{
    const auto within = [](int width, int height) { return withinLimits(std::max(width, 0), std::max(height, 0)); };
    if (!within(heif_image_handle_get_width(&primary), heif_image_handle_get_height(&primary)) ||
        !within(heif_image_handle_get_ispe_width(&primary), heif_image_handle_get_ispe_height(&primary)))
        return failure(Error::tooLarge, "heif: image over the size limits");
    return success();
}

Status decodePrimary(std::span<const std::uint8_t> file, Image& out)
{
    // libheif sets up its decoders on first use; that is done once here, before threads decoding
    // files side by side could race to it. It holds them until the process ends.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    if (!initialised)
        return failure(Error::unsupported, "heif: libheif does not start");
    const Context context(heif_context_alloc());
    if (!context)
        return failure(Error::outOfMemory, "heif: no memory to decode");
    // Checked on every image's stated size as the file is read; the pixel count is ours to check.
    heif_context_set_maximum_image_size_limit(context.get(), static_cast<int>(kMaxSide));
    heif_context_set_max_decoding_threads(context.get(), static_cast<int>(threadCount()));
    if (auto e = heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr); e.code)
        return statusOf(e);
    heif_image_handle* primary = nullptr;
    if (auto e = heif_context_get_primary_image_handle(context.get(), &primary); e.code)
        return statusOf(e);
    const Handle handle(primary);
    if (auto s = validateSize(*primary); !s)
        return s;

    const Options options(heif_decoding_options_alloc());
    if (!options)
        return failure(Error::outOfMemory, "heif: no memory to decode");
    options->strict_decoding = 1;  // a damaged file is not to be taken for a good one
    heif_image* decoded = nullptr;
    if (auto e = heif_decode_image(primary, &decoded, heif_colorspace_undefined, heif_chroma_undefined, options.get());
        e.code)
        return statusOf(e);
    const Picture picture(decoded);
    // A stream whose pictures are larger than the file states (layers of which the file asks for a
    // smaller one, a selection libheif does not make) would give another image than the one meant.
    if (heif_image_get_primary_width(decoded) != heif_image_handle_get_width(primary) ||
        heif_image_get_primary_height(decoded) != heif_image_handle_get_height(primary))
        return failure(Error::badData, "heif: the decoded picture is not of the size the file states");
    if (auto s = toImage(*picture, heif_image_handle_is_premultiplied_alpha(primary) != 0, out); !s)
        return s;
    if (auto s = applyProfile(*primary, out); !s)
        return s;
    out.resolution = resolutionOf(*primary);
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
    if (auto s = holdsEnoughData(file); !s)
        return s;
    if (auto s = checkReferences(file); !s)
        return s;
    Image image;
    try {
        if (auto s = decodePrimary(file, image); !s)
            return s;
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "heif: no memory to decode");
    }
    out = std::move(image);
    return success();
}

}  // namespace imglib::heif
