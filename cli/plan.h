// The work of one run, settled before anything is written: every input in order, the outputs it
// goes to, and what already stands against them (an output taken by an earlier input, an output
// that is an input, an output kept with --no-clobber, an input that cannot be listed).
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace cli {

struct Job {
    std::string input;  // as the user named it, or the folder named joined with the name found
    // The output; for bitmaps of a file of several pages, one a page in page order. Empty when
    // the input could not name one.
    std::vector<std::string> outputs;
    std::string failure;   // non-empty: the file fails before it is read, for this reason
    std::string existing;  // --no-clobber: an output that exists, for which the file is skipped
};

// Whether the output format holds one page a file, so that each page of a file gets its own.
bool onePageAFile(const recipe::OutputFormat& format);

// The jobs in input order. For bitmaps, the pages of each input are counted to name its outputs.
std::vector<Job> planRun(const Options& options);

}  // namespace cli
