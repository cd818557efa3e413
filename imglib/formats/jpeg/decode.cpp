// JPEG through libjpeg-turbo, read from memory straight into the image rows.
//
// libjpeg reports a fatal error by calling error_exit, which must not return; ours longjmps back
// to readStream(). So that the jump skips no destructor, readStream() keeps only trivially
// destructible locals, and everything that needs cleaning up lives in decode(), outside the jump.
// Warnings fail too: libjpeg raises them for damaged data it would otherwise paper over (a
// stream cut short, a corrupt entropy segment), and a damaged file is not to be taken for a good
// one. The one warning let through is stray bytes between the header's segments: editors and
// text-mode transfers leave them, libjpeg skips them, and no pixel depends on them.
//
// The orientation a camera records in the Exif block is applied once the rows are decoded.
#include "imglib/formats/jpeg/jpeg.h"

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/core/growing_rows.h"
#include "imglib/core/size.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE without including stdio.h

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

// Reads the rows of a CMYK or YCCK stream through a small buffer of libjpeg's, converting each.
void readInkRows(jpeg_decompress_struct& cinfo, GrowingRows& out)
{
    const JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                       cinfo.output_width * 4, kRowsPerCall);
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION got = readSomeRows(cinfo, rows, kRowsPerCall);
        for (JDIMENSION i = 0; i < got; ++i)
            inksToRgb(rows[i], out.row(first + i), cinfo.output_width, inverted);
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

// The orientation the saved APP1 segments record: the first other than stored order, as only an
// Exif block records one.
Orientation orientationOfMarkers(const jpeg_decompress_struct& cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        const Orientation found =
            m->marker == JPEG_APP0 + 1 ? readExif({m->data, m->data_length}).orientation : Orientation::topLeft;
        if (found != Orientation::topLeft)
            return found;
    }
    return Orientation::topLeft;
}

// Everything that may longjmp. Only trivially destructible locals here.
Status readStream(jpeg_decompress_struct& cinfo, Callbacks& callbacks, std::span<const std::uint8_t> file, Image& out,
                  GrowingRows& rows, Orientation& orientation)
{
    if (setjmp(callbacks.jump))
        return callbacks.status;
    jpeg_create_decompress(&cinfo);  // clears every field but the error manager
    cinfo.progress = &callbacks.progress;
    cinfo.mem->max_memory_to_use = kMaxWorkingMemory;
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    callbacks.inHeader = true;
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        return failure(Error::badHeader, "jpeg: no image in the stream");
    callbacks.inHeader = false;
    orientation = orientationOfMarkers(cinfo);
    // libjpeg takes one component as grey whatever Adobe's transform says; YCC there is a lie.
    if (cinfo.num_components == 1 && cinfo.saw_Adobe_marker && cinfo.Adobe_transform != 0)
        return failure(Error::badHeader, "jpeg: colour transform on a grey image");

    PixelFormat format = PixelFormat::rgb;
    bool inks = false;
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
        inks = true;
        break;
    default:
        return failure(Error::unsupported, "jpeg: colour space not supported");
    }
    jpeg_calc_output_dimensions(&cinfo);
    if (!withinLimits(cinfo.output_width, cinfo.output_height))
        return failure(Error::tooLarge, "jpeg: image size over the limits");
    if (!holdsEnoughData(cinfo, file.size()))
        return failure(Error::truncated, "jpeg: the data ends early");
    // Rows are committed as they are decoded: a progressive stream cut short fails while its scans
    // are read, holding no more than the coefficients its data reached.
    if (auto s = rows.start(out, cinfo.output_width, cinfo.output_height, format); !s)
        return s;

    jpeg_start_decompress(&cinfo);
    if (inks)
        readInkRows(cinfo, rows);
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
    Orientation orientation = Orientation::topLeft;
    Status status = readStream(cinfo, callbacks, file, out, rows, orientation);
    jpeg_destroy_decompress(&cinfo);
    if (status)
        status = makeUpright(out, orientation);
    if (!status)
        out = Image{};
    return status;
}

}  // namespace imglib::jpeg
