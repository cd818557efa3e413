#include "imglib/ops/ops.h"

namespace imglib {

Status zoom(const Image&, std::int32_t, std::int32_t, Image&)
{
    return failure(Error::unsupported, "zoom: not written yet");
}

}  // namespace imglib
