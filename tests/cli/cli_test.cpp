// tesselo-convert end to end: the real executable on files made here.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <tiffio.h>

#include <algorithm>
#include <map>

#include "tests/cli/cli_run.h"
#include "tests/support/testkit.h"

namespace {

using namespace clirun;
using testkit::ScratchDir;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Pages made by ImageMagick, of different sizes and kinds: RGB, bilevel, a 16-colour palette.
const char* const kPageCommands[] = {
    "convert -size 120x80 gradient:red-blue",
    "convert -size 60x90 xc:white -fill black -draw 'rectangle 10,10 40,60' -monochrome -depth 1",
    "convert -size 200x50 -seed 7 plasma:fractal -colors 16 -type palette",
    "convert -size 90x40 xc:white -fill black -draw 'circle 40,20 50,30' -monochrome -depth 1",
};

bool haveTiffTools()
{
    return testkit::haveTool("convert") && testkit::haveTool("tiffcp") && testkit::haveTool("tiffinfo");
}

// A TIFF of the pages `kPageCommands[i]` for each i of `pages`, joined by tiffcp with `options`.
bool writePages(const fs::path& path, const std::vector<int>& pages, const std::string& options = "")
{
    fs::create_directories(path.parent_path());
    std::string join = "tiffcp " + options;
    bool made = true;
    for (const int command : pages) {
        const std::string page = path.string() + ".page" + std::to_string(command) + ".tif";
        if (!fs::exists(page))
            made = made && testkit::run(std::string(kPageCommands[command]) + " '" + page + "'");
        join += " '" + page + "'";
    }
    return made && testkit::run(join + " '" + path.string() + "'") && testkit::run("rm '" + path.string() + "'.page*");
}

// The size of each page of a file, as the library reads it.
std::vector<std::pair<std::uint32_t, std::uint32_t>> pageSizes(const fs::path& path)
{
    imglib::PagedFile file;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    if (!file.open(path.c_str()))
        return sizes;
    for (std::uint32_t page = 0; page < file.pageCount(); ++page) {
        imglib::Image image;
        if (file.readPage(page, image))
            sizes.emplace_back(image.width, image.height);
    }
    return sizes;
}

TEST(Cli, UsageErrorsWriteNothingAndSayWhatIsWrong)
{
    const struct {
        std::vector<std::string> args;
        std::string said;
    } rows[] = {
        {{"-o", "out", "--frobnicate", "a.bmp"}, "unknown option --frobnicate"},
        {{"-o", "out", "-x", "a.bmp"}, "unknown option -x"},
        {{"-o", "out", "--colours", "1", "a.bmp"}, "--colours takes a number from 2 to 256"},
        {{"-o", "out", "--colors", "257", "a.bmp"}, "--colours takes a number from 2 to 256"},
        {{"-o", "out", "-c", "12x", "a.bmp"}, "not \"12x\""},
        {{"-o", "out", "-s", "9", "a.bmp"}, "--scale takes a number from 10 to 200"},
        {{"-o", "out", "--scale=201", "a.bmp"}, "--scale takes"},
        {{"-o", "out", "-j", "0", "a.bmp"}, "--jobs takes"},
        {{"-o", "out", "-c", "16", "--gray", "a.bmp"}, "--colours and --grey do not go together"},
        {{"-o", "out", "-t", "png", "a.bmp"}, "unknown format \"png\""},
        {{"-o", "out"}, "no input"},
        {{"a.bmp", "-o"}, "-o needs a value"},
    };
    for (const auto& row : rows) {
        ScratchDir dir;
        writePicture(dir / "a.bmp");
        const Finished done = run(row.args, dir.path());
        SCOPED_TRACE(row.said);
        EXPECT_EQ(done.status, 2);
        EXPECT_EQ(lines(done.err).size(), 1u) << done.err;
        EXPECT_TRUE(contains(done.err, row.said)) << done.err;
        EXPECT_EQ(done.out, "");
        EXPECT_EQ(filesUnder(dir.path()), std::vector<std::string>{"a.bmp"});
    }
}

TEST(Cli, HelpAndVersionGoToStandardOutput)
{
    ScratchDir dir;
    const Finished version = run({"--version"}, dir.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tesselo-convert 1.00\n");
    const Finished help = run({"-h"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "--no-clobber")) << help.out;
    EXPECT_TRUE(contains(help.out, "--first-page")) << help.out;
    EXPECT_EQ(help.err, "");
}

// A folder holds an image under an upper-case extension, a broken file, a file of another type
// and a subfolder: the broken file is the one failure, with its reason; the other type is left
// alone; the subfolder only with -r, its tree kept.
TEST(Cli, FolderRunsListImagesAndKeepTheTreeWithRecursive)
{
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> outputs;
    } rows[] = {
        {{}, {"a.tif", "b.tif", "broken.tif"}},
        {{"-r"}, {"a.tif", "b.tif", "broken.tif", "sub/c.tif", "sub/deep/d.tif"}},
    };
    for (const auto& row : rows) {
        ScratchDir dir;
        writePicture(dir / "in/a.bmp");
        fs::copy_file(testkit::testData("jpeg/rgb-baseline.jpg"), dir / "in/b.JPG");
        writeText(dir / "in/broken.pcx", "not a picture, only words");
        writeText(dir / "in/notes.txt", "ignored");
        writePicture(dir / "in/sub/c.bmp");
        writePicture(dir / "in/sub/deep/d.ppm.bmp");
        fs::rename(dir / "in/sub/deep/d.ppm.bmp", dir / "in/sub/deep/d.ppm");

        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"-o", "out", "in"});
        const Finished done = run(args, dir.path());
        // broken.tif is expected only as the name the broken file would have had: it must not exist.
        std::vector<std::string> expected = row.outputs;
        std::erase(expected, "broken.tif");
        EXPECT_EQ(filesUnder(dir / "out"), expected);
        EXPECT_EQ(done.status, 1);
        EXPECT_EQ(done.out, "");
        const auto said = lines(done.err);
        ASSERT_EQ(said.size(), 2u) << done.err;
        EXPECT_EQ(said[0], "in/broken.pcx: not an image this program reads (no known image format)");
        EXPECT_TRUE(said[1].starts_with("tesselo-convert: " + std::to_string(expected.size()) +
                                        " converted, 0 skipped, 1 failed in "))
            << said[1];
    }
}

// A folder of today's files: every usual extension, in any case, is taken; `.img` is not (disk
// images share it), though a GEM `.img` named on the command line is converted.
TEST(Cli, FoldersTakeEveryReadableFormatsExtensions)
{
    for (const char* tool : {"convert", "pbmtogem"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "skipped: " << tool << " is not installed";
    ScratchDir dir;
    writePicture(dir / "source.bmp");
    const std::string source = (dir / "source.bmp").string();
    fs::create_directories(dir / "in");
    for (const char* name : {"a.jpeg", "b.TIFF", "c.png", "d.webp"})
        ASSERT_TRUE(testkit::run("convert '" + source + "' '" + (dir / "in" / name).string() + "'"));
    ASSERT_TRUE(
        testkit::run("convert '" + source + "' -monochrome pbm:- | pbmtogem > '" + (dir / "in/e.img").string() + "'"));

    Finished done = run({"-o", "out", "in"}, dir.path());
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(filesUnder(dir / "out"), (std::vector<std::string>{"a.tif", "b.tif", "c.tif", "d.tif"}));
    done = run({"-o", "named", "in/e.img"}, dir.path());
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(filesUnder(dir / "named"), std::vector<std::string>{"e.tif"});
}

// A folder's files go in the window's name order: letters as capitals, exact names breaking ties.
TEST(Cli, FolderFilesGoInNameOrderWhateverTheCase)
{
    ScratchDir dir;
    for (const char* name : {"b.pcx", "a.BMP", "C.tga", "A.bmp"})
        writeText(dir / "in" / name, "broken");
    const Finished done = run({"-o", "out", "in"}, dir.path());
    std::vector<std::string> order;
    for (const auto& line : lines(done.err))
        order.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(order, (std::vector<std::string>{"in/A.bmp", "in/a.BMP", "in/b.pcx", "in/C.tga", "tesselo-convert"}));
}

// Every format, -j 1 and -j 2: the same bytes.
TEST(Cli, OutputsDoNotDependOnTheJobCount)
{
    for (const char* format : {"bmp", "tiff", "tiff-none", "tiff-packbits", "tiff-ccitt"}) {
        ScratchDir dir;
        for (unsigned i = 0; i < 6; ++i)
            writePicture(dir / "in" / ("p" + std::to_string(i) + ".bmp"), 120, 80, i);
        for (const char* jobs : {"1", "2"}) {
            const Finished done = run({"-t", format, "-c", "40", "-s", "70", "-j", jobs, "-o", jobs, "in"}, dir.path());
            EXPECT_EQ(done.status, 0) << done.err;
        }
        const auto outputs = filesUnder(dir / "1");
        ASSERT_EQ(outputs.size(), 6u) << format;
        EXPECT_EQ(outputs, filesUnder(dir / "2"));
        for (const auto& name : outputs)
            EXPECT_EQ(readText(dir / "1" / name), readText(dir / "2" / name)) << format << " " << name;
    }
}

// Failures come in input order whatever finishes first, on standard error and in the log.
TEST(Cli, FailuresAreListedInInputOrderAndLogged)
{
    ScratchDir dir;
    std::vector<std::string> args{"-j", "2", "-o", "out", "--log", "failed.txt"};
    std::string expectedLog = "Liste des fichiers non convertis par suite d'anomalies\r\n";
    std::vector<std::string> expectedLines;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bmp";
        if (i % 3 == 1) {
            writeText(dir / name, "BM but cut short");
            expectedLog += (dir.path() / name).string() + "\r\n";
            expectedLines.push_back(name);
        } else {
            writePicture(dir / name, 400, 300, unsigned(i));  // slow enough to overtake
        }
        args.push_back(name);
    }
    const Finished done = run(args, dir.path());
    EXPECT_EQ(done.status, 1);
    auto said = lines(done.err);
    ASSERT_EQ(said.size(), expectedLines.size() + 1) << done.err;
    for (std::size_t i = 0; i < expectedLines.size(); ++i)
        EXPECT_TRUE(said[i].starts_with(expectedLines[i] + ": ")) << said[i];
    EXPECT_EQ(readText(dir / "failed.txt"), expectedLog);
}

// The input stays whole: an output that is the input (itself or through a link), two inputs
// that would write one output, an output kept with -n, a link at an output's name replaced and
// not written through.
TEST(Cli, NothingIsOverwritten)
{
    const struct {
        std::string name;
        std::vector<std::string> args;
        int status;
        std::string said;                // in the one line before the summary
        std::vector<std::string> files;  // after the run, the folder's files
    } rows[] = {
        {"onto itself",
         {"-t", "bmp", "a.bmp"},
         1,
         "a.bmp: its output a.bmp is the input itself",
         {"a.bmp", "keep.bmp", "z.bmp"}},
        {"through a link",
         {"-t", "bmp", "-o", "out", "z.bmp"},
         1,
         "z.bmp: its output out/z.bmp is the input itself",
         {"a.bmp", "keep.bmp", "out/z.bmp", "z.bmp"}},
        {"two inputs, one output",
         {"-o", "out", "a.bmp", "a.pcx"},
         1,
         "a.pcx: its output out/a.tif is already taken by a.bmp",
         {"a.bmp", "a.pcx", "keep.bmp", "out/a.tif", "z.bmp"}},
        {"no clobber",
         {"-n", "-t", "bmp", "-o", "out", "keep.bmp"},
         0,
         "keep.bmp: skipped, out/keep.bmp exists",
         {"a.bmp", "keep.bmp", "out/keep.bmp", "z.bmp"}},
        {"a link at the output",
         {"-o", "out", "keep.bmp", "nothere.bmp"},
         1,
         "nothere.bmp: no such file or folder",
         {"a.bmp", "keep.bmp", "out/keep.tif", "victim.txt", "z.bmp"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        writePicture(dir / "a.bmp");
        writePicture(dir / "keep.bmp", 30, 20);
        writePicture(dir / "z.bmp", 20, 30);
        if (row.name == "through a link") {
            fs::create_directories(dir / "out");
            fs::create_symlink("../z.bmp", dir / "out/z.bmp");
        } else if (row.name == "two inputs, one output") {
            fs::copy_file(dir / "a.bmp", dir / "a.pcx");
        } else if (row.name == "no clobber") {
            writeText(dir / "out/keep.bmp", "an earlier output");
        } else if (row.name == "a link at the output") {
            writeText(dir / "victim.txt", "not to be written through");
            fs::create_directories(dir / "out");
            fs::create_symlink("../victim.txt", dir / "out/keep.tif");
        }
        const std::string before = readText(dir / "a.bmp") + readText(dir / "z.bmp");
        const Finished done = run(row.args, dir.path());
        EXPECT_EQ(done.status, row.status);
        const auto said = lines(done.err);
        ASSERT_EQ(said.size(), 2u) << done.err;
        EXPECT_EQ(said[0], row.said);
        EXPECT_EQ(filesUnder(dir.path()), row.files);
        EXPECT_EQ(readText(dir / "a.bmp") + readText(dir / "z.bmp"), before);
        if (row.name == "no clobber") {
            EXPECT_EQ(readText(dir / "out/keep.bmp"), "an earlier output");
        } else if (row.name == "a link at the output") {
            EXPECT_EQ(readText(dir / "victim.txt"), "not to be written through");
            EXPECT_FALSE(fs::is_symlink(dir / "out/keep.tif"));
        }
    }
}

// A small file system fills up: the file that does not fit fails with "disk full" and leaves
// neither a partial nor a temporary file, an earlier file of its name stays whole, and a file
// that fits is written.
TEST(Cli, FullDiskLosesNothing)
{
    ScratchDir dir;
    fs::create_directories(dir / "small");
    if (::mount("tesselo-test", (dir / "small").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "skipped: no small file system can be mounted here";
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{dir / "small"};

    writePicture(dir / "big.bmp", 400, 300);  // about 120 KB as a TIFF
    writePicture(dir / "tiny.bmp", 16, 16);
    writeText(dir / "small/big.tif", "an earlier big.tif");
    const Finished done = run({"-t", "tiff-none", "-j", "1", "-o", "small", "big.bmp", "tiny.bmp"}, dir.path());
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(lines(done.err).at(0).starts_with("big.bmp: disk full")) << done.err;
    EXPECT_EQ(filesUnder(dir / "small"), (std::vector<std::string>{"big.tif", "tiny.tif"}));
    EXPECT_EQ(readText(dir / "small/big.tif"), "an earlier big.tif");
}

// Every page of every file: into one TIFF that tiffinfo reads page by page, or into a bitmap a page
// named with the page number, as wide as the page count; --first-page takes the first alone.
TEST(Cli, EveryPageIsConverted)
{
    if (!haveTiffTools())
        GTEST_SKIP() << "skipped: ImageMagick or the libtiff tools are missing";
    ScratchDir dir;
    ASSERT_TRUE(writePages(dir / "in/three.tif", {0, 1, 2}));
    ASSERT_TRUE(writePages(dir / "in/fax.tif", {1, 3, 1}, "-c g4"));
    ASSERT_TRUE(writePages(dir / "in/anim.tif", std::vector<int>(12, 2)));
    writePicture(dir / "in/one.bmp");
    const std::map<std::string, std::vector<std::pair<std::uint32_t, std::uint32_t>>> inputs{
        {"three", pageSizes(dir / "in/three.tif")},
        {"fax", pageSizes(dir / "in/fax.tif")},
        {"anim", pageSizes(dir / "in/anim.tif")},
        {"one", pageSizes(dir / "in/one.bmp")},
    };
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> outputs;
    } rows[] = {
        {{}, {"anim.tif", "fax.tif", "one.tif", "three.tif"}},
        {{"-t", "tiff-ccitt"}, {"anim.tif", "fax.tif", "one.tif", "three.tif"}},
        {{"--first-page"}, {"anim.tif", "fax.tif", "one.tif", "three.tif"}},
        {{"-t", "bmp", "--first-page"}, {"anim.bmp", "fax.bmp", "one.bmp", "three.bmp"}},
        {{"-t", "bmp"},
         {"anim-01.bmp", "anim-02.bmp", "anim-03.bmp", "anim-04.bmp", "anim-05.bmp", "anim-06.bmp", "anim-07.bmp",
          "anim-08.bmp", "anim-09.bmp", "anim-10.bmp", "anim-11.bmp", "anim-12.bmp", "fax-1.bmp", "fax-2.bmp",
          "fax-3.bmp", "one.bmp", "three-1.bmp", "three-2.bmp", "three-3.bmp"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options.empty() ? "tiff" : row.options.front() + " " + row.options.back());
        fs::remove_all(dir / "out");
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"-o", "out", "in"});
        const Finished done = run(args, dir.path());
        EXPECT_EQ(done.status, 0) << done.err;
        EXPECT_TRUE(contains(done.err, "4 converted, 0 skipped, 0 failed")) << done.err;
        ASSERT_EQ(filesUnder(dir / "out"), row.outputs);
        for (const std::string& name : row.outputs) {
            // "fax-2.bmp" holds page 2 of fax.tif; "fax.tif" every page, or the first with --first-page.
            const fs::path output = dir / "out" / name;
            const std::string stem = output.stem().string();
            const auto dash = stem.rfind('-');
            auto expected = inputs.at(stem.substr(0, dash));
            if (dash != std::string::npos)
                expected = {expected.at(std::stoul(stem.substr(dash + 1)) - 1)};
            else if (std::ranges::count(row.options, "--first-page") > 0)
                expected.resize(1);
            EXPECT_EQ(pageSizes(output), expected) << name;
            if (output.extension() == ".tif") {
                EXPECT_TRUE(
                    testkit::run("test $(tiffinfo '" + output.string() +
                                 "' 2>/dev/null | grep -c '^TIFF Directory') = " + std::to_string(expected.size())))
                    << name << " as tiffinfo reads it";
            }
        }
    }
}

// A page that cannot be read fails its file, which leaves no output (an earlier file of a page's
// name stays whole) while the other files are converted; page outputs are planned with every
// other output, so one taken by another input fails that input, and with -n one that exists skips
// its file.
TEST(Cli, APageThatFailsOrIsTakenStopsItsFileAlone)
{
    if (!haveTiffTools())
        GTEST_SKIP() << "skipped: ImageMagick or the libtiff tools are missing";
    const struct {
        std::vector<std::string> args;
        std::string said;
        std::vector<std::string> outputs;
    } rows[] = {
        {{"-t", "tiff", "damaged.tif", "in/pages-2.pcx"},
         "damaged.tif: page 2 of 3: damaged image data (tiff: a strip or tile cannot be decoded)",
         {"damaged-1.bmp", "pages-2.tif", "pages-3.bmp"}},
        {{"-t", "bmp", "damaged.tif", "in/pages-2.pcx"},
         "damaged.tif: page 2 of 3: damaged image data (tiff: a strip or tile cannot be decoded)",
         {"damaged-1.bmp", "pages-2.bmp", "pages-3.bmp"}},
        {{"-t", "bmp", "pages.tif", "in/pages-2.pcx"},
         "in/pages-2.pcx: its output out/pages-2.bmp is already taken by pages.tif",
         {"damaged-1.bmp", "pages-1.bmp", "pages-2.bmp", "pages-3.bmp"}},
        {{"-t", "bmp", "-n", "pages.tif"},
         "pages.tif: skipped, out/pages-3.bmp exists",
         {"damaged-1.bmp", "pages-3.bmp"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said);
        ScratchDir dir;
        ASSERT_TRUE(writePages(dir / "pages.tif", {0, 2, 1}, "-c lzw"));
        fs::copy_file(dir / "pages.tif", dir / "damaged.tif");
        TIFF* tif = TIFFOpen((dir / "damaged.tif").c_str(), "r");
        ASSERT_TRUE(tif != nullptr && TIFFSetDirectory(tif, 1));
        const std::uint64_t strip = TIFFGetStrileOffset(tif, 0), stripBytes = TIFFGetStrileByteCount(tif, 0);
        TIFFClose(tif);
        std::fstream(dir / "damaged.tif", std::ios::in | std::ios::out | std::ios::binary).seekp(std::streamoff(strip))
            << std::string(stripBytes, '\xff');
        writePicture(dir / "in/pages-2.pcx");
        writeText(dir / "out/damaged-1.bmp", "an earlier output");
        writeText(dir / "out/pages-3.bmp", "an earlier output");

        std::vector<std::string> args{"-o", "out"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Finished done = run(args, dir.path());
        EXPECT_EQ(done.status, row.args[2] == "-n" ? 0 : 1);
        EXPECT_EQ(lines(done.err).at(0), row.said);
        EXPECT_EQ(filesUnder(dir / "out"), row.outputs);
        EXPECT_EQ(readText(dir / "out/damaged-1.bmp"), "an earlier output");
    }
}

// SIGINT, SIGTERM or SIGHUP mid-run: the status says which, finished outputs stay whole, nothing
// partial or temporary is left, and the summary counts what was not converted.
TEST(Cli, StoppedRunsLeaveOnlyWholeFiles)
{
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
        ScratchDir dir;
        const int count = 40;
        for (int i = 0; i < count; ++i)
            writePicture(dir / "in" / ("p" + std::to_string(100 + i) + ".bmp"), 600, 400, unsigned(i));
        const pid_t pid = start({"-j", "2", "-o", "out", "in"}, dir.path());
        for (int wait = 0; wait < 3000 && filesUnder(dir / "out").size() < 2; ++wait)
            ::usleep(10000);
        ::kill(pid, signal);
        const Finished done = finish(pid, dir.path());
        EXPECT_EQ(done.status, status) << done.err;
        const auto outputs = filesUnder(dir / "out");
        EXPECT_LT(outputs.size(), std::size_t(count));
        for (const auto& name : outputs) {
            imglib::Image image;
            EXPECT_TRUE(!name.starts_with(".") && imglib::readImage((dir / "out" / name).c_str(), image).ok()) << name;
        }
        const std::string notConverted = std::to_string(count - outputs.size()) + " not converted";
        EXPECT_TRUE(contains(done.err, notConverted)) << done.err;
    }
}

}  // namespace
