// The standard-library floor for the benchmark: the least any tool must do to
// turn the input into the output layout with the library's own conversions.
// Reads the file in 1 MiB blocks, parses every number with std::from_chars
// into two static arrays, formats each value with std::to_chars (scientific,
// precision 7) into "%14.7e %14.7e \r\n" lines with three-digit exponents and
// writes them in 1 MiB blocks. No noise, no dialogue.
//
// usage: brellum_stdlib_floor INPUT OUTPUT

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform.h"

namespace {

constexpr std::size_t floor_points = 5000000;
constexpr std::size_t block_size = std::size_t{1} << 20;

// Aligned and advised like the tool's arrays, so that both get the same pages.
alignas(large_array_alignment) double times[floor_points];
alignas(large_array_alignment) double amplitudes[floor_points];
char in_block[block_size + 512];
char out_block[block_size];

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One field: to_chars' "d.ddddddde-dd" widened to a three-digit exponent.
char* put_field(char* out, double value)
{
    char text[40];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 7);
    const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<std::size_t>(r.ptr - text)));
    const std::size_t head = static_cast<std::size_t>(e - text) + 2;  // through the exponent sign
    std::memcpy(out, text, head);
    out += head;
    const std::size_t exponent_digits = static_cast<std::size_t>(r.ptr - e) - 2;
    for (std::size_t i = exponent_digits; i < 3; ++i) {
        *out++ = '0';
    }
    std::memcpy(out, e + 2, exponent_digits);
    return out + exponent_digits;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: brellum_stdlib_floor INPUT OUTPUT\n", stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    if (in == nullptr || out == nullptr) {
        std::fputs("cannot open the files\n", stderr);
        return 2;
    }
    advise_huge_pages(times, sizeof times);
    advise_huge_pages(amplitudes, sizeof amplitudes);

    // Parse: keep an unfinished number at the end of a block for the next read.
    std::size_t count = 0;
    std::size_t numbers = 0;
    std::size_t kept = 0;
    bool ended = false;
    while (!ended && count < floor_points) {
        const std::size_t got = std::fread(in_block + kept, 1, block_size - kept, in);
        ended = got < block_size - kept;
        const char* p = in_block;
        const char* end = in_block + kept + got;
        for (;;) {
            while (p < end && is_space(*p)) {
                ++p;
            }
            const char* number_end = p;
            while (number_end < end && !is_space(*number_end)) {
                ++number_end;
            }
            if (number_end == end && !ended) {
                break;  // may continue in the next block
            }
            if (p == end) {
                break;
            }
            double value = 0.0;
            const std::from_chars_result r = std::from_chars(p, number_end, value);
            if (r.ec != std::errc() || count == floor_points) {
                ended = true;
                break;
            }
            if (numbers % 2 == 0) {
                times[count] = value;
            } else {
                amplitudes[count++] = value;
            }
            ++numbers;
            p = r.ptr;
        }
        kept = static_cast<std::size_t>(end - p);
        std::memmove(in_block, p, kept);
    }
    count += numbers % 2;  // a time without amplitude
    std::fclose(in);

    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (block_size - used < 40) {
            std::fwrite(out_block, 1, used, out);
            used = 0;
        }
        char* line = out_block + used;
        char* o = put_field(line, times[i]);
        *o++ = ' ';
        o = put_field(o, amplitudes[i]);
        *o++ = ' ';
        *o++ = '\r';
        *o++ = '\n';
        used += static_cast<std::size_t>(o - line);
    }
    std::fwrite(out_block, 1, used, out);
    return std::fclose(out) == 0 ? 0 : 1;
}
