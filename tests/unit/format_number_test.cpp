#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "history_io.h"
#include "shared_data.h"
#include "test_support.h"

namespace {

struct format_case {
    std::uint64_t bits;
    const char* text;  // the whole field, its length included
};

void expect_formats(const std::vector<format_case>& cases)
{
    for (const format_case& c : cases) {
        char field[number_field_limit + 8];
        std::memset(field, '#', sizeof field);
        const int length = format_number(from_bits(c.bits), field);
        SCOPED_TRACE(c.text);
        ASSERT_GE(length, 0);
        ASSERT_LE(length, number_field_limit);
        EXPECT_EQ(std::string(field, static_cast<std::size_t>(length)), c.text);
        // Nothing is written past the field.
        EXPECT_EQ(field[length], '#');
    }
}

}  // namespace

TEST(format_number, writes_eight_digits_and_a_three_digit_exponent)
{
    expect_formats({
        // bits                  text                    the value
        {0x3fe0000000000000, "5.0000000e-001"},      // 0.5
        {0x3ff0000000000000, "1.0000000e+000"},      // 1.0
        {0xbff0000000000000, "-1.0000000e+000"},     // -1.0
        {0x3f50624dd2f1a9fc, "1.0000000e-003"},      // 0.001
        {0x54b249ad2594c37d, "1.0000000e+100"},      // 1e100
        {0x2b2bff2ee48e0530, "1.0000000e-100"},      // 1e-100
        {0x7fefffffffffffff, "1.7976931e+308"},      // largest double
        {0xffefffffffffffff, "-1.7976931e+308"},     // its negation
        {0x0000000000000001, "4.9406565e-324"},      // smallest denormal
        {0x8000000000000001, "-4.9406565e-324"},
        {0x000fffffffffffff, "2.2250739e-308"},      // largest denormal
        {0x400921fb54442d18, "3.1415927e+000"},      // pi
    });
}

TEST(format_number, writes_zero_without_sign)
{
    expect_formats({
        {0x0000000000000000, "0.0000000e+000"},      // +0
        {0x8000000000000000, "0.0000000e+000"},      // -0
    });
}

TEST(format_number, writes_infinities_and_nans_in_their_fixed_shapes)
{
    expect_formats({
        {0x7ff0000000000000, "1.#INF000e+000"},
        {0xfff0000000000000, "-1.#INF000e+000"},
        {0xfff8000000000000, "-1.#IND000e+000"},     // the NaN of an invalid operation
        {0x7ff8000000000000, "1.#QNAN00e+000"},      // the same without its sign
        {0x7ff8000000000001, "1.#QNAN00e+000"},
        {0xfff8000000000001, "-1.#QNAN00e+000"},
        {0x7ff0000000000001, "1.#QNAN00e+000"},      // signalling
        {0xfff4000000000000, "-1.#QNAN00e+000"},     // signalling, sign set
        {0x7fffffffffffffff, "1.#QNAN00e+000"},
        {0xffffffffffffffff, "-1.#QNAN00e+000"},
    });
}

TEST(format_number, the_nan_of_zero_times_infinity_is_ind)
{
    volatile double zero = 0.0;
    volatile double infinity = from_bits(0x7ff0000000000000);
    const double product = zero * infinity;
    char field[number_field_limit];
    const int length = format_number(product, field);
    EXPECT_EQ(std::string(field, static_cast<std::size_t>(length)), "-1.#IND000e+000");
}

// The eight digits come from the 17-digit form alone: where that form is
// exactly halfway at the ninth digit, it rounds up, also when the double
// itself lies below the halfway point.
TEST(format_number, rounds_half_up_on_ninth_digit_of_the_17_digit_form)
{
    expect_formats({
        // bits                  text                    exact value of the double
        {0x4197d78414000000, "1.0000001e+008"},      // 100000005
        {0xc197d78414000000, "-1.0000001e+008"},     // -100000005
        {0x419d6f3444000000, "1.2345679e+008"},      // 123456785
        {0x3ff000002843ebe8, "1.0000002e+000"},      // 1.00000014999999997655...
        {0x3ff000002843ebe7, "1.0000001e+000"},      // 1.00000014999999975451...
        {0xbff000002843ebe8, "-1.0000002e+000"},
        {0x166cce4a094af476, "1.1760157e-200"},      // 17 digits 1.1760156500000000
        {0x3e7b7ba6452debe8, "1.0238218e-007"},      // 17 digits 1.0238217500000000
        {0x40ff7b70b851eb85, "1.2895105e+005"},      // 17 digits 1.2895104500000000
        {0x54cbbc8971c5d7bf, "3.0333310e+100"},      // 17 digits 3.0333309500000000
        {0x3df12e0bedea93e6, "2.5000000e-010"},      // 17 digits 2.5000000499999999
        {0x3df12e0bedea93e7, "2.5000001e-010"},      // 17 digits 2.5000000500000004
    });
}

TEST(format_number, carries_through_nines_into_the_exponent)
{
    expect_formats({
        {0x4197d783fe000000, "1.0000000e+008"},      // 99999999.5
        {0x41cdcd64fd800000, "1.0000000e+009"},      // 999999995
        {0x4341c379366307c0, "1.0000000e+016"},      // 9999999950000000
        {0x3f1a36e2e8e94ffc, "9.9999999e-005"},      // 17 digits 9.9999999499999999e-5
        {0x3f1a36e2e8e94ffd, "1.0000000e-004"},      // 17 digits 9.9999999500000007e-5
        {0xbf1a36e2e8e94ffd, "-1.0000000e-004"},
        {0x3d06849b84bd999a, "1.0000000e-014"},      // below 9.99999995e-15, 17 digits halfway
        {0x3feffffffd50ce23, "9.9999999e-001"},      // 17 digits 9.9999999499999992e-1
        {0x3feffffffd50ce24, "1.0000000e+000"},      // 17 digits 9.9999999500000003e-1
        {0x2b617f7d4d60fef1, "1.0000000e-099"},      // 17 digits 9.9999999500000020e-100
        {0x54b249ad240c0941, "1.0000000e+100"},      // 17 digits 9.9999999500000001e99
        {0x7fe1ccf3846d84d8, "1.0000000e+308"},      // 17 digits 9.9999999500000011e307
    });
}

// Exact values with 18 significant digits, the last an exact 5: however the
// 18th digit is rounded away, the ninth digit decides alone.
TEST(format_number, exact_fives_in_the_18th_digit)
{
    expect_formats({
        {0x3e88000000000000, "1.7881393e-007"},      // 3 * 2^-24 = 1.78813934326171875e-07
        {0x3e94000000000000, "2.9802322e-007"},      // 5 * 2^-24 = 2.98023223876953125e-07
        {0x3e9c000000000000, "4.1723251e-007"},      // 7 * 2^-24 = 4.17232513427734375e-07
        {0xbe88000000000000, "-1.7881393e-007"},
    });
}

// ------------------------------------------------------ writing the file

namespace {

std::string written_file()
{
    output_file = std::tmpfile();
    if (output_file == nullptr) {
        return "(no temporary file)";
    }
    write_result();
    std::fflush(output_file);
    const std::string bytes = file_bytes(output_file);
    std::fclose(output_file);
    output_file = nullptr;
    return bytes;
}

}  // namespace

TEST(write_result, writes_one_crlf_line_per_point_and_nothing_else)
{
    time_history.point_count = 3;
    const double times[] = {0.5, -2.0, 1.0e-3};
    const double amplitudes[] = {0.75, 0.25, 3.0};
    const double noise[] = {0.25, -1.25, -0.0};
    for (int i = 0; i < 3; ++i) {
        time_history.time[i] = times[i];
        time_history.amplitude[i] = amplitudes[i];
        noise_buffer[i] = noise[i];
    }
    const std::string expected =
        "5.0000000e-001 1.0000000e+000 \r\n"     // 32 bytes
        "-2.0000000e+000 -1.0000000e+000 \r\n"   // 34 bytes
        "1.0000000e-003 3.0000000e+000 \r\n";    // 32 bytes
    EXPECT_EQ(written_file(), expected);
    // The noisy amplitude exists only in the file.
    EXPECT_EQ(time_history.amplitude[0], 0.75);
    EXPECT_EQ(noise_buffer[0], 0.25);

    time_history.point_count = 2;
    time_history.time[1] = 2.0;
    EXPECT_EQ(written_file(),
              "5.0000000e-001 1.0000000e+000 \r\n"
              "2.0000000e+000 -1.0000000e+000 \r\n");  // 33 bytes
}

TEST(write_result, no_points_give_an_empty_file)
{
    time_history.point_count = 0;
    time_history.time[0] = 1.0;
    EXPECT_EQ(written_file(), "");
}
