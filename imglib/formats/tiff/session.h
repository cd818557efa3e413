// Opening libtiff handles the way this library wants them: reading from bytes in memory or
// writing to a file descriptor, with libtiff's messages kept quiet (counted, never printed) and
// each of its allocations capped.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <tiffio.h>

namespace imglib::tiff {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// What libtiff reported while a handle was open. Some of its errors come with a result that
// still looks like success, so readers check the count too.
struct Messages {
    int errors = 0;
};

// The bytes libtiff reads through. Must outlive the handle.
struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    std::uint64_t position = 0;
};

// Opens the first image of a TIFF held in memory; empty when libtiff refuses it.
TiffHandle openMemory(MemoryFile& file, Messages& messages);

// Opens a new TIFF for writing on `fd`, which the handle then owns and closes.
TiffHandle openDescriptorForWriting(int fd, Messages& messages);

}  // namespace imglib::tiff
