// The boxes that ISO base media files (HEIF, AVIF) and JPEG 2000 files are made of: a 32-bit
// big-endian size counting the whole box, a four-character type, then the body. Size 1 means a
// 64-bit size follows the type; size 0, that the box runs to the end of the data.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/byte_reader.h"

namespace imglib {

constexpr std::uint32_t fourcc(const char (&code)[5])
{
    return std::uint32_t{std::uint8_t(code[0])} << 24 | std::uint32_t{std::uint8_t(code[1])} << 16 |
           std::uint32_t{std::uint8_t(code[2])} << 8 | std::uint8_t(code[3]);
}

struct Box {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> body;  // what the data holds of it
    bool complete = true;                // false when the box claims more than the data left
};

enum class BoxRead : std::uint8_t {
    ok,
    cut,    // the data ends inside the box's header
    broken  // a size smaller than the header
};

// Reads the box at `in`'s position and moves past it (to the end of the data when it is
// incomplete). On failure `in` stays where it was.
inline BoxRead readBox(ByteReader& in, Box& box)
{
    const std::size_t start = in.position();
    std::uint32_t size32 = 0, type = 0;
    if (!in.u32be(size32) || !in.u32be(type)) {
        in.seek(start);
        return BoxRead::cut;
    }
    std::uint64_t size = size32, header = 8;
    if (size32 == 1) {
        std::uint32_t high = 0, low = 0;
        if (!in.u32be(high) || !in.u32be(low)) {
            in.seek(start);
            return BoxRead::cut;
        }
        size = std::uint64_t{high} << 32 | low;
        header = 16;
    } else if (size32 == 0) {
        size = header + in.remaining();
    }
    if (size < header) {
        in.seek(start);
        return BoxRead::broken;
    }
    const std::uint64_t bodySize = size - header;
    box.type = type;
    box.complete = bodySize <= in.remaining();
    in.bytes(box.complete ? bodySize : in.remaining(), box.body);
    return BoxRead::ok;
}

}  // namespace imglib
