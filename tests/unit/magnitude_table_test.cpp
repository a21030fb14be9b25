#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "magnitude_table.h"
#include "test_support.h"
#include "uniform_source.h"

TEST(magnitude_table, start_up_constants_are_pi_and_the_normal_peak)
{
    EXPECT_EQ(bits_of(pi_constant), 0x400921fb54442d18u);
    EXPECT_EQ(bits_of(normal_density_constant), 0x3fd9884533d43651u);
}

TEST(magnitude_table, grid_is_k_times_the_double_0_01)
{
    build_magnitude_table();
    EXPECT_EQ(bits_of(magnitude_table.grid[1]), bits_of(0.01));
    EXPECT_EQ(bits_of(magnitude_table.grid[416]), bits_of(4.16));
    EXPECT_EQ(bits_of(magnitude_table.grid[600]), bits_of(6.0));
    // The product, not the double nearest k/100 (which k / 100.0 is).
    int differing = 0;
    for (int k = 1; k <= table_entries; ++k) {
        differing += magnitude_table.grid[k] != static_cast<double>(k) / 100.0;
    }
    EXPECT_EQ(differing, 74);
}

// Every one of the 1001 points carries the weight dx, the end points too, so
// each entry lies above P(|Z| <= x) by about c * dx * exp(-x^2 / 2). A table
// of exact probabilities, of trapezoid sums or of 1000 terms is off by up to
// several parts in ten thousand.
TEST(magnitude_table, cumulative_is_the_full_weight_sum_of_the_density)
{
    build_magnitude_table();
    const double pi = 4.0 * std::atan(1.0);
    const double c = 1.0 / std::sqrt(2.0 * pi);
    double worst = 0.0;
    for (int k = 1; k <= table_entries; ++k) {
        const double x = magnitude_table.grid[k];
        const double dx = 2.0 * x * 0.001;
        const double expected = std::erf(x / std::sqrt(2.0)) + c * dx * std::exp(-x * x / 2.0);
        worst = std::fmax(worst, std::fabs(magnitude_table.cumulative[k] - expected));
    }
    EXPECT_LE(worst, 1e-6);

    const double first = magnitude_table.cumulative[1];
    const double exact_first = std::erf(0.01 / std::sqrt(2.0));
    EXPECT_LT(first, 0.008);
    EXPECT_GT(first, 0.0079);
    EXPECT_NEAR((first - exact_first) / exact_first, 1e-3, 1e-4);
}

TEST(magnitude_table, cumulative_rises_strictly_and_stays_below_one)
{
    build_magnitude_table();
    const double* cumulative = magnitude_table.cumulative;
    EXPECT_GT(cumulative[1], 0.0);
    double smallest_step = 1.0;
    int smallest_at = 0;
    for (int k = 1; k < table_entries; ++k) {
        ASSERT_LT(cumulative[k], cumulative[k + 1]) << "k " << k;
        if (cumulative[k + 1] - cumulative[k] < smallest_step) {
            smallest_step = cumulative[k + 1] - cumulative[k];
            smallest_at = k;
        }
    }
    EXPECT_EQ(smallest_at, 599);
    EXPECT_NEAR(smallest_step, 1.2e-10, 0.1e-10);
    EXPECT_NEAR(1.0 - cumulative[600], 1.9e-9, 0.1e-9);
}

// The last bits of the entries depend on the exponential; they never matter
// because no uniform value d / 32767.0 comes within 1e-9 of an entry.
TEST(magnitude_table, no_uniform_value_lies_near_an_entry)
{
    build_magnitude_table();
    double closest = 1.0;
    int closest_draw = -1;
    int closest_entry = -1;
    for (int d = 0; d <= draw_max; ++d) {
        const double u = static_cast<double>(d) / 32767.0;
        for (int k = 1; k <= table_entries; ++k) {
            const double distance = std::fabs(u - magnitude_table.cumulative[k]);
            if (distance < closest) {
                closest = distance;
                closest_draw = d;
                closest_entry = k;
            }
        }
    }
    EXPECT_GT(closest, 1e-9);
    EXPECT_EQ(closest_draw, draw_max);
    EXPECT_EQ(closest_entry, 600);
}

TEST(magnitude_table, draws_select_brackets_up_to_4_16)
{
    build_magnitude_table();
    const auto bracket_of_draw = [](int d) { return reference_bracket(static_cast<double>(d) / 32767.0); };
    // draw       bracket
    EXPECT_EQ(bracket_of_draw(0), 0);
    EXPECT_EQ(bracket_of_draw(261), 0);
    EXPECT_EQ(bracket_of_draw(262), 1);
    EXPECT_EQ(bracket_of_draw(draw_max - 1), 416);
    EXPECT_EQ(bracket_of_draw(draw_max), 0);
    std::set<int> brackets;
    int zero_draws = 0;
    for (int d = 0; d <= draw_max; ++d) {
        const int j = bracket_of_draw(d);
        if (j == 0) {
            ++zero_draws;
        } else {
            brackets.insert(j);
        }
    }
    EXPECT_EQ(zero_draws, 263);
    EXPECT_EQ(brackets.size(), 360u);
    EXPECT_EQ(*brackets.rbegin(), 416);
}

TEST(magnitude_table, two_builds_are_bit_identical)
{
    build_magnitude_table();
    static magnitude_table_data first;
    first = magnitude_table;
    build_magnitude_table();
    EXPECT_EQ(std::memcmp(&first, &magnitude_table, sizeof first), 0);
    // Entry 0 and the entries past 600 are never written.
    EXPECT_EQ(bits_of(magnitude_table.grid[0]), 0u);
    EXPECT_EQ(bits_of(magnitude_table.cumulative[0]), 0u);
    for (int k = table_entries + 1; k < table_capacity; ++k) {
        ASSERT_EQ(bits_of(magnitude_table.grid[k]), 0u) << "k " << k;
        ASSERT_EQ(bits_of(magnitude_table.cumulative[k]), 0u) << "k " << k;
    }
}
