#include "imglib/formats/gem/gem.h"

namespace imglib::gem {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "gem: reader not written yet");
}

}  // namespace imglib::gem
