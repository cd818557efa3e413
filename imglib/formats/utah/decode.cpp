// Utah RLE: a little-endian header (signature 0xCC52, position, size, flags, channel count, colour
// maps, an optional comment), then a stream of 2-byte instructions, each with a 16-bit long form,
// that draw channel by channel and scanline by scanline from the bottom up. Positions in the
// stream are relative to the picture's own corner, so the header's position does not matter here.
#include "imglib/formats/utah/utah.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/size.h"

namespace imglib::utah {

namespace {

constexpr std::uint16_t kSignature = 0xCC52;

enum Flags : std::uint8_t {
    kClearFirst = 0x01,    // the viewer clears to the background first (see fillBackground)
    kNoBackground = 0x02,  // no background colour is given
    kAlpha = 0x04,         // an alpha channel (number 255) is present; it is dropped
    kComment = 0x08,
};

enum Opcode : std::uint8_t {
    kSkipLines = 1,
    kSetColour = 2,
    kSkipPixels = 3,
    kByteData = 5,
    kRunData = 6,
    kEndOfImage = 7,
};
constexpr std::uint8_t kLongForm = 0x40;  // the operand follows as a 16-bit word

// Colour maps hold 2^cmaplen entries; past 2^16 a map is more than any 8-bit picture needs.
constexpr unsigned kMaxMapLog2 = 16;

// Per output channel, what each stored 8-bit value becomes.
using Lookup = std::array<std::array<std::uint8_t, 256>, 3>;

struct Header {
    std::uint32_t width = 0, height = 0;
    std::uint8_t flags = 0;
    unsigned channels = 0;  // colour channels, alpha not counted
    unsigned bits = 0;
    unsigned maps = 0;  // colour map channels
    unsigned mapLog2 = 0;
    std::array<std::uint8_t, 3> background{};
    Lookup lookup{};
};

Status validate(const Header& h)
{
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "utah: empty picture");
    if (!withinLimits(h.width, h.height))
        return failure(Error::tooLarge, "utah: picture over the size limits");
    if (h.bits != 8)
        return failure(Error::unsupported, "utah: only 8-bit channels are read");
    // Two channels have no agreed meaning (grey and what?); other readers refuse them as well.
    if (h.channels != 1 && h.channels != 3)
        return failure(Error::unsupported, "utah: only 1 or 3 colour channels are read");
    if (h.maps != 0 && h.maps != 1 && h.maps != 3)
        return failure(Error::unsupported, "utah: only 1 or 3 colour map channels are read");
    if (h.maps != 0 && h.mapLog2 > kMaxMapLog2)
        return failure(Error::badHeader, "utah: colour map length over 2^16");
    return success();
}

// Reads the fixed 15 bytes and checks them: all that sniffing needs.
Status readHeader(ByteReader& in, Header& h)
{
    std::uint16_t signature = 0, width = 0, height = 0;
    std::int16_t xpos = 0, ypos = 0;
    std::uint8_t channels = 0, bits = 0, maps = 0, mapLog2 = 0;
    if (!in.u16le(signature) || !in.i16le(xpos) || !in.i16le(ypos) || !in.u16le(width) || !in.u16le(height) ||
        !in.u8(h.flags) || !in.u8(channels) || !in.u8(bits) || !in.u8(maps) || !in.u8(mapLog2))
        return failure(Error::truncated, "utah: header cut short");
    if (signature != kSignature)
        return failure(Error::badHeader, "utah: no 0xCC52 signature");
    h.width = width;
    h.height = height;
    h.channels = channels;
    h.bits = bits;
    h.maps = maps;
    h.mapLog2 = mapLog2;
    return validate(h);
}

// Maps follow one after the other, 16-bit entries whose high byte is the 8-bit value. A value past
// a short map takes its last entry. With one map and three channels, all three use it; a single
// channel with three maps is an index into them. Without maps the lookup is the identity.
Status readColourMaps(ByteReader& in, Header& h)
{
    if (h.maps == 0) {
        for (auto& channel : h.lookup)
            for (unsigned v = 0; v < 256; ++v)
                channel[v] = static_cast<std::uint8_t>(v);
        return success();
    }
    const std::uint32_t entries = std::uint32_t{1} << h.mapLog2;
    Lookup maps{};
    for (unsigned m = 0; m < h.maps; ++m) {
        for (std::uint32_t e = 0; e < entries; ++e) {
            std::uint16_t value = 0;
            if (!in.u16le(value))
                return failure(Error::truncated, "utah: colour map cut short");
            if (e < 256)
                maps[m][e] = static_cast<std::uint8_t>(value >> 8);
        }
        for (std::uint32_t v = entries; v < 256; ++v)
            maps[m][v] = maps[m][entries - 1];
    }
    for (unsigned c = 0; c < 3; ++c)
        h.lookup[c] = maps[std::min(c, h.maps - 1)];
    return success();
}

// The rest of the header: the background (or a filler byte in its place), the colour maps and the
// comment.
Status readVariableFields(ByteReader& in, Header& h)
{
    // The background and its filler bring the header to an even length.
    const unsigned backgroundBytes = (h.flags & kNoBackground) ? 1 : h.channels / 2 * 2 + 1;
    std::span<const std::uint8_t> stored;
    if (!in.bytes(backgroundBytes, stored))
        return failure(Error::truncated, "utah: background cut short");
    if (!(h.flags & kNoBackground))
        std::copy_n(stored.begin(), h.channels, h.background.begin());
    if (const Status status = readColourMaps(in, h); !status)
        return status;
    if (h.flags & kComment) {
        std::uint16_t length = 0;
        if (!in.u16le(length) || !in.skip(length + (length & 1u)))
            return failure(Error::truncated, "utah: comment cut short");
    }
    return success();
}

// Without the "no background" flag, pixels the stream never writes take the background colour,
// whether or not the "clear first" flag asks a viewer to clear its screen. With it they are 0.
void fillBackground(GrowingRows& rows, const Image& raw, const std::array<std::uint8_t, 3>& background)
{
    const unsigned n = raw.channels();
    std::vector<std::uint8_t> row(raw.stride());
    for (std::size_t i = 0; i < row.size(); i += n)
        std::memcpy(row.data() + i, background.data(), n);
    rows.fillWith(row);
}

// Writes n samples into one channel of a row of interleaved channels.
void putSamples(std::uint8_t* at, unsigned stride, const std::uint8_t* samples, std::uint32_t n)
{
    if (stride == 1) {
        std::memcpy(at, samples, n);
        return;
    }
    for (const std::uint8_t* end = samples + n; samples != end; ++samples, at += stride)
        *at = *samples;
}

void putRun(std::uint8_t* at, unsigned stride, std::uint8_t value, std::uint32_t n)
{
    if (stride == 1) {
        std::memset(at, value, n);
        return;
    }
    for (std::uint32_t i = 0; i < n; ++i, at += stride)
        *at = value;
}

// Where the instruction stream draws: a line counted from the bottom, a pixel in it and a channel;
// and how many more samples it may write.
struct Cursor {
    GrowingRows& rows;
    std::uint32_t width;
    unsigned stride;  // the stored channels, interleaved
    std::uint64_t budget;
    std::uint64_t line = 0;
    std::uint32_t x = 0;
    unsigned channel = 0;

    void skipLines(std::uint32_t count)
    {
        line += count;
        x = 0;
    }
    void setChannel(unsigned c)
    {
        channel = c;
        x = 0;
    }
    void skipPixels(std::uint32_t count) { x = count >= width - x ? width : x + count; }

    // Draws `count` samples with put(at, n), clipped to the row, and moves past all of them.
    // Samples of alpha, or of a channel the header does not declare, are read and dropped. False
    // when the samples would overspend the budget.
    template <typename Put>
    bool draw(std::uint32_t count, Put put)
    {
        if (channel < stride) {
            const std::uint32_t n = std::min(count, width - x);
            if (n > budget)
                return false;
            budget -= n;
            put(rows.row(static_cast<std::uint32_t>(line)) + channel + std::size_t{x} * stride, n);
        }
        skipPixels(count);
        return true;
    }
};

// Runs the instruction stream over `raw`, whose pixels hold the stored channels interleaved.
// Every write is clipped to the row; the stream ends at the end-of-image instruction or past the
// top row. A stream that writes far more pixels than the picture holds is refused, so a small
// file cannot keep the reader busy for long. Rows hold memory from the first write that reaches
// them, so a stream cut short costs only the lines it drew.
Status drawStream(ByteReader& in, const Image& raw, GrowingRows& rows)
{
    const unsigned stride = raw.channels();
    Cursor at{rows, raw.width, stride, 2 * std::uint64_t{raw.width} * raw.height * stride};
    const Status tooMuch = failure(Error::badData, "utah: more pixel data than the picture holds");
    while (at.line < raw.height) {
        std::uint8_t opcode = 0, shortOperand = 0;
        if (!in.u8(opcode) || !in.u8(shortOperand))
            return failure(Error::truncated, "utah: image data cut short");
        std::uint32_t operand = shortOperand;
        if (opcode & kLongForm) {
            std::uint16_t longOperand = 0;
            if (!in.u16le(longOperand))
                return failure(Error::truncated, "utah: image data cut short");
            operand = longOperand;
        }
        switch (opcode & ~kLongForm) {
        case kSkipLines:
            at.skipLines(operand);
            break;
        case kSetColour:
            at.setChannel(operand);
            break;
        case kSkipPixels:
            at.skipPixels(operand);
            break;
        case kByteData: {
            const std::uint32_t count = operand + 1;
            std::span<const std::uint8_t> data;
            if (!in.bytes(count, data) || !in.skip(count & 1u))
                return failure(Error::truncated, "utah: pixel data cut short");
            if (!at.draw(count, [&](std::uint8_t* to, std::uint32_t n) { putSamples(to, stride, data.data(), n); }))
                return tooMuch;
            break;
        }
        case kRunData: {
            const std::uint32_t count = operand + 1;
            std::uint16_t value = 0;
            if (!in.u16le(value))
                return failure(Error::truncated, "utah: run cut short");
            const auto level = static_cast<std::uint8_t>(value & 0xFF);
            if (!at.draw(count, [&](std::uint8_t* to, std::uint32_t n) { putRun(to, stride, level, n); }))
                return tooMuch;
            break;
        }
        case kEndOfImage:
            return success();
        default:
            return failure(Error::badData, "utah: unknown instruction");
        }
    }
    return success();
}

// The stored channels through the colour maps: grey stays grey, a single channel with three maps
// becomes RGB.
Status applyMaps(const Header& h, Image& image)
{
    if (h.channels == 1 && h.maps == 3) {
        Image rgb;
        if (const Status status = allocate(rgb, image.width, image.height, PixelFormat::rgb); !status)
            return status;
        std::uint8_t* px = rgb.pixels.data();
        for (const std::uint8_t v : image.pixels) {
            *px++ = h.lookup[0][v];
            *px++ = h.lookup[1][v];
            *px++ = h.lookup[2][v];
        }
        image = std::move(rgb);
    } else if (h.maps != 0) {
        const unsigned n = image.channels();
        for (std::size_t i = 0; i < image.pixels.size(); i += n)
            for (unsigned c = 0; c < n; ++c)
                image.pixels[i + c] = h.lookup[c][image.pixels[i + c]];
    }
    return success();
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    Header header;
    return readHeader(in, header).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    ByteReader in(file);
    Header header;
    if (Status status = readHeader(in, header); !status)
        return status;
    if (Status status = readVariableFields(in, header); !status)
        return status;

    // No data is too short to allocate for: an end-of-image instruction alone is a whole picture
    // of background. Rows hold memory only as the stream reaches them instead.
    Image raw;
    GrowingRows rows;
    const PixelFormat stored = header.channels == 1 ? PixelFormat::grey : PixelFormat::rgb;
    if (Status status = rows.start(raw, header.width, header.height, stored, GrowingRows::Order::bottomUp); !status)
        return status;
    if (!(header.flags & kNoBackground))
        fillBackground(rows, raw, header.background);
    if (Status status = drawStream(in, raw, rows); !status)
        return status;
    rows.finish();
    if (Status status = applyMaps(header, raw); !status)
        return status;
    out = std::move(raw);
    return success();
}

}  // namespace imglib::utah
