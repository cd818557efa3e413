// Reading samples from strips and tiles. libtiff decompresses each chunk (and puts 16-bit
// samples in the machine's byte order, and undoes FillOrder and predictors); the samples are
// then brought to 8 bits here and put together into pixels. Two fast paths skip that: rows of
// 8-bit samples already in the image's layout are copied, and 1-bit indices expanded.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imglib/core/colour.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"
#include "imglib/formats/tiff/readers.h"
#include "imglib/formats/tiff/session.h"

namespace imglib::tiff {

namespace {

unsigned channelsOf(Route route)
{
    switch (route) {
    case Route::rgb:
        return 3;
    case Route::cmyk:
        return 4;
    default:
        return 1;
    }
}

PixelFormat formatOf(Route route)
{
    switch (route) {
    case Route::grey:
        return PixelFormat::grey;
    case Route::bilevel:
    case Route::indexed:
        return PixelFormat::indexed;
    default:
        return PixelFormat::rgb;
    }
}

// Sample value → 8-bit level, rounded; MinIsWhite turned the right way up.
std::vector<std::uint8_t> levelsOf(unsigned bits, bool minIsWhite)
{
    std::vector<std::uint8_t> levels = scaledLevels((std::uint32_t{1} << bits) - 1);
    if (minIsWhite)
        for (std::uint8_t& level : levels)
            level = static_cast<std::uint8_t>(255 - level);
    return levels;
}

// The colour map, one entry for each of the 2^bits values, rounded to 8 bits like samples. A map
// whose entries all fit in 8 bits was written with 8-bit values, as some old writers did, and is
// taken as it is (libtiff's RGBA interface allows for the same slip).
Status colourMapOf(TIFF* tif, unsigned bits, std::vector<Colour>& colours)
{
    std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 1 || !r || !g || !b)
        return failure(Error::badHeader, "tiff: palette image without a colour map");
    const std::size_t count = std::size_t{1} << bits;
    bool sixteenBits = false;
    for (std::size_t i = 0; i < count && !sixteenBits; ++i)
        sixteenBits = r[i] > 255 || g[i] > 255 || b[i] > 255;
    const auto eight = [&](std::uint16_t v) { return sixteenBits ? scaleTo8(v, 65535) : static_cast<std::uint8_t>(v); };
    colours.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        colours[i] = {eight(r[i]), eight(g[i]), eight(b[i])};
    return success();
}

// The values of `count` samples of one stored row, in order: packed most significant bit first,
// or whole bytes and 16-bit words.
void unpack(const std::uint8_t* row, unsigned bits, std::size_t count, std::uint16_t* out)
{
    if (bits == 8) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = row[i];
        return;
    }
    if (bits == 16) {
        std::memcpy(out, row, count * 2);
        return;
    }

    const std::uint32_t mask = (std::uint32_t{1} << bits) - 1;
    std::uint32_t held = 0;
    unsigned heldBits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        while (heldBits < bits) {
            held = held << 8 | *row++;
            heldBits += 8;
        }
        heldBits -= bits;
        out[i] = static_cast<std::uint16_t>(held >> heldBits & mask);
    }
}

// One byte a pixel from 1-bit samples, eight at a time: fax pages have tens of millions of pixels.
void expandBits(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out)
{
    static const auto kBytesOf = [] {
        std::array<std::array<std::uint8_t, 8>, 256> table{};
        for (unsigned v = 0; v < 256; ++v)
            for (unsigned b = 0; b < 8; ++b)
                table[v][b] = static_cast<std::uint8_t>(v >> (7 - b) & 1);
        return table;
    }();
    const std::uint32_t whole = count / 8;
    for (std::uint32_t i = 0; i < whole; ++i)
        std::memcpy(out + 8 * i, kBytesOf[row[i]].data(), 8);
    if (const std::uint32_t rest = count % 8)
        std::memcpy(out + 8 * whole, kBytesOf[row[whole]].data(), rest);
}

// Associated alpha: the stored colours were multiplied by alpha. Dividing it out leaves each
// pixel's own colour once alpha is dropped, as for files with unassociated alpha.
void unpremultiply(std::uint16_t* const* channel, unsigned channels, const std::uint16_t* alpha, std::size_t step,
                   std::uint32_t count, std::uint32_t max)
{
    for (std::uint32_t x = 0; x < count; ++x) {
        const std::uint32_t a = alpha[x * step];
        for (unsigned c = 0; c < channels; ++c) {
            std::uint16_t& v = channel[c][x * step];
            v = static_cast<std::uint16_t>(a == 0 ? 0 : std::min(max, (v * max + a / 2) / a));
        }
    }
}

// Turns sample values into pixels of the route's image kind.
struct Converter {
    Route route;
    std::vector<std::uint8_t> levels;
    std::vector<Colour> colours;       // palette routes
    std::unique_ptr<InksToSrgb> inks;  // the CMYK route, with a usable profile
    // Rows of 8-bit inks waiting for it, of one strip or tile, converted kInkRows at a time (a
    // call spreads its rows over the threads), and where their pixels go.
    static constexpr std::size_t kInkRows = 16;
    std::size_t inkStride = 0;  // bytes of a row of inks
    std::vector<std::uint8_t> inkRows;
    std::array<const std::uint8_t*, kInkRows> inkRow{};
    std::array<std::uint8_t*, kInkRows> inkDst{};
    std::size_t waiting = 0;
    std::uint32_t inkWidth = 0;

    // Writes `count` pixels whose channel c is at channel[c][x * step]; ink rows once flushed,
    // which the caller does after each strip or tile.
    void put(const std::uint16_t* const* channel, std::size_t step, std::uint32_t count, std::uint8_t* dst)
    {
        if (inks) {
            std::uint8_t* row = inkRows.data() + waiting * inkStride;
            for (std::uint32_t x = 0; x < count; ++x)
                for (int c = 0; c < 4; ++c)
                    row[4 * x + c] = levels[channel[c][x * step]];
            inkRow[waiting] = row, inkDst[waiting] = dst, inkWidth = count;
            if (++waiting == kInkRows)
                flush();
            return;
        }
        const std::uint16_t* c0 = channel[0];
        switch (route) {
        case Route::grey:
            for (std::uint32_t x = 0; x < count; ++x)
                dst[x] = levels[c0[x * step]];
            break;
        case Route::bilevel:
        case Route::indexed:
            for (std::uint32_t x = 0; x < count; ++x)
                dst[x] = static_cast<std::uint8_t>(c0[x * step]);
            break;
        case Route::paletteToRgb:
            for (std::uint32_t x = 0; x < count; ++x, dst += 3) {
                const Colour c = colours[c0[x * step]];
                dst[0] = c.r, dst[1] = c.g, dst[2] = c.b;
            }
            break;
        case Route::rgb:
            for (std::uint32_t x = 0; x < count; ++x, dst += 3)
                for (int c = 0; c < 3; ++c)
                    dst[c] = levels[channel[c][x * step]];
            break;
        case Route::cmyk:
            for (std::uint32_t x = 0; x < count; ++x, dst += 3) {
                const unsigned black = levels[channel[3][x * step]];
                for (int c = 0; c < 3; ++c)
                    dst[c] = lightUnderInks(levels[channel[c][x * step]], black);
            }
            break;
        case Route::rgba:
            break;
        }
    }

    // Converts the ink rows waiting.
    void flush()
    {
        if (waiting > 0)
            inks->convert(inkRow.data(), inkDst.data(), waiting, inkWidth);
        waiting = 0;
    }
};

Status converterFor(TIFF* tif, const Header& h, Route route, Converter& converter)
{
    converter.route = route;
    if (route == Route::indexed || route == Route::paletteToRgb)
        return colourMapOf(tif, h.bitsPerSample, converter.colours);
    converter.levels = levelsOf(h.bitsPerSample, h.photometric == PHOTOMETRIC_MINISWHITE);
    if (route == Route::cmyk && !h.iccProfile.empty()) {
        try {
            converter.inks = std::make_unique<InksToSrgb>(h.iccProfile, false);
            if (!*converter.inks)
                converter.inks.reset();
            else
                converter.inkStride = std::size_t{h.chunkWidth} * 4,
                converter.inkRows.resize(Converter::kInkRows * converter.inkStride);
        } catch (const std::bad_alloc&) {
            return failure(Error::outOfMemory, "tiff: no memory for the colour profile");
        }
    }
    if (route == Route::bilevel)
        for (std::uint8_t level : {converter.levels[0], converter.levels[1]})
            converter.colours.push_back({level, level, level});
    return success();
}

// Decodes one strip or tile of one plane into `buffer`: all of a tile, the rows used of a strip.
Status readChunk(TIFF* tif, const Header& h, std::uint32_t x, std::uint32_t y, std::uint16_t plane, tmsize_t bytes,
                 std::uint8_t* buffer)
{
    const tmsize_t got = h.tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, plane), buffer, bytes)
                                 : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), buffer, bytes);
    if (got != bytes)
        return failure(Error::badData, "tiff: a strip or tile cannot be decoded");
    return success();
}

// Where the samples of a pixel are: all in one plane, or one plane per channel (alpha after the
// colours). Channels past those the route uses are read and dropped.
struct SampleLayout {
    unsigned channels;  // the route's colour channels
    bool separate;      // one plane per channel
    bool withAlpha;     // associated alpha, divided out of the colours
    unsigned planes;    // planes read
    unsigned perUnit;   // samples a pixel in one plane
};

constexpr unsigned kMostPlanes = 5;  // four inks and alpha

SampleLayout sampleLayoutOf(const Header& h, Route route)
{
    SampleLayout l{};
    l.channels = channelsOf(route);
    l.separate = h.separatePlanes();
    l.withAlpha = h.associatedAlpha && (route == Route::grey || route == Route::rgb) && h.samplesPerPixel > l.channels;
    l.planes = l.separate ? l.channels + (l.withAlpha ? 1 : 0) : 1;
    l.perUnit = l.separate ? 1 : h.samplesPerPixel;
    return l;
}

// How a stored row becomes image pixels, chosen once for the image.
enum class RowPath {
    copy,           // 8-bit samples already in the image's layout
    bitsToIndices,  // 1-bit samples that are indices, eight at a time
    general,        // anything else: unpacked, alpha divided out, converted
};

RowPath rowPathOf(const Header& h, Route route, const SampleLayout& l)
{
    const bool asStored = h.bitsPerSample == 8 && l.perUnit == l.channels && !l.withAlpha &&
                          (route == Route::indexed || route == Route::rgb ||
                           (route == Route::grey && h.photometric == PHOTOMETRIC_MINISBLACK));
    if (asStored)
        return RowPath::copy;
    if (h.bitsPerSample == 1 && l.perUnit == 1 && formatOf(route) == PixelFormat::indexed)
        return RowPath::bitsToIndices;
    return RowPath::general;
}

// The general path: each plane's row unpacked to sample values, associated alpha divided out,
// then the values converted to the route's pixels.
class GeneralRows {
public:
    Status prepare(TIFF* tif, const Header& h, Route route, const SampleLayout& l)
    {
        layout_ = l;
        bits_ = h.bitsPerSample;
        maxValue_ = (std::uint32_t{1} << h.bitsPerSample) - 1;
        if (auto s = converterFor(tif, h, route, converter_); !s)
            return s;
        try {
            values_.assign(l.planes, std::vector<std::uint16_t>(std::size_t{h.chunkWidth} * l.perUnit));
        } catch (const std::bad_alloc&) {
            return failure(Error::outOfMemory, "tiff: no memory for a strip or tile");
        }
        // Channel c of pixel x is channel_[c][x * perUnit]; alpha follows the colours.
        for (unsigned c = 0; c < l.channels + (l.withAlpha ? 1 : 0); ++c)
            channel_[c] = l.separate ? values_[c].data() : values_[0].data() + c;
        return success();
    }

    // The palette of an indexed image.
    const std::vector<Colour>& palette() const { return converter_.colours; }

    void put(const std::uint8_t* const* planeRows, std::uint32_t columns, std::uint8_t* dst)
    {
        for (unsigned p = 0; p < layout_.planes; ++p)
            unpack(planeRows[p], bits_, std::size_t{columns} * layout_.perUnit, values_[p].data());
        if (layout_.withAlpha)
            unpremultiply(channel_.data(), layout_.channels, channel_[layout_.channels], layout_.perUnit, columns,
                          maxValue_);
        converter_.put(channel_.data(), layout_.perUnit, columns, dst);
    }

    // Finishes the rows put so far (the CMYK route's are converted in batches).
    void flush() { converter_.flush(); }

private:
    SampleLayout layout_{};
    unsigned bits_ = 0;
    std::uint32_t maxValue_ = 0;
    Converter converter_;
    std::vector<std::vector<std::uint16_t>> values_;
    std::array<std::uint16_t*, kMostPlanes> channel_{};
};

}  // namespace

Status readSamples(TIFF* tif, const Header& h, Route route, Image& out)
{
    const SampleLayout samples = sampleLayoutOf(h, route);
    const auto chunk = layoutOf(h.chunkWidth, h.chunkHeight, samples.perUnit * h.bitsPerSample);
    if (!chunk || chunk->totalBytes > kMaxChunkBytes)
        return failure(Error::tooLarge, "tiff: strip or tile too large");
    const std::uint64_t storedRow = h.tiled ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif);
    if (storedRow != chunk->rowBytes)
        return failure(Error::unsupported, "tiff: unexpected sample layout");

    GeneralRows general;
    if (auto s = general.prepare(tif, h, route, samples); !s)
        return s;
    // Rows hold memory as they are decoded: a few bytes of compressed data can stand for a strip,
    // and strips may share their data, so a damaged file costs only the rows before the damage.
    GrowingRows grown;
    if (auto s = grown.start(out, h.width, h.height, formatOf(route)); !s)
        return s;
    if (out.format == PixelFormat::indexed)
        out.palette = general.palette();
    const RowPath path = rowPathOf(h, route, samples);

    // A strip may be as large as the image: its buffer too holds memory only as libtiff decodes.
    std::vector<ZeroedBuffer<std::uint8_t>> chunks;
    try {
        for (unsigned p = 0; p < samples.planes; ++p)
            chunks.push_back(zeroedBuffer<std::uint8_t>(chunk->totalBytes));
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "tiff: no memory for a strip or tile");
    }
    if (std::any_of(chunks.begin(), chunks.end(), [](const auto& buffer) { return !buffer; }))
        return failure(Error::outOfMemory, "tiff: no memory for a strip or tile");

    std::array<const std::uint8_t*, kMostPlanes> planeRows{};
    for (std::uint32_t y = 0; y < h.height; y += h.chunkHeight) {
        const std::uint32_t rows = std::min(h.chunkHeight, h.height - y);
        for (std::uint32_t x = 0; x < h.width; x += h.chunkWidth) {
            const std::uint32_t columns = std::min(h.chunkWidth, h.width - x);
            const tmsize_t bytes =
                h.tiled ? static_cast<tmsize_t>(chunk->totalBytes) : static_cast<tmsize_t>(rows * chunk->rowBytes);
            for (unsigned p = 0; p < samples.planes; ++p)
                if (auto s = readChunk(tif, h, x, y, static_cast<std::uint16_t>(p), bytes, chunks[p].get()); !s)
                    return s;
            for (std::uint32_t r = 0; r < rows; ++r) {
                for (unsigned p = 0; p < samples.planes; ++p)
                    planeRows[p] = chunks[p].get() + r * chunk->rowBytes;
                std::uint8_t* dst = grown.row(y + r) + std::size_t{x} * out.channels();
                switch (path) {
                case RowPath::copy:
                    std::memcpy(dst, planeRows[0], std::size_t{columns} * samples.channels);
                    break;
                case RowPath::bitsToIndices:
                    expandBits(planeRows[0], columns, dst);
                    break;
                case RowPath::general:
                    general.put(planeRows.data(), columns, dst);
                    break;
                }
            }
            general.flush();
        }
    }
    grown.finish();
    return success();
}

}  // namespace imglib::tiff
