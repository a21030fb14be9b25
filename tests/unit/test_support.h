// Small helpers shared by the unit tests: doubles as bit patterns, fixture
// files, and an independent model of the draw sequence and the bracket rule.
#ifndef BRELLUM_TEST_SUPPORT_H
#define BRELLUM_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "magnitude_table.h"

inline double from_bits(std::uint64_t bits)
{
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::uint64_t bits_of(double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A temporary file holding exactly the given bytes, positioned at its start.
inline std::FILE* fixture_file(const std::string& bytes)
{
    std::FILE* file = std::tmpfile();
    if (file != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
    }
    return file;
}

// Every byte of a file, from its start.
inline std::string file_bytes(std::FILE* file)
{
    std::string bytes;
    std::rewind(file);
    char block[4096];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.append(block, got);
    }
    return bytes;
}

// The generator written out again from its definition, on a state of its own.
inline std::uint32_t reference_step(std::uint32_t state)
{
    return state * 214013u + 2531011u;
}

inline std::int32_t reference_draw_of(std::uint32_t state)
{
    return static_cast<std::int32_t>((state >> 16) & 0x7fffu);
}

// The bracket rule, as plainly as it can be written: the lowest j in 1..599
// with cumulative[j] <= u <= cumulative[j + 1], or 0 when there is none.
inline int reference_bracket(double u)
{
    for (int j = 1; j < table_entries; ++j) {
        if (magnitude_table.cumulative[j] <= u && u <= magnitude_table.cumulative[j + 1]) {
            return j;
        }
    }
    return 0;
}

#endif
