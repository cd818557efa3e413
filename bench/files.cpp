#include "bench/files.h"

#include <cstdio>

#include "imglib/ops/rgb_rows.h"

namespace bench {

bool savePpm(const std::string& path, const imglib::Image& image)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%u %u\n255\n", image.width, image.height);
    const imglib::ops::RgbRows rows(image);
    auto scratch = rows.scratch();
    bool ok = true;
    for (std::uint32_t y = 0; y < image.height && ok; ++y)
        ok = std::fwrite(rows.row(y, scratch.data()), 3, image.width, f) == image.width;
    return std::fclose(f) == 0 && ok;
}

}  // namespace bench
