// The sniff table: every format the library reads, in the order they are tried. A file's format
// is recognised from its content alone; the first codec whose sniff accepts the file decodes it.
// Every reader has the same shape, written down in README.md beside this file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "imglib/core/image.h"

namespace imglib {

// The pages of one file, read one at a time: the directories of a TIFF, the frames of an
// animation (each composed as a viewer shows it at that frame). Pages are numbered from 0.
// Reading them in order is cheapest: page n then costs page n alone. The file's bytes must
// outlive the object.
class Pages {
public:
    virtual ~Pages() = default;
    virtual std::uint32_t count() const = 0;
    virtual Status read(std::uint32_t page, Image& out) = 0;
};

using PagesOpener = Status (*)(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);
using PagesOfFileOpener = Status (*)(int fd, std::uint64_t size, std::unique_ptr<Pages>& out);

struct Codec {
    const char* name;
    // Cheap test of the file's signature or header; uses the same validation as decode.
    bool (*sniff)(std::span<const std::uint8_t> file);
    // The first page: the image a one-page reader gives.
    Status (*decode)(std::span<const std::uint8_t> file, Image& out);
    // Formats whose files may hold several pages; null for those that hold one.
    PagesOpener openPages = nullptr;
    // Formats whose pages are read from the file (open on `fd`, which stays the caller's) as they
    // are needed, so that a file of many pages is never held whole; null for the others.
    PagesOfFileOpener openPagesOfFile = nullptr;
};

// The codec of that name (the fuzz targets pick their reader by name); null when there is none.
const Codec* findCodec(std::string_view name);
// The first codec whose sniff takes the file; null when none does.
const Codec* recognise(std::span<const std::uint8_t> file);

// Decodes the first page of a file of any known format; unsupported when no codec recognises it.
Status decodeAny(std::span<const std::uint8_t> file, Image& out);

// The pages of a file of any known format (one for the formats that hold one).
Status openPagesOfAny(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);

// The first page, through a reader's pages: the decode of readers that read every page one way.
Status firstPage(PagesOpener openPages, std::span<const std::uint8_t> file, Image& out);

}  // namespace imglib
