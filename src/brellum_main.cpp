// brellum: adds reproducible, quantised Gaussian white noise to a time
// history. Every answer comes from standard input; the run ends with a key
// press, whose code is the exit status.

#include <cstdio>

#include "brellum.h"
#include "platform.h"

int main()
{
    // On a console every text is on the screen the moment it is printed; to
    // a file or pipe the texts go out in blocks.
    if (standard_output_is_console()) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    }
    return run_dialogue();
}
