// The Windows console: the key is read as an input record from the
// console's own input (CONIN$), which stays the user's keyboard when
// standard input is a file or pipe.

#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>

bool standard_output_is_console()
{
    // Only a console handle has a console mode; a file or pipe has none.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// The system's handle of an open C stream; INVALID_HANDLE_VALUE if none.
static HANDLE handle_of(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

std::FILE* open_input_file(const char* name)
{
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // The C library refuses a directory itself; this makes sure of it.
    BY_HANDLE_FILE_INFORMATION information {};
    if (GetFileType(handle_of(file)) == FILE_TYPE_DISK &&
        (GetFileInformationByHandle(handle_of(file), &information) == 0 ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

std::FILE* create_output_file(const char* name)
{
    return std::fopen(name, "wb");
}

// Large pages on Windows need a privilege few users hold; the first touch of
// the arrays stays on ordinary pages.
void advise_huge_pages(void*, std::size_t) {}

// A file is known by its volume and its index on that volume, whichever
// name, case, short name or hard link reaches it.
static bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool is_same_file(std::FILE* open_file, const char* name)
{
    BY_HANDLE_FILE_INFORMATION open_information {};
    if (GetFileInformationByHandle(handle_of(open_file), &open_information) == 0) {
        return false;
    }
    // No access is asked for: the handle only serves to ask who the file is,
    // so it opens even while another handle holds the file. Backup semantics
    // let it open a directory too.
    const HANDLE named = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION named_information {};
    const bool known = GetFileInformationByHandle(named, &named_information) != 0;
    CloseHandle(named);
    return known && same_identity(open_information, named_information);
}

// ------------------------------------------------------------------ key wait

// The first byte of a key's two-byte extended code, or -1 for a key that has
// none (Shift, Ctrl, Alt, the lock keys on their own) and is passed over.
static int extended_key_code(const KEY_EVENT_RECORD& key)
{
    const bool alt = (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    switch (key.wVirtualKeyCode) {
    case VK_ESCAPE:
        // Some consoles give Escape without its character.
        return 27;
    case VK_F1: case VK_F2: case VK_F3: case VK_F4: case VK_F5:
    case VK_F6: case VK_F7: case VK_F8: case VK_F9: case VK_F10:
        return 0;
    case VK_F11: case VK_F12:
        return 224;
    case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
    case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
    case VK_INSERT: case VK_DELETE:
        // The cursor and editing block. The enhanced-key mark is not looked
        // at: terminal consoles leave it off even for the separate block.
        return alt ? 0 : 224;
    default:
        return -1;
    }
}

std::int32_t wait_for_key()
{
    // The console's input, even when standard input is redirected. It is left
    // open: the process ends right after the wait and closes it then.
    const HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        return -1;  // no console: a service, a detached process
    }
    DWORD saved_mode = 0;
    if (GetConsoleMode(console, &saved_mode) == 0) {
        return -1;
    }
    // Mode 0: no line input, no echo, and Ctrl+C is an ordinary key (3).
    // Records already waiting are kept: keys typed before the wait count.
    SetConsoleMode(console, 0);

    std::int32_t code = -1;
    for (;;) {
        INPUT_RECORD record {};
        DWORD count = 0;
        if (ReadConsoleInputA(console, &record, 1, &count) == 0 || count == 0) {
            break;  // code stays -1
        }
        if (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0) {
            continue;  // releases, mouse, focus, menu and window-size records
        }
        const unsigned char character =
            static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
        if (character != 0) {
            code = character;
            break;
        }
        const int extended = extended_key_code(record.Event.KeyEvent);
        if (extended >= 0) {
            code = extended;
            break;
        }
    }

    SetConsoleMode(console, saved_mode);
    return code;
}
