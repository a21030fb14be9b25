#include "uniform_source.h"

// The generator state. Its static initial value is in place before any code
// runs; only next_draw writes it.
static std::uint32_t uniform_source = 1;

std::int32_t next_draw()
{
    // The classic multiplier and increment of the C library generator of the
    // platform the tool was made for; unsigned arithmetic wraps modulo 2^32.
    uniform_source = uniform_source * 214013u + 2531011u;
    // Bit 31 never reaches a draw, so a draw is never negative.
    return static_cast<std::int32_t>((uniform_source >> 16) & 0x7fffu);
}

void next_draws(std::int32_t* draws, std::int32_t count)
{
    std::uint32_t state = uniform_source;
    for (std::int32_t i = 0; i < count; ++i) {
        state = state * 214013u + 2531011u;
        draws[i] = static_cast<std::int32_t>((state >> 16) & 0x7fffu);
    }
    uniform_source = state;
}
