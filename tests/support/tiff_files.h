// Making and inspecting TIFF files with libtiff itself, independently of the reader and the
// writer under test.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace tifffiles {

struct Recipe {
    std::uint32_t width = 4;
    std::uint32_t height = 3;
    std::uint16_t bits = 8;
    std::uint16_t samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::vector<std::uint16_t> extraSamples{};  // their types
    std::vector<std::uint16_t> colourMap{};     // red, then green, then blue entries
    std::uint32_t rowsPerStrip = 0;             // 0: libtiff's choice
    std::uint32_t tileSide = 0;                 // tiles of this side instead of strips
    bool jpegFromRgb = false;                   // YCbCr JPEG, given RGB rows
    std::uint32_t subfileType = 0;              // NewSubfileType, written when not 0
};

// Writes a TIFF from `stored`, the rows as the file lays them out (each plane's rows in turn for
// separate planes), and returns its bytes. Tiles need whole-byte samples, contiguous.
inline std::vector<std::uint8_t> make(const Recipe& recipe, const std::vector<std::uint8_t>& stored)
{
    const testkit::ScratchDir scratch;
    const std::string path = (scratch / "made.tif").string();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) {
        ADD_FAILURE() << "libtiff cannot create " << path;
        return {};
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, recipe.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, recipe.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, recipe.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, recipe.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, recipe.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, recipe.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, recipe.compression);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, recipe.sampleFormat);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, recipe.orientation);
    if (!recipe.extraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(recipe.extraSamples.size()),
                     recipe.extraSamples.data());
    if (!recipe.colourMap.empty()) {
        const std::size_t n = recipe.colourMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, recipe.colourMap.data(), recipe.colourMap.data() + n,
                     recipe.colourMap.data() + 2 * n);
    }
    if (recipe.jpegFromRgb)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (recipe.subfileType != 0)
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, recipe.subfileType);

    bool ok = true;
    if (recipe.tileSide > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, recipe.tileSide);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, recipe.tileSide);
        const std::size_t pixelBytes = recipe.bits / 8 * recipe.samples;
        const std::size_t rowBytes = recipe.width * pixelBytes;
        std::vector<std::uint8_t> tile(TIFFTileSize(tif));
        for (std::uint32_t ty = 0; ty < recipe.height; ty += recipe.tileSide)
            for (std::uint32_t tx = 0; tx < recipe.width; tx += recipe.tileSide) {
                std::fill(tile.begin(), tile.end(), 0);
                for (std::uint32_t y = ty; y < std::min(recipe.height, ty + recipe.tileSide); ++y)
                    for (std::uint32_t x = tx; x < std::min(recipe.width, tx + recipe.tileSide); ++x)
                        std::copy_n(&stored[y * rowBytes + x * pixelBytes], pixelBytes,
                                    &tile[((y - ty) * recipe.tileSide + (x - tx)) * pixelBytes]);
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                     recipe.rowsPerStrip ? recipe.rowsPerStrip : TIFFDefaultStripSize(tif, 0));
        const std::size_t rowBytes = TIFFScanlineSize(tif);
        const std::uint16_t planes = recipe.planar == PLANARCONFIG_SEPARATE ? recipe.samples : 1;
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint16_t p = 0; p < planes; ++p)
            for (std::uint32_t y = 0; y < recipe.height; ++y) {
                std::copy_n(&stored[(std::size_t{p} * recipe.height + y) * rowBytes], rowBytes, row.begin());
                ok = ok && TIFFWriteScanline(tif, row.data(), y, p) >= 0;
            }
    }
    TIFFClose(tif);
    EXPECT_TRUE(ok) << "libtiff could not write the test file";
    return testkit::readBytes(path);
}

// What libtiff reads in a directory of a file: the tags the writer sets, and every stored row.
struct Contents {
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
    std::uint16_t compression = 0, photometric = 0, bits = 0, samples = 0, planar = 0, predictor = 0;
    std::vector<std::uint16_t> red, green, blue;  // the colour map, if any
    std::vector<std::vector<std::uint8_t>> rows;  // as stored, packed

    bool operator==(const Contents&) const = default;
};

inline Contents inspect(const std::string& path, tdir_t directory = 0)
{
    Contents c;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif || !TIFFSetDirectory(tif, directory)) {
        ADD_FAILURE() << "libtiff cannot open " << path << " at directory " << directory;
        if (tif)
            TIFFClose(tif);
        return c;
    }
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &c.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &c.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &c.rowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &c.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &c.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &c.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &c.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &c.planar);
    c.predictor = PREDICTOR_NONE;  // the tag exists only where a codec takes it
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &c.predictor);
    std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
        const std::size_t n = std::size_t{1} << c.bits;
        c.red.assign(r, r + n);
        c.green.assign(g, g + n);
        c.blue.assign(b, b + n);
    }
    std::vector<std::uint8_t> row(TIFFScanlineSize(tif));
    for (std::uint32_t y = 0; y < c.height; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0) {
            ADD_FAILURE() << "libtiff cannot read row " << y << " of " << path;
            break;
        }
        c.rows.push_back(row);
    }
    TIFFClose(tif);
    return c;
}

}  // namespace tifffiles
