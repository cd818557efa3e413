// The parallel-for, and the rule that no result depends on the number of threads.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "imglib/core/orientation.h"
#include "imglib/core/parallel.h"
#include "imglib/formats/tiff/tiff.h"
#include "imglib/ops/ops.h"
#include "tests/support/ops_images.h"
#include "tests/support/testkit.h"

using namespace imglib;
using namespace opstest;

using testkit::ThreadCount;

TEST(Parallel, EveryItemOnceInBands)
{
    for (const unsigned threads : {1u, 2u, 3u, 8u})
        for (const std::size_t count : {0u, 1u, 5u, 100u, 1001u}) {
            const ThreadCount use(threads);
            std::vector<std::atomic<int>> seen(count);
            std::atomic<std::size_t> bands{0};
            parallelFor(count, 10, [&](std::size_t band, std::size_t begin, std::size_t end) {
                EXPECT_LT(band, std::max<std::size_t>(1, threads));
                EXPECT_LE(begin, end);
                for (std::size_t i = begin; i < end; ++i)
                    ++seen[i];
                ++bands;
            });
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(seen[i], 1) << "item " << i << ", " << threads << " threads";
            EXPECT_EQ(bands, bandCount(count, 10));
            EXPECT_LE(bands, std::max<std::size_t>(1, count / 10)) << "bands keep at least 10 items";
        }
}

TEST(Parallel, ExceptionsReachTheCaller)
{
    const ThreadCount use(2);
    EXPECT_THROW(parallelFor(100, 1,
                             [](std::size_t band, std::size_t, std::size_t) {
                                 if (band == 1)
                                     throw std::runtime_error("band 1");
                             }),
                 std::runtime_error);
}

TEST(Parallel, SameBytesWhateverTheThreadCount)
{
    // Large enough that every stage is cut into bands: over 4096 histogram bins, many rows.
    Image image = noise(300, 220);
    const Image smooth = gradient(300, 220);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = std::uint8_t((image.pixels[i] / 4 + smooth.pixels[i] * 3 / 4));

    const auto results = [&] {
        std::vector<Image> out(6);
        EXPECT_TRUE(reduceColours(image, 255, true, out[0]).ok());
        EXPECT_TRUE(reduceColours(image, 16, false, out[1]).ok());
        EXPECT_TRUE(toGrey(image, out[2]).ok());
        EXPECT_TRUE(zoom(image, 37, 37, out[3]).ok());
        EXPECT_TRUE(zoom(image, 150, 150, out[4]).ok());
        EXPECT_TRUE(reduceColours(out[2], 7, true, out[5]).ok());
        return out;
    };
    std::vector<Image> first;
    for (const unsigned threads : {1u, 2u, 3u, 2u}) {
        const ThreadCount use(threads);
        const auto out = results();
        if (first.empty()) {
            first = out;
            continue;
        }
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].pixels, first[i].pixels) << "result " << i << " with " << threads << " threads";
            EXPECT_EQ(out[i].palette, first[i].palette) << "result " << i << " with " << threads << " threads";
        }
    }
}

// Strips are encoded on every thread and upright images turned in bands: the files and pixels are
// the same whatever the thread count.
TEST(Parallel, SameFilesAndTurnsWhateverTheThreadCount)
{
    const Image image = noise(300, 220);  // RGB: four strips of about 64 KiB
    const Image indexed = [&] {
        Image out;
        EXPECT_TRUE(reduceColours(image, 255, true, out).ok());
        return out;
    }();
    const testkit::ScratchDir scratch;
    const auto results = [&] {
        std::vector<std::vector<std::uint8_t>> out;
        for (const Image* source : {&image, &indexed})
            for (const tiff::Kind kind :
                 {tiff::Kind::lzw, tiff::Kind::uncompressed, tiff::Kind::ccittHuffman, tiff::Kind::packBits}) {
                const auto path = scratch / "out.tif";
                EXPECT_TRUE(tiff::write(*source, kind, path.string()).ok());
                out.push_back(testkit::readBytes(path));
            }
        for (unsigned orientation = 2; orientation <= 8; ++orientation) {
            Image turned = image;
            EXPECT_TRUE(makeUpright(turned, orientationOf(orientation)).ok());
            out.push_back(turned.pixels);
        }
        return out;
    };
    std::vector<std::vector<std::uint8_t>> first;
    for (const unsigned threads : {1u, 2u, 3u}) {
        const ThreadCount use(threads);
        const auto out = results();
        if (first.empty())
            first = out;
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_TRUE(out[i] == first[i]) << "result " << i << " with " << threads << " threads";
    }
}
