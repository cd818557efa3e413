// TIFF writing through libtiff. The file is written beside the target through an AtomicFile and
// renamed over it only once libtiff has written every strip and every directory, so a failed write
// leaves no partial file and keeps an earlier file of that name. Each page has a directory of its
// own, laid out for its image alone.
//
// Layouts: indexed images become palette images, 4 bits a pixel when the palette has at most 16
// entries (half the size, and every baseline reader reads 4-bit palettes), 8 bits otherwise;
// grey images 8-bit MinIsBlack; RGB images 8-bit contiguous RGB, both with the horizontal
// predictor under LZW. The bilevel kind writes 1 bit a pixel, MinIsWhite as fax pages are: an
// image of two colours gets the darker one black and the other white; an image of one colour or
// more than two is thresholded, Rec. 601 luma below 128 black. Strips hold about 64 KiB.
#include <algorithm>
#include <optional>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "imglib/core/colour.h"
#include "imglib/core/file_io.h"
#include "imglib/core/parallel.h"
#include "imglib/core/size.h"
#include "imglib/formats/tiff/session.h"
#include "imglib/formats/tiff/tiff.h"

namespace imglib::tiff {

namespace {

constexpr std::size_t kStripBytes = 64 * 1024;
// Strips encoded at once, about 2 MB of rows: enough for every thread, little held in memory.
constexpr std::uint32_t kStripsAtOnce = 32;

Colour colourAt(const Image& image, const std::uint8_t* row, std::uint32_t x)
{
    switch (image.format) {
    case PixelFormat::indexed:
        return image.palette[row[x]];
    case PixelFormat::grey:
        return {row[x], row[x], row[x]};
    case PixelFormat::rgb:
        break;
    }
    return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

unsigned lumaOf(Colour c) { return luma601(c.r, c.g, c.b); }

// Which pixels of a bilevel page are black.
class BlackRule {
public:
    explicit BlackRule(const Image& image)
    {
        Colour seen[3];
        unsigned count = 0;
        for (std::uint32_t y = 0; y < image.height && count < 3; ++y) {
            const std::uint8_t* row = image.row(y);
            for (std::uint32_t x = 0; x < image.width && count < 3; ++x) {
                const Colour c = colourAt(image, row, x);
                if (std::find(seen, seen + count, c) == seen + count)
                    seen[count++] = c;
            }
        }
        twoColours_ = count == 2;
        const auto key = [](Colour c) { return std::tuple(lumaOf(c), c.r, c.g, c.b); };
        dark_ = key(seen[0]) < key(seen[1]) ? seen[0] : seen[1];
    }
    bool black(Colour c) const { return twoColours_ ? c == dark_ : lumaOf(c) < 128; }

private:
    bool twoColours_ = false;
    Colour dark_;
};

struct FileLayout {
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t samplesPerPixel = 1;
    std::size_t rowBytes = 0;
};

FileLayout layoutFor(const Image& image, Kind kind)
{
    FileLayout f;
    if (kind == Kind::ccittHuffman) {
        f.photometric = PHOTOMETRIC_MINISWHITE;
        f.bitsPerSample = 1;
    } else if (image.format == PixelFormat::indexed) {
        f.photometric = PHOTOMETRIC_PALETTE;
        f.bitsPerSample = image.palette.size() <= 16 ? 4 : 8;
    } else if (image.format == PixelFormat::rgb) {
        f.photometric = PHOTOMETRIC_RGB;
        f.samplesPerPixel = 3;
    }
    f.rowBytes = layoutOf(image.width, 1, std::uint32_t{f.bitsPerSample} * f.samplesPerPixel)->rowBytes;
    return f;
}

std::uint16_t compressionOf(Kind kind)
{
    switch (kind) {
    case Kind::lzw:
        return COMPRESSION_LZW;
    case Kind::uncompressed:
        return COMPRESSION_NONE;
    case Kind::ccittHuffman:
        return COMPRESSION_CCITTRLE;
    case Kind::packBits:
        return COMPRESSION_PACKBITS;
    }
    return COMPRESSION_NONE;
}

// One row as the file stores it, packed most significant bit first below 8 bits.
void storedRow(const Image& image, const FileLayout& f, const BlackRule* rule, std::uint32_t y, std::uint8_t* out)
{
    const std::uint8_t* row = image.row(y);
    if (f.bitsPerSample == 8) {
        std::copy(row, row + image.stride(), out);
        return;
    }
    std::fill(out, out + f.rowBytes, 0);
    for (std::uint32_t x = 0; x < image.width; ++x) {
        if (f.bitsPerSample == 4)
            out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | row[x] << (x % 2 ? 0 : 4));
        else if (rule->black(colourAt(image, row, x)))
            out[x / 8] = static_cast<std::uint8_t>(out[x / 8] | 0x80 >> (x % 8));
    }
}

// The resolution the image states, per centimetre when it was stated in metric units; an image
// that states none gets 72 dpi, as bitmaps do.
bool setResolution(TIFF* tif, const Resolution& stated)
{
    const Resolution r = stated.known() ? stated : Resolution{72, 72, false};
    const double perUnit = r.metric ? 2.54 : 1;
    return TIFFSetField(tif, TIFFTAG_XRESOLUTION, r.x / perUnit) &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, r.y / perUnit) &&
           TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, r.metric ? RESUNIT_CENTIMETER : RESUNIT_INCH);
}

bool setTags(TIFF* tif, const Image& image, Kind kind, const FileLayout& f, std::uint32_t rowsPerStrip)
{
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bitsPerSample) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samplesPerPixel) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compressionOf(kind)) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) && setResolution(tif, image.resolution);
    // Differencing neighbours makes LZW two to three times better on photographs; on palette indices
    // the differences mean nothing.
    if (ok && kind == Kind::lzw && f.photometric != PHOTOMETRIC_PALETTE)
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (ok && f.photometric == PHOTOMETRIC_PALETTE) {
        // 2^bits entries; those past the image's palette stay black.
        std::vector<std::uint16_t> map(3 * (std::size_t{1} << f.bitsPerSample), 0);
        const std::size_t n = map.size() / 3;
        for (std::size_t i = 0; i < image.palette.size(); ++i) {
            map[i] = static_cast<std::uint16_t>(image.palette[i].r * 257);
            map[n + i] = static_cast<std::uint16_t>(image.palette[i].g * 257);
            map[2 * n + i] = static_cast<std::uint16_t>(image.palette[i].b * 257);
        }
        ok = TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    return ok;
}

struct EncodedStrip {
    std::vector<std::uint8_t> bytes;
    bool ok = false;
};

// Encodes strips [begin, end) into out[0 …] through a TIFF of their own in memory, with the tags of
// the file. Strips go through a buffer of ours: the image is const, and libtiff's predictor works
// in place.
void encodeBand(const Image& image, Kind kind, const FileLayout& f, const BlackRule* rule, std::uint32_t rowsPerStrip,
                std::size_t begin, std::size_t end, EncodedStrip* out)
{
    MemoryOutput memory;
    Messages messages;
    const TiffHandle tif = openMemoryForWriting(memory, messages);
    if (!tif || !setTags(tif.get(), image, kind, f, rowsPerStrip))
        return;
    std::vector<std::uint8_t> buffer(f.rowBytes * rowsPerStrip);
    for (auto index = static_cast<std::uint32_t>(begin); index < end; ++index) {
        const std::uint32_t y = index * rowsPerStrip, rows = std::min(rowsPerStrip, image.height - y);
        for (std::uint32_t r = 0; r < rows; ++r)
            storedRow(image, f, rule, y + r, buffer.data() + r * f.rowBytes);
        if (TIFFWriteEncodedStrip(tif.get(), index, buffer.data(), static_cast<tmsize_t>(rows * f.rowBytes)) < 0 ||
            messages.errors > 0)
            return;
        const std::uint64_t offset = TIFFGetStrileOffset(tif.get(), index);
        const std::uint64_t count = TIFFGetStrileByteCount(tif.get(), index);
        if (offset > memory.bytes.size() || count > memory.bytes.size() - offset)
            return;
        EncodedStrip& strip = out[index - begin];
        strip.bytes.assign(memory.bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                           memory.bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
        strip.ok = true;
    }
}

// Strips first to end - 1 encoded, each on its own (its encoding depends on its rows alone), the
// strips of one band per thread: the same bytes whatever the thread count.
std::vector<EncodedStrip> encodeStrips(const Image& image, Kind kind, const FileLayout& f, const BlackRule* rule,
                                       std::uint32_t rowsPerStrip, std::uint32_t first, std::uint32_t end)
{
    std::vector<EncodedStrip> strips(end - first);
    parallelFor(strips.size(), 1, [&](std::size_t, std::size_t begin, std::size_t stop) {
        encodeBand(image, kind, f, rule, rowsPerStrip, first + begin, first + stop, strips.data() + begin);
    });
    return strips;
}

Status writeTo(TIFF* tif, const Image& image, Kind kind)
{
    const FileLayout f = layoutFor(image, kind);
    const std::uint32_t rowsPerStrip =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(kStripBytes / f.rowBytes, 1, image.height));
    if (!setTags(tif, image, kind, f, rowsPerStrip))
        return failure(Error::io, "tiff: libtiff refused a tag");
    const std::optional<BlackRule> rule =
        kind == Kind::ccittHuffman ? std::optional<BlackRule>(BlackRule(image)) : std::nullopt;

    // The strips are encoded a batch at a time and written in order, so that only a batch of
    // encoded strips is held at once.
    const std::uint32_t count = (image.height + rowsPerStrip - 1) / rowsPerStrip;
    for (std::uint32_t first = 0; first < count; first += kStripsAtOnce) {
        const std::uint32_t end = std::min(count, first + kStripsAtOnce);
        const std::vector<EncodedStrip> strips =
            encodeStrips(image, kind, f, rule ? &*rule : nullptr, rowsPerStrip, first, end);
        for (std::uint32_t index = first; index < end; ++index) {
            const EncodedStrip& strip = strips[index - first];
            if (!strip.ok || TIFFWriteRawStrip(tif, index, const_cast<std::uint8_t*>(strip.bytes.data()),
                                               static_cast<tmsize_t>(strip.bytes.size())) < 0)
                return failure(Error::io, "tiff: a strip cannot be written");
        }
    }
    if (!TIFFWriteDirectory(tif))
        return failure(Error::io, "tiff: the directory cannot be written");
    return success();
}

}  // namespace

struct PageWriter::Output {
    AtomicFile file;
    Messages messages;
    TiffHandle tif;  // after the file and the messages, so that it is closed first
    std::uint32_t pages = 0;
};

PageWriter::PageWriter() = default;
PageWriter::~PageWriter() = default;

Status PageWriter::open(const std::string& path)
{
    output_.reset();
    auto output = std::make_unique<Output>();
    if (auto s = output->file.open(path); !s)
        return s;
    // libtiff closes the descriptor it is given: it gets a duplicate, the AtomicFile keeps its own.
    const int fd = ::dup(output->file.fd());
    if (fd < 0)
        return failure(Error::io, "tiff: cannot duplicate the file descriptor");
    output->tif = openDescriptorForWriting(fd, output->messages);
    if (!output->tif) {
        ::close(fd);
        return failure(Error::io, "tiff: libtiff cannot start the file");
    }
    output_ = std::move(output);
    return success();
}

Status PageWriter::add(const Image& image, Kind kind)
{
    if (!output_)
        return failure(Error::badArgument, "tiff: no file open for pages");
    Status status = isWellFormed(image) ? writeTo(output_->tif.get(), image, kind)
                                        : failure(Error::badArgument, "tiff: the image is not well formed");
    if (status && output_->messages.errors > 0)
        status = failure(Error::io, "tiff: libtiff reported an error while writing");
    if (!status)
        output_.reset();  // the AtomicFile removes the temporary file
    else
        ++output_->pages;
    return status;
}

Status PageWriter::commit()
{
    const std::unique_ptr<Output> output = std::move(output_);
    if (!output || output->pages == 0)
        return failure(Error::badArgument, "tiff: no page to write");
    output->tif.reset();  // TIFFClose: flushes and closes the duplicate
    if (output->messages.errors > 0)
        return failure(Error::io, "tiff: libtiff reported an error while writing");
    return output->file.commit();
}

Status write(const Image& image, Kind kind, const std::string& path)
{
    if (!isWellFormed(image))
        return failure(Error::badArgument, "tiff: the image is not well formed");
    PageWriter writer;
    if (auto s = writer.open(path); !s)
        return s;
    if (auto s = writer.add(image, kind); !s)
        return s;
    return writer.commit();
}

}  // namespace imglib::tiff
