#include "imglib/formats/pnm/pnm.h"

namespace imglib::pnm {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "pnm: reader not written yet");
}

}  // namespace imglib::pnm
