// The work the benchmark measures on one photograph: the operations each alone, whole
// read-to-file pipelines like the program's, and the floor (reading and writing, nothing else).
#pragma once

#include <span>
#include <string>

namespace bench {

struct Step {
    const char* name;
    const char* what;
    // Does the work on the image file `input`, writing any file to `output`; returns the seconds
    // of the part measured, or a negative number when it failed.
    double (*run)(const std::string& input, const std::string& output);
    bool pipeline;  // whole process from the file to the file (else one operation alone)
};

std::span<const Step> steps();
const Step* findStep(const std::string& name);

}  // namespace bench
