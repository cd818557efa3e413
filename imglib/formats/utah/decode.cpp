#include "imglib/formats/utah/utah.h"

namespace imglib::utah {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "utah: reader not written yet");
}

}  // namespace imglib::utah
