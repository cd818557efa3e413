#include "imglib/core/profile.h"

namespace imglib {

Status toSrgb(Image&, std::span<const std::uint8_t>) { return success(); }

}  // namespace imglib
