// One noise value per point: a grid magnitude picked by one uniform draw and
// a sign picked by a second, then the mean removed and the values scaled to
// the requested standard deviation over all points.
#ifndef BRELLUM_NOISE_H
#define BRELLUM_NOISE_H

struct noise_statistics_data {
    double raw_sum;          // sum of the raw values, in point order
    double raw_square_sum;   // sum of their squares, in point order
    double raw_mean;         // raw_sum / point_count
    double raw_mean_square;  // raw_square_sum / point_count
    double raw_deviation;    // population standard deviation of the raw values
};
extern noise_statistics_data noise_statistics;

// Gives each point 0..point_count-1 its raw value in noise_buffer, taking
// exactly two draws per point, magnitude before sign. Needs the built table.
void draw_raw_noise();

// Rewrites noise_buffer in place with the final noise: mean 0 and population
// standard deviation |requested_sigma| for two points or more. A single point
// has no spread to scale, and its noise is 0.0.
void scale_noise();

#endif
