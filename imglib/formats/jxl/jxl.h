#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imglib/core/image.h"
#include "imglib/formats/registry.h"

namespace imglib::jxl {

bool sniff(std::span<const std::uint8_t> file);
// The picture, or an animation's first frame: upright, in sRGB, alpha composited over white.
Status decode(std::span<const std::uint8_t> file, Image& out);
// An animation's displayed frames, each composed by libjxl; a still picture is one page.
Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out);

}  // namespace imglib::jxl
