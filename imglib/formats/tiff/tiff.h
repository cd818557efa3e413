#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "imglib/core/image.h"
#include "imglib/formats/registry.h"

namespace imglib::tiff {

bool sniff(std::span<const std::uint8_t> file);
// The first directory's image.
Status decode(std::span<const std::uint8_t> file, Image& out);

// The pages: every directory but the reduced-resolution copies; page 0 is what decode() reads.
Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);
// The same, read from the TIFF file of `size` bytes open on `fd` (which stays the caller's), a
// directory at a time: a file of many pages is never held whole.
Status openPagesOfFile(int fd, std::uint64_t size, std::unique_ptr<Pages>& out);

enum class Kind { lzw, uncompressed, ccittHuffman, packBits };

// Writes the image as a TIFF of the given kind to `path`, atomically: on failure no file is left
// and an earlier file of that name is kept. Indexed images become palette TIFFs, grey images grey,
// RGB images RGB. ccittHuffman writes a bilevel page: of two colours the darker is black; an image
// of one colour or of more than two is thresholded, Rec. 601 luma below 128 black.
Status write(const Image& image, Kind kind, const std::string& path);

// A TIFF of several pages, one directory each, written a page at a time so that only the page
// being added is held. Each page is laid out as write() lays out an image, in its own kind; one
// page gives write()'s bytes. The file appears at `path` only when commit() succeeds: after a
// failed add(), or without a commit, no file is left and an earlier file of that name is kept.
class PageWriter {
public:
    PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;
    ~PageWriter();

    Status open(const std::string& path);
    Status add(const Image& image, Kind kind);
    Status commit();

private:
    struct Output;
    std::unique_ptr<Output> output_;  // null when not open, or after a failure
};

}  // namespace imglib::tiff
