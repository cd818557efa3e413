#include "cli/plan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "imglib/api/images.h"
#include "imglib/core/status.h"
#include "recipe/naming.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

using Identity = std::pair<dev_t, ino_t>;

std::string systemReason(int error) { return imglib::describe(imglib::Status{imglib::Error::io, "", error}); }

std::string join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string extensionOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

// Name order as the window's folder run has it: letters compared as capitals, the exact names
// breaking ties (here for ASCII letters; other bytes compare as they are).
bool beforeInNameOrder(const std::string& a, const std::string& b)
{
    const auto capital = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    const auto byCapitals = [&](char x, char y) { return std::uint8_t(capital(x)) < std::uint8_t(capital(y)); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), byCapitals))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), byCapitals))
        return false;
    return a < b;
}

// A file found: where it is, and its path below the folder named on the command line.
struct Found {
    std::string path, relative, failure;
};

class Lister {
public:
    Lister(const Options& options, std::vector<Found>& found) : options_(options), found_(found)
    {
        struct stat st {};
        if (::stat(options.outputFolder.c_str(), &st) == 0)
            outputFolder_ = Identity{st.st_dev, st.st_ino};
    }

    void add(const std::string& input)
    {
        struct stat st {};
        if (::stat(input.c_str(), &st) != 0)
            found_.push_back({input, "", systemReason(errno)});
        else if (S_ISDIR(st.st_mode))
            folder(input, "");
        else
            found_.push_back({input, fs::path(input).filename().string(), ""});
    }

private:
    // The folder's image files in name order, then (with -r) its subfolders in name order. Hidden
    // entries are left out, links to folders are not followed, and the output folder is not
    // searched for inputs.
    void folder(const std::string& path, const std::string& relative)
    {
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr) {
            found_.push_back({path, "", "cannot list the folder: " + systemReason(errno)});
            return;
        }
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        const int listError = errno;
        ::closedir(dir);
        if (listError != 0) {
            found_.push_back({path, "", "cannot list the folder: " + systemReason(listError)});
            return;
        }
        std::sort(names.begin(), names.end(), beforeInNameOrder);
        std::vector<std::string> subfolders;
        for (const std::string& name : names) {
            const std::string full = join(path, name);
            struct stat st {};
            if (::stat(full.c_str(), &st) != 0)
                continue;  // a dangling link names no file
            if (S_ISREG(st.st_mode) && recipe::isFolderExtension(extensionOf(name)))
                found_.push_back({full, join(relative, name), ""});
            else if (S_ISDIR(st.st_mode) && options_.recursive && isRealFolder(full, st))
                subfolders.push_back(name);
        }
        for (const std::string& name : subfolders)
            folder(join(path, name), join(relative, name));
    }

    bool isRealFolder(const std::string& path, const struct stat& st) const
    {
        struct stat own {};
        return ::lstat(path.c_str(), &own) == 0 && S_ISDIR(own.st_mode) &&
               Identity{st.st_dev, st.st_ino} != outputFolder_;
    }

    const Options& options_;
    std::vector<Found>& found_;
    Identity outputFolder_{};
};

std::optional<Identity> identityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return Identity{st.st_dev, st.st_ino};
}

// The pages a bitmap output gives the file: its page count, found without decoding. A file that
// cannot be opened counts one, and fails when converted.
std::uint32_t bitmapPagesOf(const std::string& input, const Options& options)
{
    std::uint32_t count = 1;
    if (!options.firstPage)
        (void)imglib::countPages(input.c_str(), count);
    return std::max<std::uint32_t>(count, 1);
}

// `output` for one page; for several, <stem>-<n><extension> each, n from 1 zero-padded to the
// width of the page count.
std::vector<std::string> pageOutputs(const fs::path& output, std::uint32_t pages)
{
    if (pages == 1)
        return {output.string()};
    const std::size_t width = std::to_string(pages).size();
    std::vector<std::string> outputs;
    for (std::uint32_t page = 1; page <= pages; ++page) {
        const std::string number = std::to_string(page);
        const std::string name = output.stem().string() + "-" + std::string(width - number.size(), '0') + number +
                                 output.extension().string();
        outputs.push_back((output.parent_path() / name).string());
    }
    return outputs;
}

// What stands against `input` writing `output`: an earlier input's output, or an input of the run;
// empty when nothing does. The output is taken for `input` in `writers` if it was free.
std::string conflictOf(const std::string& input, const std::string& output, std::map<std::string, std::string>& writers,
                       const std::map<Identity, std::string>& inputs)
{
    const auto [writer, first] = writers.emplace(output, input);
    if (!first)
        return "its output " + output + " is already taken by " + writer->second;
    const auto outputId = identityOf(output);
    const auto overwritten = outputId ? inputs.find(*outputId) : inputs.end();
    if (overwritten == inputs.end())
        return "";
    return overwritten->second == input ? "its output " + output + " is the input itself"
                                        : "its output " + output + " is the input " + overwritten->second;
}

std::string firstExisting(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths)
        if (struct stat st{}; ::lstat(path.c_str(), &st) == 0)
            return path;
    return "";
}

}  // namespace

bool onePageAFile(const recipe::OutputFormat& format)
{
    return format.writeNumber == static_cast<std::int16_t>(imglib::WriteFormat::bmp);
}

std::vector<Job> planRun(const Options& options)
{
    std::vector<Found> found;
    Lister lister(options, found);
    for (const std::string& input : options.inputs)
        lister.add(input);

    std::map<Identity, std::string> inputs;  // every input of the run, by the file it names
    for (const Found& f : found)
        if (const auto id = identityOf(f.path); id && f.failure.empty())
            inputs.emplace(*id, f.path);

    std::vector<Job> jobs;
    std::map<std::string, std::string> writers;  // output path → the input that writes it
    for (const Found& f : found) {
        Job job{f.path, {}, f.failure, ""};
        if (job.failure.empty()) {
            const fs::path relative(f.relative);
            const fs::path output = (fs::path(options.outputFolder) / relative.parent_path() /
                                     recipe::outputName(relative.filename().string(), *options.format))
                                        .lexically_normal();
            job.outputs = pageOutputs(output, onePageAFile(*options.format) ? bitmapPagesOf(job.input, options) : 1);
        }
        for (const std::string& output : job.outputs) {
            std::string conflict = conflictOf(job.input, output, writers, inputs);
            if (job.failure.empty())
                job.failure = std::move(conflict);
        }
        if (job.failure.empty() && options.noClobber)
            job.existing = firstExisting(job.outputs);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

}  // namespace cli
