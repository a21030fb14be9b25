#include "history_io.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "platform.h"
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

double convert_number_exact(const char* text, const char* end)
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

// Every power of ten up to 10^22 is a double exactly (5^22 < 2^53).
static const double exact_powers_of_ten[23] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr int fast_digit_limit = 19;  // 19 digits always fit in 64 bits
constexpr std::uint64_t exact_mantissa_limit = std::uint64_t{1} << 53;

// The digits of a number text as the scan gathers them: value = mantissa *
// 10^(exponent - fraction_digits), exact when significant_digits <= 19.
struct number_digits {
    std::uint64_t mantissa;  // the first 19 significant digits
    int significant_digits;  // digits from the first non-zero one on
    int fraction_digits;     // digits after the point, leading zeros too
    int exponent;            // the exponent part, capped far outside any double
};

// The fast route: a mantissa of at most 2^53 and a power of ten of at most
// 22 are both doubles exactly, so one multiplication or division, rounded
// once, gives the nearest double. False hands the text to the exact route.
static bool convert_digits_fast(const number_digits& digits, double* value)
{
    if (digits.significant_digits > fast_digit_limit || digits.mantissa > exact_mantissa_limit) {
        return false;
    }
    if (digits.mantissa == 0) {
        *value = 0.0;  // all digits zero: zero whatever the exponent
        return true;
    }
    const int power = digits.exponent - digits.fraction_digits;
    const double mantissa = static_cast<double>(digits.mantissa);
    if (power >= 0 && power <= 22) {
        *value = mantissa * exact_powers_of_ten[power];
        return true;
    }
    if (power < 0 && power >= -22) {
        *value = mantissa / exact_powers_of_ten[-power];
        return true;
    }
    return false;
}

static void take_digit(number_digits* digits, char c)
{
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (digits->significant_digits > 0 || d != 0) {
        if (digits->significant_digits < fast_digit_limit) {
            digits->mantissa = digits->mantissa * 10 + d;
        }
        ++digits->significant_digits;
    }
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
    number_digits digits{0, 0, 0, 0};
    bool has_digit = false;
    while (p < limit && is_digit(*p)) {
        take_digit(&digits, *p);
        ++p;
        has_digit = true;
    }
    if (p < limit && *p == '.') {
        ++p;
        const char* fraction = p;
        while (p < limit && is_digit(*p)) {
            take_digit(&digits, *p);
            ++p;
        }
        digits.fraction_digits = static_cast<int>(p - fraction);
        has_digit = has_digit || p != fraction;
    }
    if (!has_digit) {
        *cursor = p;
        return no_number;
    }
    if (p < limit && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative_exponent = false;
        if (p < limit && (*p == '+' || *p == '-')) {
            negative_exponent = *p == '-';
            ++p;
        }
        while (p < limit && is_digit(*p)) {
            // A million is far past any double's range; stopping there keeps
            // the sum with the fraction digits (at most 349) from overflowing.
            if (digits.exponent < 1000000) {
                digits.exponent = digits.exponent * 10 + (*p - '0');
            }
            ++p;
        }
        if (negative_exponent) {
            digits.exponent = -digits.exponent;
        }
    }
    *cursor = p;
    double magnitude = 0.0;
    if (!convert_digits_fast(digits, &magnitude)) {
        magnitude = convert_number_exact(text, p);
    }
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
    refill_input_block();
    // An input that fills the first block holds tens of thousands of points:
    // then the per-point arrays are asked for huge pages before their first
    // touch. A small input keeps ordinary pages, so that it touches only the
    // few pages it uses.
    if (!input_ended) {
        advise_huge_pages(&time_history, sizeof time_history);
        advise_huge_pages(noise_buffer, sizeof noise_buffer);
    }
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

// "00" to "99", two characters each.
static const char two_digits[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Lays out d1.d2...d8 e sign three exponent digits after an optional '-'.
static int lay_out_field(const char* digits, int exponent, bool negative, char* field)
{
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
    std::memcpy(out, two_digits + 2 * (shown % 100), 2);
    out += 2;
    return static_cast<int>(out - field);
}

int format_number_exact(double value, char* field)
{
    const bool negative = std::signbit(value);
    const double magnitude = negative ? -value : value;
    // First rounding: 17 significant digits of the exact value. How a tie in
    // the 18th digit is broken never shows: the two candidates differ only in
    // the 17th digit, and a carry from it reaches the 9th only through a 17th
    // digit of 9, which both ways of breaking the tie round up.
    char text[32];
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
    return lay_out_field(digits, exponent, negative, field);
}

// ------------------------------------------------- the fast route out
//
// For a normal double x = m * 2^q, y = x * 10^(7 - P) lies in [10^7, 10^8)
// when 10^P <= x < 10^(P+1), and the eight digits are floor(y + 1/2) unless
// the 17-digit form falls on the other side of a halfway point than x itself.
// The 17-digit form lies within 5 * 10^-10 of y (half a unit of its 17th
// digit in the units of y), so where y + 1/2 is farther than that from a whole
// number both roundings agree. y is computed as a fixed-point number from the
// 64 leading bits of 10^(7 - P), with an error below 2 units of its last bit
// (2^-35 or finer); the route hands off wherever the fraction of y + 1/2 is
// within 2^-30 of a whole number, which covers both distances.

// The powers 10^s for s from -300 to 315, the range 7 - P takes for normal
// doubles: power_mantissa[s + 300] * 2^power_exponent[s + 300], the mantissa
// the leading 64 bits of the exact power, cut off (never rounded up).
constexpr int lowest_power = -300;
constexpr int highest_power = 315;
constexpr int power_count = highest_power - lowest_power + 1;

struct power_table_data {
    std::uint64_t mantissa[power_count];
    int exponent[power_count];
    bool made;
};
static power_table_data power_table;

// A number of up to 1152 bits, 32-bit limbs, lowest first.
constexpr int big_limbs = 36;
struct big_number {
    std::uint32_t limb[big_limbs];
};

static int bit_length(const big_number& n)
{
    for (int i = big_limbs - 1; i >= 0; --i) {
        if (n.limb[i] != 0) {
            int bits = 0;
            for (std::uint32_t v = n.limb[i]; v != 0; v >>= 1) {
                ++bits;
            }
            return 32 * i + bits;
        }
    }
    return 0;
}

// The leading 64 bits of n, cut off, and the exponent that scales them back:
// n = mantissa * 2^exponent + (what was cut off).
static std::uint64_t leading_bits(const big_number& n, int* exponent)
{
    const int length = bit_length(n);
    std::uint64_t mantissa = 0;
    for (int bit = length - 1; bit >= length - 64; --bit) {
        std::uint64_t b = 0;
        if (bit >= 0) {
            b = (n.limb[bit / 32] >> (bit % 32)) & 1u;
        }
        mantissa = (mantissa << 1) | b;
    }
    *exponent = length - 64;
    return mantissa;
}

static void make_power_table()
{
    big_number n{};
    // 10^0 to 10^315 exactly: at most 1047 bits.
    n.limb[0] = 1;
    for (int s = 0; s <= highest_power; ++s) {
        const int index = s - lowest_power;
        power_table.mantissa[index] = leading_bits(n, &power_table.exponent[index]);
        std::uint64_t carry = 0;
        for (std::uint32_t& limb : n.limb) {
            const std::uint64_t product = std::uint64_t{limb} * 10 + carry;
            limb = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
    }
    // 10^-s as floor(2^1151 / 10^s), divided down one ten at a time; a floor
    // of a floor divided by ten is still the floor of the exact quotient.
    // At s = 300 it keeps about 154 bits, far more than the 64 taken.
    n = big_number{};
    n.limb[big_limbs - 1] = std::uint32_t{1} << 31;
    for (int s = 1; s <= -lowest_power; ++s) {
        std::uint64_t remainder = 0;
        for (int i = big_limbs - 1; i >= 0; --i) {
            const std::uint64_t part = (remainder << 32) | n.limb[i];
            n.limb[i] = static_cast<std::uint32_t>(part / 10);
            remainder = part % 10;
        }
        const int index = -s - lowest_power;
        power_table.mantissa[index] = leading_bits(n, &power_table.exponent[index]);
        power_table.exponent[index] -= 32 * big_limbs - 1;
    }
    power_table.made = true;
}

// The high 64 bits of the 128-bit product a * b.
static std::uint64_t high_product(std::uint64_t a, std::uint64_t b)
{
#ifdef __SIZEOF_INT128__
    __extension__ typedef unsigned __int128 wide;
    return static_cast<std::uint64_t>((static_cast<wide>(a) * b) >> 64);
#else
    const std::uint64_t a_low = a & 0xffffffffu;
    const std::uint64_t a_high = a >> 32;
    const std::uint64_t b_low = b & 0xffffffffu;
    const std::uint64_t b_high = b >> 32;
    const std::uint64_t low_low = a_low * b_low;
    const std::uint64_t high_low = a_high * b_low;
    const std::uint64_t low_high = a_low * b_high;
    const std::uint64_t middle = (low_low >> 32) + (high_low & 0xffffffffu) + (low_high & 0xffffffffu);
    return a_high * b_high + (high_low >> 32) + (low_high >> 32) + (middle >> 32);
#endif
}

int format_number_fast(double value, char* field)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased_exponent == 0 || biased_exponent == 0x7ff) {
        return 0;  // zero, denormals, infinities, NaNs
    }
    if (!power_table.made) {
        make_power_table();
    }
    // x = m * 2^q with m normalised to the top of 64 bits: q = biased - 1086.
    const std::uint64_t m = ((bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52)) << 11;
    // k = floor(log10(2^e)) for the leading bit's exponent e, so 10^k <= x <
    // 2 * 10^(k+1): P is k or k + 1. (78913 / 2^18 is log10(2) closely enough
    // for every e a double has.)
    const int e = biased_exponent - 1023;
    const int k = e >= 0 ? (e * 78913) >> 18 : -(((-e * 78913) >> 18) + 1);
    const int index = 7 - k - lowest_power;
    const std::uint64_t scaled = high_product(m, power_table.mantissa[index]);
    // y = scaled * 2^-shift: q + exponent + 64 = -shift.
    const int shift = 1086 - biased_exponent - power_table.exponent[index] - 64;
    assert(shift >= 33 && shift <= 42);
    std::uint64_t fixed = scaled;
    int exponent = k;
    if ((fixed >> shift) >= 100000000u) {
        fixed /= 10;  // x >= 10^(k+1): one digit more before the point
        ++exponent;
    }
    const std::uint64_t unit = std::uint64_t{1} << shift;
    const std::uint64_t rounded = fixed + unit / 2;
    const std::uint64_t fraction = rounded & (unit - 1);
    const std::uint64_t margin = unit >> 30;
    if (fraction < margin || fraction > unit - margin) {
        return 0;  // too close to a halfway point to decide
    }
    std::uint32_t eight = static_cast<std::uint32_t>(rounded >> shift);
    if (eight == 100000000u) {
        eight = 10000000u;  // the rounding carried into a new digit
        ++exponent;
    }
    char digits[8];
    const std::uint32_t high = eight / 10000;
    const std::uint32_t low = eight % 10000;
    std::memcpy(digits, two_digits + 2 * (high / 100), 2);
    std::memcpy(digits + 2, two_digits + 2 * (high % 100), 2);
    std::memcpy(digits + 4, two_digits + 2 * (low / 100), 2);
    std::memcpy(digits + 6, two_digits + 2 * (low % 100), 2);
    return lay_out_field(digits, exponent, negative, field);
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
    const int length = format_number_fast(value, field);
    if (length != 0) {
        return length;
    }
    return format_number_exact(value, field);
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
