#include "imglib/core/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace imglib {

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Status InputFile::open(const char* path)
{
    if (path == nullptr || *path == '\0')
        return failure(Error::badArgument, "read: empty path");
    if (fd_ >= 0)
        ::close(fd_);
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        return failure(Error::io, "read: cannot open the file");
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return failure(Error::io, "read: not a regular file");
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (size_ > kMaxFileBytes)
        return failure(Error::tooLarge, "read: file too large");
    return success();
}

Status InputFile::readAll(std::vector<std::uint8_t>& out)
{
    try {
        out.resize(static_cast<std::size_t>(size_));
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "read: no memory for the file");
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // the file shrank while read: keep what is there
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return success();
}

Status readWholeFile(const char* path, std::vector<std::uint8_t>& out)
{
    InputFile file;
    if (auto s = file.open(path); !s)
        return s;
    return file.readAll(out);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

Status AtomicFile::open(const std::string& target)
{
    discard();
    if (target.empty() || target.back() == '/')
        return failure(Error::badArgument, "write: empty path");
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return failure(Error::io, "write: cannot create a file beside the target");
    // mkostemp makes the file private; give it the permissions of an ordinary new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    fd_ = fd;
    tempPath_ = pattern;
    target_ = target;
    return success();
}

Status AtomicFile::write(std::span<const std::uint8_t> bytes)
{
    if (fd_ < 0)
        return failure(Error::io, "write: file not open");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failure(Error::io, "write: the file system refused the data");
        done += static_cast<std::size_t>(n);
    }
    return success();
}

Status AtomicFile::commit()
{
    if (fd_ < 0)
        return failure(Error::io, "write: file not open");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        discard();
        return failure(Error::io, "write: cannot put the file in place");
    }
    tempPath_.clear();
    return success();
}

}  // namespace imglib
