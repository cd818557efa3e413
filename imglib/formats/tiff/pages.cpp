// The pages of a TIFF: the directories of its chain, less the reduced-resolution copies of an
// image that some writers add (NewSubfileType bit 0). The first directory is always the first
// page, the image decode() reads. The chain is listed once, tags only; a page is then read by
// going to its directory, so that reading page n decodes no other page.
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "imglib/formats/tiff/readers.h"
#include "imglib/formats/tiff/session.h"
#include "imglib/formats/tiff/tiff.h"

namespace imglib::tiff {

namespace {

bool isReducedCopy(TIFF* tif)
{
    std::uint32_t type = 0;
    return TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &type) == 1 && (type & FILETYPE_REDUCEDIMAGE) != 0;
}

// The unsigned field of `size` bytes at `at` in the file, in the file's byte order.
bool readField(TIFF* tif, std::uint64_t at, unsigned size, std::uint64_t& value)
{
    std::uint8_t bytes[8] = {};
    const thandle_t file = TIFFClientdata(tif);
    if (TIFFGetSeekProc(tif)(file, at, SEEK_SET) != at || TIFFGetReadProc(tif)(file, bytes, size) != size)
        return false;
    value = 0;
    for (unsigned i = 0; i < size; ++i)
        value |= std::uint64_t{bytes[TIFFIsBigEndian(tif) ? size - 1 - i : i]} << 8 * i;
    return true;
}

// Where the chain goes after the directory at `offset`, read from the file (libtiff keeps it to
// itself); 0 when that cannot be read.
std::uint64_t nextDirectoryOffset(TIFF* tif, std::uint64_t offset)
{
    const bool big = TIFFIsBigTIFF(tif);
    const unsigned countSize = big ? 8 : 2, entrySize = big ? 20 : 12, offsetSize = big ? 8 : 4;
    std::uint64_t entries = 0, next = 0;
    if (!readField(tif, offset, countSize, entries) || entries > 0xFFFFFFFF ||
        !readField(tif, offset + countSize + entrySize * entries, offsetSize, next))
        return 0;
    return next;
}

class TiffPages final : public Pages {
public:
    // Opens the bytes in memory or, when `fd` is not negative, the file of `size` bytes open on it.
    Status open(std::span<const std::uint8_t> bytes, int fd, std::uint64_t size)
    {
        memory_.bytes = bytes;
        fileSize_ = size;
        if (fd < 0) {
            tif_ = openMemory(memory_, messages_);
        } else if (const int own = ::dup(fd); own >= 0) {
            tif_ = openDescriptorForReading(own, messages_);
            if (!tif_)
                ::close(own);
        }
        if (!tif_)
            return failure(Error::badHeader, "tiff: the first directory cannot be read");
        listDirectories();
        return success();
    }

    std::uint32_t count() const override { return static_cast<std::uint32_t>(directories_.size()) + brokenChain_; }

    Status read(std::uint32_t page, Image& out) override
    {
        if (page >= count())
            return failure(Error::badArgument, "pages: no such page");
        if (page == directories_.size())
            return failure(Error::badHeader, "tiff: a directory of the chain cannot be read");
        if (!TIFFSetDirectory(tif_.get(), directories_[page]))
            return failure(Error::badHeader, "tiff: a page's directory cannot be read");
        return decodeDirectory(tif_.get(), fileSize_, messages_, out);
    }

private:
    void listDirectories()
    {
        TIFF* tif = tif_.get();
        directories_.push_back(0);
        std::unordered_set<std::uint64_t> seen{TIFFCurrentDirOffset(tif)};
        while (!TIFFLastDirectory(tif)) {
            const std::uint64_t current = TIFFCurrentDirOffset(tif);
            if (!TIFFReadDirectory(tif)) {
                // A chain that loops back has ended; one that goes on to a directory that cannot
                // be read would lose a page unless that page fails, so it counts as one.
                brokenChain_ = !seen.contains(nextDirectoryOffset(tif, current));
                return;
            }
            seen.insert(TIFFCurrentDirOffset(tif));
            if (!isReducedCopy(tif))
                directories_.push_back(TIFFCurrentDirectory(tif));
        }
    }

    MemoryFile memory_;
    Messages messages_;
    TiffHandle tif_;  // after what it reads through and reports to, so that it is closed first
    std::uint64_t fileSize_ = 0;
    std::vector<tdir_t> directories_;  // of each page
    bool brokenChain_ = false;
};

Status openInto(std::span<const std::uint8_t> bytes, int fd, std::uint64_t size, std::unique_ptr<Pages>& out)
{
    auto pages = std::make_unique<TiffPages>();
    if (auto s = pages->open(bytes, fd, size); !s)
        return s;
    out = std::move(pages);
    return success();
}

}  // namespace

Status openPages(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out)
{
    if (!sniff(file))
        return failure(Error::badHeader, "tiff: no TIFF signature");
    return openInto(file, -1, file.size(), out);
}

Status openPagesOfFile(int fd, std::uint64_t size, std::unique_ptr<Pages>& out) { return openInto({}, fd, size, out); }

}  // namespace imglib::tiff
