#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "history_io.h"
#include "shared_data.h"
#include "test_support.h"

namespace {

std::string run(std::size_t count, char c)
{
    return std::string(count, c);
}

// The text with its control bytes spelled out, long runs shortened.
std::string shown(const std::string& text)
{
    std::string out;
    for (const char c : text.size() > 60 ? text.substr(0, 24) + "~" + text.substr(text.size() - 24) : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || b > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + " (" + std::to_string(text.size()) + " bytes)";
}

struct scan_case {
    std::string text;
    scan_outcome outcome;
    std::size_t consumed;  // bytes after which the scan stopped
    std::uint64_t bits;    // the value read; not looked at for no_number
};

constexpr std::uint64_t plus_zero = 0x0000000000000000;
constexpr std::uint64_t minus_zero = 0x8000000000000000;
constexpr std::uint64_t plus_infinity = 0x7ff0000000000000;
constexpr std::uint64_t minus_infinity = 0xfff0000000000000;
constexpr std::uint64_t five = 0x4014000000000000;
constexpr std::uint64_t seven = 0x401c000000000000;
constexpr std::uint64_t none = 0;

void expect_scan(const scan_case& c)
{
    SCOPED_TRACE(shown(c.text));
    const char* cursor = c.text.data();
    double value = -123.0;
    const scan_outcome outcome = scan_number(&cursor, c.text.data() + c.text.size(), &value);
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(static_cast<std::size_t>(cursor - c.text.data()), c.consumed);
    if (c.outcome == number_read && outcome == number_read) {
        EXPECT_EQ(bits_of(value), c.bits) << "value " << value;
    }
}

}  // namespace

TEST(scan_number, reads_value_and_stops_where_the_number_ends)
{
    const std::vector<scan_case> cases = {
        // text                         outcome      consumed  bits
        // Forms of a number.
        {".5",                          number_read, 2,   0x3fe0000000000000},
        {"5.",                          number_read, 2,   five},
        {"+5",                          number_read, 2,   five},
        {"-.5e1",                       number_read, 5,   0xc014000000000000},
        {"007",                         number_read, 3,   seven},
        {"5.e3",                        number_read, 4,   0x40b3880000000000},
        {"1E5",                         number_read, 3,   0x40f86a0000000000},
        {"1e+5",                        number_read, 4,   0x40f86a0000000000},
        {"0.001",                       number_read, 5,   0x3f50624dd2f1a9fc},
        // A dangling exponent marker stays consumed and counts as exponent 0.
        {"5e",                          number_read, 2,   five},
        {"5E+",                         number_read, 3,   five},
        {"5e-",                         number_read, 3,   five},
        {"5ex",                         number_read, 2,   five},
        {"5e+-3",                       number_read, 3,   five},
        // The scan stops at the first byte that cannot continue the number.
        {"1.5-2.5",                     number_read, 3,   0x3ff8000000000000},
        {"1.5.5",                       number_read, 3,   0x3ff8000000000000},
        {"0x10",                        number_read, 1,   plus_zero},
        {"5,0",                         number_read, 1,   five},
        {"7 8",                         number_read, 1,   seven},
        // No digit: what was consumed stays consumed.
        {"",                            no_number,   0,   none},
        {"   ",                         no_number,   3,   none},
        {"-",                           no_number,   1,   none},
        {"+",                           no_number,   1,   none},
        {".",                           no_number,   1,   none},
        {"-.",                          no_number,   2,   none},
        {"- 5",                         no_number,   1,   none},
        {"+-5",                         no_number,   1,   none},
        {".e5",                         no_number,   1,   none},
        {"e5",                          no_number,   0,   none},
        {"inf",                         no_number,   0,   none},
        {"-inf",                        no_number,   1,   none},
        {"nan",                         no_number,   0,   none},
        {"x1",                          no_number,   0,   none},
        // Out of range: an infinity or a zero, with the number's sign.
        {"1e999",                       number_read, 5,   plus_infinity},
        {"-1e999",                      number_read, 6,   minus_infinity},
        {"1e-999",                      number_read, 6,   plus_zero},
        {"-1e-999",                     number_read, 7,   minus_zero},
        {"-0",                          number_read, 2,   minus_zero},
        {"0",                           number_read, 1,   plus_zero},
        {"-0.0e0",                      number_read, 6,   minus_zero},
        {"1e309",                       number_read, 5,   plus_infinity},
        {"10.5e308",                    number_read, 8,   plus_infinity},
        {"0.0001e312",                  number_read, 10,  0x7fe1ccf385ebc8a0},
        {"1.7976931348623157e308",      number_read, 22,  0x7fefffffffffffff},
        {"1.7976931348623158e308",      number_read, 22,  0x7fefffffffffffff},
        {"1.7976931348623159e308",      number_read, 22,  plus_infinity},
        {"-1.7976931348623159e308",     number_read, 23,  minus_infinity},
        {"1" + run(309, '0'),           number_read, 310, plus_infinity},
        {run(30, '0') + "1e308",        number_read, 35,  0x7fe1ccf385ebc8a0},
        {"0." + run(330, '0') + "1",    number_read, 333, plus_zero},
        {"-0." + run(330, '0') + "1e5", number_read, 336, minus_zero},
        {"0." + run(320, '0') + "1e300",number_read, 327, 0x3b92e3b40a0e9b4f},
        // Denormals and the normal range's lower edge.
        {"4.9406564584124654e-324",     number_read, 23,  0x0000000000000001},
        {"-4.9406564584124654e-324",    number_read, 24,  0x8000000000000001},
        {"2.4703282292062328e-324",     number_read, 23,  0x0000000000000001},
        {"2.4703282292062327e-324",     number_read, 23,  plus_zero},
        {"-2.4703282292062327e-324",    number_read, 24,  minus_zero},
        {"1e-320",                      number_read, 6,   0x00000000000007e8},
        {"2.2250738585072011e-308",     number_read, 23,  0x000fffffffffffff},
        {"2.2250738585072014e-308",     number_read, 23,  0x0010000000000000},
        // At most 349 characters after the sign; the next byte stays.
        {run(348, '0') + "7",           number_read, 349, seven},
        {run(348, '0') + "73",          number_read, 349, seven},
        {"-" + run(348, '0') + "73",    number_read, 350, 0xc01c000000000000},
        {"+" + run(348, '0') + "7",     number_read, 350, seven},
        {"0.5" + run(346, '0') + "e5",  number_read, 349, 0x3fe0000000000000},
        {run(345, '0') + "1e12",        number_read, 349, 0x426d1a94a2000000},
        {run(345, '0') + "1e123",       number_read, 349, 0x426d1a94a2000000},
        {run(346, '0') + "1e-5",        number_read, 349, 0x3ff0000000000000},
        {"." + run(348, '0') + "1",     number_read, 349, plus_zero},
        {run(349, '.'),                 no_number,   1,   none},
        // Exponents with hundreds of digits.
        {"1e" + run(300, '0') + "5",    number_read, 303, 0x40f86a0000000000},
        {"1e-" + run(300, '0') + "5",   number_read, 304, 0x3ee4f8b588e368f1},
        {"1e" + run(340, '9'),          number_read, 342, plus_infinity},
        {"-1e" + run(340, '9'),         number_read, 343, minus_infinity},
        {"1e-" + run(340, '9'),         number_read, 343, plus_zero},
        {"-0e" + run(340, '9'),         number_read, 343, minus_zero},
        {"1" + run(300, '0') + "e-300", number_read, 306, 0x3ff0000000000000},
        // Only the six white-space bytes are skipped.
        {" \t\n\v\f\r5",                number_read, 7,   five},
        {"\r\n\r\n-5",                  number_read, 6,   0xc014000000000000},
        {std::string("\0" "5", 2),      no_number,   0,   none},
        {"\x1a" "5",                    no_number,   0,   none},
        {"\xa0" "5",                    no_number,   0,   none},
        {"\xef\xbb\xbf" "5",            no_number,   0,   none},
    };
    for (const scan_case& c : cases) {
        expect_scan(c);
    }
}

TEST(scan_number, white_space_is_exactly_the_six_bytes)
{
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool white = b == ' ' || b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r';
        const bool starts_number = (b >= '0' && b <= '9') || b == '+' || b == '-' || b == '.';
        if (starts_number) {
            continue;
        }
        EXPECT_EQ(is_white_space(c), white) << "byte " << b;
        expect_scan({std::string(1, c) + "5", white ? number_read : no_number, white ? 2u : 0u, five});
    }
}

TEST(scan_number, reads_no_byte_at_or_after_end)
{
    const std::string text = "12345";
    const char* cursor = text.data();
    double value = 0.0;
    ASSERT_EQ(scan_number(&cursor, text.data() + 3, &value), number_read);
    EXPECT_EQ(cursor, text.data() + 3);
    EXPECT_EQ(value, 123.0);
}

// ------------------------------------------------------- reading the file

namespace {

// Entries the reader must leave alone hold 0.0, as at the start of a run.
constexpr std::int32_t watched_points = 16;

void read_fixture(const std::string& bytes)
{
    for (std::int32_t i = 0; i < watched_points; ++i) {
        time_history.time[i] = 0.0;
        time_history.amplitude[i] = 0.0;
    }
    input_file = fixture_file(bytes);
    ASSERT_NE(input_file, nullptr);
    read_time_history();
    std::fclose(input_file);
    input_file = nullptr;
}

struct point {
    double time;
    double amplitude;
};

struct history_case {
    std::string bytes;
    std::vector<point> points;
};

const double infinity = from_bits(0x7ff0000000000000);

}  // namespace

TEST(read_time_history, takes_numbers_in_pairs_until_a_time_cannot_be_read)
{
    const std::vector<history_case> cases = {
        // file bytes                                   points read
        {"",                                            {}},
        {" \r\n\t  \n",                                 {}},
        {"time amplitude\n1 2\n",                       {}},
        {"\xef\xbb\xbf" "1 2\n",                        {}},
        {"inf 1\nnan 2\n",                              {}},
        {"1 2\r\n3 4\r\n",                              {{1, 2}, {3, 4}}},
        {"1\t\t2\n   3     4\n",                        {{1, 2}, {3, 4}}},
        {"1 2\n3 4",                                    {{1, 2}, {3, 4}}},
        {"1 2 3\n4 5 6\n",                              {{1, 2}, {3, 4}, {5, 6}}},
        {"1\n2\n3\n",                                   {{1, 2}, {3, 0}}},
        {"1 2\n3",                                      {{1, 2}, {3, 0}}},
        {"1.0,2.0\n3.0,4.0\n",                          {{1, 0}}},
        {"1.5-2.5\n",                                   {{1.5, -2.5}}},
        {"1.5.5\n",                                     {{1.5, 0.5}}},
        {"1 - 2 3\n",                                   {{1, 0}, {2, 3}}},
        {"1 . 2 3\n",                                   {{1, 0}, {2, 3}}},
        {"1 x 2 3\n",                                   {{1, 0}}},
        {"0x10 5\n",                                    {{0, 0}}},
        {"5e 6\n7E+ 8\n",                               {{5, 6}, {7, 8}}},
        {"1 2\n\x1a",                                   {{1, 2}}},
        {"1 2\n\x1a" "3 4\n",                           {{1, 2}}},
        {std::string("1 2\n\0" "3 4\n", 9),             {{1, 2}}},
        {"1 2\n\xef\xbb\xbf" "3 4\n",                   {{1, 2}}},
        {"1e999 -1e999\n1e-999 -0\n",                   {{infinity, -infinity}, {0.0, -0.0}}},
        {"-1e-999 1\n",                                 {{-0.0, 1}}},
        {"1 " + run(348, '0') + "73 5\n",               {{1, 7}, {3, 5}}},
        {"1 " + run(348, '0') + "7 3 5\n",              {{1, 7}, {3, 5}}},
    };
    for (const history_case& c : cases) {
        SCOPED_TRACE(shown(c.bytes));
        read_fixture(c.bytes);
        ASSERT_EQ(time_history.point_count, static_cast<std::int32_t>(c.points.size()));
        for (std::int32_t i = 0; i < watched_points; ++i) {
            const std::size_t k = static_cast<std::size_t>(i);
            const point expected = k < c.points.size() ? c.points[k] : point{0.0, 0.0};
            EXPECT_EQ(bits_of(time_history.time[i]), bits_of(expected.time)) << "time " << i;
            EXPECT_EQ(bits_of(time_history.amplitude[i]), bits_of(expected.amplitude)) << "amplitude " << i;
        }
    }
}

// The reader takes the file in blocks of 1 MiB. Each line here is 353 bytes
// with a signed 349-digit amplitude, and the leading padding moves the first
// block boundary to the given offset within a line: onto the time, the space,
// the sign, the first, second and a middle digit of the amplitude, its last
// digit, and the line end.
TEST(read_time_history, numbers_across_block_boundaries_read_whole)
{
    const std::string line = "1 -" + run(348, '0') + "7\n";
    ASSERT_EQ(line.size(), 353u);
    const std::size_t block = std::size_t{1} << 20;
    const std::size_t line_count = 3 * block / line.size();
    std::string lines;
    for (std::size_t i = 0; i < line_count; ++i) {
        lines += line;
    }
    for (const std::size_t offset : {0u, 1u, 2u, 3u, 4u, 177u, 351u, 352u}) {
        SCOPED_TRACE("boundary at offset " + std::to_string(offset) + " of a line");
        const std::size_t padding = (block % line.size() + line.size() - offset) % line.size();
        read_fixture(run(padding, ' ') + lines);
        ASSERT_EQ(time_history.point_count, static_cast<std::int32_t>(line_count));
        int wrong = 0;
        for (std::int32_t i = 0; i < time_history.point_count; ++i) {
            wrong += time_history.time[i] != 1.0 || time_history.amplitude[i] != -7.0;
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(read_time_history, stops_after_max_points_pairs)
{
    std::string bytes;
    bytes.reserve(4 * static_cast<std::size_t>(max_points) + 8);
    for (std::int32_t i = 0; i < max_points; ++i) {
        bytes += "1 2\n";
    }
    read_fixture(bytes + "9 9\n");
    ASSERT_EQ(time_history.point_count, max_points);
    EXPECT_EQ(time_history.time[max_points - 1], 1.0);
    EXPECT_EQ(time_history.amplitude[max_points - 1], 2.0);

    read_fixture(bytes);
    EXPECT_EQ(time_history.point_count, max_points);
}
