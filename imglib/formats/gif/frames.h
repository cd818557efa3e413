// The frames of a GIF file one after another, through giflib: the logical screen, then for each
// frame its place, colours, transparency and disposal, and its rows of palette indices.
#pragma once

#include <cstdint>
#include <span>

#include <gif_lib.h>

#include "imglib/core/image.h"

namespace imglib::gif {

struct Rect {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
    bool empty() const { return width == 0 || height == 0; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class Disposal : std::uint8_t { none, background, previous };

struct Frame {
    Rect place;  // where the frame lies, as stored: it may reach past the screen
    bool interlaced = false;
    FullPalette colours{};     // the local table, else the global one; entries past it are black
    unsigned colourCount = 0;  // entries the table gives
    int transparent = -1;      // the index that shows what lies beneath, -1 for none
    Disposal disposal = Disposal::none;
};

class FrameReader {
public:
    FrameReader() = default;
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;
    ~FrameReader() { close(); }

    // Reads the header; the file's bytes must outlive the reader.
    Status open(std::span<const std::uint8_t> file);
    std::uint32_t screenWidth() const { return width_; }
    std::uint32_t screenHeight() const { return height_; }
    // Reads up to the next frame's rows: its extensions and its descriptor. `found` is false at
    // the end of the file.
    Status next(Frame& frame, bool& found);
    // The frame's rows in stored order (interlaced ones in their passes), `frame.place.width`
    // indices each, then nothing more.
    Status readRow(std::uint8_t* row);
    // Passes over the frame's data without decoding it.
    Status skipRows();

private:
    static int readBytes(GifFileType* gif, GifByteType* data, int length);
    void close();
    Status failed() const;

    GifFileType* gif_ = nullptr;
    std::span<const std::uint8_t> file_;
    std::size_t position_ = 0;
    bool hitEnd_ = false;
    std::uint32_t width_ = 0, height_ = 0;
};

}  // namespace imglib::gif
