// The run sequence: the whole of one run, from the banner to the key wait.
#ifndef BRELLUM_BRELLUM_H
#define BRELLUM_BRELLUM_H

#include <cstdint>

// Runs the dialogue once and returns the code of the key that ended the
// final pause (-1 when the console cannot be read), or -1 at once when
// standard input ends while a file name is due.
std::int32_t run_dialogue();

#endif
