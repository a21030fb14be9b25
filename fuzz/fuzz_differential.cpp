// Fuzz target: scan_number against the C library. The bytes are scanned
// number after number, from the start to the end. For every scan, where it
// stops and whether it found a number must be what the number syntax says,
// worked out here on its own; for every number, the value must be, bit for
// bit, what strtod gives for the same characters (its sign included, a
// dangling exponent marker removed). A text exactly halfway between two
// neighbouring doubles may give either of them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "history_io.h"

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool is_decimal_digit(char c)
{
    return c >= '0' && c <= '9';
}

// ------------------------------------------------------------ the syntax

// Where one scan starting at p must end: after the blanks, an optional sign,
// then [digits][.digits] with at least one digit, then e[sign][digits];
// at most number_text_limit characters after the sign.
struct expected_scan {
    const char* text;  // the number's first character, its sign if it has one
    const char* stop;  // the first character not consumed
    bool is_number;
};

// Consumes one character if it is within the budget and matches.
static bool take(const char** p, const char* end, int* budget, bool (*matches)(char))
{
    if (*p < end && *budget > 0 && matches(**p)) {
        ++*p;
        --*budget;
        return true;
    }
    return false;
}

static bool is_point(char c) { return c == '.'; }
static bool is_exponent_marker(char c) { return c == 'e' || c == 'E'; }
static bool is_sign(char c) { return c == '+' || c == '-'; }

static expected_scan expect_scan(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) {
        ++p;
    }
    expected_scan expected{p, p, false};
    if (p < end && is_sign(*p)) {
        ++p;
    }
    int budget = 349;
    int digits = 0;
    while (take(&p, end, &budget, is_decimal_digit)) {
        ++digits;
    }
    if (take(&p, end, &budget, is_point)) {
        while (take(&p, end, &budget, is_decimal_digit)) {
            ++digits;
        }
    }
    if (digits > 0 && take(&p, end, &budget, is_exponent_marker)) {
        take(&p, end, &budget, is_sign);
        while (take(&p, end, &budget, is_decimal_digit)) {
        }
    }
    expected.stop = p;
    expected.is_number = digits > 0;
    return expected;
}

// --------------------------------------------------- exact halfway points

// A decimal number: significant digits without leading or trailing zeros,
// and the power of ten of the last one. Zero has no digits.
struct exact_decimal {
    std::string digits;
    long exponent;
};

static void trim(exact_decimal* d)
{
    std::size_t first = 0;
    while (first < d->digits.size() && d->digits[first] == '0') {
        ++first;
    }
    d->digits.erase(0, first);
    while (!d->digits.empty() && d->digits.back() == '0') {
        d->digits.pop_back();
        ++d->exponent;
    }
}

// The value of a number text without its sign (digits, point, exponent).
static exact_decimal decimal_of_text(const std::string& text)
{
    exact_decimal d{std::string(), 0};
    std::size_t i = 0;
    long fraction_digits = 0;
    bool in_fraction = false;
    for (; i < text.size() && (is_decimal_digit(text[i]) || text[i] == '.'); ++i) {
        if (text[i] == '.') {
            in_fraction = true;
        } else {
            d.digits.push_back(text[i]);
            fraction_digits += in_fraction ? 1 : 0;
        }
    }
    long exponent = 0;
    if (i < text.size()) {
        ++i;  // the marker
        const bool negative = text[i] == '-';
        if (is_sign(text[i])) {
            ++i;
        }
        // Far beyond every halfway point's exponent; saturating keeps it so.
        for (; i < text.size(); ++i) {
            exponent = exponent < 100000000 ? exponent * 10 + (text[i] - '0') : exponent;
        }
        exponent = negative ? -exponent : exponent;
    }
    d.exponent = exponent - fraction_digits;
    trim(&d);
    return d;
}

// Decimal digits of a big number held as base-10^9 limbs, least first.
static void multiply(std::vector<std::uint32_t>* limbs, std::uint32_t factor)
{
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : *limbs) {
        const std::uint64_t product = std::uint64_t{limb} * factor + carry;
        limb = static_cast<std::uint32_t>(product % 1000000000u);
        carry = product / 1000000000u;
    }
    while (carry != 0) {
        limbs->push_back(static_cast<std::uint32_t>(carry % 1000000000u));
        carry /= 1000000000u;
    }
}

// The exact value of the point halfway between the positive double with the
// bits lower and the one above it (for the largest finite double, the point
// where rounding goes to infinity).
static exact_decimal midpoint_above(std::uint64_t lower)
{
    const std::uint64_t exponent_bits = lower >> 52;
    const std::uint64_t fraction = lower & ((std::uint64_t{1} << 52) - 1);
    // midpoint = odd * 2^power
    std::uint64_t odd = 0;
    long power = 0;
    if (exponent_bits == 0) {
        odd = 2 * fraction + 1;
        power = -1075;
    } else {
        odd = 2 * ((std::uint64_t{1} << 52) + fraction) + 1;
        power = static_cast<long>(exponent_bits) - 1076;
    }
    std::vector<std::uint32_t> limbs;
    limbs.push_back(static_cast<std::uint32_t>(odd % 1000000000u));
    limbs.push_back(static_cast<std::uint32_t>(odd / 1000000000u % 1000000000u));
    limbs.push_back(static_cast<std::uint32_t>(odd / 1000000000000000000u));
    exact_decimal d{std::string(), 0};
    // odd * 2^-k is odd * 5^k * 10^-k.
    for (long k = 0; k < (power < 0 ? -power : power); ++k) {
        multiply(&limbs, power < 0 ? 5u : 2u);
    }
    d.exponent = power < 0 ? power : 0;
    for (std::size_t i = limbs.size(); i-- > 0;) {
        char group[16];
        std::snprintf(group, sizeof group, "%09u", static_cast<unsigned>(limbs[i]));
        d.digits += group;
    }
    trim(&d);
    return d;
}

// True when the text (no sign) is exactly halfway between the two positive
// doubles a and b, whatever their order, given that they are neighbours.
static bool is_exact_halfway(const std::string& text, std::uint64_t a, std::uint64_t b)
{
    const std::uint64_t lower = a < b ? a : b;
    const std::uint64_t upper = a < b ? b : a;
    if (upper - lower != 1 || upper > 0x7ff0000000000000u) {
        return false;
    }
    const exact_decimal value = decimal_of_text(text);
    const exact_decimal midpoint = midpoint_above(lower);
    return value.digits == midpoint.digits && value.exponent == midpoint.exponent;
}

// --------------------------------------------------------------- checking

static std::uint64_t bits_of(double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

[[noreturn]] static void fail(const char* what, const char* text, std::size_t length)
{
    std::fprintf(stderr, "fuzz_differential: %s: \"%.*s\"\n", what, static_cast<int>(length), text);
    std::abort();
}

static void check_value(const char* text, const char* stop, double value)
{
    std::string number(text, stop);
    // A dangling exponent marker counts as exponent 0; strtod would stop
    // before it anyway, but the whole text is to be its number.
    if (!number.empty() && is_sign(number.back()) && number.size() >= 2 &&
        is_exponent_marker(number[number.size() - 2])) {
        number.resize(number.size() - 2);
    } else if (!number.empty() && is_exponent_marker(number.back())) {
        number.pop_back();
    }
    char* strtod_end = nullptr;
    const double expected = std::strtod(number.c_str(), &strtod_end);
    if (strtod_end != number.c_str() + number.size()) {
        fail("strtod does not take the whole number", number.data(), number.size());
    }
    const std::uint64_t got_bits = bits_of(value);
    const std::uint64_t expected_bits = bits_of(expected);
    if (got_bits == expected_bits) {
        return;
    }
    const std::uint64_t sign_bit = std::uint64_t{1} << 63;
    const bool same_sign = (got_bits & sign_bit) == (expected_bits & sign_bit);
    const std::string unsigned_text = is_sign(number[0]) ? number.substr(1) : number;
    if (same_sign && is_exact_halfway(unsigned_text, got_bits & ~sign_bit, expected_bits & ~sign_bit)) {
        return;
    }
    std::fprintf(stderr, "fuzz_differential: scan_number gave %016llx, strtod %016llx\n",
                 static_cast<unsigned long long>(got_bits), static_cast<unsigned long long>(expected_bits));
    fail("the value differs from strtod's", number.data(), number.size());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* const begin = reinterpret_cast<const char*>(data);
    const char* const end = begin + size;
    const char* cursor = begin;
    while (cursor < end) {
        const expected_scan expected = expect_scan(cursor, end);
        const char* stop = cursor;
        double value = 0.0;
        const scan_outcome outcome = scan_number(&stop, end, &value);
        if (stop != expected.stop) {
            fail("the scan stopped elsewhere than the syntax says", cursor,
                 static_cast<std::size_t>(end - cursor));
        }
        if ((outcome == number_read) != expected.is_number) {
            fail("the scan's outcome is not what the syntax says", cursor,
                 static_cast<std::size_t>(end - cursor));
        }
        if (outcome == number_read) {
            check_value(expected.text, stop, value);
        }
        // Where a scan consumed nothing, go on after the byte it stopped at.
        cursor = stop == cursor ? cursor + 1 : stop;
    }
    return 0;
}
