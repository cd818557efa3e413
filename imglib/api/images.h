// The C++ face of the library: reading and writing whole files. The C interface wraps these.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imglib/core/image.h"
#include "imglib/formats/registry.h"
#include "imglib/formats/tiff/tiff.h"

namespace imglib {

// The write format numbers of WriteDIBToFile.
enum class WriteFormat : std::int16_t {
    bmp = 0,
    tiffLzw = 16,
    tiffUncompressed = 17,
    tiffCcittHuffman = 18,
    tiffPackBits = 19,
};

// The first page of the file at `path`.
Status readImage(const char* path, Image& out);

// A file read page by page: every page of a multi-page TIFF or of an animation, one at a time,
// so that only the page being read is held, besides the file's bytes; a TIFF's bytes are not held
// either, its pages being read from the file a directory at a time.
class PagedFile {
public:
    Status open(const char* path);
    std::uint32_t pageCount() const { return pages_ ? pages_->count() : 0; }
    // Cheapest in order: page n after page n - 1.
    Status readPage(std::uint32_t page, Image& out);

private:
    std::vector<std::uint8_t> bytes_;
    std::unique_ptr<Pages> pages_;
};

// The pages of the file at `path`, counted without decoding any. A file of a format of one page is
// read no further than its first bytes. `count` is 1 when the file cannot be read.
Status countPages(const char* path, std::uint32_t& count);

// Writes the image in the format numbered `format`; any number but those of WriteFormat fails.
// The file at `path` is replaced only by a complete new file.
Status writeImage(const Image& image, const char* path, std::int32_t format);

// A TIFF of several pages, written a page at a time: only the page being added is held. `format`
// is one of the TIFF write format numbers, and may differ from page to page; a file of one page
// has writeImage's bytes. The file appears at `path` only when commit() succeeds: a failed page,
// or no commit, leaves no file and keeps an earlier file of that name.
class TiffPageWriter {
public:
    Status open(const char* path);
    Status add(const Image& image, std::int32_t format);
    Status commit();

private:
    std::optional<tiff::PageWriter> writer_;  // empty when not open, or after a failed page
};

}  // namespace imglib
