// What is read of a HEIF file's boxes before libheif sees it.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/status.h"

namespace imglib::heif {

struct Header {
    bool knownBrand = false;  // the 'ftyp' box's major brand or a compatible one is one read here
};

// The 'ftyp' box, which the file starts with.
Status readHeader(std::span<const std::uint8_t> file, Header& header);
Status validate(const Header& header);

// Every top-level box lies within the file. A file cut short ends inside one (its media data, most
// often), which libheif would find out only on reading a tile, with the whole grid allocated.
Status holdsEnoughData(std::span<const std::uint8_t> file);

// The derivations the 'meta' box states are sound: no grid names one tile twice (which libheif
// lets through, showing the tile in two places).
Status checkReferences(std::span<const std::uint8_t> file);

}  // namespace imglib::heif
