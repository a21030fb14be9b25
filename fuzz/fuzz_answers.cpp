// Fuzz target: arbitrary bytes as standard input, answering the whole
// dialogue, with the files replaced by the in-memory stub of
// stub_platform.cpp. Checks that every dialogue ends in one of its two
// endings with both files closed; the sanitizers check the rest.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brellum.h"
#include "shared_data.h"

// The stub's records hold a few points; the entries past them stay 0.0.
constexpr int stub_points_at_most = 16;

static void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_answers: %s\n", what);
    std::abort();
}

static bool ends_with(const char* text, std::size_t length, const char* tail)
{
    const std::size_t tail_length = std::strlen(tail);
    return length >= tail_length && std::memcmp(text + length - tail_length, tail, tail_length) == 0;
}

static bool contains(const char* text, std::size_t length, const char* part)
{
    const std::size_t part_length = std::strlen(part);
    for (std::size_t i = 0; i + part_length <= length; ++i) {
        if (std::memcmp(text + i, part, part_length) == 0) {
            return true;
        }
    }
    return false;
}

// The state of a process that has not run the dialogue yet.
static void start_afresh()
{
    forget_answer_bytes();
    for (int i = 0; i < stub_points_at_most; ++i) {
        time_history.time[i] = 0.0;
        time_history.amplitude[i] = 0.0;
        noise_buffer[i] = 0.0;
    }
    time_history.point_count = 0;
    requested_sigma = 0.0;
    input_file_name[0] = '\0';
    output_file_name[0] = '\0';
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    start_afresh();
    char* answers = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(answers, data, size);
    answer_stream = fmemopen(answers, size, "rb");
    if (answer_stream == nullptr) {
        fail("fmemopen of the answers failed");
    }

    // The dialogue's texts go to memory, to be looked at below.
    char* said = nullptr;
    std::size_t said_length = 0;
    std::FILE* const real_output = stdout;
    stdout = open_memstream(&said, &said_length);
    if (stdout == nullptr) {
        fail("open_memstream failed");
    }
    const std::int32_t status = run_dialogue();
    std::fclose(stdout);
    stdout = real_output;
    std::fclose(answer_stream);
    answer_stream = stdin;
    std::free(answers);

    if (status != -1) {
        fail("the dialogue returned other than -1 with no console");
    }
    if (input_file != nullptr || output_file != nullptr) {
        fail("a file was left open");
    }
    static const char banner[] = "\n \n brellum   ver 1.3   April 18, 2007\n";
    if (said_length < sizeof banner - 1 || std::memcmp(said, banner, sizeof banner - 1) != 0) {
        fail("the banner is not the first text");
    }
    const bool completed = ends_with(said, said_length, "\n Press any key to exit.");
    const bool ended_early = ends_with(said, said_length, "\n No more input: the run ends. \n");
    if (completed == ended_early) {
        fail("the dialogue ended in neither of its endings");
    }
    if (completed && !contains(said, said_length, "\n last=")) {
        fail("a completed dialogue gave no count line");
    }
    if (completed && !contains(said, said_length, "\n Enter standard deviation: \n")) {
        fail("a completed dialogue did not ask for the standard deviation");
    }
    if (completed) {
        // The points in each of the stub's records, picked as the stub picks.
        static const int record_points[] = {4, 0, 0, 2, 4};
        const char digit = input_file_name[2];
        const int record = digit >= '0' && digit <= '9' ? (digit - '0') % 5 : 0;
        char count_line[32];
        std::snprintf(count_line, sizeof count_line, "\n last=%d \n", record_points[record]);
        if (!contains(said, said_length, count_line)) {
            fail("the count line does not match the record opened");
        }
    }
    std::free(said);
    return 0;
}
