#include "imglib/core/parallel.h"

#include <atomic>

namespace imglib {

namespace {

std::atomic<unsigned> chosenCount{0};

unsigned defaultCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 1 ? 1 : 2;
}

}  // namespace

unsigned threadCount()
{
    const unsigned chosen = chosenCount.load(std::memory_order_relaxed);
    return chosen != 0 ? chosen : defaultCount();
}

void setThreadCount(unsigned count) { chosenCount.store(count, std::memory_order_relaxed); }

}  // namespace imglib
