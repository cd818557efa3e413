// What a run tells: a line for each failed or skipped file, in input order whatever order the
// files finish in; on a terminal one progress line updated in place; one summary at the end; and
// the failure log asked for with --log.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/convert_file.h"
#include "cli/plan.h"

namespace cli {

class Report {
public:
    Report(const std::vector<Job>& jobs, bool progress);

    // Call with the results so far (under the run's lock), `done` of them no longer pending:
    // prints the lines that are due and, on a terminal, the progress line, `current` being the
    // file begun last.
    void update(const std::vector<Result>& results, std::size_t done, const std::string& current);

    struct Counts {
        std::size_t converted = 0, skipped = 0, failed = 0, notConverted = 0;
    };
    Counts finish(const std::vector<Result>& results);

private:
    void printLines(const std::vector<Result>& results, bool toTheEnd);
    void progressLine(std::size_t done, const std::string& current);
    void clearProgress();

    const std::vector<Job>& jobs_;
    const bool progress_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::size_t printed_ = 0;  // results up to here have had their line
    bool progressShown_ = false;
};

// Writes the window's Log.txt format: the header line, then the full path of each failed input,
// lines ending in CR LF. False with errno's reason in `reason` when the file could not be written.
bool writeLog(const std::string& path, const std::vector<Job>& jobs, const std::vector<Result>& results,
              std::string& reason);

}  // namespace cli
