// tesselo-convert: converts image files the way the window does, several at once.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sched.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/convert_file.h"
#include "cli/options.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "imglib/core/parallel.h"
#include "imglib/core/status.h"

namespace {

using namespace cli;

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

extern "C" void onStopSignal(int signal)
{
    stopSignal.store(signal);
    stopRequested.store(true);
}

// SIGINT, SIGTERM and a closed terminal's SIGHUP stop the run between steps rather than kill it
// in the middle of a write. A reader of standard error that goes away (SIGPIPE) does not stop it.
void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

// The cores this process may run on (taskset and containers may allow fewer than the machine has).
unsigned cores()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return std::max(1u, unsigned(CPU_COUNT(&allowed)));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Makes the output folder and its parents; false with a message when it cannot be had.
bool makeOutputFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder, error))
        return true;
    std::fprintf(stderr, "tesselo-convert: cannot make the output folder %s: %s\n", folder.c_str(),
                 error ? imglib::describe(imglib::Status{imglib::Error::io, "", error.value()})
                       : "a file stands under its name");
    return false;
}

// Converts the jobs on up to options.jobs threads; the calling thread keeps the report up to date.
std::vector<Result> convertAll(const std::vector<Job>& jobs, const Options& options, Report& report)
{
    std::vector<Result> results(jobs.size());
    std::size_t done = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].failure.empty())
            results[i] = {Outcome::failed, jobs[i].failure};
        else if (!jobs[i].existing.empty())
            results[i] = {Outcome::skipped, ""};
        done += results[i].outcome != Outcome::pending;
    }
    std::mutex lock;
    std::condition_variable changed;
    std::string current;
    std::size_t next = 0;
    unsigned running = 0;

    const auto work = [&] {
        std::unique_lock guard(lock);
        for (;;) {
            while (next < jobs.size() && results[next].outcome != Outcome::pending)
                ++next;
            if (next == jobs.size() || stopRequested.load())
                break;
            const std::size_t i = next++;
            current = jobs[i].input;
            guard.unlock();
            changed.notify_all();
            Result result = convertFile(jobs[i], options, stopRequested);
            guard.lock();
            results[i] = std::move(result);
            ++done;
            changed.notify_all();
        }
        --running;
        changed.notify_all();
    };

    const unsigned workers = unsigned(std::min<std::size_t>(options.jobs, std::max<std::size_t>(1, jobs.size())));
    // The cores left over from the files converted at once go to the operations on each image.
    imglib::setThreadCount(std::max(1u, cores() / workers));
    std::vector<std::thread> threads;
    {
        std::unique_lock guard(lock);
        running = workers;
    }
    for (unsigned w = 0; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            const std::lock_guard guard(lock);
            running -= workers - w;  // those not started; with none at all, this thread works
            break;
        }
    }
    if (threads.empty()) {
        running = 1;
        work();
    }
    {
        std::unique_lock guard(lock);
        while (running > 0) {
            report.update(results, done, current);
            changed.wait_for(guard, std::chrono::milliseconds(250));
        }
    }
    for (auto& thread : threads)
        thread.join();
    // Files never begun because the run was stopped stay pending: not converted.
    return results;
}

int run(const Options& options)
{
    catchStopSignals();
    const std::vector<Job> jobs = planRun(options);
    if (!makeOutputFolder(options.outputFolder))
        return 1;
    Report report(jobs, !options.quiet && ::isatty(STDERR_FILENO));
    const std::vector<Result> results = convertAll(jobs, options, report);
    const Report::Counts counts = report.finish(results);

    bool logged = true;
    if (!options.logFile.empty()) {
        std::string reason;
        logged = writeLog(options.logFile, jobs, results, reason);
        if (!logged)
            std::fprintf(stderr, "tesselo-convert: cannot write the log %s: %s\n", options.logFile.c_str(),
                         reason.c_str());
    }
    if (stopRequested.load())
        return 128 + stopSignal.load();
    return counts.failed == 0 && logged ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const Parsed parsed = parseArguments(argc, argv, cores());
    switch (parsed.action) {
    case Action::help:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case Action::version:
        std::puts("tesselo-convert " TESSELO_VERSION);
        return 0;
    case Action::usageError:
        std::fprintf(stderr, "tesselo-convert: %s (see --help)\n", parsed.error.c_str());
        return 2;
    case Action::convert:
        break;
    }
    return run(parsed.options);
}
