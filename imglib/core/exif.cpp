#include "imglib/core/exif.h"

#include <cstring>

#include "imglib/core/byte_reader.h"

namespace imglib {

namespace {

constexpr std::uint8_t kExifTag[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kXResolutionTag = 0x011A;
constexpr std::uint16_t kYResolutionTag = 0x011B;
constexpr std::uint16_t kResolutionUnitTag = 0x0128;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kRationalType = 5;
constexpr std::uint16_t kPerInch = 2, kPerCentimetre = 3;

// Reads 16 and 32-bit fields in the byte order the block declares.
struct Fields {
    ByteReader in;
    bool bigEndian;
    bool u16(std::uint16_t& v) { return bigEndian ? in.u16be(v) : in.u16le(v); }
    bool u32(std::uint32_t& v) { return bigEndian ? in.u32be(v) : in.u32le(v); }

    // The RATIONAL stored at `offset`; 0 when it is out of the block or divides by 0.
    double rational(std::uint32_t offset)
    {
        const std::size_t back = in.position();
        std::uint32_t numerator = 0, denominator = 0;
        const bool read = in.seek(offset) && u32(numerator) && u32(denominator);
        (void)in.seek(back);
        return read && denominator != 0 ? double(numerator) / denominator : 0;
    }
};

}  // namespace

Resolution resolutionInUnit(std::uint16_t unit, double x, double y)
{
    return unit == kPerInch ? perInch(x, y) : unit == kPerCentimetre ? perCentimetre(x, y) : Resolution{};
}

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
    std::uint16_t unit = kPerInch;  // Exif's unit unless stated
    double x = 0, y = 0;
    for (unsigned i = 0; i < entries; ++i) {
        std::uint16_t tag = 0, type = 0, value = 0;
        std::uint32_t count = 0, offset = 0;
        const std::size_t field = f.in.position() + 8;  // a SHORT sits at the start of the 4 bytes
        if (!f.u16(tag) || !f.u16(type) || !f.u32(count) || !f.u16(value) || !f.in.seek(field) || !f.u32(offset))
            break;
        if (type == kShortType && count == 1 && tag == kOrientationTag)
            facts.orientation = orientationOf(value);
        else if (type == kShortType && count == 1 && tag == kResolutionUnitTag)
            unit = value;
        else if (type == kRationalType && count == 1 && tag == kXResolutionTag)
            x = f.rational(offset);
        else if (type == kRationalType && count == 1 && tag == kYResolutionTag)
            y = f.rational(offset);
    }
    facts.resolution = resolutionInUnit(unit, x, y);
    return facts;
}

ExifFacts readExifItem(std::span<const std::uint8_t> item)
{
    ByteReader in(item);
    std::uint32_t offset = 0;
    if (!in.u32be(offset) || !in.skip(offset))
        return {};
    return readExif(item.subspan(in.position()));
}

}  // namespace imglib
