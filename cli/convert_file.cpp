#include "cli/convert_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

#include "imglib/api/images.h"
#include "imglib/ops/ops.h"
#include "recipe/steps.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// Makes the folders between the output folder and `output`, each a real folder: a link found on
// the way is not written through.
imglib::Status makeFolders(const Options& options, const std::string& output)
{
    const fs::path top = fs::path(options.outputFolder).lexically_normal();
    const fs::path below = fs::path(output).parent_path().lexically_relative(top);
    fs::path folder = top;
    for (const fs::path& part : below) {
        if (part == ".")
            continue;
        folder /= part;
        errno = 0;
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            return imglib::failure(imglib::Error::io, "cannot make the output folder");
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            errno = 0;
            return imglib::failure(imglib::Error::io, "a link or a file stands where an output folder goes");
        }
    }
    return imglib::success();
}

// Gives `output` the modification time of `input`.
imglib::Status giveDateOf(const std::string& input, const std::string& output)
{
    struct stat st {};
    errno = 0;
    if (::stat(input.c_str(), &st) != 0)
        return imglib::failure(imglib::Error::io, "cannot read the input's date");
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::utimensat(AT_FDCWD, output.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return imglib::failure(imglib::Error::io, "cannot give the output its input's date");
    return imglib::success();
}

// The recipe's steps on one image. Each step first looks whether the run is being stopped.
class FileSteps {
public:
    FileSteps(const Job& job, const Options& options, const std::atomic<bool>& stop)
        : job_(job), options_(options), stop_(stop)
    {}

    bool read() { return go() && done((errno = 0, imglib::readImage(job_.input.c_str(), image_))); }
    bool transform() { return go() && recipe::transform(*this, options_.settings); }
    bool output() { return go() && recipe::finish(*this, *options_.format); }

    bool reduce(std::int32_t colours)
    {
        return apply(
            [&](const imglib::Image& in, imglib::Image& out) { return imglib::reduceColours(in, colours, true, out); });
    }
    bool grey() { return apply(imglib::toGrey); }
    bool zoom(std::int32_t percent)
    {
        return apply(
            [&](const imglib::Image& in, imglib::Image& out) { return imglib::zoom(in, percent, percent, out); });
    }
    bool write(const recipe::OutputFormat& format)
    {
        if (!go() || !done(makeFolders(options_, job_.output)))
            return false;
        errno = 0;
        if (!done(imglib::writeImage(image_, job_.output.c_str(), format.writeNumber)))
            return false;
        return !options_.keepDates || done(giveDateOf(job_.input, job_.output));
    }

    Result result() const
    {
        if (abandoned_)
            return {Outcome::abandoned, ""};
        if (!status_)
            return {Outcome::failed, reason()};
        return {Outcome::converted, ""};
    }

private:
    bool go()
    {
        abandoned_ = stop_.load();
        return !abandoned_;
    }

    bool done(imglib::Status status)
    {
        status_ = status;
        return status_.ok();
    }

    template <class Op>
    bool apply(Op op)
    {
        if (!go())
            return false;
        imglib::Image out;
        if (!done(op(image_, out)))
            return false;
        image_ = std::move(out);
        return true;
    }

    std::string reason() const
    {
        std::string text = imglib::describe(status_);
        if (*status_.detail != '\0')
            text.append(" (").append(status_.detail).append(")");
        return text;
    }

    const Job& job_;
    const Options& options_;
    const std::atomic<bool>& stop_;
    imglib::Image image_;
    imglib::Status status_;
    bool abandoned_ = false;
};

}  // namespace

Result convertFile(const Job& job, const Options& options, const std::atomic<bool>& stop)
{
    try {
        FileSteps steps(job, options, stop);
        recipe::convert(steps);
        return steps.result();
    } catch (const std::bad_alloc&) {
        return {Outcome::failed, "out of memory"};
    } catch (const std::exception& e) {
        return {Outcome::failed, e.what()};
    }
}

}  // namespace cli
