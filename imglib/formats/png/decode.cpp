// PNG through libpng, read from memory into the image rows.
//
// libpng reports a fatal error by calling onError, which must not return; it longjmps back to
// readStream(). So that the jump skips no destructor, readStream() keeps only trivially
// destructible locals, and everything that needs cleaning up lives in decode(), outside the jump.
// A damaged file fails: a chunk whose checksum does not match (critical or not), a stream cut
// short anywhere, even after the last row.
//
// libpng hands over the stored samples alone (unpacked to a byte each below 8 bits); scaling,
// transparency and the interlace passes are ours (rows.h). Of the ancillary chunks only those
// the image needs are read: its pixel size (pHYs), its ICC profile (iCCP) and the orientation
// its Exif block records (eXIf, before or after the image data). libpng skips the others after
// checking their checksums.
#include "imglib/formats/png/png.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include <png.h>

#include "imglib/core/byte_reader.h"
#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"
#include "imglib/formats/png/rows.h"

namespace imglib::png {

namespace {

// An ancillary chunk held whole, an ICC profile once inflated or an Exif block: far above real ones.
constexpr png_alloc_size_t kMostChunkBytes = 16 << 20;
// Ancillary chunks kept: only the three read are, each once.
constexpr png_uint_32 kMostChunksKept = 16;
// Deflate's best: 258 bytes from two bits.
constexpr std::uint64_t kMostInflatedPerByte = 1032;
constexpr std::uint32_t kIdat = 0x49444154;

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    bool interlaced = false;
};

// What libpng calls back into: the file it reads and the failure it reports.
struct Session {
    std::span<const std::uint8_t> file;
    std::size_t position = 0;
    Status status;
    bool inRows = false;
};

// What the file states besides its pixels.
struct Facts {
    Orientation orientation = Orientation::topLeft;
    Resolution resolution;
};

// What decode() owns for readStream(), out of the jump's way.
struct Buffers {
    GrowingRows rows;
    std::vector<std::uint8_t> stored;   // one row as libpng hands it over
    std::vector<std::uint8_t> levels;   // scaleTo8 of every stored sample value
    std::vector<std::uint8_t> profile;  // the ICC profile, inflated
};

Status statusOfMessage(std::string_view message, bool inRows)
{
    if (message.find("CRC") != std::string_view::npos)
        return failure(Error::badData, "png: a chunk's checksum does not match");
    if (message.find("emory") != std::string_view::npos)
        return failure(Error::outOfMemory, "png: no memory to decode");
    return inRows ? failure(Error::badData, "png: corrupt image data")
                  : failure(Error::badHeader, "png: bad or missing header chunk");
}

Session& sessionOf(png_structp png) { return *static_cast<Session*>(png_get_error_ptr(png)); }

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    Session& session = sessionOf(png);
    if (session.status.ok())
        session.status = statusOfMessage(message, session.inRows);
    png_longjmp(png, 1);
}

// libpng warns of each limit a header passes, then fails with "Invalid IHDR data".
void onWarning(png_structp png, png_const_charp message)
{
    Session& session = sessionOf(png);
    if (session.status.ok() && std::string_view(message).find("exceeds user limit") != std::string_view::npos)
        session.status = failure(Error::tooLarge, "png: image size over the limits");
}

void readBytes(png_structp png, png_bytep data, png_size_t length)
{
    Session& session = sessionOf(png);
    if (length > session.file.size() - session.position) {
        session.status = failure(Error::truncated, "png: the data ends early");
        png_error(png, "cut short");
    }
    std::memcpy(data, session.file.data() + session.position, length);
    session.position += length;
}

void setLimits(png_structp png)
{
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, kMostChunkBytes);
    png_set_chunk_cache_max(png, kMostChunksKept);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    static constexpr png_byte kChunksRead[] = "pHYs\0iCCP\0eXIf";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kChunksRead, 3);
}

Header headerOf(png_structp png, png_infop info)
{
    Header h;
    int interlace = PNG_INTERLACE_NONE;
    png_get_IHDR(png, info, &h.width, &h.height, &h.bitDepth, &h.colourType, &interlace, nullptr, nullptr);
    h.interlaced = interlace != PNG_INTERLACE_NONE;
    return h;
}

// libpng has checked the rest of the header.
Status validate(const Header& h)
{
    if (!withinLimits(h.width, h.height))
        return failure(Error::tooLarge, "png: image size over the limits");
    return success();
}

Layout sampleLayoutOf(const Header& h)
{
    switch (h.colourType) {
    case PNG_COLOR_TYPE_PALETTE:
        return Layout::indexed;
    case PNG_COLOR_TYPE_GRAY:
        return Layout::grey;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return Layout::greyAlpha;
    case PNG_COLOR_TYPE_RGB:
        return Layout::rgb;
    default:
        return Layout::rgba;
    }
}

unsigned samplesOf(Layout layout)
{
    switch (layout) {
    case Layout::greyAlpha:
        return 2;
    case Layout::rgb:
        return 3;
    case Layout::rgba:
        return 4;
    default:
        return 1;
    }
}

PixelFormat kindOf(const Header& h)
{
    switch (sampleLayoutOf(h)) {
    case Layout::indexed:
        return PixelFormat::indexed;
    case Layout::grey:
    case Layout::greyAlpha:
        return PixelFormat::grey;
    default:
        return PixelFormat::rgb;
    }
}

// The bytes of the IDAT chunks present, one cut short included.
std::uint64_t imageDataBytes(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    std::uint64_t total = 0;
    std::uint32_t length = 0, type = 0;
    if (!in.skip(8))
        return 0;
    while (in.u32be(length) && in.u32be(type)) {
        if (type == kIdat)
            total += std::min<std::uint64_t>(length, in.remaining());
        if (!in.skip(std::uint64_t{length} + 4))
            break;
    }
    return total;
}

// Whether the compressed data could inflate to the stored samples at all.
bool holdsEnoughData(const Header& h, std::span<const std::uint8_t> file)
{
    const auto stored = layoutOf(h.width, h.height, samplesOf(sampleLayoutOf(h)) * h.bitDepth);
    return stored && imageDataBytes(file) * kMostInflatedPerByte >= stored->totalBytes;
}

RowConverter converterOf(png_structp png, png_infop info, const Header& h, std::vector<std::uint8_t>& levels)
{
    RowConverter c;
    c.layout = sampleLayoutOf(h);
    c.sampleBytes = h.bitDepth == 16 ? 2 : 1;
    if (c.layout == Layout::indexed)
        return c;
    levels = scaledLevels((1u << h.bitDepth) - 1);
    c.levels = levels.data();
    png_color_16p key = nullptr;
    if ((c.layout == Layout::grey || c.layout == Layout::rgb) && png_get_tRNS(png, info, nullptr, nullptr, &key) &&
        key != nullptr) {
        c.keyed = true;
        if (c.layout == Layout::grey) {
            c.key[0] = key->gray;
        } else {
            c.key[0] = key->red;
            c.key[1] = key->green;
            c.key[2] = key->blue;
        }
    }
    return c;
}

// Rows of 8-bit samples with nothing transparent are read straight into the image.
bool readsAsStored(const Header& h, const RowConverter& c)
{
    return c.layout == Layout::indexed ||
           (h.bitDepth == 8 && !c.keyed && (c.layout == Layout::grey || c.layout == Layout::rgb));
}

void readRows(png_structp png, const Header& h, const RowConverter& c, Buffers& b)
{
    std::uint8_t* stored = b.stored.data();
    if (!h.interlaced) {
        const bool asStored = readsAsStored(h, c);
        for (png_uint_32 y = 0; y < h.height; ++y) {
            std::uint8_t* row = b.rows.row(y);
            png_read_row(png, asStored ? row : stored, nullptr);
            if (!asStored)
                c.convert(stored, h.width, row, 1);
        }
        return;
    }
    // Adam7: seven passes, each over a grid of pixels; libpng skips those the image is too small for.
    const unsigned channels = kindOf(h) == PixelFormat::rgb ? 3 : 1;
    for (int pass = 0; pass < 7; ++pass) {
        const png_uint_32 columns = PNG_PASS_COLS(h.width, pass);
        const png_uint_32 rows = columns == 0 ? 0 : PNG_PASS_ROWS(h.height, pass);
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(png, stored, nullptr);
            std::uint8_t* row = b.rows.row(PNG_ROW_FROM_PASS_ROW(r, pass));
            c.convert(stored, columns, row + PNG_PASS_START_COL(pass) * channels, PNG_PASS_COL_OFFSET(pass));
        }
    }
}

// The palette entries seen through their tRNS alpha over white. Indices past the palette (a
// damaged file) show black, as libpng expands them.
void setPalette(png_structp png, png_infop info, Image& image)
{
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    png_bytep alpha = nullptr;
    int alphas = 0;
    png_get_tRNS(png, info, &alpha, &alphas, nullptr);
    std::vector<Colour> seen(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const unsigned a = i < alphas && alpha != nullptr ? alpha[i] : 255;
        seen[i] = {overWhite(entries[i].red, a), overWhite(entries[i].green, a), overWhite(entries[i].blue, a)};
    }
    setPaletteCovering(image, seen);
}

Facts factsOf(png_structp png, png_infop info, std::vector<std::uint8_t>& profile)
{
    Facts facts;
    png_uint_32 x = 0, y = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER)
        facts.resolution = perCentimetre(x / 100.0, y / 100.0);
    png_uint_32 exifBytes = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifBytes, &exif) && exif != nullptr)
        facts.orientation = readExif({exif, exifBytes}).orientation;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep data = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &data, &length) && data != nullptr)
        profile.assign(data, data + length);
    return facts;
}

// Everything that may longjmp. Only trivially destructible locals here.
Status readStream(png_structp png, png_infop info, Session& session, Image& out, Buffers& buffers, Facts& facts)
{
    if (setjmp(png_jmpbuf(png)))
        return session.status;
    png_set_read_fn(png, &session, readBytes);
    setLimits(png);
    png_read_info(png, info);
    const Header h = headerOf(png, info);
    if (auto s = validate(h); !s)
        return s;
    if (!holdsEnoughData(h, session.file))
        return failure(Error::truncated, "png: too little image data for the image's size");
    if (h.bitDepth < 8)
        png_set_packing(png);
    png_read_update_info(png, info);
    const RowConverter converter = converterOf(png, info, h, buffers.levels);
    // Rows are committed as they are decoded: a stream cut short holds the rows it reached.
    if (auto s = buffers.rows.start(out, h.width, h.height, kindOf(h)); !s)
        return s;
    buffers.stored.resize(png_get_rowbytes(png, info));
    session.inRows = true;
    readRows(png, h, converter, buffers);
    png_read_end(png, info);
    buffers.rows.finish();
    if (converter.layout == Layout::indexed)
        setPalette(png, info, out);
    facts = factsOf(png, info, buffers.profile);
    return success();
}

// The profile, then the orientation, which turns the stated pixel size with the picture.
Status applyFacts(Image& image, const Facts& facts, std::span<const std::uint8_t> profile)
{
    image.resolution = facts.resolution;
    if (auto s = toSrgb(image, profile); !s)
        return s;
    return makeUpright(image, facts.orientation);
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file) { return file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0; }

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "png: no PNG signature");
    Session session;
    session.file = file;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, onError, onWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    Buffers buffers;
    Facts facts;
    Status status = failure(Error::outOfMemory, "png: no memory to decode");
    if (info != nullptr) {
        try {
            status = readStream(png, info, session, out, buffers, facts);
        } catch (const std::bad_alloc&) {
            status = failure(Error::outOfMemory, "png: no memory to decode");
        }
    }
    png_destroy_read_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr, nullptr);
    if (status)
        status = applyFacts(out, facts, buffers.profile);
    if (!status)
        out = Image{};
    return status;
}

}  // namespace imglib::png
