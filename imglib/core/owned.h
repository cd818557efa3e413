// What a C library hands out, owned until handed back to its release function.
#pragma once

#include <memory>

namespace imglib {

template <auto release>
struct Releaser {
    template <typename T>
    void operator()(T* p) const
    {
        release(p);
    }
};

template <typename T, auto release>
using Owned = std::unique_ptr<T, Releaser<release>>;

}  // namespace imglib
