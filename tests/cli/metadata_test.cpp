// What tesselo-convert carries from a file besides its pixels: a fax's non-square resolution
// through each output kind and a resize, and with --keep-dates the input's modification time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/cli/cli_run.h"
#include "tests/support/testkit.h"

namespace {

using namespace clirun;
using testkit::ScratchDir;

TEST(CliMetadata, FaxResolutionKeptThroughEachFormatAndResize)
{
    if (!testkit::haveTool("convert") || !testkit::haveTool("tiffinfo"))
        GTEST_SKIP() << "skipped: ImageMagick or tiffinfo missing (see scripts/deps)";
    const struct {
        const char* to;
        const char* scale;
        const char* output;
    } rows[] = {{"tiff-ccitt", "100", "fax.tif"},
                {"bmp", "100", "fax.bmp"},
                {"tiff", "50", "fax.tif"},
                {"bmp", "50", "fax.bmp"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.to) + " at " + row.scale + " %");
        ScratchDir dir;
        ASSERT_TRUE(testkit::run("convert rose: -monochrome -density 204x98 -units PixelsPerInch -compress Fax " +
                                 (dir / "fax.tif").string()));
        ASSERT_EQ(run({"-q", "-t", row.to, "-s", row.scale, "-o", "out", "fax.tif"}, dir.path()).status, 0);
        const fs::path output = dir / "out" / row.output;
        if (output.extension() == ".tif") {
            EXPECT_NE(testkit::outputOf("tiffinfo " + output.string()).find("Resolution: 204, 98 pixels/inch"),
                      std::string::npos);
            continue;
        }
        const auto b = testkit::readBytes(output);  // pixels per metre, across then down
        EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 38, b.begin() + 46),
                  std::vector<std::uint8_t>({8031 & 255, 8031 >> 8, 0, 0, 3858 & 255, 3858 >> 8, 0, 0}));
    }
}

TEST(CliMetadata, KeepDatesGivesEachOutputItsInputsTime)
{
    const timespec old[2] = {{981173106, 123456789}, {981173106, 123456789}};  // 2001-02-03, to the nanosecond
    const auto modified = [](const fs::path& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return std::make_pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    };
    for (const bool keep : {true, false}) {
        ScratchDir dir;
        writePicture(dir / "in/a.bmp");
        writePicture(dir / "in/b.bmp", 50, 40, 2);
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "in/a.bmp").c_str(), old, 0), 0);
        std::vector<std::string> args{"-q", "-t", "bmp", "-o", "out", "in"};
        if (keep)
            args.insert(args.begin(), "--keep-dates");
        ASSERT_EQ(run(args, dir.path()).status, 0);
        for (const char* name : {"a", "b"}) {
            SCOPED_TRACE(std::string(name) + (keep ? " kept" : " not kept"));
            const auto input = modified(dir / "in" / (std::string(name) + ".bmp"));
            EXPECT_EQ(modified(dir / "out" / (std::string(name) + ".bmp")) == input, keep);
        }
    }
}

}  // namespace
