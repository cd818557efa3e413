// The work of one run, settled before anything is written: every input in order, the output it
// goes to, and what already stands against it (an output taken by an earlier input, an output
// that is an input, an output kept with --no-clobber, an input that cannot be listed).
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace cli {

struct Job {
    std::string input;    // as the user named it, or the folder named joined with the name found
    std::string output;   // empty when the input could not name one
    std::string failure;  // non-empty: the file fails before it is read, for this reason
    bool skip = false;    // --no-clobber and the output exists
};

std::vector<Job> planRun(const Options& options);

}  // namespace cli
