// What the tool needs of the platform: the console (the key wait, whether
// standard output is one) and the identity of files. One source file per
// platform implements it; CMake picks the one for the target.
#ifndef BRELLUM_PLATFORM_H
#define BRELLUM_PLATFORM_H

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

#endif
