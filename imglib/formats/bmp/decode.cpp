#include "imglib/formats/bmp/bmp.h"

namespace imglib::bmp {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "bmp: reader not written yet");
}

}  // namespace imglib::bmp
