// GEM IMG bitmaps: a header of big-endian 16-bit words, then compressed scan lines. A scan line
// holds one row of bytes per plane, each row covering the width rounded up to 8 pixels. In a
// planar image the rows are bit planes, plane 0 (the lowest bit of a pixel) first; a 24-plane
// image holds R, G, B bytes instead, one pixel after another, and the rest of the line is padding.
// The XIMG extension of the header adds an RGB palette on a 0 to 1000 scale.
#include "imglib/formats/gem/gem.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/size.h"

namespace imglib::gem {

namespace {

constexpr std::uint16_t kBaseHeaderWords = 8;
constexpr std::uint16_t kXimgHeaderWords = 11;  // the base, the "XIMG" tag and the colour model
constexpr std::uint16_t kMaxPatternLength = 8;
constexpr std::uint16_t kTrueColourPlanes = 24;

struct Header {
    std::uint16_t version = 0, headerWords = 0, planes = 0, patternLength = 0, pixelWidth = 0,
                  pixelHeight = 0, width = 0, height = 0;
    bool ximg = false;
    std::uint16_t colourModel = 0;
    unsigned paletteEntries = 0;  // XIMG palette entries given
};

bool readHeader(ByteReader& in, Header& h)
{
    if (!(in.u16be(h.version) && in.u16be(h.headerWords) && in.u16be(h.planes) &&
          in.u16be(h.patternLength) && in.u16be(h.pixelWidth) && in.u16be(h.pixelHeight) &&
          in.u16be(h.width) && in.u16be(h.height)))
        return false;
    std::span<const std::uint8_t> tag;
    if (h.headerWords >= kXimgHeaderWords && in.bytes(4, tag) && std::memcmp(tag.data(), "XIMG", 4) == 0 &&
        in.u16be(h.colourModel)) {
        h.ximg = true;
        h.paletteEntries = (h.headerWords - kXimgHeaderWords) / 3u;
    }
    return true;
}

bool planar(const Header& h) { return h.planes <= 8; }

// The file has no signature, so its header is checked closely: it is tried before formats with
// no signature at all.
Status validate(const Header& h, std::size_t fileSize)
{
    if (h.version != 1 && h.version != 2)
        return failure(Error::badHeader, "gem: unknown version");
    if (h.headerWords < kBaseHeaderWords || std::size_t{h.headerWords} * 2 >= fileSize)
        return failure(Error::badHeader, "gem: header length outside the file");
    if (h.planes == 0)
        return failure(Error::badHeader, "gem: no planes");
    if (h.planes > 8 && h.planes != kTrueColourPlanes)
        return failure(Error::unsupported, "gem: planes other than 1 to 8 or 24");
    if (h.patternLength == 0 || h.patternLength > kMaxPatternLength)
        return failure(Error::badHeader, "gem: pattern length outside 1 to 8");
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "gem: zero width or height");
    if (h.ximg && h.colourModel != 0)
        return failure(Error::unsupported, "gem: XIMG colour model other than RGB");
    if (!layoutOf(h.width, h.height, planar(h) ? 8 : 24))
        return failure(Error::tooLarge, "gem: size over the limits");
    return success();
}

// Colours of the pixel values 0 to 15 without a palette in the file: the desktop's standard
// colours in the order the display hardware numbers them (white first, black last), as other
// readers of 4-plane files show them.
constexpr std::array<Colour, 16> kSixteenColours{{
    {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {170, 170, 170},
    {85, 85, 85}, {170, 0, 0}, {0, 170, 0}, {170, 170, 0},
    {0, 0, 170}, {170, 0, 170}, {0, 170, 170}, {0, 0, 0},
}};
constexpr std::array<Colour, 4> kFourColours{{{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}}};

std::uint8_t fromThousandths(std::uint16_t v)
{
    return static_cast<std::uint8_t>((std::min<unsigned>(v, 1000) * 255 + 500) / 1000);
}

// The palette of a planar image: 2^planes entries, from the XIMG palette when there is one
// (entries it does not give are black), else the standard colours.
bool readPalette(ByteReader& in, const Header& h, std::vector<Colour>& palette)
{
    const unsigned size = 1u << h.planes;
    palette.assign(size, Colour{});
    const unsigned given = std::min(h.paletteEntries, size);
    if (given > 0) {
        for (unsigned i = 0; i < given; ++i) {
            std::uint16_t r = 0, g = 0, b = 0;
            if (!(in.u16be(r) && in.u16be(g) && in.u16be(b)))
                return false;
            palette[i] = {fromThousandths(r), fromThousandths(g), fromThousandths(b)};
        }
    } else if (size == 2) {
        palette = {{255, 255, 255}, {0, 0, 0}};
    } else if (size == 4) {
        palette.assign(kFourColours.begin(), kFourColours.end());
    } else if (size == 16) {
        palette.assign(kSixteenColours.begin(), kSixteenColours.end());
    } else {
        // No standard colours for other plane counts: grey levels from white (0) to black.
        for (unsigned i = 0; i < size; ++i) {
            const auto level = static_cast<std::uint8_t>(255 - i * 255 / (size - 1));
            palette[i] = {level, level, level};
        }
    }
    return true;
}

// Fills one scan line of `line.size()` bytes. Opcodes: 0 n pattern repeats the pattern n times,
// 0x80 n bytes copies n bytes, any other byte b is a run of b & 0x7F bytes of 0xFF (high bit set)
// or 0. Runs past the end of the line are cut there.
bool decodeLine(ByteReader& in, std::uint16_t patternLength, std::vector<std::uint8_t>& line)
{
    std::uint8_t* out = line.data();
    const std::size_t size = line.size();
    std::size_t filled = 0;
    while (filled < size) {
        std::uint8_t op = 0, count = 0;
        if (!in.u8(op))
            return false;
        if (op == 0x00) {
            std::span<const std::uint8_t> pattern;
            if (!in.u8(count) || !in.bytes(patternLength, pattern))
                return false;
            for (unsigned i = 0; i < count && filled < size; ++i) {
                const std::size_t take = std::min<std::size_t>(patternLength, size - filled);
                std::memcpy(out + filled, pattern.data(), take);
                filled += take;
            }
        } else if (op == 0x80) {
            std::span<const std::uint8_t> bytes;
            if (!in.u8(count) || !in.bytes(count, bytes))
                return false;
            const std::size_t take = std::min<std::size_t>(count, size - filled);
            std::memcpy(out + filled, bytes.data(), take);
            filled += take;
        } else {
            const std::size_t take = std::min<std::size_t>(op & 0x7F, size - filled);
            std::memset(out + filled, op & 0x80 ? 0xFF : 0x00, take);
            filled += take;
        }
    }
    return true;
}

// A scan line may start with 0 0 0xFF n: the line that follows stands for n identical lines.
// Gives how many lines the next one stands for (at least one).
unsigned readReplication(ByteReader& in)
{
    unsigned lines = 1;
    for (;;) {
        const std::size_t at = in.position();
        std::span<const std::uint8_t> mark;
        if (!in.bytes(4, mark) || mark[0] != 0x00 || mark[1] != 0x00 || mark[2] != 0xFF) {
            (void)in.seek(at);
            return lines;
        }
        lines = std::max<unsigned>(mark[3], 1);
    }
}

// Refuses before allocating a file too short for its lines: every opcode takes at least a byte and
// gives at most 127 bytes or 255 patterns, and one line stands for at most 255.
bool holdsEnoughData(const Header& h, std::size_t lineBytes, std::size_t dataBytes)
{
    const std::size_t mostPerOpcode = std::max(127u, 255u * h.patternLength);
    const std::size_t linesNeeded = (std::size_t{h.height} + 254) / 255;
    return dataBytes >= linesNeeded * ((lineBytes + mostPerOpcode - 1) / mostPerOpcode);
}

// Each byte of a plane spread over 8 pixel bytes (leftmost pixel first), as 0 or 1 in each byte.
using Spread = std::array<std::uint64_t, 256>;
Spread makeSpread()
{
    Spread table{};
    for (unsigned v = 0; v < 256; ++v) {
        std::uint8_t bytes[8];
        for (unsigned i = 0; i < 8; ++i)
            bytes[i] = (v >> (7 - i)) & 1;
        std::memcpy(&table[v], bytes, 8);
    }
    return table;
}

// Gathers the bits of every plane into one index per pixel.
void planesToIndices(const std::vector<std::uint8_t>& line, unsigned planes, std::size_t planeBytes,
                     std::vector<std::uint8_t>& indices)
{
    static const Spread spread = makeSpread();
    const std::uint64_t* bytesToPixels = spread.data();
    std::uint8_t* out = indices.data();
    std::memset(out, 0, indices.size());
    for (unsigned p = 0; p < planes; ++p) {
        const std::uint8_t* plane = line.data() + p * planeBytes;
        for (std::size_t i = 0; i < planeBytes; ++i) {
            std::uint64_t eight;
            std::memcpy(&eight, out + 8 * i, 8);
            eight |= bytesToPixels[plane[i]] << p;
            std::memcpy(out + 8 * i, &eight, 8);
        }
    }
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    Header h;
    return readHeader(in, h) && validate(h, file.size()).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    ByteReader in(file);
    Header h;
    if (!readHeader(in, h))
        return failure(Error::truncated, "gem: header cut short");
    if (const Status valid = validate(h, file.size()); !valid)
        return valid;

    const std::size_t planeBytes = layoutOf(h.width, 1, 1)->rowBytes;
    std::vector<std::uint8_t> line(planeBytes * h.planes);
    const std::size_t headerBytes = std::size_t{h.headerWords} * 2;
    if (!holdsEnoughData(h, line.size(), file.size() - headerBytes))
        return failure(Error::truncated, "gem: pixel data cut short");

    // Rows hold memory as they are decoded: a line can stand for many, so the data bounds the
    // image only loosely, and a file cut short costs the lines it held.
    Image image;
    GrowingRows rows;
    if (const Status made = rows.start(image, h.width, h.height, planar(h) ? PixelFormat::indexed : PixelFormat::rgb);
        !made)
        return made;
    if (planar(h) && !readPalette(in, h, image.palette))
        return failure(Error::truncated, "gem: palette cut short");
    if (!in.seek(headerBytes))
        return failure(Error::truncated, "gem: header cut short");
    std::vector<std::uint8_t> indices(planar(h) ? planeBytes * 8 : 0);
    for (std::uint32_t y = 0; y < h.height;) {
        const unsigned lines = readReplication(in);
        if (!decodeLine(in, h.patternLength, line))
            return failure(Error::truncated, "gem: pixel data cut short");
        if (planar(h))
            planesToIndices(line, h.planes, planeBytes, indices);
        const std::uint8_t* pixels = planar(h) ? indices.data() : line.data();
        for (unsigned i = 0; i < lines && y < h.height; ++i, ++y)
            std::memcpy(rows.row(y), pixels, image.stride());
    }
    rows.finish();
    out = std::move(image);
    return success();
}

}  // namespace imglib::gem
