// The POSIX terminal: the key is read from the controlling terminal
// (/dev/tty), which stays the user's keyboard when standard input is a file.

#include "platform.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool standard_output_is_console()
{
    return isatty(STDOUT_FILENO) == 1;
}

std::FILE* open_input_file(const char* name)
{
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // Opening a directory for reading succeeds here; reading it does not.
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

std::FILE* create_output_file(const char* name)
{
    return std::fopen(name, "wb");
}

bool is_same_file(std::FILE* open_file, const char* name)
{
    struct stat open_status {};
    struct stat named_status {};
    if (fstat(fileno(open_file), &open_status) != 0 || stat(name, &named_status) != 0) {
        return false;
    }
    return open_status.st_dev == named_status.st_dev && open_status.st_ino == named_status.st_ino;
}

void advise_huge_pages(void* start, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // madvise wants a page-aligned start: advise from the first whole page.
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + page - 1) / page * page;
    if (aligned - first >= bytes) {
        return;
    }
    // The outcome is not looked at: without huge pages the arrays still work.
    madvise(reinterpret_cast<void*>(aligned), bytes - (aligned - first), MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

// ------------------------------------------------------------------ key wait

// How long a lone Escape waits for the rest of a sequence, in milliseconds.
// Terminals send a key's sequence in one write, so its bytes arrive together.
constexpr int sequence_gap_ms = 50;

// Reads one byte; -1 at end of input or on a failed read.
static int read_byte(int fd)
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t got = read(fd, &byte, 1);
        if (got == 1) {
            return byte;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return -1;
    }
}

// The next byte if one arrives within the gap, else -1.
static int read_following_byte(int fd)
{
    struct pollfd watched {};
    watched.fd = fd;
    watched.events = POLLIN;
    int ready = 0;
    do {
        ready = poll(&watched, 1, sequence_gap_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return -1;
    }
    return read_byte(fd);
}

// The extended code of a cursor or editing key: 224, or 0 with Alt held.
// The xterm modifier parameter is one plus a bit mask; Alt is bit 2.
static int editing_key_code(int modifier)
{
    const bool alt = modifier > 1 && ((modifier - 1) & 2) != 0;
    return alt ? 0 : 224;
}

// The code of a "CSI ... ~" key: Home, Insert, Delete, End, Page Up and Down
// are the editing block; 11 to 21 are F1 to F10, 23 and 24 F11 and F12.
static int tilde_key_code(int number, int modifier)
{
    switch (number) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8:
        return editing_key_code(modifier);
    case 23: case 24:
        return 224;
    default:
        return 0;
    }
}

// The code of a letter-final sequence: arrows, Home, End and the
// application-mode F1 to F4.
static int letter_key_code(int final_byte, int modifier)
{
    switch (final_byte) {
    case 'A': case 'B': case 'C': case 'D': case 'H': case 'F':
        return editing_key_code(modifier);
    default:
        return 0;
    }
}

// Reads the rest of a control sequence after "ESC [", parameters and final
// byte, so that nothing of it is left for the shell, and returns its code.
static int read_control_sequence(int fd, bool alt)
{
    // Parameters are numbers separated by ';': the key, then the modifier.
    int numbers[2] = {0, 0};
    int index = 0;
    int byte = read_following_byte(fd);
    if (byte < 0) {
        return '[';  // nothing follows: Alt with the '[' key
    }
    if (byte == '[') {
        // The Linux console's F1 to F5: ESC [ [ A to E.
        read_following_byte(fd);
        return 0;
    }
    while (byte >= 0x20 && byte <= 0x3f) {
        if (byte == ';') {
            ++index;
        } else if (byte >= '0' && byte <= '9' && index < 2 && numbers[index] < 1000) {
            numbers[index] = numbers[index] * 10 + (byte - '0');
        }
        byte = read_following_byte(fd);
    }
    if (byte < 0) {
        return 0;
    }
    const int modifier = alt ? 3 : numbers[1];
    if (byte == '~') {
        return tilde_key_code(numbers[0], modifier);
    }
    return letter_key_code(byte, modifier);
}

// Reads what follows an Escape and returns the key's code.
static int read_escape(int fd)
{
    int byte = read_following_byte(fd);
    if (byte < 0) {
        return 27;  // a lone Escape
    }
    bool alt = false;
    if (byte == 27) {
        // Some terminals send Alt with a cursor key as an extra Escape.
        byte = read_following_byte(fd);
        if (byte != '[' && byte != 'O') {
            return 27;
        }
        alt = true;
    }
    if (byte == '[') {
        return read_control_sequence(fd, alt);
    }
    if (byte == 'O') {
        // SS3: application-mode cursor keys and F1 to F4.
        const int final_byte = read_following_byte(fd);
        if (final_byte < 0) {
            return 'O';  // nothing follows: Alt with Shift and the 'o' key
        }
        return letter_key_code(final_byte, alt ? 3 : 0);
    }
    // Alt with a character key: the character.
    return byte;
}

// A character beyond ASCII arrives as UTF-8: its continuation bytes are read
// too, and a character of Latin-1 gives its own code, as the console's
// single-byte code page would.
static int read_multibyte_character(int fd, int lead)
{
    int following = 0;
    if ((lead & 0xe0) == 0xc0) {
        following = 1;
    } else if ((lead & 0xf0) == 0xe0) {
        following = 2;
    } else if ((lead & 0xf8) == 0xf0) {
        following = 3;
    }
    int code_point = lead & (0x3f >> following);
    for (int i = 0; i < following; ++i) {
        const int byte = read_following_byte(fd);
        if (byte < 0 || (byte & 0xc0) != 0x80) {
            return lead;
        }
        code_point = (code_point << 6) | (byte & 0x3f);
    }
    return following == 1 && code_point <= 0xff ? code_point : lead;
}

std::int32_t wait_for_key()
{
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return -1;  // no terminal: a service, a detached session
    }
    struct termios saved {};
    if (tcgetattr(fd, &saved) != 0) {
        close(fd);
        return -1;
    }
    // One byte at a time, no echo, signal keys as plain bytes, Enter as CR.
    // Every byte arrives whole and once: no eighth bit stripped (ISTRIP), no
    // byte 255 doubled as a parity mark (PARMRK), whatever the saved mode.
    // TCSANOW and not TCSAFLUSH: keys typed before the wait count.
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | PARMRK);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &raw);

    int code = read_byte(fd);
    if (code == 27) {
        code = read_escape(fd);
    } else if (code >= 0x80) {
        code = read_multibyte_character(fd, code);
    }

    tcsetattr(fd, TCSANOW, &saved);
    close(fd);
    return code;
}
