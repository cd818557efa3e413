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
#include "imglib/core/colour.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"

namespace imglib::gem {

namespace {

constexpr std::uint16_t kBaseHeaderWords = 8;
constexpr std::uint16_t kXimgHeaderWords = 11;  // the base, the "XIMG" tag and the colour model
constexpr std::uint16_t kMaxPatternLength = 8;
constexpr std::uint16_t kTrueColourPlanes = 24;

struct Header {
    std::uint16_t version = 0, headerWords = 0, planes = 0, patternLength = 0, pixelWidth = 0, pixelHeight = 0,
                  width = 0, height = 0;
    bool ximg = false;
    std::uint16_t colourModel = 0;
    unsigned paletteEntries = 0;  // XIMG palette entries given
};

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

// Reads the header and checks it, for sniff and decode alike.
Status readHeader(ByteReader& in, Header& h)
{
    if (!(in.u16be(h.version) && in.u16be(h.headerWords) && in.u16be(h.planes) && in.u16be(h.patternLength) &&
          in.u16be(h.pixelWidth) && in.u16be(h.pixelHeight) && in.u16be(h.width) && in.u16be(h.height)))
        return failure(Error::truncated, "gem: header cut short");
    std::span<const std::uint8_t> tag;
    if (h.headerWords >= kXimgHeaderWords && in.bytes(4, tag) && std::memcmp(tag.data(), "XIMG", 4) == 0 &&
        in.u16be(h.colourModel)) {
        h.ximg = true;
        h.paletteEntries = (h.headerWords - kXimgHeaderWords) / 3u;
    }
    return validate(h, in.size());
}

// Colours of the pixel values 0 to 15 without a palette in the file: the desktop's standard
// colours in the order the display hardware numbers them (white first, black last), as other
// readers of 4-plane files show them.
constexpr std::array<Colour, 16> kSixteenColours{{
    {255, 255, 255},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {170, 170, 170},
    {85, 85, 85},
    {170, 0, 0},
    {0, 170, 0},
    {170, 170, 0},
    {0, 0, 170},
    {170, 0, 170},
    {0, 170, 170},
    {0, 0, 0},
}};
constexpr std::array<Colour, 4> kFourColours{{{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}}};

std::uint8_t fromThousandths(std::uint16_t v) { return scaleTo8(std::min<std::uint32_t>(v, 1000), 1000); }

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

const Status kDataCutShort = failure(Error::truncated, "gem: pixel data cut short");

// The scan lines one after another, each with the number of rows it stands for.
class RowReader {
public:
    RowReader(ByteReader& in, std::uint16_t patternLength, std::size_t lineBytes)
        : in_(in), patternLength_(patternLength), line_(lineBytes)
    {}

    Status next(std::span<const std::uint8_t>& line, unsigned& rows)
    {
        rows = readReplication();
        if (!decodeLine())
            return kDataCutShort;
        line = line_;
        return success();
    }

private:
    // A scan line may start with 0 0 0xFF n: the line that follows stands for n identical lines.
    // Gives how many lines the next one stands for (at least one).
    unsigned readReplication()
    {
        unsigned lines = 1;
        for (;;) {
            const std::size_t at = in_.position();
            std::span<const std::uint8_t> mark;
            if (!in_.bytes(4, mark) || mark[0] != 0x00 || mark[1] != 0x00 || mark[2] != 0xFF) {
                (void)in_.seek(at);
                return lines;
            }
            lines = std::max<unsigned>(mark[3], 1);
        }
    }

    // Fills one scan line. Opcodes: 0 n pattern repeats the pattern n times, 0x80 n bytes copies n
    // bytes, any other byte b is a run of b & 0x7F bytes of 0xFF (high bit set) or 0. Runs past the
    // end of the line are cut there.
    bool decodeLine()
    {
        std::uint8_t* out = line_.data();
        const std::size_t size = line_.size();
        std::size_t filled = 0;
        while (filled < size) {
            std::uint8_t op = 0, count = 0;
            if (!in_.u8(op))
                return false;
            if (op == 0x00) {
                std::span<const std::uint8_t> pattern;
                if (!in_.u8(count) || !in_.bytes(patternLength_, pattern))
                    return false;
                for (unsigned i = 0; i < count && filled < size; ++i) {
                    const std::size_t take = std::min<std::size_t>(patternLength_, size - filled);
                    std::memcpy(out + filled, pattern.data(), take);
                    filled += take;
                }
            } else if (op == 0x80) {
                std::span<const std::uint8_t> bytes;
                if (!in_.u8(count) || !in_.bytes(count, bytes))
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

    ByteReader& in_;
    std::uint16_t patternLength_;
    std::vector<std::uint8_t> line_;
};

// The size of a pixel, in microns across and down.
Resolution resolutionOf(const Header& h)
{
    if (h.pixelWidth == 0 || h.pixelHeight == 0)
        return {};
    return perCentimetre(10000.0 / h.pixelWidth, 10000.0 / h.pixelHeight);
}

// Refuses before allocating a file too short for its lines: every opcode takes at least a byte and
// gives at most 127 bytes or 255 patterns, and one line stands for at most 255.
bool holdsEnoughData(const Header& h, std::size_t lineBytes, std::size_t dataBytes)
{
    const std::size_t mostPerOpcode = std::max(127u, 255u * h.patternLength);
    const std::size_t linesNeeded = (std::size_t{h.height} + 254) / 255;
    return dataBytes >= linesNeeded * ((lineBytes + mostPerOpcode - 1) / mostPerOpcode);
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

    const std::size_t planeBytes = layoutOf(h.width, 1, 1)->rowBytes;
    const std::size_t lineBytes = planeBytes * h.planes;
    const std::size_t headerBytes = std::size_t{h.headerWords} * 2;
    if (!holdsEnoughData(h, lineBytes, file.size() - headerBytes))
        return kDataCutShort;

    // Rows hold memory as they are decoded: a line can stand for many, so the data bounds the
    // image only loosely, and a file cut short costs the lines it held.
    Image image;
    GrowingRows grown;
    if (auto s = grown.start(image, h.width, h.height, planar(h) ? PixelFormat::indexed : PixelFormat::rgb); !s)
        return s;
    if (planar(h) && !readPalette(in, h, image.palette))
        return failure(Error::truncated, "gem: palette cut short");
    if (!in.seek(headerBytes))
        return failure(Error::truncated, "gem: header cut short");
    RowReader rows(in, h.patternLength, lineBytes);
    for (std::uint32_t y = 0; y < h.height;) {
        std::span<const std::uint8_t> line;
        unsigned repeats = 0;
        if (auto s = rows.next(line, repeats); !s)
            return s;
        const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(h.height, std::uint64_t{y} + repeats));
        std::uint8_t* const first = grown.row(y);
        if (planar(h))
            gatherPlanes(line.data(), planeBytes, h.planes, 1, first, h.width);
        else
            std::memcpy(first, line.data(), image.stride());
        while (++y < end)
            std::memcpy(grown.row(y), first, image.stride());
    }
    grown.finish();
    image.resolution = resolutionOf(h);
    out = std::move(image);
    return success();
}

}  // namespace imglib::gem
