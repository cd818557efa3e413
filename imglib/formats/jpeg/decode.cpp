#include "imglib/formats/jpeg/jpeg.h"

namespace imglib::jpeg {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "jpeg: reader not written yet");
}

}  // namespace imglib::jpeg
