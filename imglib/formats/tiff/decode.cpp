// TIFF reading through libtiff: the image of one directory, the first one for decode(). Common
// layouts are read sample by sample from the strips or tiles (readSamples); the colour models only
// libtiff knows go through its RGBA interface (readThroughRgba). Both give the stored rows; the
// stated resolution and colour profile, then the Orientation tag, are applied afterwards, so that
// the image comes out upright and in sRGB.
#include <algorithm>
#include <optional>

#include "imglib/core/exif.h"
#include "imglib/core/orientation.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"
#include "imglib/formats/tiff/header.h"
#include "imglib/formats/tiff/readers.h"
#include "imglib/formats/tiff/session.h"
#include "imglib/formats/tiff/tiff.h"

namespace imglib::tiff {

namespace {

template <typename T>
void getField(TIFF* tif, ttag_t tag, T& value)
{
    T v{};
    if (TIFFGetFieldDefaulted(tif, tag, &v) == 1)
        value = v;
}

// Which route reads the header's colour model; nothing for a model that none reads.
std::optional<Route> routeOfColours(const Header& h)
{
    switch (h.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return h.bitsPerSample == 1 ? Route::bilevel : Route::grey;
    case PHOTOMETRIC_PALETTE:
        return h.bitsPerSample <= 8 ? Route::indexed : Route::paletteToRgb;
    case PHOTOMETRIC_RGB:
        if (h.samplesPerPixel < 3)
            return std::nullopt;
        return Route::rgb;
    case PHOTOMETRIC_SEPARATED:
        if (h.inkSet != INKSET_CMYK || h.inks != 4 || h.samplesPerPixel < 4)
            return std::nullopt;
        return Route::cmyk;
    default:
        return Route::rgba;
    }
}

// Each stored chunk that will be read lies inside the file, and uncompressed ones are complete:
// a small file that claims a large image is refused before the image is allocated. A Status, not
// a yes or no as in the other readers: it says which of these failed, or that there are no chunks.
Status holdsEnoughData(TIFF* tif, const Header& h, std::uint64_t fileSize)
{
    const std::uint32_t planes = h.separatePlanes() ? std::min<std::uint32_t>(h.samplesPerPixel, 4) : 1;
    const std::uint32_t count = h.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const std::uint32_t perPlane = h.separatePlanes() ? count / h.samplesPerPixel : count;
    if (perPlane == 0)
        return failure(Error::badHeader, "tiff: no strips or tiles");
    for (std::uint32_t i = 0; i < planes * perPlane; ++i) {
        int missing = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &missing);
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &missing);
        if (missing || offset > fileSize || bytes > fileSize - offset)
            return failure(Error::truncated, "tiff: a strip or tile lies past the end of the file");
        if (h.compression != COMPRESSION_NONE)
            continue;
        const std::uint32_t firstRow = h.tiled ? 0 : i % perPlane * h.chunkHeight;
        const std::uint32_t rows = std::min(h.chunkHeight, h.height - std::min(h.height, firstRow));
        const std::uint64_t needed = h.tiled ? TIFFTileSize64(tif) : TIFFVStripSize64(tif, rows);
        if (bytes < needed)
            return failure(Error::truncated, "tiff: an uncompressed strip or tile is cut short");
    }
    return success();
}

// The resolution the directory states; ResolutionUnit "none" makes it an aspect ratio only.
Resolution resolutionOf(TIFF* tif)
{
    float x = 0, y = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) != 1 || TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) != 1)
        return {};
    getField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    return resolutionInUnit(unit, x, y);
}

// What the directory states besides the samples: the resolution, and the colour profile of grey
// and RGB samples (a CMYK profile went into the inks as they were read, and leaves RGB alone).
Status applyStated(TIFF* tif, const Header& h, Image& image)
{
    image.resolution = resolutionOf(tif);
    return toSrgb(image, h.iccProfile);
}

}  // namespace

Status readHeader(TIFF* tif, Header& h)
{
    h = Header{};
    getField(tif, TIFFTAG_IMAGEWIDTH, h.width);
    getField(tif, TIFFTAG_IMAGELENGTH, h.height);
    getField(tif, TIFFTAG_BITSPERSAMPLE, h.bitsPerSample);
    getField(tif, TIFFTAG_SAMPLESPERPIXEL, h.samplesPerPixel);
    getField(tif, TIFFTAG_SAMPLEFORMAT, h.sampleFormat);
    getField(tif, TIFFTAG_PHOTOMETRIC, h.photometric);
    getField(tif, TIFFTAG_PLANARCONFIG, h.planarConfig);
    getField(tif, TIFFTAG_COMPRESSION, h.compression);
    getField(tif, TIFFTAG_INKSET, h.inkSet);
    getField(tif, TIFFTAG_NUMBEROFINKS, h.inks);
    getField(tif, TIFFTAG_ORIENTATION, h.orientation);
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) == 1 && extraCount > 0 && extraTypes)
        h.associatedAlpha = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    std::uint32_t iccBytes = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccBytes, &icc) == 1 && icc)
        h.iccProfile = {static_cast<const std::uint8_t*>(icc), iccBytes};
    h.tiled = TIFFIsTiled(tif) != 0;
    if (h.tiled) {
        getField(tif, TIFFTAG_TILEWIDTH, h.chunkWidth);
        getField(tif, TIFFTAG_TILELENGTH, h.chunkHeight);
    } else {
        std::uint32_t rowsPerStrip = h.height;
        getField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        h.chunkWidth = h.width;
        h.chunkHeight = std::clamp<std::uint32_t>(rowsPerStrip, 1, std::max<std::uint32_t>(h.height, 1));
    }
    return validate(h);
}

Status validate(const Header& h)
{
    if (!withinLimits(h.width, h.height))
        return failure(Error::tooLarge, "tiff: image size over the limits");
    if (!withinLimits(h.chunkWidth, h.chunkHeight))
        return failure(Error::badHeader, "tiff: bad strip or tile size");
    if (h.samplesPerPixel == 0)
        return failure(Error::badHeader, "tiff: no samples");
    const auto route = routeOfColours(h);
    if (!route)
        return failure(Error::unsupported, "tiff: colour model not supported");
    if (*route == Route::rgba)
        return success();  // libtiff's RGBA interface checks the rest
    if (h.sampleFormat != SAMPLEFORMAT_UINT && h.sampleFormat != SAMPLEFORMAT_VOID)
        return failure(Error::unsupported, "tiff: only unsigned integer samples are read");
    if (h.bitsPerSample < 1 || h.bitsPerSample > 16)
        return failure(Error::unsupported, "tiff: only 1 to 16 bits a sample are read");
    if (!h.separatePlanes() && std::uint32_t{h.samplesPerPixel} * h.bitsPerSample > 128)
        return failure(Error::unsupported, "tiff: too many samples a pixel");
    return success();
}

Route routeOf(const Header& h) { return routeOfColours(h).value_or(Route::rgba); }

bool sniff(std::span<const std::uint8_t> file)
{
    if (file.size() < 4)
        return false;
    const bool intel = file[0] == 'I' && file[1] == 'I' && file[3] == 0 && (file[2] == 42 || file[2] == 43);
    const bool motorola = file[0] == 'M' && file[1] == 'M' && file[2] == 0 && (file[3] == 42 || file[3] == 43);
    return intel || motorola;
}

Status decodeDirectory(TIFF* tif, std::uint64_t fileSize, Messages& messages, Image& out)
{
    messages.errors = 0;  // what the directory's tags had wrong did not stop libtiff; the pixels count
    Header header;
    Status status = readHeader(tif, header);
    const Route route = routeOf(header);
    if (status)
        status = holdsEnoughData(tif, header, fileSize);
    if (status)
        status = route == Route::rgba ? readThroughRgba(tif, header, out) : readSamples(tif, header, route, out);
    if (status && messages.errors > 0)
        status = failure(Error::badData, "tiff: libtiff reported damaged data");
    if (status)
        status = applyStated(tif, header, out);
    if (status)
        status = makeUpright(out, orientationOf(header.orientation));
    if (!status)
        out = Image{};
    return status;
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "tiff: no TIFF signature");
    MemoryFile memory{file};
    Messages messages;
    const TiffHandle tif = openMemory(memory, messages);
    if (!tif)
        return failure(Error::badHeader, "tiff: the first directory cannot be read");
    return decodeDirectory(tif.get(), file.size(), messages, out);
}

}  // namespace imglib::tiff
