#include "imglib/formats/tiff/session.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

namespace imglib::tiff {

namespace {

int countError(TIFF*, void* messages, const char*, const char*, va_list)
{
    ++static_cast<Messages*>(messages)->errors;
    return 1;  // handled: libtiff's global handler is not called
}

// Most warnings are about metadata, or about damage libtiff repairs as well as anyone could (fax
// lines of the wrong length). Those of the JPEG decoder inside libtiff mean a corrupt stream, as
// they do for the JPEG reader, and count as errors.
int countWarning(TIFF*, void* messages, const char* module, const char*, va_list)
{
    if (module != nullptr && std::strcmp(module, "JPEGLib") == 0)
        ++static_cast<Messages*>(messages)->errors;
    return 1;
}

struct Options {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    explicit Options(Messages& messages)
    {
        if (options == nullptr)
            return;
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxChunkBytes));
        TIFFOpenOptionsSetErrorHandlerExtR(options, countError, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options, countWarning, &messages);
    }
    ~Options() { TIFFOpenOptionsFree(options); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
};

// Reading and seeking in bytes held in memory, for the file read and the strips written alike.
tmsize_t readFrom(std::span<const std::uint8_t> bytes, std::uint64_t& position, void* buffer, tmsize_t size)
{
    if (size <= 0 || position >= bytes.size())
        return 0;
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), bytes.size() - position);
    std::memcpy(buffer, bytes.data() + position, count);
    position += count;
    return static_cast<tmsize_t>(count);
}

// Offsets come from the file: a seek past the end is refused rather than wrapped.
toff_t seekWithin(std::uint64_t size, std::uint64_t& position, toff_t offset, int whence)
{
    const std::uint64_t base = whence == SEEK_CUR ? position : whence == SEEK_END ? size : 0;
    if (offset > size || base > size - offset)
        return static_cast<toff_t>(-1);
    position = base + offset;
    return position;
}

MemoryFile& fileOf(thandle_t handle) { return *static_cast<MemoryFile*>(handle); }

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t size)
{
    MemoryFile& file = fileOf(handle);
    return readFrom(file.bytes, file.position, buffer, size);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    MemoryFile& file = fileOf(handle);
    return seekWithin(file.bytes.size(), file.position, offset, whence);
}

int closeNothing(thandle_t) { return 0; }

toff_t sizeOfMemory(thandle_t handle) { return fileOf(handle).bytes.size(); }

// libtiff reads strips straight from the "mapped" bytes, without copying them; it never writes
// through a read-only mapping.
int mapMemory(thandle_t handle, void** base, toff_t* size)
{
    MemoryFile& file = fileOf(handle);
    *base = const_cast<std::uint8_t*>(file.bytes.data());
    *size = file.bytes.size();
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

MemoryOutput& outputOf(thandle_t handle) { return *static_cast<MemoryOutput*>(handle); }

tmsize_t readOutput(thandle_t handle, void* buffer, tmsize_t size)
{
    MemoryOutput& out = outputOf(handle);
    return readFrom(out.bytes, out.position, buffer, size);
}

tmsize_t writeOutput(thandle_t handle, void* buffer, tmsize_t size)
{
    MemoryOutput& out = outputOf(handle);
    if (size <= 0)
        return 0;
    const std::uint64_t end = out.position + static_cast<std::uint64_t>(size);
    try {
        if (end > out.bytes.size())
            out.bytes.resize(end);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::memcpy(out.bytes.data() + out.position, buffer, static_cast<std::size_t>(size));
    out.position = end;
    return size;
}

toff_t seekOutput(thandle_t handle, toff_t offset, int whence)
{
    MemoryOutput& out = outputOf(handle);
    return seekWithin(out.bytes.size(), out.position, offset, whence);
}

toff_t sizeOfOutput(thandle_t handle) { return outputOf(handle).bytes.size(); }

int mapNothing(thandle_t, void**, toff_t*) { return 0; }

}  // namespace

TiffHandle openMemory(MemoryFile& file, Messages& messages)
{
    Options options(messages);
    if (options.options == nullptr)
        return nullptr;
    return TiffHandle(TIFFClientOpenExt("memory", "r", &file, readMemory, refuseWrite, seekMemory, closeNothing,
                                        sizeOfMemory, mapMemory, unmapNothing, options.options));
}

TiffHandle openDescriptorForReading(int fd, Messages& messages)
{
    Options options(messages);
    if (options.options == nullptr)
        return nullptr;
    return TiffHandle(TIFFFdOpenExt(fd, "input", "rm", options.options));
}

TiffHandle openDescriptorForWriting(int fd, Messages& messages)
{
    Options options(messages);
    if (options.options == nullptr)
        return nullptr;
    return TiffHandle(TIFFFdOpenExt(fd, "output", "w", options.options));
}

TiffHandle openMemoryForWriting(MemoryOutput& output, Messages& messages)
{
    Options options(messages);
    if (options.options == nullptr)
        return nullptr;
    return TiffHandle(TIFFClientOpenExt("memory", "w", &output, readOutput, writeOutput, seekOutput, closeNothing,
                                        sizeOfOutput, mapNothing, unmapNothing, options.options));
}

}  // namespace imglib::tiff
