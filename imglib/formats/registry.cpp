#include "imglib/formats/registry.h"

#include <array>

#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/gem/gem.h"
#include "imglib/formats/gif/gif.h"
#include "imglib/formats/heif/heif.h"
#include "imglib/formats/jp2/jp2.h"
#include "imglib/formats/jpeg/jpeg.h"
#include "imglib/formats/jxl/jxl.h"
#include "imglib/formats/pcd/pcd.h"
#include "imglib/formats/pcx/pcx.h"
#include "imglib/formats/png/png.h"
#include "imglib/formats/pnm/pnm.h"
#include "imglib/formats/sunras/sunras.h"
#include "imglib/formats/tga/tga.h"
#include "imglib/formats/tiff/tiff.h"
#include "imglib/formats/utah/utah.h"
#include "imglib/formats/webp/webp.h"

namespace imglib {

namespace {

// Formats with a signature first; those recognised only by a header that validates come last,
// TGA (no signature at all) at the very end.
constexpr std::array kCodecs{
    Codec{"bmp", bmp::sniff, bmp::decode},
    Codec{"dib", bmp::sniffPacked, bmp::decode},
    Codec{"jpeg", jpeg::sniff, jpeg::decode},
    Codec{"tiff", tiff::sniff, tiff::decode, tiff::openPages, tiff::openPagesOfFile},
    Codec{"png", png::sniff, png::decode},
    Codec{"gif", gif::sniff, gif::decode, gif::openPages},
    Codec{"webp", webp::sniff, webp::decode, webp::openPages},
    Codec{"jxl", jxl::sniff, jxl::decode, jxl::openPages},
    Codec{"heif", heif::sniff, heif::decode},
    Codec{"jp2", jp2::sniff, jp2::decode},
    Codec{"pnm", pnm::sniff, pnm::decode},
    Codec{"sunras", sunras::sniff, sunras::decode},
    Codec{"utah", utah::sniff, utah::decode},
    Codec{"pcd", pcd::sniff, pcd::decode},
    Codec{"pcx", pcx::sniff, pcx::decode},
    Codec{"gem", gem::sniff, gem::decode},
    Codec{"tga", tga::sniff, tga::decode},
};

// A file of one page, decoded when it is asked for.
class OnePage final : public Pages {
public:
    OnePage(const Codec& codec, std::span<const std::uint8_t> file) : codec_(codec), file_(file) {}
    std::uint32_t count() const override { return 1; }
    Status read(std::uint32_t page, Image& out) override
    {
        if (page != 0)
            return failure(Error::badArgument, "pages: no such page");
        return codec_.decode(file_, out);
    }

private:
    const Codec& codec_;
    std::span<const std::uint8_t> file_;
};

}  // namespace

const Codec* findCodec(std::string_view name)
{
    for (const auto& codec : kCodecs)
        if (name == codec.name)
            return &codec;
    return nullptr;
}

const Codec* recognise(std::span<const std::uint8_t> file)
{
    for (const auto& codec : kCodecs)
        if (codec.sniff(file))
            return &codec;
    return nullptr;
}

Status decodeAny(std::span<const std::uint8_t> file, Image& out)
{
    const Codec* codec = recognise(file);
    if (codec == nullptr)
        return failure(Error::unsupported, "no known image format");
    return codec->decode(file, out);
}

Status openPagesOfAny(std::span<const std::uint8_t> file, std::unique_ptr<Pages>& out)
{
    const Codec* codec = recognise(file);
    if (codec == nullptr)
        return failure(Error::unsupported, "no known image format");
    if (codec->openPages != nullptr)
        return codec->openPages(file, out);
    out = std::make_unique<OnePage>(*codec, file);
    return success();
}

Status firstPage(PagesOpener openPages, std::span<const std::uint8_t> file, Image& out)
{
    std::unique_ptr<Pages> pages;
    if (auto s = openPages(file, pages); !s)
        return s;
    return pages->read(0, out);
}

}  // namespace imglib
