// Feeds bytes to one reader (FUZZ_READER names it, "any" means the sniff table). A decoded image
// must be well formed, and goes on through the operations the program applies to it. A reader of
// several pages also reads the next few, which must be well formed too.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "imglib/formats/registry.h"
#include "imglib/ops/ops.h"

namespace {

void readLaterPages(const imglib::Codec* codec, std::span<const std::uint8_t> file)
{
    std::unique_ptr<imglib::Pages> pages;
    if (codec == nullptr || codec->openPages == nullptr || !codec->openPages(file, pages))
        return;
    for (std::uint32_t page = 1; page < std::min<std::uint32_t>(pages->count(), 4); ++page) {
        imglib::Image image;
        if (pages->read(page, image) && !imglib::isWellFormed(image))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    imglib::Image image;
    imglib::Status status;
    if (std::string_view(FUZZ_READER) == "any") {
        status = imglib::decodeAny(file, image);
        readLaterPages(imglib::recognise(file), file);
    } else {
        const imglib::Codec* codec = imglib::findCodec(FUZZ_READER);
        if (codec == nullptr)
            std::abort();
        (void)codec->sniff(file);
        status = codec->decode(file, image);
        readLaterPages(codec, file);
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
