#include "history_io.h"

#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "shared_data.h"

// ---------------------------------------------------------------- numbers in

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Where from_chars reports a value out of range, it leaves the value alone:
// decide between overflow and underflow from the decimal exponent of the
// first non-zero digit. The text's digits are not all zero (zero is never
// out of range), so the value lies in [10^(e-1), 10^e) for the e found here,
// and only an e above zero can overflow.
static bool text_overflows(const char* text, const char* end)
{
    const char* p = text;
    std::int64_t place = 0;  // decimal exponent of the first non-zero digit, plus one
    bool seen_point = false;
    bool seen_non_zero = false;
    for (; p < end && (is_digit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            seen_point = true;
        } else if (seen_non_zero) {
            if (!seen_point) {
                ++place;
            }
        } else if (*p != '0') {
            seen_non_zero = true;
            if (!seen_point) {
                ++place;
            }
        } else if (seen_point) {
            --place;
        }
    }
    std::int64_t exponent = 0;
    if (p < end) {
        ++p;  // the 'e'
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) {
            ++p;
        }
        // The text has at most 349 characters; a million is far past any
        // double's range and keeps the sum from overflowing.
        for (; p < end && exponent < 1000000; ++p) {
            exponent = exponent * 10 + (*p - '0');
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    return place + exponent > 0;
}

// The nearest double to the consumed text without its sign.
static double convert_number_text(const char* text, const char* end)
{
    double value = 0.0;
    // from_chars stops before a dangling exponent marker ("5e", "5e+"), which
    // counts as exponent 0 anyway.
    const std::from_chars_result result = std::from_chars(text, end, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = text_overflows(text, end) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

scan_outcome scan_number(const char** cursor, const char* end, double* value)
{
    const char* p = *cursor;
    while (p < end && is_white_space(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* text = p;
    // Every character after the sign counts against the limit; the byte that
    // would come after the 349th stays in the stream.
    const char* limit = end - p > number_text_limit ? p + number_text_limit : end;
    bool has_digit = false;
    while (p < limit && is_digit(*p)) {
        ++p;
        has_digit = true;
    }
    if (p < limit && *p == '.') {
        ++p;
        while (p < limit && is_digit(*p)) {
            ++p;
            has_digit = true;
        }
    }
    if (!has_digit) {
        *cursor = p;
        return no_number;
    }
    if (p < limit && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < limit && (*p == '+' || *p == '-')) {
            ++p;
        }
        while (p < limit && is_digit(*p)) {
            ++p;
        }
    }
    *cursor = p;
    const double magnitude = convert_number_text(text, p);
    *value = negative ? -magnitude : magnitude;
    return number_read;
}

// ------------------------------------------------------------- reading files

// The input is read in large blocks. Before each number the reader makes sure
// the whole number and the byte after it are in the block (or the file has
// ended), so scanning the block is the same as scanning the stream.
constexpr std::size_t input_block_size = std::size_t{1} << 20;
constexpr std::ptrdiff_t number_window = 1 + number_text_limit + 1;

static char input_block[input_block_size];
static const char* input_cursor = input_block;
static const char* input_end = input_block;
static bool input_ended = false;

static void refill_input_block()
{
    const std::size_t kept = static_cast<std::size_t>(input_end - input_cursor);
    std::memmove(input_block, input_cursor, kept);
    const std::size_t wanted = input_block_size - kept;
    const std::size_t got = std::fread(input_block + kept, 1, wanted, input_file);
    // A short read is the end of the file or a failed read; both end reading.
    if (got < wanted) {
        input_ended = true;
    }
    input_cursor = input_block;
    input_end = input_block + kept + got;
}

static void prepare_next_number()
{
    for (;;) {
        while (input_cursor < input_end && is_white_space(*input_cursor)) {
            ++input_cursor;
        }
        if (input_ended || input_end - input_cursor >= number_window) {
            return;
        }
        refill_input_block();
    }
}

static scan_outcome scan_input_number(double* value)
{
    prepare_next_number();
    return scan_number(&input_cursor, input_end, value);
}

int read_pair()
{
    const std::int32_t k = time_history.point_count;
    double value = 0.0;
    if (scan_input_number(&value) == no_number) {
        return 0;
    }
    time_history.time[k] = value;
    if (scan_input_number(&value) == no_number) {
        return 1;
    }
    time_history.amplitude[k] = value;
    return 2;
}

void read_time_history()
{
    input_cursor = input_block;
    input_end = input_block;
    input_ended = false;
    time_history.point_count = 0;
    while (read_pair() != 0) {
        ++time_history.point_count;
        if (time_history.point_count == max_points) {
            break;
        }
    }
}

// ------------------------------------------------------------ numbers out

static int format_special(const char* digits, bool negative, char* field)
{
    // The text takes the place of the eight digits, filled up with '0'; the
    // point goes after its first character and the exponent is +000.
    char mantissa[8];
    std::memset(mantissa, '0', sizeof mantissa);
    std::memcpy(mantissa, digits, std::strlen(digits));
    char* out = field;
    if (negative) {
        *out++ = '-';
    }
    *out++ = mantissa[0];
    *out++ = '.';
    std::memcpy(out, mantissa + 1, 7);
    out += 7;
    std::memcpy(out, "e+000", 5);
    out += 5;
    return static_cast<int>(out - field);
}

int format_number(double value, char* field)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const std::uint64_t exponent_bits = (bits >> 52) & 0x7ff;
    const std::uint64_t fraction_bits = bits & ((std::uint64_t{1} << 52) - 1);
    if (exponent_bits == 0x7ff) {
        if (fraction_bits == 0) {
            return format_special("1#INF", negative, field);
        }
        // The NaN an invalid operation yields on x86: sign and quiet bit set,
        // every other fraction bit clear.
        if (negative && fraction_bits == (std::uint64_t{1} << 51)) {
            return format_special("1#IND", true, field);
        }
        return format_special("1#QNAN", negative, field);
    }
    if (value == 0.0) {
        // Negative zero too: no sign is written for zero.
        std::memcpy(field, "0.0000000e+000", 14);
        return 14;
    }

    // First rounding: 17 significant digits of the exact value. How a tie in
    // the 18th digit is broken never shows: the two candidates differ only in
    // the 17th digit, and no carry from it can reach the 9th.
    char text[32];
    const double magnitude = negative ? -value : value;
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 16);
    assert(r.ec == std::errc());
    // text is d.dddddddddddddddde[+-]dd[d]
    char digits[8];
    digits[0] = text[0];
    std::memcpy(digits + 1, text + 2, 7);
    int exponent = 0;
    for (const char* p = text + 20; p < r.ptr; ++p) {
        exponent = exponent * 10 + (*p - '0');
    }
    if (text[19] == '-') {
        exponent = -exponent;
    }

    // Second rounding, to eight digits, from the ninth digit alone.
    if (text[9] >= '5') {
        int i = 7;
        while (i >= 0 && digits[i] == '9') {
            digits[i] = '0';
            --i;
        }
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++exponent;
        }
    }

    char* out = field;
    if (negative) {
        *out++ = '-';
    }
    *out++ = digits[0];
    *out++ = '.';
    std::memcpy(out, digits + 1, 7);
    out += 7;
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int shown = exponent < 0 ? -exponent : exponent;
    *out++ = static_cast<char>('0' + shown / 100);
    *out++ = static_cast<char>('0' + shown / 10 % 10);
    *out++ = static_cast<char>('0' + shown % 10);
    return static_cast<int>(out - field);
}

// ----------------------------------------------------------- writing files

constexpr std::size_t output_block_size = std::size_t{1} << 20;
constexpr std::size_t longest_line = 2 * number_field_limit + 4;

static char output_block[output_block_size];

void write_result()
{
    std::size_t used = 0;
    const std::int32_t n = time_history.point_count;
    for (std::int32_t i = 0; i < n; ++i) {
        if (output_block_size - used < longest_line) {
            // The outcome is looked at once, after the last line: a failed
            // write leaves the stream's error mark set.
            std::fwrite(output_block, 1, used, output_file);
            used = 0;
        }
        char* line = output_block + used;
        char* out = line;
        out += format_number(time_history.time[i], out);
        *out++ = ' ';
        out += format_number(time_history.amplitude[i] + noise_buffer[i], out);
        // The line end is written as its two bytes on every platform.
        *out++ = ' ';
        *out++ = '\r';
        *out++ = '\n';
        used += static_cast<std::size_t>(out - line);
    }
    if (used > 0) {
        std::fwrite(output_block, 1, used, output_file);
    }
}
