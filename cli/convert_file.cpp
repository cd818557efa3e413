#include "cli/convert_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Gives every one of `outputs` the modification time of `input`.
imglib::Status giveDateOf(const std::string& input, const std::vector<std::string>& outputs)
{
    struct stat st {};
    errno = 0;
    if (::stat(input.c_str(), &st) != 0)
        return imglib::failure(imglib::Error::io, "cannot read the input's date");
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    for (const std::string& output : outputs)
        if (::utimensat(AT_FDCWD, output.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return imglib::failure(imglib::Error::io, "cannot give the output its input's date");
    return imglib::success();
}

// A file's bitmaps, one a page, each written under a hidden temporary name of its own beside its
// place and all put in place once the last is written: a page that fails, or a stop, leaves none
// of them, and earlier files of those names stay whole.
class StagedBitmaps {
public:
    StagedBitmaps() = default;
    StagedBitmaps(const StagedBitmaps&) = delete;
    StagedBitmaps& operator=(const StagedBitmaps&) = delete;
    ~StagedBitmaps()
    {
        for (const Staged& staged : staged_)
            ::unlink(staged.temporary.c_str());
    }

    imglib::Status write(const imglib::Image& image, const std::string& target, std::int32_t format)
    {
        // Made exclusively, so that no other file is written through its name; the library's
        // write replaces it with a complete file.
        const fs::path path(target);
        std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
        errno = 0;
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return imglib::failure(imglib::Error::io, "write: cannot create a file beside the target");
        ::close(fd);
        staged_.push_back({temporary, target});
        errno = 0;
        return imglib::writeImage(image, temporary.c_str(), format);
    }

    // Renames every bitmap into place; when one cannot be, those already placed are removed.
    imglib::Status commit()
    {
        for (std::size_t i = 0; i < staged_.size(); ++i) {
            errno = 0;
            if (::rename(staged_[i].temporary.c_str(), staged_[i].target.c_str()) != 0) {
                const imglib::Status status = imglib::failure(imglib::Error::io, "write: cannot put the file in place");
                for (std::size_t placed = 0; placed < i; ++placed)
                    ::unlink(staged_[placed].target.c_str());
                staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
                return status;
            }
        }
        staged_.clear();
        return imglib::success();
    }

private:
    struct Staged {
        std::string temporary, target;
    };
    std::vector<Staged> staged_;
};

// The recipe's steps on each page of one file in turn, one page held at a time, then the outputs
// put in place. Each step first looks whether the run is being stopped.
class FileSteps {
public:
    FileSteps(const Job& job, const Options& options, const std::atomic<bool>& stop)
        : job_(job), options_(options), stop_(stop), bitmaps_(onePageAFile(*options.format))
    {}

    void convert()
    {
        if (!open())
            return;
        for (page_ = 0; page_ < pages_; ++page_)
            if (!recipe::convert(*this))
                return;
        errno = 0;
        if (done(bitmaps_ ? staged_.commit() : tiff_.commit()) && options_.keepDates)
            keepDates();
    }

    bool read()
    {
        image_ = imglib::Image{};  // the page before is let go first
        return go() && done((errno = 0, file_.readPage(page_, image_)));
    }
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
        if (!go() || (page_ == 0 && !startOutputs()))
            return false;
        errno = 0;
        return done(bitmaps_ ? staged_.write(image_, job_.outputs[page_], format.writeNumber)
                             : tiff_.add(image_, format.writeNumber));
    }

    Result result() const
    {
        if (abandoned_)
            return {Outcome::abandoned, ""};
        if (!reason_.empty())
            return {Outcome::failed, reason_};
        if (!status_)
            return {Outcome::failed, reason()};
        return {Outcome::converted, ""};
    }

private:
    // The input, and the number of pages to convert; bitmaps have the pages they were named for.
    bool open()
    {
        if (!go() || !done((errno = 0, file_.open(job_.input.c_str()))))
            return false;
        pages_ = options_.firstPage ? std::min<std::uint32_t>(file_.pageCount(), 1) : file_.pageCount();
        if (pages_ == 0)
            reason_ = "it holds no image";
        else if (bitmaps_ && pages_ != job_.outputs.size())
            reason_ = "its page count changed since it was listed";
        return reason_.empty();
    }

    // The output folders, and for a TIFF the file that takes every page.
    bool startOutputs()
    {
        if (!done(makeFolders(options_, job_.outputs.front())))
            return false;
        errno = 0;
        return bitmaps_ || done(tiff_.open(job_.outputs.front().c_str()));
    }

    // Every output written takes the input's modification time.
    void keepDates() { done(giveDateOf(job_.input, job_.outputs)); }

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

    // The library's reason; for a file of several pages, the page's number first.
    std::string reason() const
    {
        std::string text = pages_ > 1 && page_ < pages_
                               ? "page " + std::to_string(page_ + 1) + " of " + std::to_string(pages_) + ": "
                               : std::string();
        text += imglib::describe(status_);
        if (*status_.detail != '\0')
            text.append(" (").append(status_.detail).append(")");
        return text;
    }

    const Job& job_;
    const Options& options_;
    const std::atomic<bool>& stop_;
    const bool bitmaps_;
    imglib::PagedFile file_;
    std::uint32_t pages_ = 0, page_ = 0;
    imglib::Image image_;
    imglib::TiffPageWriter tiff_;
    StagedBitmaps staged_;
    imglib::Status status_;
    std::string reason_;  // a failure that is not the library's
    bool abandoned_ = false;
};

}  // namespace

Result convertFile(const Job& job, const Options& options, const std::atomic<bool>& stop)
{
    try {
        FileSteps steps(job, options, stop);
        steps.convert();
        return steps.result();
    } catch (const std::bad_alloc&) {
        return {Outcome::failed, "out of memory"};
    } catch (const std::exception& e) {
        return {Outcome::failed, e.what()};
    }
}

}  // namespace cli
