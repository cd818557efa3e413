// Sun raster files: a 32-byte big-endian header, an optional colour map, then rows of pixels,
// each row padded to 16 bits. The rows are stored as they are or byte-encoded, where 0x80 starts
// a run and the rows form one continuous stream (a run may cross from one row into the next,
// padding included).
#include "imglib/formats/sunras/sunras.h"

#include <algorithm>
#include <cstring>

#include "imglib/core/byte_reader.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/core/stored_rows.h"

namespace imglib::sunras {

namespace {

constexpr std::uint32_t kMagic = 0x59A66A95;

enum Type : std::uint32_t { typeOld = 0, typeStandard = 1, typeByteEncoded = 2, typeRgb = 3 };
enum MapType : std::uint32_t { mapNone = 0, mapRgb = 1, mapRaw = 2 };

struct Header {
    std::uint32_t magic = 0, width = 0, height = 0, depth = 0, length = 0, type = 0, mapType = 0, mapLength = 0;
};

// Shared by sniff and decode. The declared data length is not checked: old files leave it 0, and
// the rows say how much data there must be.
Status validate(const Header& h)
{
    if (h.magic != kMagic)
        return failure(Error::badHeader, "sunras: not a Sun raster file");
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "sunras: zero width or height");
    if (h.depth != 1 && h.depth != 8 && h.depth != 24 && h.depth != 32)
        return failure(Error::unsupported, "sunras: depth other than 1, 8, 24 or 32");
    if (h.type > typeRgb)
        return failure(Error::unsupported, "sunras: type other than old, standard, byte-encoded or RGB");
    if (h.mapType == mapRaw)
        return failure(Error::unsupported, "sunras: raw colour map");
    if (h.mapType > mapRaw)
        return failure(Error::badHeader, "sunras: unknown colour map type");
    if (h.mapType == mapRgb && (h.mapLength == 0 || h.mapLength % 3 != 0 || h.mapLength > 3 * 256))
        return failure(Error::badHeader, "sunras: colour map length not 3 planes of 1 to 256 entries");
    if (!layoutOf(h.width, h.height, h.depth, 2))
        return failure(Error::tooLarge, "sunras: size over the limits");
    return success();
}

// Reads the header and checks it, for sniff and decode alike.
Status readHeader(ByteReader& in, Header& h)
{
    if (!(in.u32be(h.magic) && in.u32be(h.width) && in.u32be(h.height) && in.u32be(h.depth) && in.u32be(h.length) &&
          in.u32be(h.type) && in.u32be(h.mapType) && in.u32be(h.mapLength)))
        return failure(Error::truncated, "sunras: header cut short");
    return validate(h);
}

// Refuses before allocating a file too short for its rows: stored rows are all there, and
// byte-encoded ones expand at most 256 bytes for every 3.
bool holdsEnoughData(const Header& h, const Layout& stored, std::uint64_t dataBytes)
{
    if (h.type != typeByteEncoded)
        return dataBytes >= stored.totalBytes;
    return dataBytes >= stored.totalBytes / 256 * 3;
}

constexpr Status kDataCutShort = failure(Error::truncated, "sunras: pixel data cut short");

// The run decoder of byte-encoded rows, padding included. A run that goes on past the last row is
// cut there.
class Runs {
public:
    static constexpr Status cutShort = kDataCutShort;

    // 0x80 0 is a literal 0x80; 0x80 n v is n + 1 copies of v; any other byte stands for itself.
    Status decodeRow(ByteReader& in, std::span<std::uint8_t> row)
    {
        std::size_t filled = 0;
        while (filled < row.size()) {
            if (runLeft_ == 0) {
                std::uint8_t byte = 0, count = 0;
                if (!in.u8(byte))
                    return kDataCutShort;
                if (byte != 0x80) {
                    row[filled++] = byte;
                    continue;
                }
                if (!in.u8(count))
                    return kDataCutShort;
                if (count == 0) {
                    row[filled++] = 0x80;
                    continue;
                }
                if (!in.u8(runValue_))
                    return kDataCutShort;
                runLeft_ = std::size_t{count} + 1;
            }
            const std::size_t take = std::min(runLeft_, row.size() - filled);
            std::memset(row.data() + filled, runValue_, take);
            filled += take;
            runLeft_ -= take;
        }
        return success();
    }

private:
    std::uint8_t runValue_ = 0;
    std::size_t runLeft_ = 0;
};

// Colour map entries past the map are black.
struct Map {
    FullPalette colours{};
    unsigned entries = 0;
};

// A length given without a map type is skipped: the rows come after it all the same.
bool readMap(ByteReader& in, const Header& h, Map& map)
{
    if (h.mapType != mapRgb)
        return in.skip(h.mapLength);
    map.entries = h.mapLength / 3;
    std::span<const std::uint8_t> planes;
    if (!in.bytes(h.mapLength, planes))
        return false;
    for (unsigned i = 0; i < map.entries; ++i)
        map.colours[i] = {planes[i], planes[map.entries + i], planes[2 * map.entries + i]};
    return true;
}

// 1-bit and 8-bit pixels are indices (into the map, or white/black and grey levels without one);
// 24 and 32-bit pixels are B, G, R (X first at 32 bits), or R, G, B in the RGB type.
PixelFormat outputFormat(const Header& h)
{
    if (h.depth >= 24)
        return PixelFormat::rgb;
    return h.depth == 8 && h.mapType == mapNone ? PixelFormat::grey : PixelFormat::indexed;
}

void convertRow(const Header& h, const std::uint8_t* in, std::uint8_t* out)
{
    const std::uint32_t w = h.width;
    switch (h.depth) {
    case 1:
        unpackIndices(in, out, w, 1);
        return;
    case 8:
        std::memcpy(out, in, w);
        return;
    default: {
        const unsigned step = h.depth / 8;
        const unsigned first = step - 3;  // skips the X byte of 32-bit pixels
        const unsigned r = h.type == typeRgb ? 0 : 2;
        for (std::uint32_t x = 0; x < w; ++x, in += step, out += 3) {
            out[0] = in[first + r];
            out[1] = in[first + 1];
            out[2] = in[first + 2 - r];
        }
        return;
    }
    }
}

// The palette of an indexed image: the map, or white and black for 1-bit pixels without one,
// lengthened with black entries to cover every index the pixels use.
void attachPalette(const Header& h, const Map& map, Image& out)
{
    FullPalette colours = map.colours;
    unsigned entries = map.entries;
    if (h.mapType == mapNone) {
        colours[0] = {255, 255, 255};
        colours[1] = {0, 0, 0};
        entries = 2;
    }
    setPaletteCovering(out, std::span(colours).first(entries));
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    Header h;
    return readHeader(in, h).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    ByteReader in(file);
    Header h;
    if (auto s = readHeader(in, h); !s)
        return s;
    Map map;
    if (!readMap(in, h, map))
        return failure(Error::truncated, "sunras: colour map cut short");

    const auto stored = layoutOf(h.width, h.height, h.depth, 2);
    if (!holdsEnoughData(h, *stored, in.remaining()))
        return kDataCutShort;
    Image image;
    if (auto s = allocate(image, h.width, h.height, outputFormat(h)); !s)
        return s;
    StoredRows<Runs> rows(in, h.type == typeByteEncoded, stored->rowBytes);
    for (std::uint32_t y = 0; y < h.height; ++y) {
        std::span<const std::uint8_t> row;
        if (auto s = rows.next(row); !s)
            return s;
        convertRow(h, row.data(), image.row(y));
    }
    if (image.format == PixelFormat::indexed)
        attachPalette(h, map, image);
    out = std::move(image);
    return success();
}

}  // namespace imglib::sunras
