#include "imglib/formats/sunras/sunras.h"

namespace imglib::sunras {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "sunras: reader not written yet");
}

}  // namespace imglib::sunras
