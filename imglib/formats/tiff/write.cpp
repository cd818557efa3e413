#include "imglib/formats/tiff/tiff.h"

namespace imglib::tiff {

Status write(const Image&, Kind, const std::string&)
{
    return failure(Error::unsupported, "tiff: writer not written yet");
}

}  // namespace imglib::tiff
