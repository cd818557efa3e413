#include "imglib/formats/tga/tga.h"

namespace imglib::tga {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "tga: reader not written yet");
}

}  // namespace imglib::tga
