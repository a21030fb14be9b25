#include "brellum.h"

#include <cstdio>
#include <cstring>

#include "history_io.h"
#include "magnitude_table.h"
#include "noise.h"
#include "platform.h"
#include "shared_data.h"

// ------------------------------------------------------------------ answers
//
// Answers are white-space separated tokens on standard input. Bytes read
// past the end of an answer are kept here and serve the next answer first.

static char answer_pushback[number_text_limit + 2];
static int answer_pushback_count = 0;

std::FILE* answer_stream = stdin;

void forget_answer_bytes()
{
    answer_pushback_count = 0;
}

static int next_answer_byte()
{
    if (answer_pushback_count > 0) {
        return static_cast<unsigned char>(answer_pushback[--answer_pushback_count]);
    }
    return std::getc(answer_stream);
}

static void give_back_answer_bytes(const char* bytes, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        answer_pushback[answer_pushback_count++] = bytes[i];
    }
}

// Skips white space; returns the first other byte, or EOF.
static int skip_answer_white_space()
{
    int byte = next_answer_byte();
    while (byte != EOF && is_white_space(static_cast<char>(byte))) {
        byte = next_answer_byte();
    }
    return byte;
}

enum name_answer { name_read, name_too_long, name_unusable, answers_ended };

// Reads one token into name (file_name_capacity bytes). A token that does not
// fit is read to its end and refused, and the buffer keeps its previous name.
// A token holding a zero byte cannot name a file: it is stored up to that
// byte, for the message, and reported unusable.
static name_answer read_name_answer(char* name)
{
    int byte = skip_answer_white_space();
    if (byte == EOF) {
        return answers_ended;
    }
    char token[file_name_capacity];
    int length = 0;
    bool has_zero_byte = false;
    while (byte != EOF && !is_white_space(static_cast<char>(byte))) {
        if (length < file_name_capacity) {
            token[length] = static_cast<char>(byte);
        }
        has_zero_byte = has_zero_byte || byte == 0;
        ++length;
        byte = next_answer_byte();
    }
    if (byte != EOF) {
        const char separator = static_cast<char>(byte);
        give_back_answer_bytes(&separator, 1);
    }
    if (length >= file_name_capacity) {
        return name_too_long;
    }
    std::memcpy(name, token, static_cast<std::size_t>(length));
    name[length] = '\0';
    return has_zero_byte ? name_unusable : name_read;
}

static bool is_number_byte(int byte)
{
    return (byte >= '0' && byte <= '9') || byte == '+' || byte == '-' || byte == '.' ||
           byte == 'e' || byte == 'E';
}

// Reads one number by the rules of the input file's numbers. Only bytes that
// can belong to a number are taken ahead, so a typed line is never waited
// past; what the number does not use is given back. Keeps *value when no
// number is there.
static void read_number_answer(double* value)
{
    int byte = skip_answer_white_space();
    char text[number_text_limit + 2];
    int length = 0;
    while (byte != EOF && is_number_byte(byte) && length < number_text_limit + 1) {
        text[length++] = static_cast<char>(byte);
        byte = next_answer_byte();
    }
    if (byte != EOF) {
        const char stop = static_cast<char>(byte);
        give_back_answer_bytes(&stop, 1);
    }
    const char* cursor = text;
    double number = 0.0;
    if (scan_number(&cursor, text + length, &number) == number_read) {
        *value = number;
    }
    give_back_answer_bytes(cursor, static_cast<int>(text + length - cursor));
}

// ------------------------------------------------------------------ stages

static void print_banner()
{
    std::fputs("\n ", stdout);
    std::fputs("\n brellum   ver 1.3   April 18, 2007\n", stdout);
    std::fputs("\n by the brellum developers", stdout);
    std::fputs("\n Email: brellum@example.org ", stdout);
    std::fputs("\n ", stdout);
    std::fputs("\n This program adds white noise to a time history. \n", stdout);
}

static void report_ended_answers()
{
    std::fputs("\n No more input: the run ends. \n", stdout);
}

static void refuse_long_name(const char* retry_prompt)
{
    std::fputs("\n File name longer than 259 characters. \n", stdout);
    std::fputs(retry_prompt, stdout);
}

// Asks until an input file opens. False when standard input has ended.
static bool open_input()
{
    static const char retry_prompt[] = "\n Please enter the input filename: \n";
    std::fputs("\n Enter the input filename: \n", stdout);
    for (;;) {
        const name_answer answer = read_name_answer(input_file_name);
        if (answer == answers_ended) {
            return false;
        }
        if (answer == name_too_long) {
            refuse_long_name(retry_prompt);
            continue;
        }
        if (answer == name_read) {
            input_file = open_input_file(input_file_name);
            if (input_file != nullptr) {
                std::printf(" File: %s opened. \n", input_file_name);
                return true;
            }
        }
        std::printf("\n Failed to open file: %s \n", input_file_name);
        std::fputs(retry_prompt, stdout);
    }
}

// Asks until an output file is created or emptied. The input file is never
// taken for it: naming the input (by any spelling or link) is refused before
// anything is emptied. False when standard input has ended.
static bool open_output()
{
    static const char retry_prompt[] = "\n Please enter the output filename: \n";
    std::fputs("\n Enter the output filename: \n", stdout);
    for (;;) {
        const name_answer answer = read_name_answer(output_file_name);
        if (answer == answers_ended) {
            return false;
        }
        if (answer == name_too_long) {
            refuse_long_name(retry_prompt);
            continue;
        }
        if (answer == name_read) {
            if (is_same_file(input_file, output_file_name)) {
                std::printf(" The output file is the input file: %s \n", output_file_name);
                std::fputs(retry_prompt, stdout);
                continue;
            }
            output_file = create_output_file(output_file_name);
            if (output_file != nullptr) {
                std::printf(" File: %s opened. \n", output_file_name);
                return true;
            }
        }
        std::printf(" Failed to open file: %s \n", output_file_name);
        std::fputs(retry_prompt, stdout);
    }
}

static void read_input()
{
    read_time_history();
    std::fclose(input_file);
    input_file = nullptr;
    std::printf("\n last=%ld \n", static_cast<long>(time_history.point_count));
}

static void ask_standard_deviation()
{
    std::fputs("\n Enter standard deviation: \n", stdout);
    read_number_answer(&requested_sigma);
}

static void make_noise()
{
    build_magnitude_table();
    draw_raw_noise();
    scale_noise();
}

static void report_write_failure()
{
    std::printf("\n Failed to write file: %s \n", output_file_name);
}

// Writes the result and closes the file. The file is flushed and checked
// before the closing texts, so that a failed write is reported in their place
// and never as a success.
static void write_output()
{
    write_result();
    const bool written = std::fflush(output_file) == 0 && std::ferror(output_file) == 0;
    if (written) {
        std::printf("\n\n The output file is: %s \n", output_file_name);
        std::fputs("\n The output file has two columns:  time(sec) and amplitude.", stdout);
        std::fputs("\n Please call this file into your own plotting program.\n\n", stdout);
    } else {
        report_write_failure();
    }
    const bool closed = std::fclose(output_file) == 0;
    output_file = nullptr;
    if (written && !closed) {
        report_write_failure();
    }
}

static std::int32_t pause_for_key()
{
    std::fputs("\n Press any key to exit.", stdout);
    std::fflush(stdout);
    return wait_for_key();
}

std::int32_t run_dialogue()
{
    print_banner();
    if (!open_input()) {
        report_ended_answers();
        return -1;
    }
    if (!open_output()) {
        report_ended_answers();
        std::fclose(input_file);
        input_file = nullptr;
        return -1;
    }
    read_input();
    ask_standard_deviation();
    make_noise();
    write_output();
    return pause_for_key();
}
