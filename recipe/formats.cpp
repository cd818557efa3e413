#include "recipe/formats.h"

#include <algorithm>

namespace recipe {

const OutputFormat* formatNamed(std::string_view name)
{
    const auto found = std::ranges::find(kOutputFormats, name, &OutputFormat::name);
    return found == kOutputFormats.end() ? nullptr : &*found;
}

const OutputFormat& formatOfCode(std::string_view code)
{
    const auto found = std::ranges::find(kOutputFormats, code, &OutputFormat::code);
    if (found != kOutputFormats.end())
        return *found;
    return code.size() <= 3 ? kOutputFormats.front() : kOutputFormats.back();
}

bool isFolderExtension(std::string_view extension)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::ranges::any_of(
        kFolderExtensions, [&](std::string_view known) { return std::ranges::equal(known, extension, {}, {}, lower); });
}

}  // namespace recipe
