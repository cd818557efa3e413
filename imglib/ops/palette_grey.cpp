#include <limits>

#include "imglib/ops/palette.h"

namespace imglib::ops {

namespace {

// Prefix sums of the used levels' counts, first and second moments, so that the squared error of
// any run of levels around its mean takes O(1).
class LevelSums {
public:
    explicit LevelSums(const std::vector<std::uint64_t>& histogram)
    {
        n_.push_back(0), s_.push_back(0), q_.push_back(0);
        for (unsigned v = 0; v < histogram.size(); ++v) {
            if (histogram[v] == 0)
                continue;
            const double n = double(histogram[v]);
            levels_.push_back(v);
            n_.push_back(n_.back() + n);
            s_.push_back(s_.back() + n * v);
            q_.push_back(q_.back() + n * v * v);
        }
    }
    std::size_t size() const { return levels_.size(); }
    // Squared error of the used levels i..j-1 (j > i) around their mean.
    double error(std::size_t i, std::size_t j) const
    {
        const double n = n_[j] - n_[i], s = s_[j] - s_[i];
        return (q_[j] - q_[i]) - s * s / n;
    }
    std::uint8_t mean(std::size_t i, std::size_t j) const
    {
        return static_cast<std::uint8_t>((s_[j] - s_[i]) / (n_[j] - n_[i]) + 0.5);
    }

private:
    std::vector<unsigned> levels_;
    std::vector<double> n_, s_, q_;
};

}  // namespace

std::vector<Colour> greyPalette(const std::vector<std::uint64_t>& histogram, std::size_t count)
{
    const LevelSums sums(histogram);
    const std::size_t m = sums.size();
    if (m == 0)
        return {};
    count = std::min(count, m);
    // best[k][j]: least error of the first j used levels cut into k runs; from[k][j]: where the
    // last run starts.
    constexpr double none = std::numeric_limits<double>::infinity();
    std::vector<std::vector<double>> best(count + 1, std::vector<double>(m + 1, none));
    std::vector<std::vector<std::size_t>> from(count + 1, std::vector<std::size_t>(m + 1, 0));
    best[0][0] = 0;
    for (std::size_t k = 1; k <= count; ++k)
        for (std::size_t j = k; j <= m - (count - k); ++j)
            for (std::size_t i = k - 1; i < j; ++i) {
                const double e = best[k - 1][i] + sums.error(i, j);
                if (e < best[k][j]) {
                    best[k][j] = e;
                    from[k][j] = i;
                }
            }
    std::vector<Colour> palette(count);
    for (std::size_t k = count, j = m; k > 0; j = from[k][j], --k) {
        const std::uint8_t v = sums.mean(from[k][j], j);
        palette[k - 1] = Colour{v, v, v};
    }
    return palette;
}

}  // namespace imglib::ops
