#include "shared_data.h"

#include "platform.h"

// Aligned for huge pages: see read_time_history.
alignas(large_array_alignment) time_history_data time_history;
alignas(large_array_alignment) double noise_buffer[max_points];
double requested_sigma = 0.0;
char input_file_name[file_name_capacity];
char output_file_name[file_name_capacity];
std::FILE* input_file = nullptr;
std::FILE* output_file = nullptr;
