// Kodak Photo CD Image Pac. The file is a run of 2048-byte sectors: a first sector the reader does
// not need, the Image Pack Information sector ("PCD_IPI"), then the three lowest resolutions stored
// uncompressed at fixed sectors — Base/16, Base/4 and Base — and the Huffman-coded higher ones,
// which are not read. Each stored image is PhotoYCC: for every pair of rows, two rows of luma, then
// one row of C1 and one of C2 at half the width (chroma is at half resolution both ways).
#include "imglib/formats/pcd/pcd.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/orientation.h"
#include "imglib/core/size.h"

namespace imglib::pcd {

namespace {

constexpr std::uint64_t kSector = 2048;
constexpr std::string_view kSignature = "PCD_IPI";
constexpr std::uint64_t kSignatureAt = 1 * kSector;
// Bits 0–1 of this byte of the information sector: the quarter turns counter-clockwise that
// bring the stored picture upright (portrait pictures are stored lying on their side).
constexpr std::uint64_t kAttributesAt = kSignatureAt + 0x602;

struct Resolution {
    std::uint32_t width, height;
    std::uint64_t offset;
};

// Largest first: the reader takes the largest one the file holds whole.
constexpr std::array kResolutions{
    Resolution{768, 512, 96 * kSector},  // Base
    Resolution{384, 256, 23 * kSector},  // Base/4
    Resolution{192, 128, 4 * kSector},   // Base/16
};

struct Header {
    Orientation orientation = Orientation::topLeft;
};

// By the quarter turns counter-clockwise the information sector gives.
constexpr std::array kOrientations{Orientation::topLeft, Orientation::leftBottom, Orientation::bottomRight,
                                   Orientation::rightTop};

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    ByteReader in(file);
    std::span<const std::uint8_t> signature;
    if (!in.seek(kSignatureAt) || !in.bytes(kSignature.size(), signature))
        return failure(Error::truncated, "pcd: no information sector");
    if (!std::equal(signature.begin(), signature.end(), kSignature.begin()))
        return failure(Error::badHeader, "pcd: no PCD_IPI signature");
    std::uint8_t attributes = 0;
    if (!in.seek(kAttributesAt) || !in.u8(attributes))
        return failure(Error::truncated, "pcd: information sector cut short");
    header.orientation = kOrientations[attributes & 3u];
    return success();
}

// PhotoYCC to RGB in 16-bit fixed point. Chroma comes in sixteenths (after interpolation).
constexpr int fixed(double v) { return static_cast<int>(v * 65536 + 0.5); }
constexpr int kLuma = fixed(1.3584);
constexpr int kBlueFromC1 = fixed(2.2179 / 16);
constexpr int kRedFromC2 = fixed(1.8215 / 16);
constexpr int kGreenFromC1 = fixed(0.194 * 2.2179 / 16);
constexpr int kGreenFromC2 = fixed(0.509 * 1.8215 / 16);
constexpr int kC1Zero = 156 * 16;
constexpr int kC2Zero = 137 * 16;

std::uint8_t clipped(int v) { return static_cast<std::uint8_t>(std::clamp((v + (1 << 15)) >> 16, 0, 255)); }

// The chroma of one output row, in sixteenths, at full width. Each chroma sample sits at the
// centre of its 2 × 2 luma block, so an output pixel blends its own sample (3/4) with the nearest
// neighbour (1/4) in each direction, the edges repeating.
void upsampleChroma(const std::uint8_t* own, const std::uint8_t* neighbour, std::size_t half,
                    std::vector<int>& quarters, int* out)
{
    for (std::size_t i = 0; i < half; ++i)
        quarters[i] = 3 * own[i] + neighbour[i];
    for (std::size_t i = 0; i < half; ++i) {
        const int left = quarters[i == 0 ? 0 : i - 1];
        const int right = quarters[i + 1 == half ? i : i + 1];
        out[2 * i] = 3 * quarters[i] + left;
        out[2 * i + 1] = 3 * quarters[i] + right;
    }
}

void convertPlanes(std::span<const std::uint8_t> planes, std::uint32_t width, std::uint32_t height, Placement place,
                   Image& image)
{
    const std::size_t w = width, half = w / 2, pairStride = 3 * w, pairs = height / 2;
    std::vector<int> quarters(half), c1(w), c2(w);
    std::uint8_t* const pixels = image.pixels.data();
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t pair = y / 2;
        const std::size_t near = y % 2 == 0 ? (pair == 0 ? 0 : pair - 1) : std::min(pair + 1, pairs - 1);
        const std::uint8_t* luma = planes.data() + pair * pairStride + (y % 2) * w;
        const std::uint8_t* ownC1 = planes.data() + pair * pairStride + 2 * w;
        const std::uint8_t* nearC1 = planes.data() + near * pairStride + 2 * w;
        upsampleChroma(ownC1, nearC1, half, quarters, c1.data());
        upsampleChroma(ownC1 + half, nearC1 + half, half, quarters, c2.data());
        std::ptrdiff_t at = place.start + static_cast<std::ptrdiff_t>(y) * place.dy;
        for (std::size_t x = 0; x < w; ++x, at += place.dx) {
            const int l = kLuma * luma[x];
            const int b = c1[x] - kC1Zero, r = c2[x] - kC2Zero;
            std::uint8_t* px = pixels + 3 * at;
            px[0] = clipped(l + kRedFromC2 * r);
            px[1] = clipped(l - kGreenFromC1 * b - kGreenFromC2 * r);
            px[2] = clipped(l + kBlueFromC1 * b);
        }
    }
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    Header header;
    return readHeader(file, header).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    Header header;
    if (const Status status = readHeader(file, header); !status)
        return status;

    ByteReader in(file);
    const Resolution* found = nullptr;
    std::span<const std::uint8_t> planes;
    for (const Resolution& resolution : kResolutions) {
        // 12 bits a pixel: 8 of luma and a quarter of each 8-bit chroma.
        const auto stored = layoutOf(resolution.width, resolution.height, 12);
        if (stored && in.seek(resolution.offset) && in.bytes(stored->totalBytes, planes)) {
            found = &resolution;
            break;
        }
    }
    if (found == nullptr)
        return failure(Error::truncated, "pcd: file too short for the smallest image");

    const bool sideways = swapsSides(header.orientation);
    Image image;
    if (const Status status = allocate(image, sideways ? found->height : found->width,
                                       sideways ? found->width : found->height, PixelFormat::rgb);
        !status)
        return status;
    convertPlanes(planes, found->width, found->height, placementOf(header.orientation, found->width, found->height),
                  image);
    out = std::move(image);
    return success();
}

}  // namespace imglib::pcd
