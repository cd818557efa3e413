// Images made for the operations' tests, and the measures they are judged by.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imglib/api/images.h"
#include "imglib/core/image.h"
#include "tests/support/testkit.h"

namespace opstest {

using imglib::Colour;
using imglib::Image;
using imglib::PixelFormat;

inline Image blank(std::uint32_t w, std::uint32_t h, PixelFormat format)
{
    Image image;
    if (!imglib::allocate(image, w, h, format))
        ADD_FAILURE() << "cannot allocate " << w << " x " << h;
    return image;
}

// Smooth colours over the whole cube: red across, green down, blue along the diagonal.
inline Image gradient(std::uint32_t w, std::uint32_t h)
{
    Image image = blank(w, h, PixelFormat::rgb);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = std::uint8_t(x * 255 / std::max(1u, w - 1));
            p[1] = std::uint8_t(y * 255 / std::max(1u, h - 1));
            p[2] = std::uint8_t((x + y) * 255 / std::max(1u, w + h - 2));
        }
    return image;
}

// Random colours (a fixed sequence): far more colours than any palette holds.
inline Image noise(std::uint32_t w, std::uint32_t h, std::uint32_t seed = 1)
{
    Image image = blank(w, h, PixelFormat::rgb);
    for (auto& v : image.pixels) {
        seed = seed * 1664525u + 1013904223u;
        v = std::uint8_t(seed >> 24);
    }
    return image;
}

// A photograph from the conformance folder, read by the library; nothing when the folder is not
// there.
inline std::optional<Image> photograph(const std::string& name)
{
    const auto dir = testkit::conformanceDir();
    Image image;
    if (!dir)
        return std::nullopt;
    const imglib::Status status = imglib::readImage((*dir / name).c_str(), image);
    EXPECT_TRUE(status.ok()) << name << ": " << status.detail;
    return image;
}

// Every pixel's colour, whatever the format.
inline std::vector<Colour> colours(const Image& image)
{
    const auto rgba = testkit::toRgba(image);
    std::vector<Colour> out(std::size_t(image.width) * image.height);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = {rgba.pixels[4 * i], rgba.pixels[4 * i + 1], rgba.pixels[4 * i + 2]};
    return out;
}

inline double psnr(const Image& a, const Image& b)
{
    return testkit::compare(testkit::toRgba(a), testkit::toRgba(b)).psnr;
}

// PSNR after a Gaussian blur (sigma 1) of both images: how close a dithered image looks from a
// little further away.
inline double blurredPsnr(const Image& a, const Image& b)
{
    const auto blur = [](const Image& image) {
        const auto rgba = testkit::toRgba(image);
        const int w = int(image.width), h = int(image.height), r = 4;
        std::vector<double> k(2 * r + 1), across(std::size_t(w) * h * 3), out(across.size());
        double sum = 0;
        for (int i = -r; i <= r; ++i)
            sum += k[i + r] = std::exp(-i * i / 2.0);
        for (auto& v : k)
            v /= sum;
        const auto at = [](int v, int n) { return std::min(std::max(v, 0), n - 1); };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    for (int i = -r; i <= r; ++i)
                        across[(std::size_t(y) * w + x) * 3 + c] +=
                            k[i + r] * rgba.pixels[(std::size_t(y) * w + at(x + i, w)) * 4 + c];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    for (int i = -r; i <= r; ++i)
                        out[(std::size_t(y) * w + x) * 3 + c] +=
                            k[i + r] * across[(std::size_t(at(y + i, h)) * w + x) * 3 + c];
        return out;
    };
    const auto pa = blur(a), pb = blur(b);
    double squares = 0;
    for (std::size_t i = 0; i < pa.size(); ++i)
        squares += (pa[i] - pb[i]) * (pa[i] - pb[i]);
    return 10 * std::log10(255.0 * 255.0 * double(pa.size()) / squares);
}

}  // namespace opstest
