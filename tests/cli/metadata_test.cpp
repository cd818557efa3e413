// What tesselo-convert carries from a file besides its pixels: a fax's 204 x 98 dpi through each
// output kind and a resize (read by tiffinfo, and from the bitmap's header), and with
// --keep-dates the input's modification time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/cli/cli_run.h"
#include "tests/support/testkit.h"

namespace {

using namespace clirun;

TEST(CliMetadata, FaxResolutionAndDateKept)
{
    if (!testkit::haveTool("convert") || !testkit::haveTool("tiffinfo"))
        GTEST_SKIP() << "skipped: ImageMagick or tiffinfo missing (see scripts/deps)";
    const timespec old[2] = {{981173106, 123456789}, {981173106, 123456789}};  // 2001-02-03, to the nanosecond
    const struct {
        std::vector<std::string> options;
        const char* output;
    } rows[] = {{{"-t", "tiff-ccitt", "--keep-dates"}, "fax.tif"},
                {{"-t", "bmp"}, "fax.bmp"},
                {{"-t", "tiff", "-s", "50"}, "fax.tif"},
                {{"-t", "bmp", "-s", "50", "--keep-dates"}, "fax.bmp"}};
    for (const auto& row : rows) {
        testkit::ScratchDir dir;
        const fs::path fax = dir / "fax.tif", output = dir / "out" / row.output;
        SCOPED_TRACE(testing::PrintToString(row.options));
        ASSERT_TRUE(testkit::run("convert rose: -monochrome -density 204x98 -units PixelsPerInch -compress Fax " +
                                 fax.string()));
        ASSERT_EQ(::utimensat(AT_FDCWD, fax.c_str(), old, 0), 0);
        std::vector<std::string> args{"-q", "-o", "out", "fax.tif"};
        args.insert(args.begin(), row.options.begin(), row.options.end());
        ASSERT_EQ(run(args, dir.path()).status, 0);

        if (output.extension() == ".tif") {
            EXPECT_NE(testkit::outputOf("tiffinfo " + output.string()).find("Resolution: 204, 98 pixels/inch"),
                      std::string::npos);
        } else {
            const auto b = testkit::readBytes(output);  // pixels per metre, across then down
            EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 38, b.begin() + 46),
                      std::vector<std::uint8_t>({8031 & 255, 8031 >> 8, 0, 0, 3858 & 255, 3858 >> 8, 0, 0}));
        }
        struct stat st {};
        ASSERT_EQ(::stat(output.c_str(), &st), 0);
        const bool keepDates = row.options.back() == "--keep-dates";
        EXPECT_EQ(st.st_mtim.tv_sec == old[1].tv_sec && st.st_mtim.tv_nsec == old[1].tv_nsec, keepDates);
    }
}

}  // namespace
