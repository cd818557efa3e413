// TIFF pages: files of several directories, joined with tiffcp, read page by page from memory and
// from the file against each directory decoded alone; damaged pages and chains; and the multi-page
// writer, read back by libtiff directory by directory.
#include <gtest/gtest.h>

#include "imglib/api/images.h"
#include "imglib/formats/tiff/tiff.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"
#include "tests/support/tiff_files.h"

using namespace imglib;
using tifffiles::Recipe;

namespace {

namespace fs = testkit::fs;

// Rows of varied bytes for a directory made by libtiff.
std::vector<std::uint8_t> storedRows(const Recipe& r)
{
    std::vector<std::uint8_t> rows((r.width * r.bits * r.samples + 7) / 8 * r.height);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<std::uint8_t>(i * 37 + i / 5 + r.width);
    return rows;
}

const Recipe kGrey{.width = 13, .height = 9, .compression = COMPRESSION_LZW};
const Recipe kRgb{
    .width = 7, .height = 20, .samples = 3, .photometric = PHOTOMETRIC_RGB, .compression = COMPRESSION_PACKBITS};
const Recipe kFax{
    .width = 40, .height = 6, .bits = 1, .photometric = PHOTOMETRIC_MINISWHITE, .compression = COMPRESSION_CCITTFAX4};
const Recipe kThumbnail{.width = 3, .height = 2, .subfileType = FILETYPE_REDUCEDIMAGE};

// The directories written one a file, joined in order by tiffcp into `joined`.
struct Joined {
    fs::path path;
    std::vector<testkit::Rgba> alone;  // each directory as decode() reads it from its own file
};
Joined join(const testkit::ScratchDir& scratch, const std::vector<Recipe>& directories)
{
    Joined joined{scratch / "joined.tif", {}};
    std::string command = "tiffcp";
    for (std::size_t i = 0; i < directories.size(); ++i) {
        const auto bytes = tifffiles::make(directories[i], storedRows(directories[i]));
        const fs::path part = scratch / ("part" + std::to_string(i) + ".tif");
        testkit::writeBytes(part, bytes);
        joined.alone.push_back(testkit::toRgba(testkit::decodeOk(tiff::decode, bytes)));
        command += " '" + part.string() + "'";
    }
    EXPECT_TRUE(testkit::run(command + " '" + joined.path.string() + "'"));
    return joined;
}

// Both ways to the pages: the bytes in memory (which must outlive them), and the file read a
// directory at a time.
struct Opened {
    std::unique_ptr<Pages> fromMemory;
    PagedFile fromFile;
};
void open(const fs::path& path, const std::vector<std::uint8_t>& bytes, Opened& opened)
{
    ASSERT_TRUE(tiff::openPages(bytes, opened.fromMemory).ok());
    ASSERT_TRUE(opened.fromFile.open(path.c_str()).ok());
    ASSERT_EQ(opened.fromMemory->count(), opened.fromFile.pageCount());
}

// Where a directory of a file that libtiff wrote in this machine's byte order keeps its
// next-directory offset.
std::size_t nextOffsetField(const std::vector<std::uint8_t>& bytes, std::uint64_t directory)
{
    return directory + 2 + 12 * std::size_t(bytes[directory] | bytes[directory + 1] << 8);
}

struct Offsets {
    std::uint64_t directory = 0, strip = 0, stripBytes = 0;
};
Offsets offsetsOf(const fs::path& path, tdir_t directory)
{
    Offsets o;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif && TIFFSetDirectory(tif, directory)) {
        o.directory = TIFFCurrentDirOffset(tif);
        o.strip = TIFFGetStrileOffset(tif, 0);
        o.stripBytes = TIFFGetStrileByteCount(tif, 0);
    }
    if (tif)
        TIFFClose(tif);
    return o;
}

void put32le(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
}

// Every page of a file from memory; the first failure, if any.
Status readEveryPage(std::span<const std::uint8_t> file, Image& out)
{
    std::unique_ptr<Pages> pages;
    Status status = tiff::openPages(file, pages);
    for (std::uint32_t page = 0; status && page < pages->count(); ++page)
        status = pages->read(page, out);
    return status;
}

}  // namespace

TEST(TiffPages, EveryDirectoryButTheReducedCopiesIsAPageReadAlone)
{
    if (!testkit::haveTool("tiffcp"))
        GTEST_SKIP() << "skipped: tiffcp is missing";
    const struct {
        const char* name;
        std::vector<Recipe> directories;
        std::vector<std::size_t> pages;  // the directory of each page
    } rows[] = {
        {"one directory", {kGrey}, {0}},
        {"three of different sizes and kinds", {kGrey, kRgb, kFax}, {0, 1, 2}},
        {"a reduced copy after an image", {kRgb, kThumbnail, kFax}, {0, 2}},
        {"a reduced copy first, which is the first page all the same", {kThumbnail, kGrey}, {0, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const testkit::ScratchDir scratch;
        const Joined joined = join(scratch, row.directories);
        const auto bytes = testkit::readBytes(joined.path);
        Opened opened;
        open(joined.path, bytes, opened);
        ASSERT_EQ(opened.fromFile.pageCount(), row.pages.size());
        // Last page first: reading a page decodes no other.
        for (std::uint32_t page = opened.fromFile.pageCount(); page-- > 0;) {
            Image fromMemory, fromFile;
            ASSERT_TRUE(opened.fromMemory->read(page, fromMemory).ok()) << "page " << page;
            ASSERT_TRUE(opened.fromFile.readPage(page, fromFile).ok()) << "page " << page;
            const testkit::Rgba& expected = joined.alone[row.pages[page]];
            formattest::expectSame(testkit::toRgba(fromMemory), expected, "the directory alone");
            formattest::expectSame(testkit::toRgba(fromFile), expected, "the directory alone");
        }
    }
}

// A page whose data is damaged fails alone; a chain that goes on to a directory that cannot be
// read counts that lost page, which fails; a chain that loops back has simply ended.
TEST(TiffPages, DamagedPagesFailAndLostPagesAreCounted)
{
    if (!testkit::haveTool("tiffcp"))
        GTEST_SKIP() << "skipped: tiffcp is missing";
    const struct {
        const char* name;
        std::uint32_t pages;
        std::uint32_t failing;  // the page that fails; `pages` for none
        Error error;
    } rows[] = {
        {"garbled strip on the second page", 3, 1, Error::badData},
        {"chain on past the end", 4, 3, Error::badHeader},
        {"chain back to the first directory", 3, 3, Error::none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const testkit::ScratchDir scratch;
        const Joined joined = join(scratch, {kGrey, kGrey, kGrey});
        std::vector<std::uint8_t> bytes = testkit::readBytes(joined.path);
        const Offsets first = offsetsOf(joined.path, 0), second = offsetsOf(joined.path, 1),
                      last = offsetsOf(joined.path, 2);
        if (row.failing == 1)
            std::fill_n(bytes.begin() + std::ptrdiff_t(second.strip), second.stripBytes, 0xFF);
        else
            put32le(bytes, nextOffsetField(bytes, last.directory),
                    row.error == Error::none ? std::uint32_t(first.directory) : std::uint32_t(bytes.size() + 64));
        testkit::writeBytes(joined.path, bytes);

        Opened opened;
        open(joined.path, bytes, opened);
        EXPECT_EQ(opened.fromFile.pageCount(), row.pages);
        for (std::uint32_t page = 0; page < row.pages; ++page) {
            Image fromMemory, fromFile;
            const Error expected = page == row.failing ? row.error : Error::none;
            EXPECT_EQ(opened.fromMemory->read(page, fromMemory).error, expected) << "page " << page;
            EXPECT_EQ(opened.fromFile.readPage(page, fromFile).error, expected) << "page " << page;
        }
    }
}

// Page 0, from memory and from the file, is what decode() reads, or fails as it does.
TEST(TiffPages, TheFirstPageOfEveryConformanceFileIsWhatDecodeReads)
{
    CONFORMANCE_OR_SKIP(conformance);
    for (const auto& entry : fs::recursive_directory_iterator(conformance / "tiff")) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".tif" && extension != ".tiff")
            continue;
        SCOPED_TRACE(entry.path().string());
        const auto bytes = testkit::readBytes(entry.path());
        Image decoded, fromMemory, fromFile;
        const Status status = tiff::decode(bytes, decoded);
        std::unique_ptr<Pages> pages;
        Status memoryStatus = tiff::openPages(bytes, pages);
        if (memoryStatus)
            memoryStatus = pages->read(0, fromMemory);
        PagedFile file;
        Status fileStatus = file.open(entry.path().c_str());
        if (fileStatus)
            fileStatus = file.readPage(0, fromFile);
        EXPECT_EQ(memoryStatus.error, status.error);
        EXPECT_EQ(fileStatus.error, status.error);
        if (status && memoryStatus && fileStatus) {
            formattest::expectSame(testkit::toRgba(fromMemory), testkit::toRgba(decoded), "decode()");
            formattest::expectSame(testkit::toRgba(fromFile), testkit::toRgba(decoded), "decode()");
        }
    }
}

TEST(TiffPages, DamagedFilesNeverCrash)
{
    if (!testkit::haveTool("tiffcp"))
        GTEST_SKIP() << "skipped: tiffcp is missing";
    const testkit::ScratchDir scratch;
    const Joined joined = join(scratch, {kGrey, kThumbnail, kFax, kRgb});
    testkit::decodeDamaged(testkit::readBytes(joined.path), readEveryPage, 512);
}

// Pages of every kind and layout in one file: libtiff reads each directory as it reads the same
// image written alone.
TEST(TiffPageWriter, EachPageIsLaidOutAsItWouldBeAlone)
{
    const struct {
        Image image;
        std::int32_t format;
    } pages[] = {
        {formattest::imageOfKind(PixelFormat::indexed, 47, 33, 5), 16},
        {formattest::imageOfKind(PixelFormat::grey, 20, 70), 19},
        {formattest::imageOfKind(PixelFormat::rgb, 1, 1), 17},
        {formattest::imageOfKind(PixelFormat::rgb, 47, 33), 18},
        {formattest::imageOfKind(PixelFormat::indexed, 31, 8, 200), 16},
    };
    const testkit::ScratchDir scratch;
    const std::string path = (scratch / "pages.tif").string();
    TiffPageWriter writer;
    ASSERT_TRUE(writer.open(path.c_str()).ok());
    for (const auto& page : pages)
        ASSERT_TRUE(writer.add(page.image, page.format).ok());
    ASSERT_TRUE(writer.commit().ok());

    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tif), std::size(pages));
    TIFFClose(tif);
    for (tdir_t i = 0; i < std::size(pages); ++i) {
        const std::string alone = (scratch / ("alone" + std::to_string(i) + ".tif")).string();
        ASSERT_TRUE(writeImage(pages[i].image, alone.c_str(), pages[i].format).ok());
        EXPECT_TRUE(tifffiles::inspect(path, i) == tifffiles::inspect(alone)) << "page " << i;
    }
}

// A page that fails, a missing commit or a commit of nothing leave no file and no temporary, and
// the earlier file of that name whole.
TEST(TiffPageWriter, AFailedPageOrNoCommitLeavesNoFile)
{
    const Image good = formattest::imageOfKind(PixelFormat::rgb, 9, 9);
    const struct {
        const char* name;
        std::vector<std::pair<const Image*, std::int32_t>> pages;  // a null image: a malformed one
        bool lastPageFails;
        bool commit;
    } rows[] = {
        {"a malformed second page", {{&good, 16}, {nullptr, 16}}, true, true},
        {"a bitmap's number for the second page", {{&good, 16}, {&good, 0}}, true, true},
        {"no commit", {{&good, 16}, {&good, 17}}, false, false},
        {"no page", {}, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const testkit::ScratchDir scratch;
        const fs::path path = scratch / "out.tif";
        testkit::writeBytes(path, {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
        {
            TiffPageWriter writer;
            ASSERT_TRUE(writer.open(path.c_str()).ok());
            bool added = true;
            for (const auto& [image, format] : row.pages)
                added = writer.add(image ? *image : Image{}, format).ok();
            EXPECT_EQ(added, !row.lastPageFails);
            if (row.commit)
                EXPECT_FALSE(writer.commit().ok());
        }
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(scratch.path()))
            files.push_back(entry.path());
        EXPECT_EQ(files, std::vector<fs::path>{path});
        EXPECT_EQ(testkit::readBytes(path), (std::vector<std::uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    }
}
