#include "magnitude_table.h"

#include <cmath>

// Both are dynamic initialisations of this one file, so they run in the
// order written, before main.
const double pi_constant = std::atan2(0.0, -1.0);
const double normal_density_constant = 1.0 / std::sqrt(pi_constant + pi_constant);

magnitude_table_data magnitude_table;

void build_magnitude_table()
{
    for (int k = 1; k <= table_entries; ++k) {
        // The product, not the double nearest k/100: 74 entries differ in
        // the last bit, and the bracket bounds depend on the product.
        const double x = static_cast<double>(k) * 0.01;
        magnitude_table.grid[k] = x;
        const double dx = (x - (-x)) * 0.001;
        // Every one of the 1001 points carries the full weight dx, the two
        // end points included. This is not the trapezoid rule, and the table's
        // values (about one part in a thousand above the exact probabilities)
        // decide which magnitude a draw selects.
        double s = 0.0;
        for (int m = 0; m <= integration_steps; ++m) {
            const double t = static_cast<double>(m) * dx + (-x);
            const double term = std::exp(-(t * t) * 0.5);
            s = term + s;
        }
        magnitude_table.cumulative[k] = (normal_density_constant * dx) * s;
    }
}
