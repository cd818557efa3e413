// The general path: libtiff's RGBA interface converts what this library does not (YCbCr with
// any subsampling, JPEG and old-style JPEG in YCbCr, CIE L*a*b*, LogL and LogLuv). It is read in
// bands of whole strips or tile rows, so no chunk is decoded twice and no full-image raster of
// 32-bit pixels is needed.
#include <algorithm>
#include <new>
#include <vector>

#include "imglib/core/growing_rows.h"
#include "imglib/formats/tiff/readers.h"
#include "imglib/formats/tiff/session.h"

namespace imglib::tiff {

namespace {

// Rows per band, at least: short strips are read several at a time.
constexpr std::uint32_t kBandRows = 64;

struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    RgbaImage() = default;
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;
    ~RgbaImage()
    {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }
};

}  // namespace

Status readThroughRgba(TIFF* tif, const Header& h, Image& out)
{
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message))
        return failure(Error::unsupported, "tiff: colour model or sample layout not supported");
    RgbaImage rgba;
    rgba.begun = TIFFRGBAImageBegin(&rgba.image, tif, 1, message) != 0;
    if (!rgba.begun)
        return failure(Error::badHeader, "tiff: libtiff cannot convert this image");
    // Stored pixel order, as the other route gives: the orientation is applied after either.
    rgba.image.orientation = ORIENTATION_TOPLEFT;
    rgba.image.req_orientation = ORIENTATION_TOPLEFT;

    GrowingRows grown;  // rows hold memory as they are decoded, as in readSamples
    if (auto s = grown.start(out, h.width, h.height, PixelFormat::rgb); !s)
        return s;
    const std::uint32_t band = std::min(h.height, (kBandRows + h.chunkHeight - 1) / h.chunkHeight * h.chunkHeight);
    if (std::size_t{h.width} * band * 4 > kMaxChunkBytes)
        return failure(Error::tooLarge, "tiff: strip or tile too large");
    // A band may be as large as the image: it holds memory only as libtiff fills it.
    const auto raster = zeroedBuffer<std::uint32_t>(std::size_t{h.width} * band);
    if (!raster)
        return failure(Error::outOfMemory, "tiff: no memory for a band");
    for (std::uint32_t y = 0; y < h.height; y += band) {
        const std::uint32_t rows = std::min(band, h.height - y);
        rgba.image.row_offset = static_cast<int>(y);
        if (!TIFFRGBAImageGet(&rgba.image, raster.get(), h.width, rows))
            return failure(Error::badData, "tiff: a strip or tile cannot be decoded");
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* src = raster.get() + std::size_t{r} * h.width;
            std::uint8_t* dst = grown.row(y + r);
            for (std::uint32_t x = 0; x < h.width; ++x, dst += 3) {
                dst[0] = static_cast<std::uint8_t>(TIFFGetR(src[x]));
                dst[1] = static_cast<std::uint8_t>(TIFFGetG(src[x]));
                dst[2] = static_cast<std::uint8_t>(TIFFGetB(src[x]));
            }
        }
    }
    grown.finish();
    return success();
}

}  // namespace imglib::tiff
