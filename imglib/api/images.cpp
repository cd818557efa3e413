#include "imglib/api/images.h"

#include <array>
#include <optional>
#include <unistd.h>
#include <vector>

#include "imglib/core/file_io.h"
#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/registry.h"
#include "imglib/formats/tiff/tiff.h"

namespace imglib {

Status readImage(const char* path, Image& out)
{
    std::vector<std::uint8_t> file;
    if (auto s = readWholeFile(path, file); !s)
        return s;
    return decodeAny(file, out);
}

namespace {

std::optional<tiff::Kind> tiffKindOf(std::int32_t format)
{
    switch (static_cast<WriteFormat>(format)) {
    case WriteFormat::tiffLzw:
        return tiff::Kind::lzw;
    case WriteFormat::tiffUncompressed:
        return tiff::Kind::uncompressed;
    case WriteFormat::tiffCcittHuffman:
        return tiff::Kind::ccittHuffman;
    case WriteFormat::tiffPackBits:
        return tiff::Kind::packBits;
    case WriteFormat::bmp:
        break;
    }
    return std::nullopt;
}

// The codec of a file that may hold several pages, recognised from its first bytes: every such
// format has a signature, and comes in the sniff table before the formats recognised by a header
// alone. Null for any other file.
const Codec* codecOfSeveralPages(const InputFile& file)
{
    std::array<std::uint8_t, 16> first{};
    const ssize_t got = ::pread(file.fd(), first.data(), first.size(), 0);
    const Codec* codec = recognise(std::span(first).first(got > 0 ? static_cast<std::size_t>(got) : 0));
    return codec != nullptr && codec->openPages != nullptr ? codec : nullptr;
}

// The pages of an open file whose codec of several pages, if any, is known: read from the file
// when the codec can, else from its bytes, held in `bytes`.
Status openPagesOf(InputFile& file, const Codec* several, std::vector<std::uint8_t>& bytes,
                   std::unique_ptr<Pages>& pages)
{
    if (several != nullptr && several->openPagesOfFile != nullptr)
        return several->openPagesOfFile(file.fd(), file.size(), pages);
    if (auto s = file.readAll(bytes); !s)
        return s;
    return openPagesOfAny(bytes, pages);
}

}  // namespace

Status PagedFile::open(const char* path)
{
    pages_.reset();
    bytes_.clear();
    InputFile file;
    if (auto s = file.open(path); !s)
        return s;
    return openPagesOf(file, codecOfSeveralPages(file), bytes_, pages_);
}

Status countPages(const char* path, std::uint32_t& count)
{
    count = 1;
    InputFile file;
    if (auto s = file.open(path); !s)
        return s;
    const Codec* several = codecOfSeveralPages(file);
    if (several == nullptr)
        return success();
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<Pages> pages;
    if (auto s = openPagesOf(file, several, bytes, pages); !s)
        return s;
    count = pages ? pages->count() : 0;
    return success();
}

Status PagedFile::readPage(std::uint32_t page, Image& out)
{
    if (!pages_ || page >= pages_->count())
        return failure(Error::badArgument, "pages: no such page");
    return pages_->read(page, out);
}

Status writeImage(const Image& image, const char* path, std::int32_t format)
{
    if (path == nullptr || *path == '\0')
        return failure(Error::badArgument, "write: empty path");
    if (static_cast<WriteFormat>(format) == WriteFormat::bmp)
        return bmp::write(image, path);
    if (const auto kind = tiffKindOf(format))
        return tiff::write(image, *kind, path);
    return failure(Error::badArgument, "write: unknown format number");
}

Status TiffPageWriter::open(const char* path)
{
    writer_.reset();
    if (path == nullptr || *path == '\0')
        return failure(Error::badArgument, "write: empty path");
    writer_.emplace();
    if (auto s = writer_->open(path); !s) {
        writer_.reset();
        return s;
    }
    return success();
}

Status TiffPageWriter::add(const Image& image, std::int32_t format)
{
    const auto kind = tiffKindOf(format);
    const Status status = !writer_ ? failure(Error::badArgument, "write: no file open for pages")
                          : !kind  ? failure(Error::badArgument, "write: not a TIFF format number")
                                   : writer_->add(image, *kind);
    if (!status)
        writer_.reset();  // nothing of the file is left
    return status;
}

Status TiffPageWriter::commit()
{
    if (!writer_)
        return failure(Error::badArgument, "write: no file open for pages");
    Status status = writer_->commit();
    writer_.reset();
    return status;
}

}  // namespace imglib
