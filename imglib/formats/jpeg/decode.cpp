// JPEG through libjpeg-turbo, read from memory straight into the image rows.
//
// libjpeg reports a fatal error by calling error_exit, which must not return; ours longjmps back
// to readHeader() or readPixels(), whichever is running. So that the jump skips no destructor,
// those two keep only trivially destructible locals, and everything that needs cleaning up lives
// in decode(), outside the jump.
// Warnings fail too: libjpeg raises them for damaged data it would otherwise paper over (a
// stream cut short, a corrupt entropy segment), and a damaged file is not to be taken for a good
// one. The one warning let through is stray bytes between the header's segments: editors and
// text-mode transfers leave them, libjpeg skips them, and no pixel depends on them.
//
// Between the header and the rows, what the header's segments state is gathered: the orientation
// a camera records in the Exif block (applied once the rows are decoded), the resolution, and an
// embedded colour profile (applied to the inks as they are decoded, or to the decoded samples).
#include "imglib/formats/jpeg/jpeg.h"

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/profile.h"
#include "imglib/core/size.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE without including stdio.h
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace imglib::jpeg {

namespace {

// Well above what encoders write (about ten); a file with thousands of scans over a large image
// would take minutes to decode.
constexpr int kMaxScans = 500;
// Ceiling on libjpeg's own working memory. Progressive files keep every coefficient of the image,
// two bytes a sample: 54 MB for an 18-megapixel photograph.
constexpr long kMaxWorkingMemory = 1L << 30;
// Rows asked of libjpeg per call; it returns as many as its output buffer holds.
constexpr int kRowsPerCall = 16;

// What libjpeg calls back into while decoding.
struct Callbacks {
    jpeg_error_mgr errors;  // first member: libjpeg hands back a pointer to it
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    Status status;
    bool inHeader = false;
};

Callbacks& callbacksOf(j_common_ptr cinfo) { return *reinterpret_cast<Callbacks*>(cinfo->err); }

[[noreturn]] void fail(j_common_ptr cinfo, Status status)
{
    callbacksOf(cinfo).status = status;
    std::longjmp(callbacksOf(cinfo).jump, 1);
}

Status statusOfMessage(int code)
{
    switch (code) {
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
    case JWRN_JPEG_EOF:
        return failure(Error::truncated, "jpeg: the data ends early");
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return failure(Error::tooLarge, "jpeg: image too large");
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
        return failure(Error::outOfMemory, "jpeg: no memory to decode");
    case JERR_NO_SOI:
    case JERR_SOF_NO_SOS:
    case JERR_EMPTY_IMAGE:
    case JERR_BAD_COMPONENT_ID:
    case JERR_COMPONENT_COUNT:
    case JERR_BAD_PRECISION:
    case JERR_BAD_SAMPLING:
    case JERR_SOS_NO_SOF:
        return failure(Error::badHeader, "jpeg: bad frame or scan header");
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_SOF_UNSUPPORTED:
        return failure(Error::unsupported, "jpeg: variant not supported");
    default:
        return failure(Error::badData, "jpeg: corrupt data");
    }
}

[[noreturn]] void onError(j_common_ptr cinfo) { fail(cinfo, statusOfMessage(cinfo->err->msg_code)); }

void onMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)  // trace messages
        return;
    if (cinfo->err->msg_code == JWRN_EXTRANEOUS_DATA && callbacksOf(cinfo).inHeader)
        return;
    fail(cinfo, statusOfMessage(cinfo->err->msg_code));
}

void onProgress(j_common_ptr cinfo)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans)
        fail(cinfo, failure(Error::badData, "jpeg: too many scans"));
}

// A sequential Huffman stream spends at least two bits on every block: one code for the DC
// difference, one for the end of block (or the last AC coefficient). A file shorter than that is
// cut short whatever else it holds, and is refused before its image is allocated.
bool holdsEnoughData(const jpeg_decompress_struct& cinfo, std::size_t fileBytes)
{
    if (cinfo.progressive_mode || cinfo.arith_code)
        return true;  // end-of-band runs and arithmetic coding spend less than a bit on a block
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += std::uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
    return blocks / 4 <= fileBytes;
}

// Adobe's files store the inks inverted (0 = full ink), others do not.
void inksToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, JDIMENSION width, bool inverted)
{
    const unsigned flip = inverted ? 255 : 0;
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned black = cmyk[3] ^ flip;
        for (int c = 0; c < 3; ++c)
            rgb[c] = lightUnderInks(cmyk[c] ^ flip, black);
    }
}

// A source in memory never suspends, so libjpeg always returns rows; were it not to, the loops
// below would never end.
JDIMENSION readSomeRows(jpeg_decompress_struct& cinfo, JSAMPARRAY rows, JDIMENSION count)
{
    const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, count);
    if (got == 0)
        fail(reinterpret_cast<j_common_ptr>(&cinfo), failure(Error::badData, "jpeg: no rows decoded"));
    return got;
}

// Reads the rows of a CMYK or YCCK stream through a small buffer of libjpeg's, converting each
// through the embedded profile when there is a usable one.
void readInkRows(jpeg_decompress_struct& cinfo, GrowingRows& out, const InksToSrgb* profile)
{
    const JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                       cinfo.output_width * 4, kRowsPerCall);
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION got = readSomeRows(cinfo, rows, kRowsPerCall);
        std::uint8_t* converted[kRowsPerCall];
        for (JDIMENSION i = 0; i < got; ++i)
            converted[i] = out.row(first + i);  // committed here: the profile's conversion uses two threads
        if (profile) {
            profile->convert(rows, converted, got, cinfo.output_width);
            continue;
        }
        for (JDIMENSION i = 0; i < got; ++i)
            inksToRgb(rows[i], converted[i], cinfo.output_width, inverted);
    }
}

// Decodes straight into the image, several rows a call.
void readRows(jpeg_decompress_struct& cinfo, GrowingRows& out)
{
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = out.row(first + i);
        readSomeRows(cinfo, rows, count);
    }
}

// What the header's segments state about the picture besides its samples.
struct Stated {
    Orientation orientation = Orientation::topLeft;
    Resolution resolution;
    std::vector<std::uint8_t> profile;  // the embedded ICC profile, empty when none is whole
    std::unique_ptr<InksToSrgb> inks;   // the profile's conversion of inks, when usable
};

// The resolution of the JFIF segment when it states one in inches or centimetres; without a unit
// its densities are only an aspect ratio. JFIF's units 0, 1 and 2 are TIFF's 1, 2 and 3.
Resolution jfifResolution(const jpeg_decompress_struct& cinfo)
{
    if (!cinfo.saw_JFIF_marker)
        return {};
    return resolutionInUnit(std::uint16_t(cinfo.density_unit + 1), cinfo.X_density, cinfo.Y_density);
}

// The ICC profile of the APP2 segments, each "ICC_PROFILE\0", its number from 1, the number of
// segments, then its share of the profile: joined in their numbers' order. A segment missing or
// given twice, or counts that disagree, mean no profile.
std::vector<std::uint8_t> embeddedProfile(const jpeg_decompress_struct& cinfo)
{
    constexpr char kTag[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
    constexpr unsigned kPrefix = sizeof kTag + 2;
    std::vector<jpeg_saved_marker_ptr> segments;  // by number - 1
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kPrefix || std::memcmp(m->data, kTag, sizeof kTag) != 0)
            continue;
        const unsigned number = m->data[sizeof kTag], count = m->data[sizeof kTag + 1];
        if (segments.empty())
            segments.assign(count, nullptr);
        if (count != segments.size() || number == 0 || number > count || segments[number - 1] != nullptr)
            return {};
        segments[number - 1] = m;
    }
    std::vector<std::uint8_t> profile;
    for (const jpeg_saved_marker_ptr m : segments) {
        if (m == nullptr)
            return {};
        profile.insert(profile.end(), m->data + kPrefix, m->data + m->data_length);
    }
    return profile;
}

// The profile's conversion of inks, when the frame holds inks and the profile is a usable CMYK one.
std::unique_ptr<InksToSrgb> inkConversion(const jpeg_decompress_struct& cinfo, const std::vector<std::uint8_t>& profile)
{
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (!inks || profile.empty())
        return nullptr;
    auto conversion = std::make_unique<InksToSrgb>(profile, cinfo.saw_Adobe_marker != 0);
    return *conversion ? std::move(conversion) : nullptr;
}

// The orientation is the first other than stored order, as only an Exif block records one; the
// resolution JFIF's when it has units, else the first an Exif block states.
Status readStated(const jpeg_decompress_struct& cinfo, Stated& stated)
{
    stated.resolution = jfifResolution(cinfo);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker != JPEG_APP0 + 1)
            continue;
        const ExifFacts exif = readExif({m->data, m->data_length});
        if (stated.orientation == Orientation::topLeft)
            stated.orientation = exif.orientation;
        if (!stated.resolution.known())
            stated.resolution = exif.resolution;
    }
    try {
        stated.profile = embeddedProfile(cinfo);
        stated.inks = inkConversion(cinfo, stated.profile);
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "jpeg: no memory for the colour profile");
    }
    return success();
}

// The header, up to the frame's colour space. May longjmp: only trivially destructible locals.
Status readHeader(jpeg_decompress_struct& cinfo, Callbacks& callbacks, std::span<const std::uint8_t> file)
{
    if (setjmp(callbacks.jump))
        return callbacks.status;
    jpeg_create_decompress(&cinfo);  // clears every field but the error manager
    cinfo.progress = &callbacks.progress;
    cinfo.mem->max_memory_to_use = kMaxWorkingMemory;
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    callbacks.inHeader = true;
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        return failure(Error::badHeader, "jpeg: no image in the stream");
    callbacks.inHeader = false;
    // libjpeg takes one component as grey whatever Adobe's transform says; YCC there is a lie.
    if (cinfo.num_components == 1 && cinfo.saw_Adobe_marker && cinfo.Adobe_transform != 0)
        return failure(Error::badHeader, "jpeg: colour transform on a grey image");
    return success();
}

// The rows; inks through `inks` when there is one. May longjmp: only trivially destructible
// locals.
Status readPixels(jpeg_decompress_struct& cinfo, Callbacks& callbacks, std::size_t fileBytes, Image& out,
                  GrowingRows& rows, const InksToSrgb* inks)
{
    if (setjmp(callbacks.jump))
        return callbacks.status;
    PixelFormat format = PixelFormat::rgb;
    bool cmyk = false;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        format = PixelFormat::grey;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo.out_color_space = JCS_RGB;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        return failure(Error::unsupported, "jpeg: colour space not supported");
    }
    jpeg_calc_output_dimensions(&cinfo);
    if (!withinLimits(cinfo.output_width, cinfo.output_height))
        return failure(Error::tooLarge, "jpeg: image size over the limits");
    if (!holdsEnoughData(cinfo, fileBytes))
        return failure(Error::truncated, "jpeg: the data ends early");
    // Rows are committed as they are decoded: a progressive stream cut short fails while its scans
    // are read, holding no more than the coefficients its data reached.
    if (auto s = rows.start(out, cinfo.output_width, cinfo.output_height, format); !s)
        return s;

    jpeg_start_decompress(&cinfo);
    if (cmyk)
        readInkRows(cinfo, rows, inks);
    else
        readRows(cinfo, rows);
    jpeg_finish_decompress(&cinfo);
    rows.finish();
    return success();
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "jpeg: no start-of-image marker");
    if (file.size() > ULONG_MAX)
        return failure(Error::tooLarge, "jpeg: file too large");

    Callbacks callbacks{};
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&callbacks.errors);
    callbacks.errors.error_exit = onError;
    callbacks.errors.emit_message = onMessage;
    callbacks.errors.output_message = [](j_common_ptr) {};
    callbacks.progress.progress_monitor = onProgress;

    GrowingRows rows;
    Stated stated;
    Status status = readHeader(cinfo, callbacks, file);
    if (status)
        status = readStated(cinfo, stated);
    if (status)
        status = readPixels(cinfo, callbacks, file.size(), out, rows, stated.inks.get());
    jpeg_destroy_decompress(&cinfo);
    if (status) {
        out.resolution = stated.resolution;
        // A profile already applied to the inks is not opened a second time.
        status = toSrgb(out, stated.inks ? std::span<const std::uint8_t>{} : std::span(stated.profile));
    }
    if (status)
        status = makeUpright(out, stated.orientation);
    if (!status)
        out = Image{};
    return status;
}

}  // namespace imglib::jpeg
