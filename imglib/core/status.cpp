#include "imglib/core/status.h"

#include <cstring>

namespace imglib {

namespace {

const char* describeSystemError(int error)
{
    switch (error) {
    case 0:
        return "the file system refused";
    case ENOSPC:
    case EDQUOT:
        return "disk full";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENOENT:
    case ENOTDIR:
        return "no such file or folder";
    case EROFS:
        return "read-only file system";
    case EISDIR:
        return "a folder, not a file";
    default:
        return std::strerror(error);
    }
}

}  // namespace

const char* describe(const Status& status)
{
    switch (status.error) {
    case Error::none:
        return "no error";
    case Error::truncated:
        return "truncated data";
    case Error::badHeader:
        return "damaged header";
    case Error::badData:
        return "damaged image data";
    case Error::unsupported:
        return "not an image this program reads";
    case Error::tooLarge:
        return "image too large";
    case Error::io:
        return describeSystemError(status.systemError);
    case Error::outOfMemory:
        return "out of memory";
    case Error::badArgument:
        return "invalid argument";
    }
    return "unknown error";
}

}  // namespace imglib
