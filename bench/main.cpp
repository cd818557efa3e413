// imglib_bench: measures the image operations on photographs.
//
//   imglib_bench steps [--runs N] [--threads N] [--only a,b,...] FILE...
//       every step (or those named) on every file, each run in a child process of its own:
//       median seconds, megapixels per second and the child's peak memory
//   imglib_bench run STEP INPUT OUTPUT [--threads N]
//       one step once, in this process; prints its seconds (scripts/bench times the process)
//   imglib_bench reduce COUNT DITHER INPUT OUTPUT.ppm
//       the colour reduction alone, result written as PPM for the quality comparison
//   imglib_bench list
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/files.h"
#include "bench/steps.h"
#include "imglib/api/images.h"
#include "imglib/core/parallel.h"
#include "imglib/ops/ops.h"

namespace {

namespace fs = std::filesystem;

struct Sample {
    double seconds = -1;  // negative: the step failed
    double cpuSeconds = 0;
    double peakMb = 0;
};

// Runs the step in a child process, so that its peak memory is its own.
Sample runInChild(const bench::Step& step, const std::string& input, const std::string& output)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        ::close(pipeEnds[0]);
        const double seconds = step.run(input, output);
        const bool sent = ::write(pipeEnds[1], &seconds, sizeof seconds) == sizeof seconds;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    Sample sample;
    if (::read(pipeEnds[0], &sample.seconds, sizeof sample.seconds) != sizeof sample.seconds)
        sample.seconds = -1;
    ::close(pipeEnds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        sample.seconds = -1;
    sample.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    sample.peakMb = double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    return sample;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> parts;
    std::stringstream in(list);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    return parts;
}

int commandSteps(const std::vector<std::string>& args)
{
    int runs = 5;
    std::vector<std::string> only, files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (args[i] == "--threads" && i + 1 < args.size())
            imglib::setThreadCount(unsigned(std::atoi(args[++i].c_str())));
        else if (args[i] == "--only" && i + 1 < args.size())
            only = split(args[++i]);
        else
            files.push_back(args[i]);
    }
    const fs::path scratch = fs::temp_directory_path() / ("imglib_bench." + std::to_string(::getpid()));
    fs::create_directories(scratch);
    std::printf("threads %u, median of %d runs, each in a child process\n", imglib::threadCount(), runs);
    for (const std::string& file : files) {
        imglib::Image image;
        if (!imglib::readImage(file.c_str(), image)) {
            std::printf("%s: cannot read\n", file.c_str());
            continue;
        }
        const double megapixels = double(image.width) * image.height / 1e6;
        image = {};
        std::printf("\n%s (%.1f MP)\n%-12s %-44s %9s %8s %8s %8s\n", fs::path(file).filename().c_str(), megapixels,
                    "step", "what", "median s", "MP/s", "cpu s", "peak MB");
        for (const bench::Step& step : bench::steps()) {
            if (!only.empty() && std::find(only.begin(), only.end(), step.name) == only.end())
                continue;
            std::vector<double> seconds, cpu, peak;
            for (int run = 0; run < runs; ++run) {
                const Sample s = runInChild(step, file, (scratch / (std::string("out.") + step.name)).string());
                if (s.seconds < 0)
                    break;
                seconds.push_back(s.seconds), cpu.push_back(s.cpuSeconds), peak.push_back(s.peakMb);
            }
            if (seconds.empty()) {
                std::printf("%-12s %-44s %9s\n", step.name, step.what, "failed");
                continue;
            }
            const double m = median(seconds);
            std::printf("%-12s %-44s %9.3f %8.1f %8.3f %8.0f\n", step.name, step.what, m, megapixels / m, median(cpu),
                        *std::max_element(peak.begin(), peak.end()));
        }
    }
    fs::remove_all(scratch);
    return 0;
}

int commandRun(const std::vector<std::string>& args)
{
    if (args.size() < 3)
        return 2;
    if (args.size() >= 5 && args[3] == "--threads")
        imglib::setThreadCount(unsigned(std::atoi(args[4].c_str())));
    const bench::Step* step = bench::findStep(args[0]);
    if (!step) {
        std::fprintf(stderr, "unknown step %s\n", args[0].c_str());
        return 2;
    }
    const double seconds = step->run(args[1], args[2]);
    if (seconds < 0) {
        std::fprintf(stderr, "%s failed on %s\n", step->name, args[1].c_str());
        return 1;
    }
    std::printf("%.4f\n", seconds);
    return 0;
}

int commandReduce(const std::vector<std::string>& args)
{
    if (args.size() != 4)
        return 2;
    imglib::Image image, reduced;
    if (!imglib::readImage(args[2].c_str(), image) ||
        !imglib::reduceColours(image, std::atoi(args[0].c_str()), std::atoi(args[1].c_str()) != 0, reduced) ||
        !bench::savePpm(args[3], reduced)) {
        std::fprintf(stderr, "reduce failed on %s\n", args[2].c_str());
        return 1;
    }
    return 0;
}

void usage()
{
    std::fprintf(stderr, "usage: imglib_bench steps [--runs N] [--threads N] [--only a,b] FILE...\n"
                         "       imglib_bench run STEP INPUT OUTPUT [--threads N]\n"
                         "       imglib_bench reduce COUNT DITHER INPUT OUTPUT.ppm\n"
                         "       imglib_bench list\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        usage();
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    int result = 2;
    if (command == "steps")
        result = commandSteps(args);
    else if (command == "run")
        result = commandRun(args);
    else if (command == "reduce")
        result = commandReduce(args);
    else if (command == "list") {
        for (const bench::Step& step : bench::steps())
            std::printf("%-12s %s\n", step.name, step.what);
        result = 0;
    }
    if (result == 2)
        usage();
    return result;
}
