// The command line: what tesselo-convert is asked to do.
#pragma once

#include <string>
#include <vector>

#include "recipe/formats.h"
#include "recipe/steps.h"

namespace cli {

struct Options {
    std::string outputFolder = ".";
    const recipe::OutputFormat* format = recipe::formatNamed("tiff");
    recipe::Settings settings;
    bool recursive = false;
    unsigned jobs = 1;
    bool noClobber = false;
    bool keepDates = false;  // each output takes its input's modification time
    bool firstPage = false;  // only the first page of a file of several, as the window reads it
    std::string logFile;     // empty: no log
    bool quiet = false;
    std::vector<std::string> inputs;
};

enum class Action { convert, help, version, usageError };

struct Parsed {
    Action action = Action::convert;
    Options options;
    std::string error;  // usageError: what is wrong, in one line
};

// Reads the arguments; `cores` is the default number of jobs.
Parsed parseArguments(int argc, char** argv, unsigned cores);

// What --help prints.
std::string helpText();

}  // namespace cli
