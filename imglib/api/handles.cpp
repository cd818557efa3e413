#include "imglib/api/handles.h"

#include <limits>

namespace imglib {

std::int32_t HandleTable::add(Image image)
{
    auto shared = std::make_shared<const Image>(std::move(image));
    std::lock_guard lock(mutex_);
    if (last_ == std::numeric_limits<std::int32_t>::max())
        return 0;
    images_.emplace(++last_, std::move(shared));
    return last_;
}

std::shared_ptr<const Image> HandleTable::find(std::int32_t handle) const
{
    std::lock_guard lock(mutex_);
    const auto it = images_.find(handle);
    return it == images_.end() ? nullptr : it->second;
}

void HandleTable::release(std::int32_t handle)
{
    std::shared_ptr<const Image> dropped;  // freed outside the lock
    std::lock_guard lock(mutex_);
    if (const auto it = images_.find(handle); it != images_.end()) {
        dropped = std::move(it->second);
        images_.erase(it);
    }
}

std::int32_t HandleTable::replace(std::int32_t old, Image image)
{
    auto shared = std::make_shared<const Image>(std::move(image));
    std::shared_ptr<const Image> dropped;
    std::lock_guard lock(mutex_);
    const auto it = images_.find(old);
    if (it == images_.end() || last_ == std::numeric_limits<std::int32_t>::max())
        return 0;
    dropped = std::move(it->second);
    images_.erase(it);
    images_.emplace(++last_, std::move(shared));
    return last_;
}

std::size_t HandleTable::liveCount() const
{
    std::lock_guard lock(mutex_);
    return images_.size();
}

HandleTable& handleTable()
{
    static HandleTable table;
    return table;
}

}  // namespace imglib
