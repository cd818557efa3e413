// How the output step names a converted file.
#pragma once

#include <QString>
#include <optional>

// The output path of `input` for the write format code `code` ("bmp", "tifd" …): the output
// folder, the input's file name less its last three characters (so the dot of a three-letter
// extension stays), then the code's first three letters. "/img/a.b.jpg" with "tifp" gives
// "<folder>/a.b.tif"; "/img/photo.jpeg" gives "<folder>/photo.jtif".
// None when the input cannot name an output: no folder separator, a path under 7 characters,
// or a file name under 3 characters.
std::optional<QString> outputPathFor(const QString& input, const QString& code, const QString& folder);
