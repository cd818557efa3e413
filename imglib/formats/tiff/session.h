// Opening libtiff handles the way this library wants them: reading from bytes in memory or
// writing to a file descriptor, with libtiff's messages kept quiet (counted, never printed) and
// each of its allocations capped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <tiffio.h>

namespace imglib::tiff {

// The largest buffer for one strip or tile, the readers' or libtiff's own: a whole picture in one
// strip of 16-bit samples could otherwise ask for gigabytes, and so could a hostile header.
inline constexpr std::size_t kMaxChunkBytes = std::size_t{256} << 20;

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

// Opens the first image of the TIFF file open on `fd` for reading, which the handle then owns and
// closes. Strips are read into buffers, never through a mapping: a file cut short meanwhile gives
// read errors, not a crash.
TiffHandle openDescriptorForReading(int fd, Messages& messages);

// Opens a new TIFF for writing on `fd`, which the handle then owns and closes.
TiffHandle openDescriptorForWriting(int fd, Messages& messages);

// The bytes a TIFF written to memory holds, for strips encoded apart from the file they go to.
// Must outlive the handle.
struct MemoryOutput {
    std::vector<std::uint8_t> bytes;
    std::uint64_t position = 0;
};

// Opens a new TIFF for writing into `output`.
TiffHandle openMemoryForWriting(MemoryOutput& output, Messages& messages);

}  // namespace imglib::tiff
