// Feeds bytes to one reader (FUZZ_READER names it, "any" means the sniff table). A decoded image
// must be well formed, and goes on through the operations the program applies to it; so must the
// pages of a file that holds several.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "imglib/formats/registry.h"
#include "imglib/ops/ops.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    imglib::Image image;
    imglib::Status status;
    const imglib::Codec* codec = nullptr;
    if (std::string_view(FUZZ_READER) == "any") {
        status = imglib::decodeAny(file, image);
        codec = imglib::recognise(file);
    } else {
        codec = imglib::findCodec(FUZZ_READER);
        if (codec == nullptr)
            std::abort();
        (void)codec->sniff(file);
        status = codec->decode(file, image);
    }
    // The pages of a file that holds several, the first few of them.
    std::unique_ptr<imglib::Pages> pages;
    if (codec != nullptr && codec->openPages != nullptr)
        (void)codec->openPages(file, pages);
    for (std::uint32_t n = 0; pages && n < std::min<std::uint32_t>(pages->count(), 8); ++n) {
        imglib::Image page;
        if (pages->read(n, page).ok() && !imglib::isWellFormed(page))
            std::abort();
    }
    if (!status)
        return 0;
    if (!imglib::isWellFormed(image))
        std::abort();
    // Small images also go through the operations, which must accept anything a reader makes.
    // Colour reduction takes only images of up to 256 pixels, whose colours it keeps as they are:
    // its palette search for more colours costs a tenth of a second a run whatever the image, and
    // works on the RGB rows that every pixel format is read into, which the exact path reads too.
    const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
    imglib::Image out;
    if (pixels <= 256)
        (void)imglib::reduceColours(image, 256, true, out);
    if (pixels <= 4096) {
        (void)imglib::toGrey(image, out);
        (void)imglib::zoom(image, 37, 37, out);
    }
    return 0;
}
