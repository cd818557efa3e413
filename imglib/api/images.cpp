#include "imglib/api/images.h"

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

Status PagedFile::open(const char* path)
{
    pages_.reset();
    if (auto s = readWholeFile(path, bytes_); !s)
        return s;
    return openPagesOfAny(bytes_, pages_);
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
    switch (static_cast<WriteFormat>(format)) {
    case WriteFormat::bmp:
        return bmp::write(image, path);
    case WriteFormat::tiffLzw:
        return tiff::write(image, tiff::Kind::lzw, path);
    case WriteFormat::tiffUncompressed:
        return tiff::write(image, tiff::Kind::uncompressed, path);
    case WriteFormat::tiffCcittHuffman:
        return tiff::write(image, tiff::Kind::ccittHuffman, path);
    case WriteFormat::tiffPackBits:
        return tiff::write(image, tiff::Kind::packBits, path);
    }
    return failure(Error::badArgument, "write: unknown format number");
}

}  // namespace imglib
