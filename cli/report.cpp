#include "cli/report.h"

#include <cstdio>
#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

#include "imglib/core/file_io.h"

namespace cli {

namespace {

std::string clock(double seconds)
{
    const long s = long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::size_t terminalWidth()
{
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// A line break inside a path is written as a visible escape, so one path takes one line.
std::string oneLine(const std::string& path)
{
    std::string line;
    for (const char c : path)
        line += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return line;
}

}  // namespace

Report::Report(const std::vector<Job>& jobs, bool progress) : jobs_(jobs), progress_(progress) {}

void Report::update(const std::vector<Result>& results, std::size_t done, const std::string& current)
{
    printLines(results, false);
    if (progress_)
        progressLine(done, current);
}

void Report::printLines(const std::vector<Result>& results, bool toTheEnd)
{
    for (; printed_ < results.size(); ++printed_) {
        const Result& result = results[printed_];
        const Job& job = jobs_[printed_];
        if (result.outcome == Outcome::pending && !toTheEnd)
            break;
        if (result.outcome != Outcome::failed && result.outcome != Outcome::skipped)
            continue;
        clearProgress();
        if (result.outcome == Outcome::failed)
            std::fprintf(stderr, "%s: %s\n", job.input.c_str(), result.reason.c_str());
        else
            std::fprintf(stderr, "%s: skipped, %s exists\n", job.input.c_str(), job.existing.c_str());
    }
}

void Report::progressLine(std::size_t done, const std::string& current)
{
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string times = "  " + clock(elapsed);
    if (done > 0 && done < jobs_.size())
        times += ", about " + clock(elapsed / double(done) * double(jobs_.size() - done)) + " left";
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(jobs_.size()) + "] ";
    // The line must not wrap, or it could not be redrawn in place: the file name gives way.
    const std::size_t width = terminalWidth() - 1;
    const std::size_t room = width > line.size() + times.size() ? width - line.size() - times.size() : 0;
    const std::string name = oneLine(current);
    line += name.size() <= room ? name : (room > 3 ? "..." + name.substr(name.size() - (room - 3)) : "");
    std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), times.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void Report::clearProgress()
{
    if (progressShown_)
        std::fputs("\r\033[K", stderr);
    progressShown_ = false;
}

Report::Counts Report::finish(const std::vector<Result>& results)
{
    printLines(results, true);  // after a stop, those behind the files never begun too
    clearProgress();
    Counts counts;
    for (const Result& result : results) {
        switch (result.outcome) {
        case Outcome::converted:
            ++counts.converted;
            break;
        case Outcome::skipped:
            ++counts.skipped;
            break;
        case Outcome::failed:
            ++counts.failed;
            break;
        case Outcome::pending:
        case Outcome::abandoned:
            ++counts.notConverted;
            break;
        }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "tesselo-convert: %zu converted, %zu skipped, %zu failed", counts.converted, counts.skipped,
                 counts.failed);
    if (counts.notConverted > 0)
        std::fprintf(stderr, ", %zu not converted (stopped)", counts.notConverted);
    std::fprintf(stderr, " in %.1f s\n", elapsed);
    return counts;
}

bool writeLog(const std::string& path, const std::vector<Job>& jobs, const std::vector<Result>& results,
              std::string& reason)
{
    std::string text = "Liste des fichiers non convertis par suite d'anomalies\r\n";
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (results[i].outcome == Outcome::failed)
            text += oneLine(std::filesystem::absolute(jobs[i].input).lexically_normal().string()) + "\r\n";
    errno = 0;
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    imglib::AtomicFile file;
    imglib::Status status = file.open(path);
    if (status)
        status = file.write(bytes);
    if (status)
        status = file.commit();
    if (!status)
        reason = imglib::describe(status);
    return status.ok();
}

}  // namespace cli
