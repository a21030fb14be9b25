// The run sequence: the whole of one run, from the banner to the key wait.
#ifndef BRELLUM_BRELLUM_H
#define BRELLUM_BRELLUM_H

#include <cstdint>
#include <cstdio>

// Runs the dialogue once and returns the code of the key that ended the
// final pause (-1 when the console cannot be read), or -1 at once when
// standard input ends while a file name is due.
std::int32_t run_dialogue();

// Where the answers are read from: standard input. The answer fuzz target
// points it at its own bytes, one whole dialogue per input.
extern std::FILE* answer_stream;

// Drops the bytes kept back from earlier answers, so that a process can run
// the dialogue more than once (the answer fuzz target does; the tool never).
void forget_answer_bytes();

#endif
