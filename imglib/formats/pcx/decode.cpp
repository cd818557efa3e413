#include "imglib/formats/pcx/pcx.h"

namespace imglib::pcx {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "pcx: reader not written yet");
}

}  // namespace imglib::pcx
