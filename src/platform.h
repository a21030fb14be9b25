// What the tool needs of the platform: the console (the key wait, whether
// standard output is one) and the identity of files. One source file per
// platform implements it; CMake picks the one for the target.
#ifndef BRELLUM_PLATFORM_H
#define BRELLUM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// True when standard output is a console or terminal, not a file or pipe.
bool standard_output_is_console();

// Waits for one key press on the console, even when standard input is
// redirected, and returns its code: 1 to 255 for a key that produces a
// character, 0 or 224 for function and cursor keys, -1 when the console
// cannot be opened or read. Keys typed before the wait began count.
std::int32_t wait_for_key();

// Opens the named file for reading as raw bytes; nullptr if it cannot be
// opened or is not a regular file one can read (a directory).
std::FILE* open_input_file(const char* name);

// Creates the named file, or empties it if it exists, for writing raw bytes;
// nullptr if that fails.
std::FILE* create_output_file(const char* name);

// True when name, however spelled or linked, is the file open as open_file.
bool is_same_file(std::FILE* open_file, const char* name);

// Alignment of the large per-point arrays. On Linux a 2 MiB boundary lets
// whole arrays sit in transparent huge pages; elsewhere the 2 MiB would buy
// nothing, and some object formats cannot align a static that far.
#ifdef __linux__
constexpr std::size_t large_array_alignment = std::size_t{1} << 21;
#else
constexpr std::size_t large_array_alignment = 64;
#endif

// Asks the system to back [start, start + bytes) with huge pages where it
// offers them, which makes the first touch of large arrays about ten times
// cheaper. Only a hint: pages not yet touched stay untouched, nothing is
// reported, and where there are no huge pages it does nothing.
void advise_huge_pages(void* start, std::size_t bytes);

#endif
