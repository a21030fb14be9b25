// Fuzz target: arbitrary bytes as the input file. read_time_history reads
// them through a stream, as it reads a file, and write_result formats every
// point. Checks that the points are those that scanning the same bytes number
// by number gives, bit for bit, and that each line of the result is the one
// an independent formatter makes from them.
//
// An input that begins with the byte 1 (which would end reading at once) is
// moved behind about a megabyte of blanks, so that its numbers cross the
// point where the reader's first block of input ends.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "history_io.h"
#include "shared_data.h"

// The reader's block size; padding near it puts numbers across the refill.
constexpr std::size_t reader_block_size = std::size_t{1} << 20;

static void fail(const char* what, std::int32_t index)
{
    std::fprintf(stderr, "fuzz_reader: %s (point %d)\n", what, static_cast<int>(index));
    std::abort();
}

static std::uint64_t bits_of(double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The writer's field for value, made from printf's 17 significant digits:
// the first eight, plus one in the eighth place when the ninth is 5 or more.
static int reference_field(double value, char* field)
{
    const std::uint64_t bits = bits_of(value);
    const bool negative = (bits >> 63) != 0;
    const char* sign = negative ? "-" : "";
    if (std::isinf(value)) {
        return std::snprintf(field, 24, "%s1.#INF000e+000", sign);
    }
    if (std::isnan(value)) {
        const bool indefinite = bits == 0xfff8000000000000u;
        return std::snprintf(field, 24, "%s", indefinite ? "-1.#IND000e+000" : negative ? "-1.#QNAN00e+000" : "1.#QNAN00e+000");
    }
    if (value == 0.0) {
        return std::snprintf(field, 24, "0.0000000e+000");
    }
    char digits[40];
    std::snprintf(digits, sizeof digits, "%.16e", std::fabs(value));
    // digits is d.dddddddddddddddde[+-]x...
    long mantissa = digits[0] - '0';
    for (int i = 2; i <= 8; ++i) {
        mantissa = mantissa * 10 + (digits[i] - '0');
    }
    int exponent = std::atoi(digits + 19);
    if (digits[9] >= '5') {
        ++mantissa;
    }
    if (mantissa == 100000000) {
        mantissa = 10000000;
        ++exponent;
    }
    return std::snprintf(field, 24, "%s%ld.%07lde%c%03d", sign, mantissa / 10000000, mantissa % 10000000,
                         exponent < 0 ? '-' : '+', std::abs(exponent));
}

// The padded file: blanks, then the input after its first two bytes. Kept
// between inputs so that the megabyte of blanks is written only once.
static char padded_file[2 * reader_block_size];

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Unpadded, the reader's stream and the scan below see the fuzzer's own
    // buffer, so that any read past its end is caught. fmemopen never writes
    // to a buffer opened for reading.
    char* file = reinterpret_cast<char*>(const_cast<std::uint8_t*>(data));
    std::size_t file_size = size;
    std::size_t padding = 0;
    const bool padded = size >= 2 && data[0] == 1 && size - 2 <= reader_block_size;
    if (padded) {
        if (padded_file[0] != ' ') {
            std::memset(padded_file, ' ', sizeof padded_file);
        }
        padding = reader_block_size - 512 + std::size_t{data[1]} * 3;
        file = padded_file;
        file_size = padding + size - 2;
        std::memcpy(padded_file + padding, data + 2, size - 2);
    }

    input_file = fmemopen(file, file_size, "rb");
    if (input_file == nullptr) {
        fail("fmemopen of the input failed", 0);
    }
    read_time_history();
    std::fclose(input_file);
    input_file = nullptr;
    const std::int32_t count = time_history.point_count;

    // The same bytes scanned in place, pair by pair; the padding is blanks
    // only, and the scan would skip it.
    std::vector<double> expected_time;
    std::vector<double> expected_amplitude;
    const char* cursor = file + padding;
    const char* const end = file + file_size;
    double value = 0.0;
    while (static_cast<std::int32_t>(expected_time.size()) < max_points &&
           scan_number(&cursor, end, &value) == number_read) {
        expected_time.push_back(value);
        double amplitude = 0.0;
        if (scan_number(&cursor, end, &amplitude) == no_number) {
            amplitude = 0.0;
        }
        expected_amplitude.push_back(amplitude);
    }
    if (count != static_cast<std::int32_t>(expected_time.size())) {
        fail("the point count differs from scanning in place", count);
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (bits_of(time_history.time[i]) != bits_of(expected_time[k]) ||
            bits_of(time_history.amplitude[i]) != bits_of(expected_amplitude[k])) {
            fail("a point differs from scanning in place", i);
        }
    }

    // Every point formatted as the writer formats it, the noise being 0.0.
    char* written = nullptr;
    std::size_t written_length = 0;
    output_file = open_memstream(&written, &written_length);
    if (output_file == nullptr) {
        fail("open_memstream failed", 0);
    }
    write_result();
    std::fclose(output_file);
    output_file = nullptr;
    std::size_t at = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        char line[80];
        int length = reference_field(time_history.time[i], line);
        line[length++] = ' ';
        length += reference_field(time_history.amplitude[i] + noise_buffer[i], line + length);
        std::memcpy(line + length, " \r\n", 3);
        length += 3;
        const std::size_t line_length = static_cast<std::size_t>(length);
        if (written_length - at < line_length || std::memcmp(written + at, line, line_length) != 0) {
            fail("a written line differs from the reference format", i);
        }
        at += line_length;
    }
    if (at != written_length) {
        fail("bytes written after the last line", count);
    }
    std::free(written);

    if (padded) {
        std::memset(padded_file + padding, ' ', size - 2);
    }
    // Entries the next input does not fill must hold 0.0 again.
    for (std::int32_t i = 0; i < count; ++i) {
        time_history.time[i] = 0.0;
        time_history.amplitude[i] = 0.0;
    }
    return 0;
}
