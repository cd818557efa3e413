// The logical screen as a viewer shows it while an animation plays: each frame drawn at its
// place, clipped to the screen, its transparent pixels leaving what lies beneath; then disposed
// of as it asks. Where nothing was drawn, or a frame was cleared away, the screen is transparent,
// which shows as white.
//
// The screen stays indexed while every pixel comes from one colour table and none is
// transparent, and is RGB otherwise. It starts blank, holding no pixels; a first frame that
// covers it makes it indexed, one that does not makes it RGB. A frame with another table, a
// transparent pixel over blank, or a cleared area turns it RGB until it is blank again.
#pragma once

#include <cstdint>
#include <vector>

#include "imglib/core/image.h"
#include "imglib/formats/gif/frames.h"

namespace imglib::gif {

class Canvas {
public:
    // A blank screen of that size.
    void start(std::uint32_t width, std::uint32_t height);
    // Before drawing a frame that is to be disposed of by restoring what it covers: keeps that.
    Status keepUnder(const Frame& frame);
    // Draws the frame whose rows `reader` gives next.
    Status draw(const Frame& frame, FrameReader& reader);
    // Disposes of the frame drawn last.
    Status dispose(const Frame& frame);
    // The screen as it shows now; moveTo leaves the canvas blank.
    Status copyTo(Image& out) const;
    Status moveTo(Image& out);

private:
    enum class Mode : std::uint8_t { blank, indexed, rgb };

    Rect clip(const Rect& place) const;
    bool covers(const Rect& area) const { return area == Rect{0, 0, width_, height_}; }
    Status toRgb(int transparent = -1);
    Status clear(const Rect& area);
    Status restoreKept();
    void setPalette(Image& page) const;
    void drawRow(const Frame& frame, const Rect& area, const std::uint8_t* indices, std::uint8_t* row,
                 int transparent) const;

    std::uint32_t width_ = 0, height_ = 0;
    Mode mode_ = Mode::blank;
    Image image_;          // indexed or RGB pixels; no palette
    FullPalette table_{};  // the indexed screen's colours
    unsigned tableCount_ = 0;
    // What keepUnder kept: the area, in the mode the screen had.
    Mode keptMode_ = Mode::blank;
    Rect kept_;
    FullPalette keptTable_{};
    std::vector<std::uint8_t> keptPixels_;
};

}  // namespace imglib::gif
