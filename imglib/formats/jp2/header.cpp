#include "imglib/formats/jp2/header.h"

#include <cmath>
#include <cstring>

#include "imglib/core/boxes.h"
#include "imglib/core/byte_reader.h"
#include "imglib/core/size.h"

namespace imglib::jp2 {

namespace {

constexpr std::uint8_t kSignature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint16_t kStartOfCodestream = 0xFF4F, kImageSize = 0xFF51, kStartOfTilePart = 0xFF90,
                        kEndOfCodestream = 0xFFD9;
// Tile-parts number their tile in 16 bits, 65535 excluded.
constexpr std::uint64_t kMaxTiles = 65535;
// openjpeg keeps every sample of every component as a 32-bit integer: four components of the
// largest image allowed is as much as a file may ask for.
constexpr std::uint64_t kMaxSamples = 4 * kMaxPixels;

// One of the 'res ' box's resolutions: numerator / denominator × 10^exponent pixels per metre,
// vertical first. Unknown when a field is zero.
Resolution resolutionOf(std::span<const std::uint8_t> body)
{
    ByteReader in(body);
    std::uint16_t vn = 0, vd = 0, hn = 0, hd = 0;
    std::uint8_t ve = 0, he = 0;
    if (!in.u16be(vn) || !in.u16be(vd) || !in.u16be(hn) || !in.u16be(hd) || !in.u8(ve) || !in.u8(he) || vn == 0 ||
        vd == 0 || hn == 0 || hd == 0)
        return {};
    const auto perMetre = [](double n, double d, std::uint8_t exponent) {
        return n / d * std::pow(10.0, static_cast<std::int8_t>(exponent));
    };
    return perCentimetre(perMetre(hn, hd, he) / 100, perMetre(vn, vd, ve) / 100);
}

// The resolution of the JP2 header box's 'res ' box: for display ('resd') rather than the
// capture's ('resc').
Resolution resolutionInJp2Header(std::span<const std::uint8_t> jp2h)
{
    ByteReader in(jp2h);
    for (Box box; readBox(in, box) == BoxRead::ok;) {
        if (box.type != fourcc("res "))
            continue;
        Resolution capture, display;
        ByteReader inner(box.body);
        for (Box r; readBox(inner, r) == BoxRead::ok;) {
            if (r.type == fourcc("resd"))
                display = resolutionOf(r.body);
            else if (r.type == fourcc("resc"))
                capture = resolutionOf(r.body);
        }
        return display.known() ? display : capture;
    }
    return {};
}

// A JP2 file's boxes: the signature, then everything up to the first codestream box.
Status readBoxes(std::span<const std::uint8_t> file, Header& header)
{
    ByteReader in(file);
    if (!in.skip(sizeof kSignature))
        return failure(Error::truncated, "jp2: the file ends in its signature");
    for (Box box;;) {
        const BoxRead read = readBox(in, box);
        if (read == BoxRead::cut)
            return failure(Error::truncated, "jp2: the file ends before its codestream");
        if (read == BoxRead::broken)
            return failure(Error::badHeader, "jp2: a box smaller than its header");
        if (box.type == fourcc("jp2h"))
            header.resolution = resolutionInJp2Header(box.body);
        if (box.type == fourcc("jp2c")) {
            header.codestream = box.body;
            return success();
        }
    }
}

// The SIZ segment, which follows the start-of-codestream marker.
Status readImageSize(std::span<const std::uint8_t> codestream, Header& header)
{
    ByteReader in(codestream);
    std::uint16_t soc = 0, siz = 0, length = 0, capabilities = 0, count = 0;
    if (!in.u16be(soc) || !in.u16be(siz) || !in.u16be(length))
        return failure(Error::truncated, "jp2: the data ends in the codestream's first marker");
    if (soc != kStartOfCodestream || siz != kImageSize)
        return failure(Error::badHeader, "jp2: the codestream does not start with SOC and SIZ");
    if (!in.u16be(capabilities) || !in.u32be(header.x1) || !in.u32be(header.y1) || !in.u32be(header.x0) ||
        !in.u32be(header.y0) || !in.u32be(header.tileWidth) || !in.u32be(header.tileHeight) ||
        !in.u32be(header.tileX0) || !in.u32be(header.tileY0) || !in.u16be(count))
        return failure(Error::truncated, "jp2: the data ends in the SIZ segment");
    if (length != 38 + 3 * std::uint32_t{count})
        return failure(Error::badHeader, "jp2: SIZ length does not match its component count");
    header.components.resize(count);
    for (auto& component : header.components) {
        std::uint8_t depth = 0;
        if (!in.u8(depth) || !in.u8(component.dx) || !in.u8(component.dy))
            return failure(Error::truncated, "jp2: the data ends in the SIZ segment");
        component.isSigned = depth & 0x80;
        component.bits = static_cast<std::uint8_t>((depth & 0x7F) + 1);
    }
    return success();
}

std::uint32_t ceilDiv(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::uint32_t>((std::uint64_t{a} + b - 1) / b);
}

// The main header's marker segments after SOC, up to the first tile-part; false when the data
// ends first.
bool skipMainHeader(ByteReader& in)
{
    if (!in.skip(2))
        return false;
    for (std::uint16_t marker = 0, length = 0;;) {
        const std::size_t at = in.position();
        if (!in.u16be(marker))
            return false;
        if (marker == kStartOfTilePart) {
            in.seek(at);
            return true;
        }
        if (marker >= 0xFF30 && marker <= 0xFF3F)  // reserved for markers without a segment
            continue;
        if (!in.u16be(length) || length < 2 || !in.skip(length - 2u))
            return false;
    }
}

}  // namespace

std::uint64_t Header::tileCount() const
{
    return std::uint64_t{ceilDiv(x1 - tileX0, tileWidth)} * ceilDiv(y1 - tileY0, tileHeight);
}

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    header = Header{};
    if (file.size() >= sizeof kSignature && std::memcmp(file.data(), kSignature, sizeof kSignature) == 0) {
        header.boxed = true;
        if (auto s = readBoxes(file, header); !s)
            return s;
    } else {
        header.codestream = file;
    }
    return readImageSize(header.codestream, header);
}

Status validate(const Header& header)
{
    if (header.x0 >= header.x1 || header.y0 >= header.y1)
        return failure(Error::badHeader, "jp2: empty image area");
    if (!withinLimits(header.width(), header.height()))
        return failure(Error::tooLarge, "jp2: image size over the limits");
    if (header.tileWidth == 0 || header.tileHeight == 0 || header.tileX0 > header.x0 || header.tileY0 > header.y0 ||
        std::uint64_t{header.tileX0} + header.tileWidth <= header.x0 ||
        std::uint64_t{header.tileY0} + header.tileHeight <= header.y0)
        return failure(Error::badHeader, "jp2: tiles do not cover the image");
    if (header.tileCount() > kMaxTiles)
        return failure(Error::badHeader, "jp2: too many tiles");
    if (header.components.empty() || header.components.size() > 16384)
        return failure(Error::badHeader, "jp2: component count out of range");
    std::uint64_t samples = 0;
    for (const auto& c : header.components) {
        if (c.dx == 0 || c.dy == 0)
            return failure(Error::badHeader, "jp2: component sampled every 0 pixels");
        if (c.bits > 38)
            return failure(Error::badHeader, "jp2: component of more than 38 bits");
        if (c.bits > 16)
            return failure(Error::unsupported, "jp2: samples of more than 16 bits");
        samples += std::uint64_t{ceilDiv(header.x1, c.dx) - ceilDiv(header.x0, c.dx)} *
                   (ceilDiv(header.y1, c.dy) - ceilDiv(header.y0, c.dy));
    }
    if (samples > kMaxSamples)
        return failure(Error::tooLarge, "jp2: components over the size limits");
    return success();
}

Status holdsEnoughData(const Header& header)
{
    ByteReader in(header.codestream);
    if (!skipMainHeader(in))
        return failure(Error::truncated, "jp2: the data ends in the codestream's main header");
    // Parts seen and parts announced (0: not said) of each tile.
    std::vector<std::uint8_t> seen(header.tileCount()), announced(header.tileCount());
    for (bool ended = false; !ended;) {
        const std::size_t start = in.position();
        std::uint16_t marker = 0, length = 0, tile = 0;
        std::uint32_t partLength = 0;
        std::uint8_t partIndex = 0, parts = 0;
        if (!in.u16be(marker))
            return failure(Error::truncated, "jp2: the codestream ends without its end marker");
        if (marker == kEndOfCodestream)
            break;
        if (marker != kStartOfTilePart)
            return failure(Error::badData, "jp2: no tile-part where one should start");
        if (!in.u16be(length) || !in.u16be(tile) || !in.u32be(partLength) || !in.u8(partIndex) || !in.u8(parts))
            return failure(Error::truncated, "jp2: the data ends in a tile-part header");
        if (length != 10 || tile >= seen.size())
            return failure(Error::badData, "jp2: bad tile-part header");
        seen[tile] = static_cast<std::uint8_t>(std::min(255, seen[tile] + 1));
        announced[tile] = std::max(announced[tile], parts);
        if (partLength == 0) {  // the last tile-part, running up to the end marker
            const auto end = header.codestream.last(2);
            if (end[0] != 0xFF || end[1] != 0xD9)
                return failure(Error::truncated, "jp2: the codestream ends without its end marker");
            ended = true;
        } else if (partLength < 14) {
            return failure(Error::badData, "jp2: tile-part shorter than its header");
        } else if (!in.seek(start) || !in.skip(partLength)) {
            return failure(Error::truncated, "jp2: the data ends inside a tile-part");
        }
    }
    for (std::size_t t = 0; t < seen.size(); ++t)
        if (seen[t] == 0 || seen[t] < announced[t])
            return failure(Error::truncated, "jp2: tile-parts missing");
    return success();
}

}  // namespace imglib::jp2
