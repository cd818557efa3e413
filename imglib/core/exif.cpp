#include "imglib/core/exif.h"

#include <cstring>

#include "imglib/core/byte_reader.h"

namespace imglib {

namespace {

constexpr std::uint8_t kExifTag[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

// Reads 16 and 32-bit fields in the byte order the block declares.
struct Fields {
    ByteReader in;
    bool bigEndian;
    bool u16(std::uint16_t& v) { return bigEndian ? in.u16be(v) : in.u16le(v); }
    bool u32(std::uint32_t& v) { return bigEndian ? in.u32be(v) : in.u32le(v); }
};

}  // namespace

ExifFacts readExif(std::span<const std::uint8_t> block)
{
    ExifFacts facts;
    if (block.size() >= sizeof kExifTag && std::memcmp(block.data(), kExifTag, sizeof kExifTag) == 0)
        block = block.subspan(sizeof kExifTag);
    if (block.size() < 8)
        return facts;
    const auto tiff = block;  // offsets count from here
    const bool intel = tiff[0] == 'I' && tiff[1] == 'I', motorola = tiff[0] == 'M' && tiff[1] == 'M';
    if (!intel && !motorola)
        return facts;
    Fields f{ByteReader(tiff), motorola};
    std::uint16_t magic = 0, entries = 0;
    std::uint32_t directory = 0;
    if (!f.in.skip(2) || !f.u16(magic) || magic != 42 || !f.u32(directory) || !f.in.seek(directory) || !f.u16(entries))
        return facts;
    for (unsigned i = 0; i < entries; ++i) {
        std::uint16_t tag = 0, type = 0, value = 0;
        std::uint32_t count = 0;
        if (!f.u16(tag) || !f.u16(type) || !f.u32(count) || !f.u16(value) || !f.in.skip(2))
            return facts;
        if (tag == kOrientationTag && type == kShortType && count == 1)
            facts.orientation = orientationOf(value);
    }
    return facts;
}

}  // namespace imglib
