// The platform for the answer fuzz target: nothing here touches the disk or
// the terminal. An input name beginning "in" opens one of a few small records
// held in memory (the digit after "in" picks which); an output name beginning
// "out" writes to /dev/null and one beginning "full" to /dev/full, where every
// write fails. Every other name fails to open, as a missing file would.

#include "platform.h"

#include <cstring>

// The records an input name can open: a few pairs, an empty file, a header
// line, an odd count of numbers, out-of-range values and signed zeros.
static const char* const stub_records[] = {
    "0 0.5\r\n0.01 -1.25\r\n0.02 3e-2\r\n0.03 0\r\n",
    "",
    "time amplitude\n0 1\n",
    "1 2 3\n",
    "0 1e999 1 -1e999 2 -0 3 1e-999\n",
};
constexpr int stub_record_count = static_cast<int>(sizeof stub_records / sizeof stub_records[0]);

// The record most recently opened, and the name it was opened by.
static char stub_record_bytes[64];  // longer than every record
static std::FILE* stub_input = nullptr;
static char stub_input_name[4096];

bool standard_output_is_console()
{
    return false;
}

std::int32_t wait_for_key()
{
    return -1;  // as with no console at all
}

std::FILE* open_input_file(const char* name)
{
    if (std::strncmp(name, "in", 2) != 0) {
        return nullptr;
    }
    const int digit = name[2] >= '0' && name[2] <= '9' ? name[2] - '0' : 0;
    const char* record = stub_records[digit % stub_record_count];
    const std::size_t length = std::strlen(record);
    std::memcpy(stub_record_bytes, record, length);
    stub_input = fmemopen(stub_record_bytes, length, "rb");
    if (stub_input != nullptr) {
        std::strncpy(stub_input_name, name, sizeof stub_input_name - 1);
    }
    return stub_input;
}

std::FILE* create_output_file(const char* name)
{
    if (std::strncmp(name, "out", 3) == 0) {
        return std::fopen("/dev/null", "wb");
    }
    if (std::strncmp(name, "full", 4) == 0) {
        return std::fopen("/dev/full", "wb");
    }
    return nullptr;
}

// The same file only by the same name: the stub has no links.
bool is_same_file(std::FILE* open_file, const char* name)
{
    return open_file == stub_input && std::strcmp(name, stub_input_name) == 0;
}

// The fuzz inputs are small; the page size of the arrays does not matter.
void advise_huge_pages(void*, std::size_t) {}
