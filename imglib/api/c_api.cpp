// The six C calls. Each catches everything: nothing but 0 or false leaves the library on failure.
#include "imglib/imglib.h"

#include <new>

#include "imglib/api/handles.h"
#include "imglib/api/images.h"
#include "imglib/ops/ops.h"

namespace {

using imglib::Image;
using imglib::Status;

// Runs `op` on the image named by `dib`; on success the result takes a new handle and `dib` is
// freed, on failure `dib` stays as it was and 0 is returned.
template <typename Op>
std::int32_t transform(std::int32_t dib, Op op) noexcept
{
    try {
        auto& table = imglib::handleTable();
        const auto in = table.find(dib);
        if (!in)
            return 0;
        Image out;
        if (!op(*in, out))
            return 0;
        return table.replace(dib, std::move(out));
    } catch (...) {
        return 0;
    }
}

}  // namespace

extern "C" {

int32_t ReadFileIntoDIB(const char* path)
{
    try {
        Image image;
        if (!imglib::readImage(path, image))
            return 0;
        return imglib::handleTable().add(std::move(image));
    } catch (...) {
        return 0;
    }
}

int16_t WriteDIBToFile(int32_t dib, const char* path, int16_t format)
{
    try {
        const auto image = imglib::handleTable().find(dib);
        return image && imglib::writeImage(*image, path, format) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t ReduceDIB(int32_t dib, int32_t colours, int16_t option)
{
    return transform(dib,
                     [&](const Image& in, Image& out) { return imglib::reduceColours(in, colours, option != 0, out); });
}

int32_t GrayDIB(int32_t dib)
{
    return transform(dib, [](const Image& in, Image& out) { return imglib::toGrey(in, out); });
}

int32_t ZoomDIB(int32_t dib, int32_t xPercent, int32_t yPercent)
{
    return transform(dib, [&](const Image& in, Image& out) { return imglib::zoom(in, xPercent, yPercent, out); });
}

void DIBFree(int32_t dib)
{
    try {
        imglib::handleTable().release(dib);
    } catch (...) {}
}

}  // extern "C"
