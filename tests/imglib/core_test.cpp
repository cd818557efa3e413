// The library's foundation: the size policy, the byte reader, atomic files, the handle table and
// the C interface's rules about handles.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "imglib/api/handles.h"
#include "imglib/core/byte_reader.h"
#include "imglib/core/colour.h"
#include "imglib/core/file_io.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/imglib.h"
#include "tests/support/testkit.h"

using namespace imglib;

TEST(Size, LimitsAndPadding)
{
    EXPECT_FALSE(layoutOf(0, 1, 8));
    EXPECT_FALSE(layoutOf(1, 0, 8));
    EXPECT_FALSE(layoutOf(65536, 1, 8));
    EXPECT_FALSE(layoutOf(65535, 65535, 8)) << "over the pixel count";
    EXPECT_FALSE(layoutOf(4, 4, 0));
    EXPECT_FALSE(layoutOf(4, 4, 8, 0));
    EXPECT_TRUE(layoutOf(65535, 4096, 8));

    const auto bits = layoutOf(47, 33, 1, 4);  // 47 bits = 6 bytes, padded to 8
    ASSERT_TRUE(bits);
    EXPECT_EQ(bits->rowBytes, 8u);
    EXPECT_EQ(bits->totalBytes, 8u * 33);
    const auto rgb = layoutOf(47, 33, 24, 4);  // 141 bytes, padded to 144
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->rowBytes, 144u);
    const auto wide = layoutOf(65535, 4096, 128);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->totalBytes, std::size_t{65535} * 16 * 4096);
}

TEST(Image, AllocateAndWellFormed)
{
    Image image;
    ASSERT_TRUE(allocate(image, 3, 2, PixelFormat::indexed).ok());
    EXPECT_EQ(image.pixels.size(), 6u);
    EXPECT_FALSE(isWellFormed(image)) << "an indexed image needs a palette";
    image.palette = {Colour{1, 2, 3}};
    EXPECT_TRUE(isWellFormed(image));
    image.pixels[5] = 1;
    EXPECT_FALSE(isWellFormed(image)) << "index past the palette";

    EXPECT_EQ(allocate(image, 70000, 1, PixelFormat::rgb).error, Error::tooLarge);
}

TEST(ByteReader, NeverReadsPastTheEnd)
{
    const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    ByteReader r(data);
    std::uint32_t v32 = 99;
    std::uint16_t v16 = 0;
    ASSERT_TRUE(r.u32le(v32));
    EXPECT_EQ(v32, 0x04030201u);
    EXPECT_FALSE(r.u16be(v16));
    EXPECT_EQ(v16, 0) << "a failed read leaves its output alone";
    EXPECT_EQ(r.position(), 4u) << "and the cursor where it was";
    std::uint8_t b = 0;
    ASSERT_TRUE(r.u8(b));
    EXPECT_EQ(b, 5);
    EXPECT_TRUE(r.atEnd());
    EXPECT_FALSE(r.u8(b));
    EXPECT_TRUE(r.seek(5));
    EXPECT_FALSE(r.seek(6));
    EXPECT_FALSE(r.skip(1));
    ASSERT_TRUE(r.seek(1));
    ASSERT_TRUE(r.u16be(v16));
    EXPECT_EQ(v16, 0x0203);
    std::span<const std::uint8_t> span;
    EXPECT_FALSE(r.bytes(3, span));
    EXPECT_TRUE(r.bytes(2, span));
    EXPECT_EQ(span[1], 5);
    std::int32_t s = 0;
    const std::uint8_t minus[] = {0xFE, 0xFF, 0xFF, 0xFF};
    ByteReader m(minus);
    ASSERT_TRUE(m.i32le(s));
    EXPECT_EQ(s, -2);
}

// Samples of any range reach 8 bits by value·255/max rounded half up, the same in every reader.
TEST(Colour, SamplesScaleTo8BitsRoundingHalfUp)
{
    struct Case {
        std::uint32_t value, max;
        std::uint8_t level;
    };
    for (const Case c :
         {Case{0, 1, 0}, Case{1, 1, 255}, Case{1, 2, 128}, Case{1, 510, 1}, Case{2, 1000, 1}, Case{3, 7, 109},
          Case{31, 31, 255}, Case{32767, 65535, 127}, Case{32768, 65535, 128}, Case{65535, 65535, 255}}) {
        EXPECT_EQ(scaleTo8(c.value, c.max), c.level) << c.value << " of " << c.max;
        EXPECT_EQ(scaledLevels(c.max)[c.value], c.level) << c.value << " of " << c.max;
    }
}

// Plane p gives bits p·bits and up of every index; 1-bit planes go eight pixels at a time, so a
// width that is no multiple of 8 checks the tail as well.
TEST(PackedIndices, GatheredFromBitPlanes)
{
    struct Case {
        const char* name;
        unsigned bits;
        std::vector<std::uint8_t> planes;  // each plane's bytes in turn, `planeBytes` apart
        std::size_t planeBytes;
        std::vector<std::uint8_t> indices;
    };
    const Case cases[] = {
        {"two 1-bit planes, 10 wide",
         1,
         {0b10100000, 0b01000000, 0b11000000, 0b11000000},
         2,
         {3, 2, 1, 0, 0, 0, 0, 0, 2, 3}},
        {"two 2-bit planes, 3 wide", 2, {0b01101100, 0b10000100}, 1, {9, 2, 7}},
        {"four 1-bit planes, 1 wide", 1, {0x80, 0x00, 0xFF, 0x80}, 1, {0b1101}},
    };
    for (const Case& c : cases) {
        const auto width = static_cast<std::uint32_t>(c.indices.size());
        std::vector<std::uint8_t> out(width, 0xEE);
        gatherPlanes(c.planes.data(), c.planeBytes, static_cast<unsigned>(c.planes.size() / c.planeBytes), c.bits,
                     out.data(), width);
        EXPECT_EQ(out, c.indices) << c.name;
    }
}

TEST(Files, AtomicWriteLeavesNoPartialFile)
{
    testkit::ScratchDir dir;
    const std::string target = (dir / "out.bin").string();
    testkit::writeBytes(target, {1, 2, 3});
    {
        AtomicFile file;
        ASSERT_TRUE(file.open(target).ok());
        ASSERT_TRUE(file.write(std::vector<std::uint8_t>{9, 9}).ok());
        // Abandoned without commit: the old content stays, the temporary file goes.
    }
    EXPECT_EQ(testkit::readBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(testkit::fs::directory_iterator(dir.path()), {}), 1);

    ASSERT_TRUE(testkit::writeWholeFile(target, std::vector<std::uint8_t>{7}).ok());
    EXPECT_EQ(testkit::readBytes(target), std::vector<std::uint8_t>{7});
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IRGRP, 0u) << "ordinary permissions, not the temporary file's 0600";
}

TEST(Files, AtomicWriteReplacesALinkInsteadOfFollowingIt)
{
    testkit::ScratchDir dir;
    const auto victim = dir / "victim";
    testkit::writeBytes(victim, {1});
    const auto link = dir / "link";
    testkit::fs::create_symlink(victim, link);
    ASSERT_TRUE(testkit::writeWholeFile(link.string(), std::vector<std::uint8_t>{2}).ok());
    EXPECT_EQ(testkit::readBytes(victim), std::vector<std::uint8_t>{1});
    EXPECT_FALSE(testkit::fs::is_symlink(link));
}

TEST(Files, ReadRefusesWhatIsNotARegularFile)
{
    testkit::ScratchDir dir;
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(readWholeFile(dir.path().c_str(), bytes).ok());
    EXPECT_FALSE(readWholeFile((dir / "missing").c_str(), bytes).ok());
    EXPECT_FALSE(readWholeFile("", bytes).ok());
    EXPECT_FALSE(readWholeFile(nullptr, bytes).ok());
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readWholeFile(fifo.c_str(), bytes).ok()) << "a pipe must not block the reader";
}

TEST(Handles, NeverReusedAndReleasedOnce)
{
    HandleTable table;
    Image a;
    ASSERT_TRUE(allocate(a, 1, 1, PixelFormat::grey).ok());
    const auto h1 = table.add(a);
    const auto h2 = table.add(a);
    EXPECT_GT(h1, 0);
    EXPECT_GT(h2, h1);
    table.release(h1);
    table.release(h1);  // twice: nothing
    table.release(0);
    table.release(-5);
    EXPECT_EQ(table.find(h1), nullptr);
    EXPECT_EQ(table.liveCount(), 1u);
    const auto h3 = table.add(a);
    EXPECT_GT(h3, h2) << "a freed handle is not given again";

    const auto h4 = table.replace(h3, a);
    EXPECT_GT(h4, h3);
    EXPECT_EQ(table.find(h3), nullptr);
    EXPECT_EQ(table.replace(h3, a), 0) << "replacing a freed handle fails";
    EXPECT_EQ(table.liveCount(), 2u);
}

TEST(CInterface, BadArgumentsGiveZero)
{
    EXPECT_EQ(ReadFileIntoDIB(nullptr), 0);
    EXPECT_EQ(ReadFileIntoDIB(""), 0);
    EXPECT_EQ(ReadFileIntoDIB("/nonexistent/file.bmp"), 0);
    EXPECT_EQ(WriteDIBToFile(0, "/tmp/x.bmp", 0), 0);
    EXPECT_EQ(ReduceDIB(0, 2, -1), 0);
    EXPECT_EQ(GrayDIB(12345), 0);
    EXPECT_EQ(ZoomDIB(-1, 50, 50), 0);
    DIBFree(0);
    DIBFree(987654);
}

TEST(CInterface, ReadsNothingThatIsNoImage)
{
    testkit::ScratchDir dir;
    const auto text = dir / "notes.bmp";
    testkit::writeBytes(text, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(ReadFileIntoDIB(text.c_str()), 0) << "the name says bmp, the content does not";
    testkit::writeBytes(dir / "empty.tif", {});
    EXPECT_EQ(ReadFileIntoDIB((dir / "empty.tif").c_str()), 0);
}
