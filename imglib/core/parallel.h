// A tiny parallel-for over contiguous bands, for operations on one image.
//
// The work [0, count) is cut into one band per thread and the bands run at once. How many bands
// there are depends on the thread count, so a body must give the same result whatever the cut:
// rows written independently, or integer sums merged in band order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace imglib {

// The threads an operation may use: 2 by default (1 on a one-core machine).
unsigned threadCount();
// For tests and benchmarks; 0 restores the default.
void setThreadCount(unsigned count);

// The number of bands parallelFor cuts `count` items into, each with at least `minPerBand`.
inline std::size_t bandCount(std::size_t count, std::size_t minPerBand)
{
    const std::size_t most = std::max<std::size_t>(1, count / std::max<std::size_t>(1, minPerBand));
    return std::min<std::size_t>(threadCount(), most);
}

// Calls body(band, begin, end) for each of `bands` bands of [0, count), the first band on the
// calling thread. An exception thrown by a body is passed on after every band has finished.
template <typename Body>
void runBands(std::size_t count, std::size_t bands, Body&& body)
{
    const auto bounds = [&](std::size_t band) { return count * band / bands; };
    if (bands <= 1) {
        body(std::size_t{0}, std::size_t{0}, count);
        return;
    }
    std::vector<std::exception_ptr> errors(bands);
    const auto run = [&](std::size_t band) {
        try {
            body(band, bounds(band), bounds(band + 1));
        } catch (...) {
            errors[band] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(bands - 1);
    try {
        for (std::size_t band = 1; band < bands; ++band)
            helpers.emplace_back(run, band);
    } catch (...) {
        // No thread to be had: the calling thread does the bands that did not start.
        for (std::size_t band = helpers.size() + 1; band < bands; ++band)
            run(band);
    }
    run(0);
    for (auto& helper : helpers)
        helper.join();
    for (const auto& error : errors)
        if (error)
            std::rethrow_exception(error);
}

// runBands over bandCount(count, minPerBand) bands.
template <typename Body>
void parallelFor(std::size_t count, std::size_t minPerBand, Body&& body)
{
    runBands(count, bandCount(count, minPerBand), body);
}

// Sums over bands: sumOf(begin, end) gives the sum of one band of [0, count), on the band's own
// thread, and the bands' sums are merged in band order with merge(total, part), so that integer
// sums come out the same whatever the thread count.
template <typename SumOf, typename Merge>
auto parallelSum(std::size_t count, std::size_t minPerBand, SumOf&& sumOf, Merge&& merge)
{
    using Sum = decltype(sumOf(std::size_t{0}, std::size_t{0}));
    std::vector<Sum> partial(bandCount(count, minPerBand));
    runBands(count, partial.size(),
             [&](std::size_t band, std::size_t begin, std::size_t end) { partial[band] = sumOf(begin, end); });
    for (std::size_t band = 1; band < partial.size(); ++band)
        merge(partial[0], partial[band]);
    return std::move(partial[0]);
}

}  // namespace imglib
