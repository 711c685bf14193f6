// The final key read on Windows: one key from the console itself, with the
// codes _getch gives (0 first for F1-F10, 224 first for cursor and editing
// keys and F11/F12; only the first code is returned).
#include "platform.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tervalin::platform {
namespace {

constexpr int kNoConsole = -1;
constexpr int kFunctionKey = 0;
constexpr int kCursorKey = 224;
// An input event that is no key of its own: a release, Shift or Ctrl alone,
// a lock key, focus and window events.
constexpr int kNotAKey = -2;

// What the console control handler needs; a handler runs on a thread of its
// own and can reach nothing else.
HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;

// Ctrl-Break or closing the window ends the program during the wait: the
// console input goes back to its mode first, for the shell that started us.
BOOL WINAPI restore_mode_on_exit(DWORD) noexcept {
    SetConsoleMode(g_console, g_saved_mode);
    return FALSE;  // and let the default handler end the process
}

[[nodiscard]] int first_code_of_key_without_character(WORD virtual_key) noexcept {
    if (virtual_key >= VK_F1 && virtual_key <= VK_F10) {
        return kFunctionKey;
    }
    switch (virtual_key) {
    case VK_F11: case VK_F12:
    case VK_UP: case VK_DOWN: case VK_LEFT: case VK_RIGHT:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
    case VK_INSERT: case VK_DELETE:
        return kCursorKey;
    default:
        return kNotAKey;
    }
}

[[nodiscard]] int key_of(const INPUT_RECORD& event) noexcept {
    if (event.EventType != KEY_EVENT || event.Event.KeyEvent.bKeyDown == 0) {
        return kNotAKey;
    }
    const KEY_EVENT_RECORD& key = event.Event.KeyEvent;
    const auto character = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (character != 0) {
        return character;
    }
    return first_code_of_key_without_character(key.wVirtualKeyCode);
}

[[nodiscard]] int read_key(HANDLE console) noexcept {
    for (;;) {
        INPUT_RECORD event{};
        DWORD count = 0;
        if (ReadConsoleInputA(console, &event, 1, &count) == 0 || count == 0) {
            return kNoConsole;
        }
        const int key = key_of(event);
        if (key != kNotAKey) {
            return key;
        }
    }
}

// Mode 0 takes Ctrl-C as the key 3 rather than as a break. The buffer is
// emptied on both sides, as the POSIX read does: keys typed while the program
// was still working must not answer a prompt the user has not yet seen, and
// the rest of a paste must not land in the shell afterwards.
[[nodiscard]] int read_key_in_raw_mode(HANDLE console, DWORD saved_mode) noexcept {
    g_console = console;
    g_saved_mode = saved_mode;
    SetConsoleCtrlHandler(restore_mode_on_exit, TRUE);
    const bool raw = SetConsoleMode(console, 0) != 0;
    FlushConsoleInputBuffer(console);
    const int key = read_key(console);
    FlushConsoleInputBuffer(console);
    if (raw) {
        SetConsoleMode(console, saved_mode);
    }
    SetConsoleCtrlHandler(restore_mode_on_exit, FALSE);
    return key;
}

}  // namespace

int wait_for_key() noexcept {
    // The console itself, not standard input: the key must come from the
    // person at the console even when the names were piped in. A program
    // with no console (started with all its streams redirected, by a
    // service, under Wine from no terminal) cannot open it and ends at once.
    const HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        return kNoConsole;
    }
    DWORD saved_mode = 0;
    const int key =
        GetConsoleMode(console, &saved_mode) != 0 ? read_key_in_raw_mode(console, saved_mode)
                                                   : kNoConsole;
    CloseHandle(console);
    return key;
}

}  // namespace tervalin::platform
