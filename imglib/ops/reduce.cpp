#include "imglib/ops/ops.h"

namespace imglib {

Status reduceColours(const Image&, std::int32_t, bool, Image&)
{
    return failure(Error::unsupported, "reduce: not written yet");
}

}  // namespace imglib
