// The one source of randomness: a 32-bit linear congruential generator with
// 15-bit draws. It starts from state 1 in every run and is never reseeded,
// so every run sees the same sequence of draws.
#ifndef BRELLUM_UNIFORM_SOURCE_H
#define BRELLUM_UNIFORM_SOURCE_H

#include <cstdint>

// The largest value a draw can take (2^15 - 1).
constexpr std::int32_t draw_max = 32767;

// Advances the state by one step and returns bits 16 to 30 of the new state,
// a whole number from 0 to draw_max. Cannot fail.
std::int32_t next_draw();

// Takes the next count draws at once into draws[0 .. count - 1]: the same
// values, in the same order, as count calls of next_draw.
void next_draws(std::int32_t* draws, std::int32_t count);

#endif
