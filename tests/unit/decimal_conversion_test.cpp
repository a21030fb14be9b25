#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>

#include "history_io.h"
#include "test_support.h"

// Each data line ends in the float64 bits (hex) and the decimal text, the last
// two space-separated fields. Every text of at most 349 characters must read
// as exactly those bits and be consumed whole; with a '-' in front, as the
// bits with the sign set. Longer texts are beyond what one number may hold.

namespace {

struct data_file {
    const char* path;  // below tests/data/parse-number-fxx
    int lines;
};

// Shown in the test names that ctest lists.
void PrintTo(const data_file& file, std::ostream* out)
{
    *out << file.path;
}

class decimal_conversion : public testing::TestWithParam<data_file> {};

struct check_counts {
    int lines = 0;
    int checked = 0;
    int too_long = 0;
    int wrong = 0;
};

void check_text(const std::string& text, std::uint64_t bits, check_counts* counts)
{
    const char* cursor = text.data();
    const char* end = text.data() + text.size();
    double value = 0.0;
    const scan_outcome outcome = scan_number(&cursor, end, &value);
    if (outcome != number_read || cursor != end || bits_of(value) != bits) {
        if (++counts->wrong <= 10) {
            ADD_FAILURE() << text << ": read " << (outcome == number_read ? "a number" : "no number")
                          << ", consumed " << cursor - text.data() << " of " << text.size() << ", bits "
                          << std::hex << bits_of(value) << " instead of " << bits;
        }
    }
}

}  // namespace

TEST_P(decimal_conversion, texts_read_as_their_listed_float64)
{
    const data_file& file = GetParam();
    std::ifstream in(std::string(BRELLUM_TEST_DATA) + "/parse-number-fxx/" + file.path, std::ios::binary);
    ASSERT_TRUE(in.is_open()) << file.path;
    check_counts counts;
    std::string line;
    while (std::getline(in, line)) {
        ++counts.lines;
        const std::size_t text_start = line.rfind(' ');
        ASSERT_NE(text_start, std::string::npos) << line;
        ASSERT_GE(text_start, 16u) << line;
        const std::string text = line.substr(text_start + 1);
        const std::uint64_t bits = std::strtoull(line.substr(text_start - 16, 16).c_str(), nullptr, 16);
        if (text.size() > static_cast<std::size_t>(number_text_limit)) {
            ++counts.too_long;
            continue;
        }
        ++counts.checked;
        check_text(text, bits, &counts);
        check_text("-" + text, bits ^ 0x8000000000000000u, &counts);
    }
    EXPECT_EQ(counts.lines, file.lines) << "the data file is not the one listed";
    EXPECT_EQ(counts.wrong, 0);
    RecordProperty("checked", counts.checked);
    RecordProperty("too_long", counts.too_long);
    std::printf("%s: %d texts checked (each also negated), %d longer than %d skipped\n", file.path,
                counts.checked, counts.too_long, number_text_limit);
}

INSTANTIATE_TEST_SUITE_P(
    parse_number_fxx, decimal_conversion,
    testing::Values(
        // file                                        lines
        data_file{"fxx/more-test-cases.txt",               60},
        data_file{"fxx/freetype-2-7.txt",                3566},
        data_file{"fxx/lemire-fast-float.txt",           3299},
        data_file{"fxx/tencent-rapidjson.txt",           3563},
        data_file{"fxx/google-wuffs-subset.txt",         4000},
        data_file{"fxx/exhaustive-float16-subset.txt",   3000},
        data_file{"f64/ibm-fpgen-subset.txt",            6000},
        data_file{"f64/lemire-fast-double-parser-subset.txt", 4000}),
    [](const testing::TestParamInfo<data_file>& file_info) {
        std::string name;
        for (const char* p = file_info.param.path; *p != '\0' && *p != '.'; ++p) {
            name += (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ? *p : '_';
        }
        return name;
    });
