#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imglib/core/image.h"
#include "imglib/formats/registry.h"

namespace imglib::webp {

bool sniff(std::span<const std::uint8_t> file);
// The picture, or an animation's first frame; alpha composited over white.
Status decode(std::span<const std::uint8_t> file, Image& out);
// An animation's frames, each composed as a viewer shows it; a still picture is one page.
Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);

}  // namespace imglib::webp
