// The formats a conversion reads and writes, as the window and the command line both know them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace recipe {

struct OutputFormat {
    std::string_view code;       // the window's write format code
    std::string_view name;       // the command line's name for it (--to)
    std::string_view extension;  // of the output file
    std::int16_t writeNumber;    // the library's write format number
    std::int32_t finalColours;   // the dithered reduction made just before writing; 0: none
};

// In the order the window tests its option buttons; the last one is its fall-back.
inline constexpr std::array<OutputFormat, 5> kOutputFormats{{
    {"bmp", "bmp", "bmp", 0, 0},
    {"tifd", "tiff", "tif", 16, 255},
    {"tifp", "tiff-packbits", "tif", 19, 255},
    {"tifn", "tiff-none", "tif", 17, 255},
    {"tifh", "tiff-ccitt", "tif", 18, 2},
}};

// The extensions of the files a folder run converts, in the order the window tests its input
// buttons; the last one is its fall-back.
inline constexpr std::array<std::string_view, 14> kInputExtensions{"bmp", "dib", "jpg", "jif", "tif", "pcx", "tga",
                                                                   "pbm", "pgm", "ppm", "rle", "gem", "ras", "pcd"};

// The format the command line calls `name`; null when there is none.
const OutputFormat* formatNamed(std::string_view name);

// The format of a window code. The window reads a code of three letters as the bitmap and one
// whose kind of TIFF it does not know as the last kind.
const OutputFormat& formatOfCode(std::string_view code);

// The extensions of the files the command line takes from a folder: the usual ones of every
// format the library reads. Not `.img`, which disk images share with GEM bitmaps: a GEM file
// named on the command line is converted all the same.
inline constexpr auto kFolderExtensions = std::to_array<std::string_view>({
    "bmp", "dib",  "rle",  "jpg",  "jpeg", "jpe", "jif", "jfif", "tif", "tiff", "pcx", "tga",
    "icb", "vda",  "vst",  "pbm",  "pgm",  "ppm", "pnm", "gem",  "ras", "sun",  "pcd", "png",
    "gif", "webp", "avif", "heic", "heif", "hif", "jxl", "jp2",  "j2k", "j2c",  "jpx",
});

// Whether `extension` (without its dot) is one of the folder extensions, in any letter case.
bool isFolderExtension(std::string_view extension);

}  // namespace recipe
