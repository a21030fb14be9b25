// Differential check of the fast number routes against the exact ones, over
// random doubles, random bit patterns and random decimal texts. Prints the
// counts and every mismatch (at most a few); exits 1 on any mismatch.
//
// usage: brellum_differential [MILLIONS_PER_KIND]

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

#include "history_io.h"

namespace {

std::mt19937_64 generator(20070418);
long long mismatches = 0;

double from_bits(std::uint64_t bits)
{
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The eight-digit field from the shortest round-trip digits, or 0 where they
// do not decide it (a ninth digit 5 with nothing after it). Only a check of
// the reasoning that the shortest form decides: no route of the tool uses it.
int format_from_shortest(double value, char* field)
{
    char text[40];
    const double magnitude = value < 0 ? -value : value;
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific);
    *r.ptr = '\0';
    char digits[17];
    int count = 0;
    const char* p = text;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p != '.') {
            digits[count++] = *p;
        }
    }
    int exponent = std::atoi(p + 1);
    if (count == 9 && digits[8] == '5') {
        return 0;
    }
    for (int i = count; i < 17; ++i) {
        digits[i] = '0';
    }
    if (count >= 9 && digits[8] >= '5') {
        int i = 7;
        while (i >= 0 && digits[i] == '9') {
            digits[i--] = '0';
        }
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++exponent;
        }
    }
    char* out = field;
    if (value < 0) {
        *out++ = '-';
    }
    *out++ = digits[0];
    *out++ = '.';
    std::memcpy(out, digits + 1, 7);
    out += 7;
    const int shown = exponent < 0 ? -exponent : exponent;
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    *out++ = static_cast<char>('0' + shown / 100);
    *out++ = static_cast<char>('0' + shown / 10 % 10);
    *out++ = static_cast<char>('0' + shown % 10);
    return static_cast<int>(out - field);
}

struct format_counts {
    long long values = 0;
    long long handed_off = 0;
    long long shortest_undecided = 0;
};

void check_format(double value, format_counts* counts)
{
    if (!(value == value) || value == 0.0 || value - value != 0.0) {
        return;  // NaN, zero, infinity: handled before either route
    }
    char exact[16];
    char fast[16];
    char shortest[16];
    const int exact_length = format_number_exact(value, exact);
    const int fast_length = format_number_fast(value, fast);
    ++counts->values;
    if (fast_length == 0) {
        ++counts->handed_off;
    } else if (fast_length != exact_length || std::memcmp(fast, exact, static_cast<std::size_t>(exact_length)) != 0) {
        if (++mismatches < 10) {
            std::printf("format mismatch %a: fast %.*s exact %.*s\n", value, fast_length, fast,
                        exact_length, exact);
        }
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    if (((bits >> 52) & 0x7ff) == 0) {
        return;  // the shortest-digits reasoning holds for normal doubles only
    }
    const int shortest_length = format_from_shortest(value, shortest);
    if (shortest_length == 0) {
        ++counts->shortest_undecided;
    } else if (shortest_length != exact_length ||
               std::memcmp(shortest, exact, static_cast<std::size_t>(exact_length)) != 0) {
        if (++mismatches < 10) {
            std::printf("shortest mismatch %a: %.*s exact %.*s\n", value, shortest_length, shortest,
                        exact_length, exact);
        }
    }
}

struct scan_counts {
    long long texts = 0;
};

void check_scan(const char* text, std::size_t length, scan_counts* counts)
{
    const char* cursor = text;
    double scanned = 0.0;
    if (scan_number(&cursor, text + length, &scanned) != number_read) {
        return;
    }
    const char* body = text;
    bool negative = false;
    if (*body == '-' || *body == '+') {
        negative = *body == '-';
        ++body;
    }
    const double magnitude = convert_number_exact(body, cursor);
    const double exact = negative ? -magnitude : magnitude;
    ++counts->texts;
    if (std::memcmp(&scanned, &exact, sizeof exact) != 0) {
        if (++mismatches < 10) {
            std::printf("scan mismatch %.*s: %a exact %a\n", static_cast<int>(length), text, scanned, exact);
        }
    }
}

// A decimal text of 1 to 19 digits with the point anywhere (or nowhere) and
// an exponent part of varied size, or none.
std::size_t random_decimal_text(char* text)
{
    std::size_t n = 0;
    if (generator() % 4 == 0) {
        text[n++] = '-';
    }
    const int digit_count = 1 + static_cast<int>(generator() % 19);
    const int point = static_cast<int>(generator() % static_cast<std::uint64_t>(digit_count + 2)) - 1;
    const int style = static_cast<int>(generator() % 8);
    for (int i = 0; i < digit_count; ++i) {
        if (i == point) {
            text[n++] = '.';
        }
        int digit = static_cast<int>(generator() % 10);
        if (style == 0 && i > 0) {
            digit = generator() % 4 == 0 ? static_cast<int>(generator() % 10) : (generator() % 2 ? 0 : 9);
        }
        text[n++] = static_cast<char>('0' + digit);
    }
    if (point == digit_count) {
        text[n++] = '.';
    }
    const int exponent_kind = static_cast<int>(generator() % 4);
    if (exponent_kind != 0) {
        int bound = exponent_kind == 1 ? 25 : exponent_kind == 2 ? 60 : 340;
        const int exponent = static_cast<int>(generator() % static_cast<std::uint64_t>(2 * bound + 1)) - bound;
        n += static_cast<std::size_t>(std::snprintf(text + n, 16, "e%+d", exponent));
    }
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    const long long millions = argc > 1 ? std::atoll(argv[1]) : 10;
    const long long per_kind = millions * 1000000;
    format_counts random_bits;
    format_counts log_uniform;
    format_counts decimal_values;
    scan_counts decimal_texts;
    scan_counts printed_doubles;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    char text[64];
    for (long long i = 0; i < per_kind; ++i) {
        // Any bit pattern: every exponent, denormals, both signs.
        const double any = from_bits(generator());
        check_format(any, &random_bits);
        // Magnitudes from 1e-12 to 1e12, the range of measured records.
        const double spread = std::pow(10.0, -12.0 + 24.0 * unit(generator));
        check_format(generator() % 2 ? spread : -spread, &log_uniform);
        // The double nearest a decimal of 9 to 17 digits, many of them ending
        // in a 5 as the ninth digit: the values near halfway points.
        const std::size_t length = random_decimal_text(text);
        check_scan(text, length, &decimal_texts);
        const char* cursor = text;
        double parsed = 0.0;
        scan_number(&cursor, text + length, &parsed);
        check_format(parsed, &decimal_values);
        char halfway[40];
        const int digits9 = 9 + static_cast<int>(generator() % 9);
        int h = std::snprintf(halfway, 8, "%d.", 1 + static_cast<int>(generator() % 9));
        for (int d = 1; d < digits9; ++d) {
            halfway[h++] = static_cast<char>(d == 8 ? '5' : d > 8 && generator() % 3 != 0 ? '0' : '0' + generator() % 10);
        }
        h += std::snprintf(halfway + h, 8, "e%d", static_cast<int>(generator() % 61) - 30);
        cursor = halfway;
        scan_number(&cursor, halfway + h, &parsed);
        check_format(parsed, &decimal_values);
        // A double printed shortest and with 17 digits, read back.
        const double printed = from_bits(generator());
        if (printed - printed == 0.0) {
            std::to_chars_result r = std::to_chars(text, text + sizeof text, printed);
            check_scan(text, static_cast<std::size_t>(r.ptr - text), &printed_doubles);
            r = std::to_chars(text, text + sizeof text, spread, std::chars_format::fixed);
            if (r.ec == std::errc()) {
                check_scan(text, static_cast<std::size_t>(r.ptr - text), &printed_doubles);
            }
        }
    }
    std::printf("format, random bit patterns: %lld values, %lld handed off, shortest undecided %lld\n",
                random_bits.values, random_bits.handed_off, random_bits.shortest_undecided);
    std::printf("format, 1e-12 to 1e12:       %lld values, %lld handed off, shortest undecided %lld\n",
                log_uniform.values, log_uniform.handed_off, log_uniform.shortest_undecided);
    std::printf("format, decimal values:      %lld values, %lld handed off, shortest undecided %lld\n",
                decimal_values.values, decimal_values.handed_off, decimal_values.shortest_undecided);
    std::printf("scan, decimal texts:         %lld texts\n", decimal_texts.texts);
    std::printf("scan, printed doubles:       %lld texts\n", printed_doubles.texts);
    std::printf("mismatches: %lld\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
