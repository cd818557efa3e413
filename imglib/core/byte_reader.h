// A bounds-checked cursor over a file's bytes. Every read can fail and says so; nothing is ever
// read past the end and no value is invented: a failed read leaves its output untouched and the
// cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace imglib {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t position() const { return pos_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ == data_.size(); }

    bool seek(std::uint64_t offset)
    {
        if (offset > data_.size())
            return false;
        pos_ = static_cast<std::size_t>(offset);
        return true;
    }
    bool skip(std::uint64_t count)
    {
        if (count > remaining())
            return false;
        pos_ += static_cast<std::size_t>(count);
        return true;
    }

    bool u8(std::uint8_t& v)
    {
        if (remaining() < 1)
            return false;
        v = data_[pos_++];
        return true;
    }
    bool u16le(std::uint16_t& v) { return little(v); }
    bool u32le(std::uint32_t& v) { return little(v); }
    bool u16be(std::uint16_t& v) { return big(v); }
    bool u32be(std::uint32_t& v) { return big(v); }
    bool i16le(std::int16_t& v) { return signedOf<std::uint16_t>(v, &ByteReader::u16le); }
    bool i32le(std::int32_t& v) { return signedOf<std::uint32_t>(v, &ByteReader::u32le); }

    // The next `count` bytes, without copying.
    bool bytes(std::uint64_t count, std::span<const std::uint8_t>& out)
    {
        if (count > remaining())
            return false;
        out = data_.subspan(pos_, static_cast<std::size_t>(count));
        pos_ += static_cast<std::size_t>(count);
        return true;
    }

private:
    template <typename T>
    bool little(T& v)
    {
        if (remaining() < sizeof(T))
            return false;
        T r = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            r = static_cast<T>(r | static_cast<T>(data_[pos_ + i]) << (8 * i));
        pos_ += sizeof(T);
        v = r;
        return true;
    }
    template <typename T>
    bool big(T& v)
    {
        if (remaining() < sizeof(T))
            return false;
        T r = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            r = static_cast<T>(r << 8 | data_[pos_ + i]);
        pos_ += sizeof(T);
        v = r;
        return true;
    }
    template <typename U, typename S>
    bool signedOf(S& v, bool (ByteReader::*read)(U&))
    {
        U u;
        if (!(this->*read)(u))
            return false;
        std::memcpy(&v, &u, sizeof v);
        return true;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

}  // namespace imglib
