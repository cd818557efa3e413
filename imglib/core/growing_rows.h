// Rows that hold memory only once a decoder reaches them.
//
// A header may claim a far larger image than its file's data can yield. A decoder that meets its
// rows in order, top down or bottom up, asks for each row as it comes: the pixel buffer is only
// reserved at the start, and rows are committed up to the one asked for. A file whose data stops
// early then costs the rows it held, not the image its header claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "imglib/core/image.h"

namespace imglib {

class GrowingRows {
public:
    enum class Order : std::uint8_t { topDown, bottomUp };

    // Checks the size like allocate() and reserves the pixels without committing them. `image`
    // takes the size, format and an empty palette; its pixels fill in as rows are reached.
    Status start(Image& image, std::uint32_t width, std::uint32_t height, PixelFormat format,
                 Order order = Order::topDown);
    // Rows committed from now on start as copies of `row` (one row's bytes) instead of zeros.
    void fillWith(std::span<const std::uint8_t> row) { fill_.assign(row.begin(), row.end()); }
    // The n-th row in the file's order (0 is the first stored), committing every row up to it.
    std::uint8_t* row(std::uint32_t n);
    // Commits the rows never reached and puts the rows top down: the image is then complete.
    void finish();

private:
    void commitThrough(std::uint32_t n);

    Image* image_ = nullptr;
    Order order_ = Order::topDown;
    std::uint32_t committed_ = 0;
    std::vector<std::uint8_t> fill_;
};

// A zeroed working buffer whose pages are committed only when written: large ones come straight
// from the system, already zero. Null when there is no memory.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using ZeroedBuffer = std::unique_ptr<T[], FreeDeleter>;
template <typename T>
ZeroedBuffer<T> zeroedBuffer(std::size_t count)
{
    return ZeroedBuffer<T>(static_cast<T*>(std::calloc(count, sizeof(T))));
}

}  // namespace imglib
