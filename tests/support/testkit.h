// Helpers shared by the tests: where the conformance files are, reading PNG references,
// comparing images, scratch folders, and writing small files by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imglib/core/image.h"
#include "imglib/core/parallel.h"

namespace testkit {

namespace fs = std::filesystem;

// The conformance folder: TESSELO_CONFORMANCE if set, else ../shared/conformance beside the
// project. Empty when it is not there.
std::optional<fs::path> conformanceDir();

// Skips the calling test, saying why, when the conformance folder is absent. Use as
//   CONFORMANCE_OR_SKIP(dir);
#define CONFORMANCE_OR_SKIP(dir)                                                                                       \
    const auto dir##_found = ::testkit::conformanceDir();                                                              \
    if (!dir##_found)                                                                                                  \
        GTEST_SKIP() << "skipped: conformance files not found (set TESSELO_CONFORMANCE)";                              \
    const ::testkit::fs::path dir = *dir##_found

// The same for one format's folder of the conformance files:
//   CONFORMANCE_FOLDER_OR_SKIP(dir, "png");
#define CONFORMANCE_FOLDER_OR_SKIP(dir, format)                                                                        \
    CONFORMANCE_OR_SKIP(dir##_all);                                                                                    \
    const ::testkit::fs::path dir = dir##_all / (format);                                                              \
    if (!::testkit::fs::is_directory(dir))                                                                             \
    GTEST_SKIP() << "skipped: no " << (format) << " conformance folder"

// Files kept in tests/data.
fs::path testData(const std::string& name);

std::vector<std::uint8_t> readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);

// Writes `bytes` to `target` through the library's AtomicFile: a complete file or none.
imglib::Status writeWholeFile(const std::string& target, std::span<const std::uint8_t> bytes);
// The bytes of `image` as the library's bitmap writer writes it (into a scratch folder, read back).
imglib::Status bmpBytes(const imglib::Image& image, std::vector<std::uint8_t>& out);

// An image as 8-bit RGBA, rows top-down: the common ground of every comparison.
struct Rgba {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width × height × 4
};

// Reads a PNG (any bit depth and colour type, 16-bit samples scaled with rounding).
std::optional<Rgba> loadPng(const fs::path& path);
Rgba toRgba(const imglib::Image& image);
// What a picture with alpha shows over white, rounded, and opaque: how the library shows
// transparency.
Rgba overWhite(Rgba image);
// The picture after `quarterTurns` quarter turns clockwise: references kept in stored order,
// turned as the orientation their file records asks.
Rgba turnedClockwise(const Rgba& image, unsigned quarterTurns = 1);

struct Difference {
    bool sameSize = false;
    int maxError = 0;      // largest channel difference, alpha included
    double meanError = 0;  // mean absolute channel difference over R, G, B
    double psnr = 0;       // over R, G, B; infinity when equal
};
// Compares RGB only when `ignoreAlpha` (references of files whose alpha is ambiguous).
Difference compare(const Rgba& a, const Rgba& b, bool ignoreAlpha = false);

// One line of the conformance MANIFEST.tsv.
struct ManifestEntry {
    std::string path, role, format, group, expect, reference, notes;
};
// The sample lines (roles sample and generated-sample) of one format folder ("bmp", "tga" …).
std::vector<ManifestEntry> manifestSamples(const fs::path& conformance, const std::string& format);

// Tolerances for checking a format's conformance files against their references.
struct Tolerance {
    int maxError = 0;
    double meanError = 0;
};

// Decodes every sample of `format` with `decode` and checks it against the manifest: good files
// decode and match their reference (or one of the .altN references) within `tolerance`, bad
// files fail, questionable files either fail or decode to a sensible size. Files named in
// `skipCompare` decode but are not compared (say why at the call). Reports through gtest.
using DecodeFn = imglib::Status (*)(std::span<const std::uint8_t>, imglib::Image&);
void checkConformance(const fs::path& conformance, const std::string& format, DecodeFn decode, Tolerance tolerance,
                      const std::vector<std::string>& skipCompare = {});

// Decodes `file`, expecting success and an image that keeps the model's rules.
imglib::Image decodeOk(DecodeFn decode, std::span<const std::uint8_t> file);
// The error `decode` reports for `file` (Error::none when it decodes).
imglib::Error decodeError(DecodeFn decode, std::span<const std::uint8_t> file);

// Calls `decode` on every prefix of `file` (every length when the file is at most `every`
// bytes long, else about `every` lengths spread evenly) and on copies with bytes flipped; the
// point is that nothing crashes or reads out of bounds under the sanitizers.
void decodeDamaged(const std::vector<std::uint8_t>& file, DecodeFn decode, std::size_t every = 4096);

// Sets the library's thread count for a scope, and the default again when it ends.
struct ThreadCount {
    explicit ThreadCount(unsigned n) { imglib::setThreadCount(n); }
    ~ThreadCount() { imglib::setThreadCount(0); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
};

// A fresh folder removed with its content at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Runs a shell command (for independent encoders such as ImageMagick and netpbm); true when it
// exits 0. `tool` is checked on PATH first: false and a message when it is absent.
bool haveTool(const std::string& tool);
bool run(const std::string& command);
// What a shell command prints on its standard output (for tiffinfo, identify …).
std::string outputOf(const std::string& command);

}  // namespace testkit
