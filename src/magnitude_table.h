// The table of Gaussian magnitudes on a grid of 0.01 and, for each, the
// probability that a standard normal variable lies within plus or minus it.
#ifndef BRELLUM_MAGNITUDE_TABLE_H
#define BRELLUM_MAGNITUDE_TABLE_H

constexpr int table_capacity = 1000;      // size of each array
constexpr int table_entries = 600;        // entries 1 to 600 are written
constexpr double grid_step = 0.01;
constexpr int integration_steps = 1000;   // intervals of [-x, x]; 1001 terms

// pi, then 1 / sqrt(2 pi); computed once at start-up, in this order.
extern const double pi_constant;
extern const double normal_density_constant;

struct magnitude_table_data {
    double grid[table_capacity];        // grid[k] = k * 0.01, k = 1..600
    double cumulative[table_capacity];  // close to P(|Z| <= grid[k]); strictly increasing
};
extern magnitude_table_data magnitude_table;

// Fills grid[1..600] and cumulative[1..600]. Depends on no input; a second
// call writes the same values again.
void build_magnitude_table();

#endif
