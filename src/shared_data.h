// The data of one run. Everything lives in static storage for the whole run
// and nothing is allocated: the per-point arrays are fixed at max_points.
#ifndef BRELLUM_SHARED_DATA_H
#define BRELLUM_SHARED_DATA_H

#include <cstdint>
#include <cstdio>

// Capacity of time_history and noise_buffer, in points.
constexpr std::int32_t max_points = 5000000;

// Size of each file-name buffer, terminating zero included: a name has at
// most 259 characters.
constexpr int file_name_capacity = 260;

// The series read from the input file. Entries the input did not fill hold 0.0.
struct time_history_data {
    double time[max_points];       // seconds, as read
    double amplitude[max_points];  // as read; the noise is added only when written
    std::int32_t point_count;      // points read, 0 to max_points; fixed once read
};
extern time_history_data time_history;

// Per point: the raw noise after draw_raw_noise, the final noise after
// scale_noise. Parallel to time_history.
extern double noise_buffer[max_points];

// The standard deviation entered by the user; 0.0 until a value is read.
extern double requested_sigma;

// The names as typed, each followed by a zero byte; empty at start.
extern char input_file_name[file_name_capacity];
extern char output_file_name[file_name_capacity];

// The input, read as raw bytes; open from its opening until it has been read.
extern std::FILE* input_file;
// The output, created or emptied; open until the last line is written.
extern std::FILE* output_file;

#endif
