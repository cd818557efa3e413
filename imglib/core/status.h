// The library's small error vocabulary. Every codec and operation reports through Status; the C
// interface turns any failure into 0.
#pragma once

#include <cerrno>
#include <cstdint>

namespace imglib {

enum class Error : std::uint8_t {
    none,
    truncated,    // the data ends before the format says it should
    badHeader,    // a field holds a value the format does not allow
    badData,      // the image data contradicts the header (a run past the row, an unknown opcode)
    unsupported,  // a valid variant this library does not read or write
    tooLarge,     // over the library's size limits
    io,           // the file system refused
    outOfMemory,
    badArgument,  // a caller passed a value outside the call's range
};

struct [[nodiscard]] Status {
    Error error = Error::none;
    const char* detail = "";  // static text naming the format and field, for diagnostics
    int systemError = 0;      // io: the errno of the system call that failed, 0 when none did

    constexpr bool ok() const { return error == Error::none; }
    constexpr explicit operator bool() const { return ok(); }
};

constexpr Status success() { return {}; }
// An io failure keeps the errno that the failing system call just left.
constexpr Status failure(Error error, const char* detail) { return {error, detail, error == Error::io ? errno : 0}; }

// What went wrong, in a few words for people: "truncated data", "not an image this program
// reads", "disk full", "permission denied" …
const char* describe(const Status& status);

}  // namespace imglib
