#include "imglib/formats/bmp/rle.h"

#include <algorithm>
#include <cstring>

#include "imglib/core/byte_reader.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/formats/bmp/rows.h"

namespace imglib::bmp {

namespace {

// The write position, counted in stored rows from the bottom; y == height is past the image.
struct Cursor {
    std::uint32_t x = 0, y = 0;
};

const Status kPastRow = failure(Error::badData, "bmp: run goes past the row");

void fillRun(std::uint8_t* out, std::uint32_t count, std::uint8_t value, bool rle4)
{
    if (!rle4) {
        std::memset(out, value, count);
        return;
    }
    // RLE4 runs alternate the two indices of their byte, high nibble first.
    const std::uint8_t pair[2] = {static_cast<std::uint8_t>(value >> 4), static_cast<std::uint8_t>(value & 0x0F)};
    for (std::uint32_t i = 0; i < count; ++i)
        out[i] = pair[i & 1];
}

}  // namespace

Status decodeRle(std::span<const std::uint8_t> data, const Header& header, GrowingRows& rows)
{
    const bool rle4 = header.compression == Compression::rle4;
    const std::uint32_t width = header.width, height = header.height;
    // Quirk: some encoders compress each row with its padding to 4 bytes (ImageMagick's RLE8 of
    // odd widths, the 4-bit .rle files of some paint programs), so a row may hold up to that
    // many indices; those past the width are dropped.
    const unsigned bits = rle4 ? 4 : 8;
    const auto stored = layoutOf(width, 1, bits, 4);
    if (!stored)
        return failure(Error::tooLarge, "bmp: image over the size limits");
    const auto rowEnd = static_cast<std::uint32_t>(stored->rowBytes * 8 / bits);
    Cursor at;
    // The next `count` pixels of the current row, of which those inside the image are kept.
    auto claim = [&](std::uint32_t count, std::span<std::uint8_t>& kept) {
        if (at.y >= height || count > rowEnd - at.x)
            return false;
        const std::uint32_t inside = std::min(count, width - std::min(at.x, width));
        kept = {};
        if (inside > 0)
            kept = std::span(rows.row(at.y) + at.x, inside);
        at.x += count;
        return true;
    };
    ByteReader r(data);
    for (;;) {
        std::uint8_t count = 0, code = 0;
        if (!r.u8(count) || !r.u8(code)) {
            // A missing end-of-bitmap code is forgiven once the last row is reached.
            const bool done = at.y >= height || (at.y + 1 == height && at.x >= width);
            if (!done)
                return failure(Error::truncated, "bmp: run-length data cut short");
            rows.finish();
            return success();
        }
        std::span<std::uint8_t> kept;
        if (count > 0) {
            if (!claim(count, kept))
                return kPastRow;
            if (!kept.empty())
                fillRun(kept.data(), static_cast<std::uint32_t>(kept.size()), code, rle4);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            if (at.y >= height)
                return failure(Error::badData, "bmp: end of line past the image");
            at = {0, at.y + 1};
            break;
        case 1:  // end of bitmap
            rows.finish();
            return success();
        case 2: {  // delta: move right and up
            std::uint8_t dx = 0, dy = 0;
            if (!r.u8(dx) || !r.u8(dy))
                return failure(Error::truncated, "bmp: run-length data cut short");
            if (dx > rowEnd - at.x || dy > height - at.y)
                return failure(Error::badData, "bmp: delta goes past the image");
            at = {at.x + dx, at.y + dy};
            break;
        }
        default: {  // a literal run of `code` indices, padded to an even number of bytes
            const std::uint32_t bytes = rle4 ? (code + 1u) / 2 : code;
            std::span<const std::uint8_t> literal;
            if (!claim(code, kept))
                return kPastRow;
            if (!r.bytes(bytes, literal) || !r.skip(bytes & 1))
                return failure(Error::truncated, "bmp: run-length data cut short");
            if (!kept.empty())
                unpackIndices(literal.data(), kept.data(), static_cast<std::uint32_t>(kept.size()), bits);
            break;
        }
        }
    }
}

}  // namespace imglib::bmp
