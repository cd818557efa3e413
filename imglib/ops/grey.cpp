#include "imglib/ops/ops.h"

namespace imglib {

Status toGrey(const Image&, Image&)
{
    return failure(Error::unsupported, "grey: not written yet");
}

}  // namespace imglib
