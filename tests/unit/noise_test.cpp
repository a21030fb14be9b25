#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "magnitude_table.h"
#include "noise.h"
#include "shared_data.h"
#include "test_support.h"
#include "uniform_source.h"

// The generator state is process-wide and has no reset. ctest runs every test
// of this binary in a process of its own, so a test that pins the first draws
// of a run sees the fresh state there; such a test takes no other draws, so it
// does not depend on the order in which tests run. Every other test here
// works from whatever state it finds: it either needs no particular draws or
// first finds the state from a few draws (sync_with_generator).

namespace {

// Finds the generator's state from four draws. The first draw gives bits 16
// to 30 of the state; bits 0 to 15 are tried until the next three draws match.
// Bit 31 never reaches a draw, now or later, so it is taken as 0.
std::uint32_t sync_with_generator()
{
    const std::uint32_t first = static_cast<std::uint32_t>(next_draw());
    const std::int32_t following[3] = {next_draw(), next_draw(), next_draw()};
    for (std::uint32_t low = 0; low <= 0xffffu; ++low) {
        std::uint32_t state = first << 16 | low;
        bool matches = true;
        for (const std::int32_t draw : following) {
            state = reference_step(state);
            matches = matches && reference_draw_of(state) == draw;
        }
        if (matches) {
            return state;
        }
    }
    ADD_FAILURE() << "no state gives the draws seen";
    return 0;
}

// The next draws of the generator agree with the reference from its state on.
void expect_generator_at(std::uint32_t state)
{
    for (int i = 0; i < 3; ++i) {
        state = reference_step(state);
        EXPECT_EQ(next_draw(), reference_draw_of(state)) << "draw " << i << " after";
    }
}

double grid(int k)
{
    return magnitude_table.grid[k];
}

void draw_points(std::int32_t n)
{
    build_magnitude_table();
    time_history.point_count = n;
    draw_raw_noise();
}

}  // namespace

// Needs the fresh generator state (see above).
TEST(noise, first_six_raw_values_are_pinned)
{
    draw_points(6);
    const double expected[6] = {0.0, grid(24), -grid(81), grid(45), grid(134), grid(21)};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bits_of(noise_buffer[i]), bits_of(expected[i])) << "point " << i;
    }
    EXPECT_EQ(bits_of(grid(24)), bits_of(0.24));
    EXPECT_EQ(bits_of(grid(81)), bits_of(0.81));
}

// Needs the fresh generator state (see above).
TEST(noise, two_points_scale_to_minus_and_plus_sigma)
{
    draw_points(2);
    requested_sigma = 0.05;
    scale_noise();
    EXPECT_EQ(noise_statistics.raw_mean, grid(24) * 0.5);
    EXPECT_NEAR(noise_statistics.raw_deviation, 0.12, 1e-16);
    EXPECT_DOUBLE_EQ(noise_buffer[0], -0.05);
    EXPECT_DOUBLE_EQ(noise_buffer[1], 0.05);
}

TEST(noise, each_point_takes_a_magnitude_draw_then_a_sign_draw)
{
    const std::int32_t n = 1000;
    draw_points(n);  // a first call, whose sums the second must not keep
    std::uint32_t state = sync_with_generator();
    draw_points(n);
    double sum = 0.0;
    double square_sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        state = reference_step(state);
        const int j = reference_bracket(static_cast<double>(reference_draw_of(state)) / 32767.0);
        state = reference_step(state);
        const bool negated = reference_draw_of(state) <= (draw_max - 1) / 2;
        const double magnitude = j == 0 ? 0.0 : grid(j);
        const double expected = negated ? magnitude * -1.0 : magnitude;
        ASSERT_EQ(bits_of(noise_buffer[i]), bits_of(expected)) << "point " << i;
        sum = sum + expected;
        square_sum = square_sum + expected * expected;
    }
    EXPECT_EQ(noise_statistics.raw_sum, sum);
    EXPECT_EQ(noise_statistics.raw_square_sum, square_sum);
    expect_generator_at(state);
}

TEST(noise, takes_exactly_two_draws_per_point)
{
    for (const std::int32_t n : {0, 1, 2, 7}) {
        SCOPED_TRACE("points " + std::to_string(n));
        noise_buffer[0] = 7.0;
        const std::uint32_t state = sync_with_generator();
        draw_points(n);
        scale_noise();
        std::uint32_t expected_state = state;
        for (std::int32_t i = 0; i < 2 * n; ++i) {
            expected_state = reference_step(expected_state);
        }
        expect_generator_at(expected_state);
        if (n == 0) {
            EXPECT_EQ(noise_buffer[0], 7.0);  // not touched
        }
    }
}

TEST(noise, all_draws_give_360_magnitudes_up_to_4_16)
{
    // Five million magnitude draws meet each of the 32768 draw values about
    // 150 times, so every magnitude that a draw can select turns up.
    draw_points(max_points);
    bool seen[table_entries + 1] = {};
    int zeros = 0;
    int negative_zeros = 0;
    for (std::int32_t i = 0; i < max_points; ++i) {
        const double value = noise_buffer[i];
        if (value == 0.0) {
            ++zeros;
            negative_zeros += std::signbit(value);
            continue;
        }
        // Every non-zero value is plus or minus a grid entry, bit for bit.
        const int k = static_cast<int>(std::lround(std::fabs(value) / 0.01));
        ASSERT_TRUE(k >= 1 && k <= table_entries) << value;
        ASSERT_EQ(bits_of(std::fabs(value)), bits_of(grid(k))) << value;
        seen[k] = true;
    }
    int distinct = 0;
    int largest = 0;
    for (int k = 1; k <= table_entries; ++k) {
        if (seen[k]) {
            ++distinct;
            largest = k;
        }
    }
    EXPECT_TRUE(seen[1]);
    EXPECT_EQ(distinct, 360);
    EXPECT_EQ(largest, 416);
    // 263 of the 32768 draw values give 0.0, and half of those get a minus.
    EXPECT_NEAR(zeros, max_points / 32768.0 * 263, 2000);
    EXPECT_NEAR(negative_zeros, zeros / 2.0, 1000);
}

namespace {

struct drawn_noise {
    std::vector<double> values;
    double raw_sum;
    double raw_square_sum;
};

drawn_noise keep_drawn(std::int32_t n)
{
    return {std::vector<double>(noise_buffer, noise_buffer + n), noise_statistics.raw_sum,
            noise_statistics.raw_square_sum};
}

void scale_again(const drawn_noise& drawn, double sigma)
{
    std::copy(drawn.values.begin(), drawn.values.end(), noise_buffer);
    noise_statistics.raw_sum = drawn.raw_sum;
    noise_statistics.raw_square_sum = drawn.raw_square_sum;
    requested_sigma = sigma;
    scale_noise();
}

}  // namespace

TEST(noise, scaled_noise_has_mean_zero_and_the_requested_deviation)
{
    const std::int32_t n = 5000;
    draw_points(n);
    const drawn_noise drawn = keep_drawn(n);
    for (const double sigma : {0.05, 1.0, 3.0e5, -0.05}) {
        SCOPED_TRACE("sigma " + std::to_string(sigma));
        scale_again(drawn, sigma);
        double sum = 0.0;
        for (std::int32_t i = 0; i < n; ++i) {
            sum += noise_buffer[i];
        }
        const double mean = sum / n;
        double square_sum = 0.0;
        for (std::int32_t i = 0; i < n; ++i) {
            square_sum += (noise_buffer[i] - mean) * (noise_buffer[i] - mean);
        }
        EXPECT_NEAR(mean, 0.0, 1e-12 * std::fabs(sigma));
        EXPECT_NEAR(std::sqrt(square_sum / n), std::fabs(sigma), 1e-12 * std::fabs(sigma));
    }
}

TEST(noise, negative_sigma_negates_the_noise_exactly)
{
    const std::int32_t n = 1000;
    draw_points(n);
    const drawn_noise drawn = keep_drawn(n);
    scale_again(drawn, 0.05);
    const std::vector<double> positive(noise_buffer, noise_buffer + n);
    scale_again(drawn, -0.05);
    for (std::int32_t i = 0; i < n; ++i) {
        ASSERT_EQ(bits_of(noise_buffer[i]), bits_of(-positive[static_cast<std::size_t>(i)])) << "point " << i;
    }
}

TEST(noise, sigma_zero_gives_zero_noise)
{
    const std::int32_t n = 1000;
    draw_points(n);
    requested_sigma = 0.0;
    scale_noise();
    for (std::int32_t i = 0; i < n; ++i) {
        ASSERT_EQ(noise_buffer[i], 0.0) << "point " << i;
    }
}

// A single point has no spread to scale: its noise is 0.0, never NaN, so it
// keeps its amplitude whatever the requested deviation.
TEST(noise, a_single_point_gets_zero_noise)
{
    for (const double sigma : {0.05, 0.0, -2.0}) {
        SCOPED_TRACE("sigma " + std::to_string(sigma));
        draw_points(1);
        requested_sigma = sigma;
        scale_noise();
        EXPECT_EQ(bits_of(noise_buffer[0]), bits_of(0.0));
        EXPECT_EQ(noise_statistics.raw_deviation, 0.0);
    }
}
