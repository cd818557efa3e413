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
        joined.alone.push_back(testkit::toRgba(testkit::decodeOk(imglib::tiff::decode, bytes)));
        command += " '" + part.string() + "'";
    }
    EXPECT_TRUE(testkit::run(command + " '" + joined.path.string() + "'"));
    return joined;
}

// What became of one page: its error and, when it was read, its pixels.
struct PageRead {
    Error error = Error::none;
    testkit::Rgba pixels;
};

// Every page of the file, last first (a page decodes no other), from the bytes in memory and from
// the file a directory at a time, which must agree; a file that does not open gives its error.
std::vector<PageRead> readPages(const fs::path& path)
{
    const auto bytes = testkit::readBytes(path);
    std::unique_ptr<Pages> fromMemory;
    PagedFile fromFile;
    const Status opened = imglib::tiff::openPages(bytes, fromMemory);
    EXPECT_EQ(fromFile.open(path.c_str()).error, opened.error);
    if (!opened)
        return {{opened.error, {}}};
    EXPECT_EQ(fromFile.pageCount(), fromMemory->count());
    std::vector<PageRead> pages(fromMemory->count());
    for (auto page = std::uint32_t(pages.size()); page-- > 0;) {
        Image image, fromTheFile;
        pages[page].error = fromMemory->read(page, image).error;
        pages[page].pixels = testkit::toRgba(image);
        EXPECT_EQ(fromFile.readPage(page, fromTheFile).error, pages[page].error) << "page " << page;
        if (pages[page].error == Error::none)
            formattest::expectSame(testkit::toRgba(fromTheFile), pages[page].pixels, "the page from memory");
    }
    return pages;
}

// Damages the file: the first strip of the second directory garbled, or the last directory's
// link to the next pointed past the end or back to the first (libtiff wrote it little-endian).
enum class Damage { garbledStrip, chainPastTheEnd, chainBackToTheFirst };
void damage(const fs::path& path, Damage how)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    const std::uint64_t first = TIFFCurrentDirOffset(tif);
    TIFFSetDirectory(tif, 1);
    const std::uint64_t strip = TIFFGetStrileOffset(tif, 0), stripBytes = TIFFGetStrileByteCount(tif, 0);
    TIFFSetDirectory(tif, TIFFNumberOfDirectories(tif) - 1);
    const std::uint64_t last = TIFFCurrentDirOffset(tif);
    TIFFClose(tif);
    auto bytes = testkit::readBytes(path);
    if (how == Damage::garbledStrip) {
        std::fill_n(bytes.begin() + std::ptrdiff_t(strip), stripBytes, 0xFF);
    } else {
        const std::size_t link = last + 2 + 12 * std::size_t(bytes[last] | bytes[last + 1] << 8);
        const std::uint64_t next = how == Damage::chainBackToTheFirst ? first : bytes.size() + 64;
        for (int i = 0; i < 4; ++i)
            bytes[link + i] = std::uint8_t(next >> 8 * i);
    }
    testkit::writeBytes(path, bytes);
}

// Every page of a file from memory; the first failure, if any.
Status readEveryPage(std::span<const std::uint8_t> file, Image& out)
{
    std::unique_ptr<Pages> pages;
    Status status = imglib::tiff::openPages(file, pages);
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
        const auto pages = readPages(joined.path);
        ASSERT_EQ(pages.size(), row.pages.size());
        for (std::size_t page = 0; page < pages.size(); ++page)
            formattest::expectSame(pages[page].pixels, joined.alone[row.pages[page]], "the directory alone");
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
        Damage damage;
        std::vector<Error> pages;
    } rows[] = {
        {"garbled strip", Damage::garbledStrip, {Error::none, Error::badData, Error::none}},
        {"chain past the end", Damage::chainPastTheEnd, {Error::none, Error::none, Error::none, Error::badHeader}},
        {"chain back to the first", Damage::chainBackToTheFirst, {Error::none, Error::none, Error::none}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const testkit::ScratchDir scratch;
        const Joined joined = join(scratch, {kGrey, kGrey, kGrey});
        damage(joined.path, row.damage);
        std::vector<Error> errors;
        for (const PageRead& page : readPages(joined.path))
            errors.push_back(page.error);
        EXPECT_EQ(errors, row.pages);
    }
}

// Every page of every conformance file reads alike both ways, and page 0 is what decode() reads.
TEST(TiffPages, TheFirstPageOfEveryConformanceFileIsWhatDecodeReads)
{
    CONFORMANCE_OR_SKIP(conformance);
    for (const auto& entry : fs::recursive_directory_iterator(conformance / "tiff")) {
        if (entry.path().extension() != ".tif" && entry.path().extension() != ".tiff")
            continue;
        SCOPED_TRACE(entry.path().string());
        Image decoded;
        const Status status = imglib::tiff::decode(testkit::readBytes(entry.path()), decoded);
        const PageRead first = readPages(entry.path()).at(0);
        EXPECT_EQ(first.error, status.error);
        if (status && first.error == Error::none)
            formattest::expectSame(first.pixels, testkit::toRgba(decoded), "decode()");
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

// A page that fails, or a missing commit, leaves no file and no temporary, and the earlier file of
// that name whole.
TEST(TiffPageWriter, AFailedPageOrNoCommitLeavesNoFile)
{
    const Image good = formattest::imageOfKind(PixelFormat::rgb, 9, 9), malformed;
    const struct {
        const char* name;
        const Image& second;
        std::int32_t format;  // of the second page
        bool commit;
    } rows[] = {
        {"a malformed second page", malformed, 16, true},
        {"a bitmap's number for the second page", good, 0, true},
        {"no commit", good, 17, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const testkit::ScratchDir scratch;
        const fs::path path = scratch / "out.tif";
        const std::vector<std::uint8_t> earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
        testkit::writeBytes(path, earlier);
        {
            TiffPageWriter writer;
            ASSERT_TRUE(writer.open(path.c_str()).ok());
            ASSERT_TRUE(writer.add(good, 16).ok());
            EXPECT_EQ(writer.add(row.second, row.format).ok(), !row.commit);
            if (row.commit) {
                EXPECT_FALSE(writer.commit().ok());
            }
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
        EXPECT_EQ(testkit::readBytes(path), earlier);
    }
}
