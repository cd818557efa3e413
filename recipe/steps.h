// The order of one conversion, the same for the window and the command line:
//   read → the user's colour change (a colour count, or grey levels) → the resize when not 100 %
//   → the output format's own reduction → write.
// Each front end gives the steps themselves, with its own way of calling the library and of
// reporting; a step returns false when it failed (and has said so), which ends the conversion.
#pragma once

#include <cstdint>

#include "recipe/formats.h"

namespace recipe {

// The user's part of a conversion.
struct Settings {
    std::int32_t colours = 0;  // reduce to this many colours, dithered; 0: keep them
    bool grey = false;         // grey levels, when no colour count is asked for
    std::int32_t scale = 100;  // percent of the size; 100: unchanged
};

// The whole conversion: file.read(), file.transform() (which runs transform() below), then
// file.output() (which ends in finish() below). The window keeps a procedure for each.
template <class File>
bool convert(File& file)
{
    return file.read() && file.transform() && file.output();
}

// The user's change: ops.reduce(count) or ops.grey(), then ops.zoom(percent).
template <class Ops>
bool transform(Ops& ops, const Settings& settings)
{
    if (settings.colours != 0) {
        if (!ops.reduce(settings.colours))
            return false;
    } else if (settings.grey && !ops.grey()) {
        return false;
    }
    return settings.scale == 100 || ops.zoom(settings.scale);
}

// The output format's reduction, out.reduce(count), then out.write(format).
template <class Out>
bool finish(Out& out, const OutputFormat& format)
{
    if (format.finalColours != 0 && !out.reduce(format.finalColours))
        return false;
    return out.write(format);
}

}  // namespace recipe
