#include "imglib/formats/gif/frames.h"

#include <algorithm>
#include <cstring>

namespace imglib::gif {

int FrameReader::readBytes(GifFileType* gif, GifByteType* data, int length)
{
    auto& reader = *static_cast<FrameReader*>(gif->UserData);
    const std::size_t wanted = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t count = std::min(wanted, reader.file_.size() - reader.position_);
    reader.hitEnd_ = reader.hitEnd_ || count < wanted;
    std::memcpy(data, reader.file_.data() + reader.position_, count);
    reader.position_ += count;
    return static_cast<int>(count);
}

void FrameReader::close()
{
    if (gif_ != nullptr)
        DGifCloseFile(gif_, nullptr);
    gif_ = nullptr;
}

Status FrameReader::open(std::span<const std::uint8_t> file)
{
    close();
    file_ = file;
    position_ = 0;
    hitEnd_ = false;
    int error = D_GIF_SUCCEEDED;
    gif_ = DGifOpen(this, readBytes, &error);
    if (gif_ == nullptr) {
        if (error == D_GIF_ERR_NOT_ENOUGH_MEM)
            return failure(Error::outOfMemory, "gif: no memory to decode");
        return hitEnd_ ? failure(Error::truncated, "gif: the header is cut short")
                       : failure(Error::badHeader, "gif: no GIF signature");
    }
    width_ = static_cast<std::uint32_t>(gif_->SWidth);
    height_ = static_cast<std::uint32_t>(gif_->SHeight);
    return success();
}

Status FrameReader::failed() const
{
    switch (gif_->Error) {
    case D_GIF_ERR_NOT_ENOUGH_MEM:
        return failure(Error::outOfMemory, "gif: no memory to decode");
    case D_GIF_ERR_WRONG_RECORD:
        return failure(Error::badData, "gif: unknown block");
    case D_GIF_ERR_EOF_TOO_SOON:
        return failure(Error::truncated, "gif: the image data ends before the frame's pixels");
    default:
        return hitEnd_ ? failure(Error::truncated, "gif: the data ends early")
                       : failure(Error::badData, "gif: corrupt image data");
    }
}

namespace {

// The frame's table, else the screen's; with neither, grey levels (index i shows grey i).
void setColours(const ColorMapObject* table, Frame& frame)
{
    frame.colours.fill(Colour{});
    if (table == nullptr) {
        for (unsigned i = 0; i < 256; ++i)
            frame.colours[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                                static_cast<std::uint8_t>(i)};
        frame.colourCount = 256;
        return;
    }
    frame.colourCount = static_cast<unsigned>(std::clamp(table->ColorCount, 0, 256));
    for (unsigned i = 0; i < frame.colourCount; ++i)
        frame.colours[i] = {table->Colors[i].Red, table->Colors[i].Green, table->Colors[i].Blue};
}

Disposal disposalOf(const GraphicsControlBlock& control)
{
    switch (control.DisposalMode) {
    case DISPOSE_BACKGROUND:
        return Disposal::background;
    case DISPOSE_PREVIOUS:
        return Disposal::previous;
    default:
        return Disposal::none;  // unspecified, leave in place, or a value the format leaves undefined
    }
}

}  // namespace

Status FrameReader::next(Frame& frame, bool& found)
{
    // Of several graphic controls before a frame, the last counts.
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif_, &type) == GIF_ERROR)
            return failed();
        if (type == TERMINATE_RECORD_TYPE) {
            found = false;
            return success();
        }
        if (type == IMAGE_DESC_RECORD_TYPE)
            break;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR)
            return failed();
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr)
            DGifExtensionToGCB(block[0], block + 1, &control);  // one of the wrong size is ignored
        while (block != nullptr)
            if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR)
                return failed();
    }
    if (DGifGetImageHeader(gif_) == GIF_ERROR)
        return failed();
    const GifImageDesc& d = gif_->Image;
    frame.place = {static_cast<std::uint32_t>(d.Left), static_cast<std::uint32_t>(d.Top),
                   static_cast<std::uint32_t>(d.Width), static_cast<std::uint32_t>(d.Height)};
    frame.interlaced = d.Interlace;
    setColours(d.ColorMap != nullptr ? d.ColorMap : gif_->SColorMap, frame);
    frame.transparent = control.TransparentColor;
    frame.disposal = disposalOf(control);
    found = true;
    return success();
}

Status FrameReader::readRow(std::uint8_t* row)
{
    if (DGifGetLine(gif_, row, static_cast<int>(gif_->Image.Width)) == GIF_ERROR)
        return failed();
    return success();
}

Status FrameReader::skipRows()
{
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif_, &codeSize, &block) == GIF_ERROR)
        return failed();
    while (block != nullptr)
        if (DGifGetCodeNext(gif_, &block) == GIF_ERROR)
            return failed();
    return success();
}

}  // namespace imglib::gif
