// The C++ face of the library: reading and writing whole files. The C interface wraps these.
#pragma once

#include <cstdint>
#include <string>

#include "imglib/core/image.h"

namespace imglib {

// The write format numbers of WriteDIBToFile.
enum class WriteFormat : std::int16_t {
    bmp = 0,
    tiffLzw = 16,
    tiffUncompressed = 17,
    tiffCcittHuffman = 18,
    tiffPackBits = 19,
};

Status readImage(const char* path, Image& out);

// Writes the image in the format numbered `format`; any number but those of WriteFormat fails.
// The file at `path` is replaced only by a complete new file.
Status writeImage(const Image& image, const char* path, std::int32_t format);

}  // namespace imglib
