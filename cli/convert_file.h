// The conversion of one file on the library's C++ API, in the shared order of steps.
#pragma once

#include <atomic>
#include <string>

#include "cli/options.h"
#include "cli/plan.h"

namespace cli {

enum class Outcome { pending, converted, skipped, failed, abandoned };

struct Result {
    Outcome outcome = Outcome::pending;
    std::string reason;  // failed: why, for people
};

// Converts every page of job.input (the first alone with --first-page) into job.outputs, which
// appear only once every page is written. When `stop` is set the file is abandoned at the next
// step, leaving no output; a write, once begun, is finished.
Result convertFile(const Job& job, const Options& options, const std::atomic<bool>& stop);

}  // namespace cli
