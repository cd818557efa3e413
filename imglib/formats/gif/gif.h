#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imglib/core/image.h"
#include "imglib/formats/registry.h"

namespace imglib::gif {

bool sniff(std::span<const std::uint8_t> file);
// The first frame as a viewer shows it.
Status decode(std::span<const std::uint8_t> file, Image& out);
// Every frame, each composed as a viewer shows it at that frame.
Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);

}  // namespace imglib::gif
