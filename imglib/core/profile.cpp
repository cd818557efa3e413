// Colour profiles through LittleCMS 2. Every conversion has a LittleCMS context of its own, so
// that nothing is shared between the threads that read files at once; one transform serves the
// bands of one image at once (each call works on its own copy of the transform's one-pixel cache).
#include "imglib/core/profile.h"

#include <lcms2.h>

#include "imglib/core/owned.h"
#include "imglib/core/parallel.h"

namespace imglib {

namespace {

// The fewest pixels worth a thread of their own: an image in place is cut into two bands; inks,
// which cost several times as much a pixel and come a few rows at a time, much sooner.
constexpr std::size_t kPixelsPerBand = std::size_t{1} << 16;
constexpr std::size_t kInksPerBand = 1024;

using Profile = Owned<void, cmsCloseProfile>;

// Profiles that describe a device's samples; links, abstract and named-colour profiles do not.
bool describesSamples(cmsHPROFILE profile)
{
    switch (cmsGetDeviceClass(profile)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        return true;
    default:
        return false;
    }
}

// Grey levels on sRGB's curve, for grey images that stay grey.
Profile srgbGrey(cmsContext context)
{
    const cmsFloat64Number srgbCurve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(context, 4, srgbCurve);
    if (curve == nullptr)
        return nullptr;
    Profile grey(cmsCreateGrayProfileTHR(context, cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return grey;
}

}  // namespace

// A transform from an embedded profile to sRGB (grey samples: to sRGB's grey), with its context.
class Conversion {
public:
    // Empty when LittleCMS refuses the profile or it is not of `space`.
    Conversion(std::span<const std::uint8_t> icc, cmsColorSpaceSignature space, cmsUInt32Number inputType)
    {
        if (icc.empty() || icc.size() > UINT32_MAX || (context_ = cmsCreateContext(nullptr, nullptr)) == nullptr)
            return;
        const Profile source(cmsOpenProfileFromMemTHR(context_, icc.data(), static_cast<cmsUInt32Number>(icc.size())));
        if (!source || cmsGetColorSpace(source.get()) != space || !describesSamples(source.get()))
            return;
        const bool grey = space == cmsSigGrayData;
        const Profile target = grey ? srgbGrey(context_) : Profile(cmsCreate_sRGBProfileTHR(context_));
        if (!target)
            return;
        transform_ =
            cmsCreateTransformTHR(context_, source.get(), inputType, target.get(), grey ? TYPE_GRAY_8 : TYPE_RGB_8,
                                  INTENT_PERCEPTUAL, cmsFLAGS_BLACKPOINTCOMPENSATION);
        inputBytes_ = T_CHANNELS(inputType);
        outputBytes_ = grey ? 1 : 3;
    }
    ~Conversion()
    {
        if (transform_ != nullptr)
            cmsDeleteTransform(transform_);
        if (context_ != nullptr)
            cmsDeleteContext(context_);
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    explicit operator bool() const { return transform_ != nullptr; }

    // `count` pixels on this thread; `in` may be `out` when the pixel sizes agree.
    void run(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const
    {
        cmsDoTransform(transform_, in, out, static_cast<cmsUInt32Number>(count));  // images hold under 2^32 pixels
    }

    // The same over the threads, in bands of at least `perBand` pixels.
    void runInBands(const std::uint8_t* in, std::uint8_t* out, std::size_t count, std::size_t perBand) const
    {
        parallelFor(count, perBand, [&](std::size_t, std::size_t begin, std::size_t end) {
            run(in + begin * inputBytes_, out + begin * outputBytes_, end - begin);
        });
    }

private:
    cmsContext context_ = nullptr;
    cmsHTRANSFORM transform_ = nullptr;
    std::size_t inputBytes_ = 0, outputBytes_ = 0;
};

Status toSrgb(Image& image, std::span<const std::uint8_t> iccProfile)
{
    static_assert(sizeof(Colour) == 3, "palette entries are converted as packed RGB");
    const bool grey = image.format == PixelFormat::grey;
    const Conversion conversion(iccProfile, grey ? cmsSigGrayData : cmsSigRgbData, grey ? TYPE_GRAY_8 : TYPE_RGB_8);
    if (!conversion)
        return success();
    if (image.format == PixelFormat::indexed) {
        auto* entries = reinterpret_cast<std::uint8_t*>(image.palette.data());
        conversion.run(entries, entries, image.palette.size());
    } else {
        conversion.runInBands(image.pixels.data(), image.pixels.data(), std::size_t{image.width} * image.height,
                              kPixelsPerBand);
    }
    return success();
}

InksToSrgb::InksToSrgb(std::span<const std::uint8_t> iccProfile, bool inverted)
    : conversion_(std::make_unique<Conversion>(iccProfile, cmsSigCmykData, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8))
{
    if (!*conversion_)
        conversion_.reset();
}

InksToSrgb::~InksToSrgb() = default;

void InksToSrgb::convert(const std::uint8_t* const* inks, std::uint8_t* const* rgb, std::size_t rows,
                         std::size_t width) const
{
    if (rows == 1) {
        conversion_->runInBands(inks[0], rgb[0], width, kInksPerBand);
        return;
    }
    parallelFor(rows, (kInksPerBand + width - 1) / width, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row)
            conversion_->run(inks[row], rgb[row], width);
    });
}

}  // namespace imglib
