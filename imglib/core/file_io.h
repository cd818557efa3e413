// Reading whole files, and writing files that appear complete or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imglib/core/status.h"

namespace imglib {

// Files larger than this are not read.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

// A regular file open for reading, closed at destruction. Devices, pipes and folders are refused
// (they could block or never end), and so are files over kMaxFileBytes.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    Status open(const char* path);
    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }
    // The whole file; one that shrank while read gives what is there.
    Status readAll(std::vector<std::uint8_t>& out);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Reads the regular file at `path` into `out`, as InputFile opens it.
Status readWholeFile(const char* path, std::vector<std::uint8_t>& out);

// A new file beside the target, created exclusively (never through an existing name or link),
// which replaces the target by a rename only when commit() is called; otherwise it is removed.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    Status open(const std::string& target);
    int fd() const { return fd_; }
    Status write(std::span<const std::uint8_t> bytes);
    // Closes the file and renames it over the target. A symbolic link at the target is replaced,
    // not followed.
    Status commit();

private:
    void discard();

    std::string target_;
    std::string tempPath_;
    int fd_ = -1;
};

}  // namespace imglib
