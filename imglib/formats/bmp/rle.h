// RLE8 and RLE4 pixel data: runs, literal (absolute) runs, end of line, delta and end of bitmap.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/growing_rows.h"
#include "imglib/core/image.h"
#include "imglib/formats/bmp/header.h"

namespace imglib::bmp {

// Decodes run-length pixel data, stored bottom-up, into `rows`, started bottom-up for an indexed
// image of the header's size; on success the image is complete. Pixels the data never writes
// (skipped by a delta, or left by an early end of line or of bitmap) are index 0, the first
// palette entry: the format leaves them undefined, and rows start cleared to 0. Rows hold memory
// only once the data reaches them, since a few bytes of deltas or an early end can stand for a
// whole image. A run, literal or delta that would go past the stored row (padding included) or
// the image is bad data, not clipped.
Status decodeRle(std::span<const std::uint8_t> data, const Header& header, GrowingRows& rows);

}  // namespace imglib::bmp
