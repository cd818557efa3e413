#include "recipe/naming.h"

namespace recipe {

namespace {

bool continuesCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::optional<std::string> windowOutputName(std::string_view name, const OutputFormat& format)
{
    // Characters, not bytes: the start of each of the last three, counted back from the end.
    std::size_t cut = name.size();
    for (int characters = 0; characters < 3; ++characters) {
        if (cut == 0)
            return std::nullopt;
        do
            --cut;
        while (cut > 0 && continuesCharacter(name[cut]));
    }
    return std::string(name.substr(0, cut)).append(format.extension);
}

std::string outputName(std::string_view name, const OutputFormat& format)
{
    const auto dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    return std::string(stem).append(".").append(format.extension);
}

}  // namespace recipe
