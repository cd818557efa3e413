#include "imglib/formats/tiff/tiff.h"

namespace imglib::tiff {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "tiff: reader not written yet");
}

}  // namespace imglib::tiff
