// The final key read on POSIX systems: one key from the controlling terminal,
// read in raw mode, with terminal escape sequences folded into the two-code
// convention of platform.hpp (0 before function keys, 224 before cursor and
// editing keys; only the first code is returned).

#include "platform.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tervalin::platform {
namespace {

constexpr int kNoConsole = -1;
constexpr int kFunctionKey = 0;
constexpr int kCursorKey = 224;
constexpr int kEscape = 27;

// The bytes of one key's escape sequence arrive together, while a person
// cannot press Esc and another key this close together; 50 ms also leaves
// room for a slow link to split a sequence.
constexpr std::chrono::milliseconds kSequenceGap{50};

// The signals that end the program during the wait: a terminal left in raw
// mode after them would be unusable without `reset`.
constexpr std::array kRestoringSignals{SIGINT, SIGTERM, SIGHUP};
using SavedActions = std::array<struct sigaction, kRestoringSignals.size()>;

// What the signal handler needs. Set before the handlers are installed and
// only read while they are: a signal handler can reach nothing else.
int g_tty = -1;
termios g_saved_mode{};

void restore_mode_and_reraise(int signal_number) noexcept {
    // tcsetattr and raise are async-signal-safe. SA_RESETHAND has already put
    // back the default action and SA_NODEFER lets it act now: the process ends
    // the way the signal meant it to, with the terminal as it found it.
    ::tcsetattr(g_tty, TCSANOW, &g_saved_mode);
    ::raise(signal_number);
}

// A signal that was ignored when the wait began (nohup, for one) stays ignored.
void arm_restore_on_signals(SavedActions& previous) noexcept {
    struct sigaction restoring {};
    restoring.sa_handler = restore_mode_and_reraise;
    restoring.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);  // unsigned in glibc
    sigemptyset(&restoring.sa_mask);
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i) {
        ::sigaction(kRestoringSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) {
            ::sigaction(kRestoringSignals[i], &restoring, nullptr);
        }
    }
}

// Signals that arrive while the mode and the handlers are put back are held
// until both are, then reach the program's own handlers.
void restore_mode_and_handlers(int tty, const SavedActions& previous) noexcept {
    sigset_t held{};
    sigset_t before{};
    sigemptyset(&held);
    for (const int signal_number : kRestoringSignals) {
        sigaddset(&held, signal_number);
    }
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    // TCSAFLUSH drops whatever else was typed or pasted with the key, which
    // would otherwise land in the shell once the program has exited.
    ::tcsetattr(tty, TCSAFLUSH, &g_saved_mode);
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i) {
        ::sigaction(kRestoringSignals[i], &previous[i], nullptr);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Keys must arrive as the bytes the terminal sends: no line editing, no echo,
// Ctrl-C as 3 rather than SIGINT, Enter as 13, Ctrl-S and Ctrl-Q as keys.
// IEXTEN goes too because BSD and macOS still act on Ctrl-V and Ctrl-O with
// ICANON off. Output processing stays, so the program's text is unchanged.
// TCSAFLUSH: keys typed while the program was still working must not answer a
// prompt the user has not yet seen.
[[nodiscard]] bool enter_raw_mode(int tty, const termios& saved) noexcept {
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return ::tcsetattr(tty, TCSAFLUSH, &raw) == 0;
}

// A byte, or -1 when the terminal has hung up or failed.
[[nodiscard]] int read_byte(int tty) noexcept {
    for (;;) {
        unsigned char byte = 0;
        const ssize_t count = ::read(tty, &byte, 1);
        if (count == 1) {
            return byte;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return -1;
    }
}

// The next byte of a sequence, or -1 when none comes within the gap (or the
// terminal is gone, which for a sequence amounts to the same: it has ended).
[[nodiscard]] int read_byte_within_gap(int tty) noexcept {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kSequenceGap;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{tty, POLLIN, 0};
        const int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) {
            return read_byte(tty);
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return -1;
    }
}

constexpr bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_parameter_byte(int c) noexcept { return is_digit(c) || c == ';' || c == ':'; }
// rxvt marks Shift, Ctrl and Shift+Ctrl on `ESC [ n ~` keys by changing the `~`.
constexpr bool ends_numbered_key(int c) noexcept {
    return c == '~' || c == '$' || c == '^' || c == '@';
}

// The key number of `ESC [ n ~`. F13-F20 (25-34; rxvt sends them for Shift+F3
// to Shift+F10) are function keys as much as F1-F12 are.
[[nodiscard]] int key_from_number(int number) noexcept {
    switch (number) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8:
        return kCursorKey;  // Home Insert Delete End PgUp PgDn, rxvt Home End
    case 11: case 12: case 13: case 14: case 15:
    case 17: case 18: case 19: case 20: case 21:
    case 23: case 24:
    case 25: case 26: case 28: case 29:
    case 31: case 32: case 33: case 34:
        return kFunctionKey;
    default:
        return kEscape;
    }
}

constexpr bool is_cursor_letter(int c) noexcept {
    // A-D arrows, H Home, F End; a-d are rxvt's Shift (after `[`) and Ctrl
    // (after `O`) arrows.
    return (c >= 'A' && c <= 'D') || c == 'H' || c == 'F' || (c >= 'a' && c <= 'd');
}
// F1-F4 as `ESC O P..S`, and modified as `ESC [ 1 ; m P..S`.
constexpr bool is_function_letter(int c) noexcept { return c >= 'P' && c <= 'S'; }

// The key a sequence's final letter names, in either introducer's form.
[[nodiscard]] constexpr int key_from_final_letter(int final_byte) noexcept {
    if (is_cursor_letter(final_byte)) {
        return kCursorKey;
    }
    if (is_function_letter(final_byte)) {
        return kFunctionKey;
    }
    return kEscape;
}

struct SequenceEnd {
    int final_byte;  // -1 when the sequence was cut short
    int key_number;  // the first parameter, 0 when there is none
};

// Reads the parameters up to the final byte, keeping the first number: later
// ones only name modifiers (`ESC [ 1 ; 5 A` is Ctrl+Up), and the key is the
// same key whatever is held with it.
[[nodiscard]] SequenceEnd read_to_final_byte(int tty, int first) noexcept {
    constexpr int kNumberCap = 1000;  // beyond any key number; stops overflow
    SequenceEnd end{first, 0};
    bool in_first = true;
    for (; is_parameter_byte(end.final_byte); end.final_byte = read_byte_within_gap(tty)) {
        if (!is_digit(end.final_byte)) {
            in_first = false;
        } else if (in_first && end.key_number < kNumberCap) {
            end.key_number = end.key_number * 10 + (end.final_byte - '0');
        }
    }
    return end;
}

// Anything not recognised, and a sequence cut short, gives 27. Such a sequence
// comes from a key that begins with Esc (Alt+letter, Shift+Tab, keypad keys in
// a mode we do not set) or from a terminal that names a key its own way: 27
// says "a key was pressed" truthfully without passing it off as a known key,
// and its remaining bytes have been read or are flushed when the mode is put back.
[[nodiscard]] int key_from_csi(int tty) noexcept {
    const int first = read_byte_within_gap(tty);
    if (first == '[') {  // Linux console F1-F5: ESC [ [ A..E
        const int letter = read_byte_within_gap(tty);
        return letter >= 'A' && letter <= 'E' ? kFunctionKey : kEscape;
    }
    const SequenceEnd end = read_to_final_byte(tty, first);
    if (ends_numbered_key(end.final_byte)) {
        return key_from_number(end.key_number);
    }
    return key_from_final_letter(end.final_byte);
}

[[nodiscard]] int key_from_ss3(int tty) noexcept {
    // Some terminals put a modifier here (ESC O 5 A); it changes nothing.
    return key_from_final_letter(read_to_final_byte(tty, read_byte_within_gap(tty)).final_byte);
}

// After an Esc: the key it begins, or Esc itself when nothing follows in time.
[[nodiscard]] int key_after_escape(int tty) noexcept {
    int next = read_byte_within_gap(tty);
    if (next == kEscape) {
        // rxvt sends Alt+key as Esc before the key's own sequence.
        next = read_byte_within_gap(tty);
    }
    if (next == '[') {
        return key_from_csi(tty);
    }
    if (next == 'O') {
        return key_from_ss3(tty);
    }
    return kEscape;
}

// The rest of a UTF-8 character is read so that it cannot reach the shell.
void drop_utf8_continuation(int tty, int lead) noexcept {
    const int continuation_bytes = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    for (int i = 0; i < continuation_bytes; ++i) {
        if (read_byte_within_gap(tty) < 0) {
            return;
        }
    }
}

[[nodiscard]] int read_key(int tty) noexcept {
    const int first = read_byte(tty);
    if (first == kEscape) {
        return key_after_escape(tty);
    }
    drop_utf8_continuation(tty, first);
    return first;
}

}  // namespace

int wait_for_key() noexcept {
    // The console itself, not standard input: the key must come from the
    // person at the terminal even when input is redirected.
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        return kNoConsole;
    }
    if (::tcgetattr(tty, &g_saved_mode) != 0) {
        ::close(tty);
        return kNoConsole;
    }
    g_tty = tty;
    SavedActions previous{};
    arm_restore_on_signals(previous);
    const int key = enter_raw_mode(tty, g_saved_mode) ? read_key(tty) : kNoConsole;
    restore_mode_and_handlers(tty, previous);
    ::close(tty);
    return key;
}

}  // namespace tervalin::platform
