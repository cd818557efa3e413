// The table of images named by handles. Handles are positive and never reused in a process;
// 0 names no image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "imglib/core/image.h"

namespace imglib {

class HandleTable {
public:
    // Takes the image and names it with a new handle; 0 when handles have run out.
    std::int32_t add(Image image);
    // The image named by `handle`, or null. The image stays alive while the pointer is held.
    std::shared_ptr<const Image> find(std::int32_t handle) const;
    // Forgets the image; unknown handles and 0 are ignored.
    void release(std::int32_t handle);
    // Replaces the image named by `old` with `image` under a new handle, in one step; returns
    // the new handle, or 0 (and keeps `old`) when `old` is unknown or handles have run out.
    std::int32_t replace(std::int32_t old, Image image);

    std::size_t liveCount() const;

private:
    mutable std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<const Image>> images_;
    std::int32_t last_ = 0;
};

// The table behind the C interface.
HandleTable& handleTable();

}  // namespace imglib
