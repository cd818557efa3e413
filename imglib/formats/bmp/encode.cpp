#include "imglib/formats/bmp/bmp.h"

namespace imglib::bmp {

Status encode(const Image&, std::vector<std::uint8_t>&)
{
    return failure(Error::unsupported, "bmp: writer not written yet");
}

}  // namespace imglib::bmp
