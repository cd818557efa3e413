#include "imglib/formats/pnm/header.h"

#include <algorithm>

#include "imglib/core/size.h"

namespace imglib::pnm {

namespace {

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

const Status kCutShort = failure(Error::truncated, "pnm: data cut short");

}  // namespace

bool Scanner::peek(std::uint8_t& c)
{
    if (!r_.u8(c))
        return false;
    r_.seek(r_.position() - 1);
    return true;
}

void Scanner::skipComment()
{
    std::uint8_t c = 0;
    while (r_.u8(c) && c != '\n' && c != '\r') {}
}

bool Scanner::skipSeparators()
{
    std::uint8_t c = 0;
    while (peek(c)) {
        if (c == '#')
            skipComment();
        else if (isSpace(c))
            r_.skip(1);
        else
            return true;
    }
    return false;
}

Status Scanner::number(std::uint32_t limit, std::uint32_t& value)
{
    if (!skipSeparators())
        return kCutShort;
    std::uint8_t c = 0;
    if (!peek(c) || !isDigit(c))
        return failure(Error::badData, "pnm: a number was expected");
    std::uint64_t v = 0;
    while (peek(c) && isDigit(c)) {
        r_.skip(1);
        v = std::min<std::uint64_t>(v * 10 + (c - '0'), std::uint64_t{limit} + 1);
    }
    if (peek(c) && !isSpace(c) && c != '#')
        return failure(Error::badData, "pnm: a number runs into other characters");
    value = static_cast<std::uint32_t>(v);
    return success();
}

Status Scanner::bit(std::uint8_t& value)
{
    if (!skipSeparators())
        return kCutShort;
    std::uint8_t c = 0;
    r_.u8(c);
    if (c != '0' && c != '1')
        return failure(Error::badData, "pnm: a bitmap holds only 0 and 1");
    value = static_cast<std::uint8_t>(c - '0');
    return success();
}

namespace {

// The raster of a binary image follows a single whitespace character after the last number of
// the header; a comment there ends with its line, which then counts as that character.
Status skipRasterSeparator(ByteReader& r)
{
    std::uint8_t c = 0;
    if (!r.u8(c))
        return kCutShort;
    if (c == '#') {
        while (r.u8(c) && c != '\n' && c != '\r') {}
        return success();
    }
    return isSpace(c) ? success() : failure(Error::badHeader, "pnm: no whitespace before the raster");
}

Status parse(std::span<const std::uint8_t> file, Header& h)
{
    ByteReader r(file);
    std::uint8_t p = 0, kind = 0;
    if (!r.u8(p) || !r.u8(kind) || p != 'P' || kind < '1' || kind > '6')
        return failure(Error::badHeader, "pnm: not a P1–P6 signature");
    h.kind = static_cast<char>(kind);
    Scanner scan(r);
    // Sides past the limit read as limit + 1, which validation refuses.
    if (auto s = scan.number(UINT32_MAX - 1, h.width); !s)
        return s.error == Error::badData ? failure(Error::badHeader, "pnm: bad width") : s;
    if (auto s = scan.number(UINT32_MAX - 1, h.height); !s)
        return s.error == Error::badData ? failure(Error::badHeader, "pnm: bad height") : s;
    if (!h.bitmap()) {
        if (auto s = scan.number(65536, h.maxval); !s)
            return s.error == Error::badData ? failure(Error::badHeader, "pnm: bad maxval") : s;
    }
    if (!h.plain()) {
        if (auto s = skipRasterSeparator(r); !s)
            return s;
    }
    h.rasterOffset = r.position();
    return success();
}

// The fewest bytes that can hold the raster.
std::uint64_t smallestRaster(const Header& h)
{
    const std::uint32_t sampleBits = h.bitmap() ? 1 : h.maxval > 255 ? 16 : 8;
    const std::uint32_t bits = h.plain() ? 8 * h.channels() : sampleBits * h.channels();
    const auto layout = layoutOf(h.width, h.height, bits);
    if (!layout)
        return UINT64_MAX;
    if (h.plain() && !h.bitmap())
        return 2 * std::uint64_t{layout->totalBytes} - 1;  // one digit and one separator a sample
    return layout->totalBytes;                             // a plain bitmap's digits need no separators
}

// Whether the file is long enough for the raster, counted at its fewest bytes: so a tiny file
// cannot claim a huge image.
bool holdsEnoughData(const Header& h, std::uint64_t fileSize) { return smallestRaster(h) <= fileSize - h.rasterOffset; }

Status validate(const Header& h, std::uint64_t fileSize)
{
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "pnm: empty image");
    if (h.maxval < 1 || h.maxval > 65535)
        return failure(Error::badHeader, "pnm: maxval out of range");
    if (!withinLimits(h.width, h.height))
        return failure(Error::tooLarge, "pnm: image over the size limits");
    if (!holdsEnoughData(h, fileSize))
        return failure(Error::truncated, "pnm: raster cut short");
    return success();
}

}  // namespace

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    header = Header{};
    if (auto s = parse(file, header); !s)
        return s;
    return validate(header, file.size());
}

}  // namespace imglib::pnm
