// Times the noise stage alone (table build, draws, scaling) on max_points
// points, the way a run does it once: one pass, fresh process.
//
// usage: brellum_noise_stage

#include <chrono>
#include <cstdio>

#include "magnitude_table.h"
#include "noise.h"
#include "platform.h"
#include "shared_data.h"

int main()
{
    advise_huge_pages(noise_buffer, sizeof noise_buffer);
    time_history.point_count = max_points;
    requested_sigma = 0.05;
    const auto start = std::chrono::steady_clock::now();
    build_magnitude_table();
    const auto built = std::chrono::steady_clock::now();
    draw_raw_noise();
    const auto drawn = std::chrono::steady_clock::now();
    scale_noise();
    const auto scaled = std::chrono::steady_clock::now();
    const auto ms = [](auto from, auto to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    std::printf("table %.2f ms, draws %.2f ms, scaling %.2f ms, noise stage %.2f ms\n",
                ms(start, built), ms(built, drawn), ms(drawn, scaled), ms(start, scaled));
    return 0;
}
