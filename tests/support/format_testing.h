// Helpers for the readers' tests: making header bytes, test pictures, running independent encoders
// and decoders on them, and checking cut files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace formattest {

// Appends a 16- or 32-bit field, big- or little-endian.
void put16be(std::vector<std::uint8_t>& out, std::uint16_t v);
void put32be(std::vector<std::uint8_t>& out, std::uint32_t v);
void put16le(std::vector<std::uint8_t>& out, std::uint16_t v);
void put32le(std::vector<std::uint8_t>& out, std::uint32_t v);
// The parts one after another.
std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts);

// Deterministic pictures: with more than 256 colours allowed, nearly every pixel differs;
// otherwise the other pixels use `colours` colours. The left third of each row is one grey.
testkit::Rgba testPicture(std::uint32_t width, std::uint32_t height, unsigned colours);
testkit::Rgba greyPicture(std::uint32_t width, std::uint32_t height);
testkit::Rgba bilevelPicture(std::uint32_t width, std::uint32_t height);

// An image of the given kind for the writers' tests; an indexed one has `colours` palette entries,
// all of them used when there are enough pixels.
imglib::Image imageOfKind(imglib::PixelFormat format, std::uint32_t width, std::uint32_t height, unsigned colours = 0);

// Writes `picture` as a PBM, PGM or PPM (the smallest that holds it) in `scratch`, runs
// `command` with {in} and {out} replaced by that file and a new one, and gives the new file's
// path; empty when the command fails.
std::optional<testkit::fs::path> encodeWithTool(const testkit::ScratchDir& scratch, const testkit::Rgba& picture,
                                                const std::string& command);
// Runs `command` with {in} replaced by `file` and {out} by a new PNG, and reads that PNG; an
// empty picture when the command fails.
testkit::Rgba decodeWithTool(const testkit::ScratchDir& scratch, const testkit::fs::path& file,
                             const std::string& command);

// A little-endian Exif TIFF structure stating a resolution in pixels per inch, for the readers
// of formats that keep one in a chunk or box of its own.
std::vector<std::uint8_t> exifStating(std::uint32_t xPerInch, std::uint32_t yPerInch);

// Same size and exactly the same colours (alpha is not compared).
void expectSame(const testkit::Rgba& ours, const testkit::Rgba& other, const std::string& otherName);
void expectMatchesReference(const testkit::fs::path& file, const testkit::fs::path& reference,
                            testkit::DecodeFn decode);

// Every file of tests/data/<folder> with `extension` decodes to exactly the PNG beside it, and
// cuts of it fail.
void checkKeptFiles(const std::string& folder, const std::string& extension, testkit::DecodeFn decode);

// Prefixes of `file` fail: every one of the first 2048 bytes (headers, palettes, the first rows),
// and about 256 spread over the rest. Each is copied to a buffer of its own size, so that a
// read past the data is caught by the sanitizers.
void expectCutsFail(const std::vector<std::uint8_t>& file, testkit::DecodeFn decode);

}  // namespace formattest
