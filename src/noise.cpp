#include "noise.h"

#include <cmath>
#include <cstdint>

#include "magnitude_table.h"
#include "shared_data.h"
#include "uniform_source.h"

noise_statistics_data noise_statistics;

// For each possible draw, the outcome of the bracket search and of the sign
// test on the value d / 32767.0. Made from the table at the start of each
// draw_raw_noise, so the per-point work is two lookups.
static double magnitude_of_draw[draw_max + 1];
// The sign as a factor, -1.0 or 1.0: multiplying by 1.0 leaves every value
// as it is, so the sign is applied without a branch that cannot be predicted.
static double sign_of_draw[draw_max + 1];

// The lowest j in first..599 with cumulative[j] <= u <= cumulative[j + 1];
// 0 when none qualifies. j stops at 599 because j + 1 must be an entry of the
// table, so grid[600] is never chosen.
static int search_bracket(double u, int first)
{
    const double* cumulative = magnitude_table.cumulative;
    for (int j = first; j < table_entries; ++j) {
        if (cumulative[j] <= u && u <= cumulative[j + 1]) {
            return j;
        }
    }
    return 0;
}

static void map_draws()
{
    // In a strictly increasing table, a bracket j that fails for u fails for
    // every larger u too (u lies past cumulative[j + 1]), so the search for
    // the next draw may start at the bracket found for the last one. Should
    // the table not be strictly increasing, every search starts at 1.
    bool increasing = true;
    for (int j = 1; j < table_entries; ++j) {
        increasing = increasing && magnitude_table.cumulative[j] < magnitude_table.cumulative[j + 1];
    }
    int last = 1;
    for (std::int32_t d = 0; d <= draw_max; ++d) {
        const double u = static_cast<double>(d) / 32767.0;
        const int j = search_bracket(u, increasing ? last : 1);
        magnitude_of_draw[d] = j == 0 ? 0.0 : magnitude_table.grid[j];
        if (j != 0) {
            last = j;
        }
        sign_of_draw[d] = u <= 0.5 ? -1.0 : 1.0;
    }
}

void draw_raw_noise()
{
    noise_statistics.raw_sum = 0.0;
    noise_statistics.raw_square_sum = 0.0;
    const std::int32_t n = time_history.point_count;
    if (n == 0) {
        return;
    }
    map_draws();
    // The draws are taken a batch of points at a time, in the same order,
    // so that the sums run in registers and not across a call per draw.
    constexpr std::int32_t batch_points = 512;
    std::int32_t draws[2 * batch_points];
    double sum = 0.0;
    double square_sum = 0.0;
    for (std::int32_t first = 0; first < n; first += batch_points) {
        const std::int32_t count = n - first < batch_points ? n - first : batch_points;
        next_draws(draws, 2 * count);  // magnitude draw, then sign draw, per point
        for (std::int32_t j = 0; j < count; ++j) {
            // The sign draw is taken for every point; a magnitude of 0.0 given
            // the minus sign becomes -0.0, which adds and squares as 0.
            const double value = magnitude_of_draw[draws[2 * j]] * sign_of_draw[draws[2 * j + 1]];
            noise_buffer[first + j] = value;
            sum = sum + value;
            square_sum = square_sum + value * value;
        }
    }
    noise_statistics.raw_sum = sum;
    noise_statistics.raw_square_sum = square_sum;
}

void scale_noise()
{
    const std::int32_t count = time_history.point_count;
    if (count == 0) {
        return;
    }
    noise_statistics_data& s = noise_statistics;
    const double n = static_cast<double>(count);
    s.raw_mean = s.raw_sum / n;
    s.raw_mean_square = s.raw_square_sum / n;
    const double variance = s.raw_mean_square - s.raw_mean * s.raw_mean;
    // A variance that rounding makes slightly negative still gives a small
    // positive deviation.
    s.raw_deviation = std::sqrt(std::fabs(variance));
    if (s.raw_deviation == 0.0) {
        // Only a single point has no spread (its one raw value is 0.0 by the
        // fixed draw sequence); the quotient below would not be finite and the
        // noise would be NaN, so the point keeps its amplitude instead.
        for (std::int32_t i = 0; i < count; ++i) {
            noise_buffer[i] = 0.0;
        }
        return;
    }
    // The division comes first, then one subtraction and one product per point.
    const double factor = requested_sigma / s.raw_deviation;
    const double mean = s.raw_mean;
    for (std::int32_t i = 0; i < count; ++i) {
        noise_buffer[i] = (noise_buffer[i] - mean) * factor;
    }
}
