// The fast number routes and their hand-offs to the exact routes: every case
// here is one where a fast route that took the value itself would go wrong.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "history_io.h"

namespace {

std::uint64_t bits_of(double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double scan_text(const std::string& text)
{
    const char* cursor = text.data();
    double value = -1.0;
    EXPECT_EQ(scan_number(&cursor, text.data() + text.size(), &value), number_read) << text;
    EXPECT_EQ(cursor, text.data() + text.size()) << text;
    return value;
}

std::string field_of(double value)
{
    char field[number_field_limit];
    return std::string(field, static_cast<std::size_t>(format_number(value, field)));
}

bool fast_route_decides(double value)
{
    char field[number_field_limit];
    return format_number_fast(value, field) != 0;
}

// -------------------------------------------------------------- reading

struct read_case {
    const char* text;
    double value;
};

// One multiplication or division is exact only for a mantissa of at most
// 2^53 and a power of ten of at most 22; each text past a bound rounds twice
// if taken fast, and the first four differ from the nearest double that way.
TEST(fast_read, hands_off_where_one_exact_operation_cannot_give_the_nearest_double)
{
    const read_case cases[] = {
        {"9364595944977209e-21", 0x1.3a39444308c9bp-17},      // mantissa above 2^53
        {"5471313452454535e23", 0x1.9b9daa048fd85p+128},      // power of ten 23
        {"8.7859704500998124771e1", 0x1.5f705660700b3p+6},    // 20 digits
        {"9718583300439266497e-19", 0x1.f1976a3fc4869p-1},    // 19 digits, above 2^53
        {"9007199254740992e-22", 0x1.e392010175ee6p-21},      // 2^53 and 10^-22: still fast
        {"9007199254740992e22", 0x1.0f0cf064dd592p+126},
        {"9007199254740993e-3", 0x1.0624dd2f1a9fcp+43},       // 2^53 + 1
        {"1e22", 0x1.0f0cf064dd592p+73},
        {"1e23", 0x1.52d02c7e14af6p+76},
        {"3e23", 0x1.fc3842bd1f072p+77},
        {"7e-22", 0x1.a71fc0e147309p-71},
        {"7e-23", 0x1.527fcd8105c07p-74},
        {"1234567890123456789e-10", 0x1.d6f34540ca458p+26},
        {"12345678901234567890e-10", 0x1.26580b487e6b7p+30},
        {"1.0000000000000000000", 1.0},                       // 20 digits, trailing zeros
        {"0.000000000000000000000000000001", 1e-30},          // leading zeros count as places
        {"123456.789e-3", 0x1.edd3c07ee0b0bp+6},
        {"4.9406564584124654e-324", 0x0.0000000000001p-1022}, // the smallest denormal
        {"1e-310", 0x0.012688b70e62bp-1022},
        {"1.7976931348623157e308", 0x1.fffffffffffffp+1023},  // the largest double
        {"0e999999999", 0.0},                                 // zero digits, any exponent
    };
    for (const read_case& c : cases) {
        EXPECT_EQ(bits_of(scan_text(c.text)), bits_of(c.value)) << c.text;
        EXPECT_EQ(bits_of(scan_text(std::string("-") + c.text)), bits_of(-c.value)) << c.text;
    }
    EXPECT_EQ(scan_text("1.7976931348623159e308"), std::numeric_limits<double>::infinity());
}

// A bounded run of the differential check in bench/: random decimal texts of
// 1 to 19 digits with varied exponents, read by both routes.
TEST(fast_read, agrees_with_the_exact_route_on_random_decimal_texts)
{
    std::mt19937_64 generator(1940);
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int digits = 1 + static_cast<int>(generator() % 19);
        const int point = static_cast<int>(generator() % static_cast<std::uint64_t>(digits + 1));
        for (int d = 0; d < digits; ++d) {
            if (d == point) {
                text += '.';
            }
            text += static_cast<char>('0' + generator() % 10);
        }
        text += 'e' + std::to_string(static_cast<int>(generator() % 71) - 35);
        const double exact = convert_number_exact(text.data(), text.data() + text.size());
        ASSERT_EQ(bits_of(scan_text(text)), bits_of(exact)) << text;
    }
}

// -------------------------------------------------------------- writing

struct write_case {
    double value;
    const char* field;
    bool fast;  // whether the fast route may decide it
};

// Where the digits after the eighth are exactly a 5, the value is a halfway
// point and rounds away from zero; just below one, it rounds up exactly when
// its 17-digit form is the halfway point. Neither can be told from a scaled
// value alone, so the fast route hands them off.
TEST(fast_write, hands_off_at_halfway_points_of_the_eighth_digit)
{
    const write_case cases[] = {
        {123456785.0, "1.2345679e+008", false},             // 9 digits, ...5 exactly
        {1234567850.0, "1.2345679e+009", false},            // 10
        {12345678500.0, "1.2345679e+010", false},           // 11
        {123456785000.0, "1.2345679e+011", false},          // 12
        {1234567850000.0, "1.2345679e+012", false},         // 13
        {12345678500000.0, "1.2345679e+013", false},        // 14
        {123456785000000.0, "1.2345679e+014", false},       // 15
        {1234567850000000.0, "1.2345679e+015", false},      // 16
        {12345678500000000.0, "1.2345679e+016", false},     // 17
        {12345678.5, "1.2345679e+007", false},              // away from zero, not to even
        {100000005.0, "1.0000001e+008", false},
        {99999999.5, "1.0000000e+008", false},              // carries into the exponent
        {0x1.000002843ebe8p+0, "1.0000002e+000", false},    // below 1.00000015, 17 digits halfway
        {0x1.bbbf3c0628c2ep-21, "8.2654322e-007", false},   // below 8.26543215e-7, likewise
        {0x1.000000d6bf94dp+0, "1.0000000e+000", false},    // below 1.00000005, 17 digits below too
        {0x1.3c0ca37c716aap+0, "1.2345678e+000", false},    // 1.23456785 read: just below
        {0x1.3c0ca37c716abp+0, "1.2345679e+000", true},     // the next double: far enough above
        {1.0, "1.0000000e+000", true},
        {0.001, "1.0000000e-003", true},
        {1e22, "1.0000000e+022", true},
        {1e23, "1.0000000e+023", true},
    };
    for (const write_case& c : cases) {
        EXPECT_EQ(field_of(c.value), c.field) << c.field;
        EXPECT_EQ(field_of(-c.value), std::string("-") + c.field) << c.field;
        EXPECT_EQ(fast_route_decides(c.value), c.fast) << c.field;
    }
}

TEST(fast_write, hands_off_denormals_and_covers_the_ends_of_the_range)
{
    const write_case cases[] = {
        {0x0.0000000000001p-1022, "4.9406565e-324", false},  // the smallest denormal
        {0x0.fffffffffffffp-1022, "2.2250739e-308", false},  // the largest denormal
        {0x1p-1022, "2.2250739e-308", true},                 // the smallest normal double
        {0x1.fffffffffffffp+1023, "1.7976931e+308", true},   // the largest double
    };
    for (const write_case& c : cases) {
        EXPECT_EQ(field_of(c.value), c.field) << c.field;
        EXPECT_EQ(fast_route_decides(c.value), c.fast) << c.field;
    }
}

// The fast route, wherever it decides, gives the exact route's field: for
// every binary exponent, and for random bit patterns.
TEST(fast_write, agrees_with_the_exact_route_wherever_it_decides)
{
    std::mt19937_64 generator(2007);
    char fast[number_field_limit];
    char exact[number_field_limit];
    int decided = 0;
    for (int i = 0; i < 400000; ++i) {
        std::uint64_t bits = generator();
        if (i < 2046 * 16) {
            // every exponent of a normal double, 16 mantissas each
            bits = (bits & 0x800fffffffffffffu) | (std::uint64_t{1} + static_cast<std::uint64_t>(i / 16)) << 52;
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        if (value != value || value == 0.0 || value - value != 0.0) {
            continue;
        }
        const int length = format_number_fast(value, fast);
        if (length == 0) {
            continue;
        }
        ++decided;
        const int exact_length = format_number_exact(value, exact);
        ASSERT_EQ(std::string(fast, static_cast<std::size_t>(length)),
                  std::string(exact, static_cast<std::size_t>(exact_length)))
            << std::hexfloat << value;
    }
    EXPECT_GT(decided, 390000);
}

}  // namespace
