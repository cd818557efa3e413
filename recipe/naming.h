// The name of an output file, from the name (no folder) of its input. The window and the command
// line name outputs differently, and each keeps its rule; names are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "recipe/formats.h"

namespace recipe {

// The window's rule: the name less its last three characters, then the extension. The dot of a
// three-letter extension stays ("a.b.jpg" gives "a.b.tif") and a longer one loses its end only
// ("photo.jpeg" gives "photo.jtif"). Nothing when the name has under three characters.
std::optional<std::string> windowOutputName(std::string_view name, const OutputFormat& format);

// The command line's rule: the name without its extension (from its last dot; a leading dot does
// not begin one), then a dot and the format's extension. "photo.jpeg" gives "photo.tif",
// "archive.tar.pcx" gives "archive.tar.tif", "README" gives "README.tif".
std::string outputName(std::string_view name, const OutputFormat& format);

}  // namespace recipe
