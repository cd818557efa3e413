// The stored rows of an image one after another, for readers whose rows are either kept as they
// are or run-length encoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/status.h"

namespace imglib {

// Rows kept as they are come straight from the input, without copying; encoded ones are decoded
// into a buffer by `Runs`, the format's run decoder, one row at a time. `Runs` keeps its state from
// row to row, so that a run may go on into the next row, and gives
//   Status decodeRow(ByteReader&, std::span<std::uint8_t> row)   which fills the whole row;
//   static constexpr Status cutShort                              the failure when the data ends.
template <typename Runs>
class StoredRows {
public:
    StoredRows(ByteReader& in, bool encoded, std::size_t rowBytes, Runs runs = {})
        : in_(in), encoded_(encoded), rowBytes_(rowBytes), buffer_(encoded ? rowBytes : 0), runs_(runs)
    {}

    Status next(std::span<const std::uint8_t>& row)
    {
        if (!encoded_)
            return in_.bytes(rowBytes_, row) ? success() : Runs::cutShort;
        if (auto s = runs_.decodeRow(in_, buffer_); !s)
            return s;
        row = buffer_;
        return success();
    }

    const Runs& runs() const { return runs_; }

private:
    ByteReader& in_;
    bool encoded_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> buffer_;
    Runs runs_;
};

}  // namespace imglib
