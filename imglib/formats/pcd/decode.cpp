#include "imglib/formats/pcd/pcd.h"

namespace imglib::pcd {

bool sniff(std::span<const std::uint8_t>) { return false; }

Status decode(std::span<const std::uint8_t>, Image&)
{
    return failure(Error::unsupported, "pcd: reader not written yet");
}

}  // namespace imglib::pcd
