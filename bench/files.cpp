#include "bench/files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "imglib/api/images.h"
#include "imglib/core/file_io.h"
#include "imglib/ops/rgb_rows.h"

namespace bench {

namespace {

// "P6 <width> <height> 255" and one whitespace byte, without comments.
imglib::Status loadPlainPpm(const std::vector<std::uint8_t>& file, imglib::Image& out)
{
    const auto bad = imglib::failure(imglib::Error::unsupported, "bench: not a plain P6 file");
    std::size_t pos = 2;
    const auto number = [&](std::uint32_t& value) {
        while (pos < file.size() && (file[pos] == ' ' || file[pos] == '\n' || file[pos] == '\r' || file[pos] == '\t'))
            ++pos;
        const std::size_t start = pos;
        value = 0;
        while (pos < file.size() && file[pos] >= '0' && file[pos] <= '9' && value < 1000000)
            value = value * 10 + (file[pos++] - '0');
        return pos > start;
    };
    std::uint32_t width = 0, height = 0, maxval = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6' || !number(width) || !number(height) ||
        !number(maxval) || maxval != 255 || pos >= file.size())
        return bad;
    ++pos;
    if (auto s = imglib::allocate(out, width, height, imglib::PixelFormat::rgb); !s)
        return s;
    if (file.size() - pos < out.pixels.size())
        return imglib::failure(imglib::Error::truncated, "bench: short P6 file");
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(pos), out.pixels.size(), out.pixels.begin());
    return imglib::success();
}

}  // namespace

imglib::Status loadImage(const std::string& path, imglib::Image& out)
{
    const auto status = imglib::readImage(path.c_str(), out);
    if (status)
        return status;
    std::vector<std::uint8_t> file;
    if (!imglib::readWholeFile(path.c_str(), file))
        return status;
    return loadPlainPpm(file, out).ok() ? imglib::success() : status;
}

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
